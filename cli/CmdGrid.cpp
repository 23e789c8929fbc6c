// grid: the comparison grid as the window shows it.
#include "catalogue/MainData.h"
#include "cli/Cli.h"
#include "cli/Output.h"

#include <QJsonObject>

namespace vantero::cli {

namespace {

QJsonValue OutcomeJson(const TPageStatus* status) {
    if (!status)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("stale"), status->Stale()},
                       {QStringLiteral("lastCode"), status->LastCode},
                       {QStringLiteral("lastText"), status->Reason()},
                       {QStringLiteral("lastAttempt"), DateTimeToColumn(status->LastAttempt)},
                       {QStringLiteral("lastSuccess"), DateTimeToColumn(status->LastSuccess)},
                       {QStringLiteral("failedInRow"), status->FailedInRow}};
}

// The two header lines: each column's band caption, then its own caption.
void WriteGridHeader(QTextStream& out, const TGridData& grid) {
    QStringList bandLine;
    QStringList captionLine;
    for (const TGridColumn& column : grid.columns()) {
        bandLine << grid.bands()[column.band].caption;
        captionLine << column.caption;
    }
    WriteCsvLine(out, bandLine);
    WriteCsvLine(out, captionLine);
}

int RunGrid(TCliContext& context) {
    const bool json = context.TakeJsonFlag();
    if (!context.args.isEmpty())
        context.UsageError(QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));

    TMainData data(context.OpenDatabase());
    data.ApplySettings();
    if (!json) {
        // Rows go out as they are read: the grid is never held, however large the catalogue.
        data.LoadRivals();
        data.grid.BuildGridLayout(data.RivalAccounts, data.OwnAccount);
        WriteGridHeader(context.out, data.grid);
        StreamGridRows(data.con, data.RivalAccounts,
                       [&context](const QStringList& cells) { WriteCsvLine(context.out, cells); });
        return kExitOk;
    }
    data.statusScope = TPageStatuses::Scope::All; // every cell's last outcome, not only the failing ones
    data.RefreshAllData();
    const TGridData& grid = data.grid;

    {
        QJsonArray bands;
        for (const TGridBand& band : grid.bands())
            bands.append(QJsonObject{{QStringLiteral("caption"), band.caption},
                                     {QStringLiteral("firstColumn"), band.firstColumn},
                                     {QStringLiteral("columnCount"), band.columnCount}});
        QJsonArray columns;
        for (const TGridColumn& column : grid.columns())
            columns.append(QJsonObject{{QStringLiteral("caption"), column.caption}});
        QJsonArray rows;
        QJsonArray stale;    // per row, per cell: shows its page's last good values after a failure
        QJsonArray outcomes; // per row, per band: the page's last outcome, null when never read
        for (int row = 0; row < grid.rowCount(); ++row) {
            rows.append(ToJsonArray(grid.cells(row)));
            QJsonArray cells;
            for (int column = 0; column < grid.columnCount(); ++column)
                cells.append(grid.IsStale(row, column));
            stale.append(cells);
            QJsonArray pages;
            for (int band = 0; band < grid.bands().size(); ++band)
                pages.append(OutcomeJson(grid.PageStatus(row, band)));
            outcomes.append(pages);
        }
        WriteJson(context.out, QJsonObject{{QStringLiteral("bands"), bands},
                                           {QStringLiteral("columns"), columns},
                                           {QStringLiteral("rows"), rows},
                                           {QStringLiteral("stale"), stale},
                                           {QStringLiteral("outcomes"), outcomes}});
        return kExitOk;
    }
}

const TCliRegistration registration("grid", "grid [--csv | --json]   打印比较表格", &RunGrid);

} // namespace

} // namespace vantero::cli
