// add-rival, rivals, delete-rival: the rival shops list without the dialog.
#include "catalogue/ShopClient.h"
#include "catalogue/ShopPage.h"
#include "cli/Cli.h"
#include "cli/Output.h"
#include "common/TextHelpers.h"
#include "store/DatabaseError.h"

namespace vantero::cli {

namespace {

const QStringList kListFields = {QStringLiteral("RivalWW"), QStringLiteral("ShopClass"), QStringLiteral("ShopName"),
                                 QStringLiteral("ShopURL")};

int RunAddRival(TCliContext& context) {
    if (context.args.size() != 1)
        context.UsageError(QStringLiteral("add-rival 需要一个店铺地址"));
    const QString address = context.args.first();
    TRecordSet rivals(context.OpenDatabase());
    rivals.Reopen(kSelectRivalShops);
    TShopClient http;
    TAddRivalResult result;
    try {
        result = AddRival(http, rivals, address);
    } catch (const TDatabaseError& e) {
        context.err << e.text() << '\n';
        return kExitRefused;
    }
    context.err << result.message << '\n';
    if (result.outcome != TAddRivalResult::Outcome::Stored)
        return kExitRefused;
    context.out << "RivalWW: " << result.account << '\n'
                << "ShopName: " << result.shopName << '\n'
                << "ShopURL: " << result.shopURL << '\n';
    return kExitOk;
}

int RunRivals(TCliContext& context) {
    const bool json = context.TakeJsonFlag();
    if (!context.args.isEmpty())
        context.UsageError(QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));
    TRecordSet rivals(context.OpenDatabase());
    rivals.Reopen(kSelectRivalShops);
    QList<QStringList> rows;
    for (; !rivals.Eof(); rivals.Next()) {
        QStringList row;
        for (const QString& field : kListFields)
            row << rivals.AsString(field);
        rows << row;
    }
    WriteTable(context.out, kListFields, rows, json);
    context.err << RivalCountText(int(rows.size())) << '\n';
    return kExitOk;
}

int RunDeleteRival(TCliContext& context) {
    const bool confirmed = context.TakeFlag(QStringLiteral("--yes"));
    if (context.args.size() != 1)
        context.UsageError(QStringLiteral("delete-rival 需要一个店主账号"));
    if (!confirmed)
        context.UsageError(QStringLiteral("删除对手和他所有的宝贝需要 --yes 确认"));
    const QString account = TrimBlanks(context.args.first());
    const TConnection connection = context.OpenDatabase();
    TRecordSet rivals(connection);
    rivals.Reopen(kSelectRivalShops);
    for (; !rivals.Eof(); rivals.Next()) {
        if (TrimBlanks(rivals.AsString(QStringLiteral("RivalWW"))).compare(account, Qt::CaseInsensitive) == 0)
            break;
    }
    if (rivals.Eof()) {
        context.err << QStringLiteral("没有店主为 %1 的对手").arg(account) << '\n';
        return kExitRefused;
    }
    TRecordSet mappings(connection);
    const QString deleted = DeleteRival(mappings, rivals);
    context.out << deleted << '\n';
    context.err << RivalCountText(rivals.RecordCount()) << '\n';
    return kExitOk;
}

const TCliRegistration addRegistration("add-rival", "add-rival SHOP_URL   读取店铺网页并添加对手", &RunAddRival);
const TCliRegistration listRegistration("rivals", "rivals [--csv | --json]   列出对手店铺", &RunRivals);
const TCliRegistration deleteRegistration("delete-rival", "delete-rival ACCOUNT --yes   删除对手和他所有的宝贝",
                                          &RunDeleteRival);

} // namespace

} // namespace vantero::cli
