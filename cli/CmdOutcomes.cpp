// failures: the pages whose last attempt failed; history: an own item's price and sales changes.
#include "cli/Cli.h"
#include "cli/Output.h"
#include "common/TextHelpers.h"
#include "store/PageOutcomes.h"
#include "store/RecordSet.h"

namespace vantero::cli {

namespace {

QString ColumnText(const QDateTime& value) {
    return DateTimeToColumn(value);
}

int RunFailures(TCliContext& context) {
    const bool json = context.TakeJsonFlag();
    if (!context.args.isEmpty())
        context.UsageError(QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));
    const QList<TFailedPage> pages = LoadFailedPages(context.OpenDatabase());
    const QStringList header{QStringLiteral("ItemID"),      QStringLiteral("ItemName"),    QStringLiteral("Shop"),
                             QStringLiteral("LastSuccess"), QStringLiteral("FailedInRow"), QStringLiteral("LastCode"),
                             QStringLiteral("Reason"),      QStringLiteral("LastAttempt"), QStringLiteral("URL")};
    QList<QStringList> rows;
    for (const TFailedPage& page : pages) {
        const TPageStatus& s = page.Status;
        rows << QStringList{s.LocalItemID,
                            page.ItemName,
                            page.Shop,
                            ColumnText(s.LastSuccess),
                            QString::number(s.FailedInRow),
                            QString::number(s.LastCode),
                            s.Reason(),
                            ColumnText(s.LastAttempt),
                            page.ReadAddress};
    }
    WriteTable(context.out, header, rows, json);
    return kExitOk;
}

int RunHistory(TCliContext& context) {
    const bool json = context.TakeJsonFlag();
    if (context.args.size() != 1 || TrimBlanks(context.args.first()).isEmpty())
        context.UsageError(QStringLiteral("history 需要自己宝贝的 ItemID"));
    const TConnection con = context.OpenDatabase();
    const QString id = TrimBlanks(context.args.first());
    TRecordSet items(con);
    items.Reopen(QStringLiteral("select * from Items where ItemID=?"), {id});
    if (items.Eof())
        throw TCliExit{kExitRefused, QStringLiteral("没有 ItemID 为 %1 的宝贝").arg(id)};
    const QStringList header{QStringLiteral("ReadAt"), QStringLiteral("Shop"), QStringLiteral("RivalItemID"),
                             QStringLiteral("Price"), QStringLiteral("SellCount")};
    QList<QStringList> rows;
    for (const THistoryRow& row : ItemHistory(con, id)) {
        // No price stays empty: never a price of 0.
        const QString price = row.price ? QString::number(*row.price, 'f', 2) : QString();
        rows << QStringList{row.readAt, row.isOwn() ? OutcomeTexts::OwnShop : row.rivalWW, row.rivalItemID, price,
                            QString::number(row.sellCount)};
    }
    WriteTable(context.out, header, rows, json);
    return kExitOk;
}

const TCliRegistration failures("failures", "failures [--csv | --json]   列出最后一次读取失败的宝贝页面", &RunFailures);
const TCliRegistration history("history", "history OWN_ITEM_ID [--csv | --json]   宝贝及其同行宝贝的价格与销量变化",
                               &RunHistory);

} // namespace

} // namespace vantero::cli
