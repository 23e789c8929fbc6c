// grid: the comparison grid as the window shows it.
#include "app/MainData.h"
#include "cli/Cli.h"
#include "cli/Output.h"

#include <QJsonObject>

namespace vantero::cli {

namespace {

int RunGrid(TCliContext& context) {
    const bool json = context.TakeJsonFlag();
    if (!context.args.isEmpty())
        context.UsageError(QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));

    TMainData data(context.OpenDatabase());
    data.ApplySettings();
    data.RefreshAllData();
    const TGridData& grid = data.grid;

    if (json) {
        QJsonArray bands;
        for (const TGridBand& band : grid.bands())
            bands.append(QJsonObject{{QStringLiteral("caption"), band.caption},
                                     {QStringLiteral("firstColumn"), band.firstColumn},
                                     {QStringLiteral("columnCount"), band.columnCount}});
        QJsonArray columns;
        for (const TGridColumn& column : grid.columns())
            columns.append(QJsonObject{{QStringLiteral("caption"), column.caption}});
        QJsonArray rows;
        for (int row = 0; row < grid.rowCount(); ++row)
            rows.append(ToJsonArray(grid.cells(row)));
        WriteJson(context.out, QJsonObject{{QStringLiteral("bands"), bands},
                                           {QStringLiteral("columns"), columns},
                                           {QStringLiteral("rows"), rows}});
        return kExitOk;
    }
    QStringList bandLine;
    QStringList captionLine;
    for (const TGridColumn& column : grid.columns()) {
        bandLine << grid.bands()[column.band].caption;
        captionLine << column.caption;
    }
    WriteCsvLine(context.out, bandLine);
    WriteCsvLine(context.out, captionLine);
    for (int row = 0; row < grid.rowCount(); ++row)
        WriteCsvLine(context.out, grid.cells(row));
    return kExitOk;
}

const TCliRegistration registration("grid", "grid [--csv | --json]   打印比较表格", &RunGrid);

} // namespace

} // namespace vantero::cli
