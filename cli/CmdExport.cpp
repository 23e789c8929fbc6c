// export: the grid, the failure list, the alerts or an item's history as a CSV or .xlsx file.
#include "catalogue/MainData.h"
#include "cli/Cli.h"
#include "history/ExportSheets.h"

#include <QDir>

namespace vantero::cli {

namespace {

int RunExport(TCliContext& context) {
    const QString csv = context.TakeOption(QStringLiteral("--csv"));
    const QString xlsx = context.TakeOption(QStringLiteral("--xlsx"));
    if (csv.isNull() == xlsx.isNull())
        context.UsageError(QStringLiteral("请给出 --csv FILE 或 --xlsx FILE 之一"));
    if (context.args.isEmpty())
        context.UsageError(QStringLiteral("缺少要导出的内容：grid、failures、alerts 或 history"));
    const QString what = context.args.takeFirst();
    QString itemId;
    if (what == QLatin1String("history")) {
        if (context.args.isEmpty())
            context.UsageError(QStringLiteral("history 需要宝贝编号"));
        itemId = context.args.takeFirst();
    } else if (what != QLatin1String("grid") && what != QLatin1String("failures") && what != QLatin1String("alerts")) {
        context.UsageError(QStringLiteral("未知的导出内容：%1").arg(what));
    }
    if (!context.args.isEmpty())
        context.UsageError(QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));

    TMainData data(context.OpenDatabase());
    TSheet sheet;
    if (what == QLatin1String("grid")) {
        data.ApplySettings();
        data.LoadRivals();
        sheet = GridSheetFromFile(data.con, data.RivalAccounts, data.OwnAccount);
    } else if (what == QLatin1String("failures")) {
        sheet = FailuresSheet(data.con);
    } else if (what == QLatin1String("alerts")) {
        sheet = AlertsSheet(data.con);
    } else {
        if (!data.con.value(QStringLiteral("SELECT 1 FROM Items WHERE ItemID=? LIMIT 1"), {itemId}).isValid())
            throw TCliExit{kExitRefused, QStringLiteral("没有宝贝编号为 %1 的宝贝").arg(itemId)};
        sheet = HistorySheet(data.con, itemId);
    }
    const QString path = QDir::current().absoluteFilePath(csv.isNull() ? xlsx : csv);
    qint64 rows = 0;
    const QString problem = WriteSheetFile(sheet, path, csv.isNull() ? TExportFormat::Xlsx : TExportFormat::Csv, &rows);
    if (!problem.isEmpty())
        throw TCliExit{kExitDatabase, problem};
    context.err << QStringLiteral("已导出 %1 行到 %2").arg(rows).arg(QDir::toNativeSeparators(path)) << '\n';
    return kExitOk;
}

const TCliRegistration registration(
    "export", "export grid|failures|alerts|history OWN_ITEM_ID (--csv FILE | --xlsx FILE)   导出为 CSV 或 Excel 文件",
    &RunExport);

} // namespace

} // namespace vantero::cli
