#include "history/ExportSheets.h"

#include "catalogue/ItemCommands.h"
#include "common/TextHelpers.h"
#include "history/AlertStore.h"
#include "store/PageOutcomes.h"

namespace vantero {

namespace {

// Grid columns are measured in pixels; a sheet's in characters of about seven pixels.
constexpr double kPixelsPerCharacter = 7.0;

TSheetCell Text(const QString& text) {
    return {text, {}};
}

TSheetCell Price(const std::optional<double>& price) {
    return {price ? QVariant(*price) : QVariant(), {}};
}

TSheetCell Whole(qint64 value) {
    return {QVariant(qlonglong(value)), {}};
}

// Times keep their stored form ("2026-01-31 08:05:00"): it sorts, and spreadsheets read it as a
// date whatever the desktop's date format is.
QString ShownTime(const QString& stored) {
    return stored;
}

QString ShownTime(const QDateTime& value) {
    return DateTimeToColumn(value);
}

} // namespace

namespace {

// The grid's band and column captions and widths.
TSheet GridLayoutSheet(const TGridData& grid) {
    TSheet sheet;
    sheet.name = ExportTexts::GridSheet;
    for (const TGridBand& band : grid.bands())
        sheet.bands.append({band.caption, band.firstColumn, band.columnCount});
    for (const TGridColumn& c : grid.columns()) {
        sheet.columns << c.caption;
        sheet.widths << std::max(6.0, (c.width > 0 ? c.width : 100) / kPixelsPerCharacter);
    }
    return sheet;
}

// One grid row's cell texts as sheet cells: numbers as numbers, with the grid's colours.
QList<TSheetCell> GridRowCells(const QStringList& texts) {
    const int last = int(texts.size()) - 1;
    QList<TSheetCell> cells;
    cells.reserve(texts.size());
    for (int column = 0; column <= last; ++column) {
        const QString& text = texts[column];
        TSheetCell cell{text, CellStyleFor(column, last, text)};
        // Sales columns and the row number are whole numbers, the rest but the name prices.
        const bool whole = column == 0 || column == last || (column % 3 == 1 && column >= 4);
        if (column != 1) {
            bool ok = false;
            const double number = text.trimmed().toDouble(&ok);
            if (text.trimmed().isEmpty())
                cell.value = QVariant();
            else if (ok)
                cell.value = whole ? QVariant(qlonglong(number)) : QVariant(number);
        }
        cells << cell;
    }
    return cells;
}

} // namespace

TSheet GridSheet(const TGridData& grid) {
    TSheet sheet = GridLayoutSheet(grid);
    const int columns = grid.columnCount();
    for (int row = 0; row < grid.rowCount(); ++row) {
        QStringList texts;
        texts.reserve(columns);
        for (int column = 0; column < columns; ++column)
            texts << grid.cell(row, column);
        sheet.rows << GridRowCells(texts);
    }
    return sheet;
}

TSheet GridSheetFromFile(const TConnection& con, const QStringList& rivalAccounts, const QString& ownAccount) {
    TGridData layout;
    layout.BuildGridLayout(rivalAccounts, ownAccount);
    TSheet sheet = GridLayoutSheet(layout);
    sheet.rowSource = [con, rivalAccounts](const std::function<void(const QList<TSheetCell>&)>& row) {
        StreamGridRows(con, rivalAccounts, [&row](const QStringList& cells) { row(GridRowCells(cells)); });
    };
    return sheet;
}

TSheet FailuresSheet(const TConnection& con) {
    TSheet sheet;
    sheet.name = ExportTexts::FailuresSheet;
    sheet.columns = {QStringLiteral("宝贝编号"),     QStringLiteral("宝贝名称"),     QStringLiteral("店主"),
                     QStringLiteral("最后成功时间"), QStringLiteral("最后读取时间"), QStringLiteral("连续失败次数"),
                     QStringLiteral("原因"),         QStringLiteral("宝贝地址")};
    sheet.widths = {16, 40, 16, 20, 20, 12, 40, 50};
    // The rows, their order and their reasons are those of the failure list itself.
    for (const TFailedPage& page : LoadFailedPages(con)) {
        const TPageStatus& s = page.Status;
        sheet.rows << QList<TSheetCell>{
            Text(s.LocalItemID),
            Text(page.ItemName),
            Text(page.Shop),
            Text(s.LastSuccess.isValid() ? ShownTime(s.LastSuccess) : QStringLiteral("从未成功")),
            Text(ShownTime(s.LastAttempt)),
            Whole(s.FailedInRow),
            Text(s.Reason()),
            Text(s.URL)};
    }
    return sheet;
}

TSheet AlertsSheet(const TConnection& con) {
    TSheet sheet;
    sheet.name = ExportTexts::AlertsSheet;
    sheet.columns = {QStringLiteral("时间"),     QStringLiteral("类型"),       QStringLiteral("宝贝编号"),
                     QStringLiteral("宝贝名称"), QStringLiteral("同行"),       QStringLiteral("原价格"),
                     QStringLiteral("新价格"),   QStringLiteral("自己的价格"), QStringLiteral("状态"),
                     QStringLiteral("说明")};
    sheet.widths = {20, 22, 16, 40, 16, 10, 10, 10, 8, 60};
    TAlertFilter filter;
    filter.newestFirst = true;
    for (const TAlert& alert : ListAlerts(con, filter)) {
        sheet.rows << QList<TSheetCell>{Text(ShownTime(alert.createdAt)),
                                        Text(AlertTexts::KindName(alert.kind)),
                                        Text(alert.localItemID),
                                        Text(alert.itemName),
                                        Text(alert.rivalWW.isEmpty() ? ItemTexts::Own : alert.rivalWW),
                                        Price(alert.oldPrice),
                                        Price(alert.newPrice),
                                        Price(alert.ownPrice),
                                        Text(alert.isRead ? QStringLiteral("已读") : QStringLiteral("未读")),
                                        Text(AlertTexts::Message(alert))};
    }
    return sheet;
}

TSheet HistorySheet(const TConnection& con, const QString& itemId) {
    TSheet sheet;
    sheet.name = ExportTexts::HistorySheet;
    sheet.columns = {QStringLiteral("时间"), QStringLiteral("店主"), QStringLiteral("宝贝编号"), QStringLiteral("价格"),
                     QStringLiteral("销量")};
    sheet.widths = {20, 16, 16, 10, 10};
    // The first row names the item, so a file read later still says whose history it is.
    const QString custom =
        TrimBlanks(con.value(QStringLiteral("select CustomItemName from Items where ItemID=?"), {itemId}).toString());
    const QString title = con.value(QStringLiteral("select ItemName from Items where ItemID=?"), {itemId}).toString();
    const QString name = custom.isEmpty() ? title : custom;
    sheet.bands = {{QStringLiteral("宝贝：%1（编号 %2）").arg(name, itemId), 0, int(sheet.columns.size())}};
    for (const THistoryRow& row : ItemHistory(con, itemId)) {
        sheet.rows << QList<TSheetCell>{Text(ShownTime(row.readAt)), Text(row.isOwn() ? ItemTexts::Own : row.rivalWW),
                                        Text(row.isOwn() ? row.localItemID : row.rivalItemID), Price(row.price),
                                        Whole(row.sellCount)};
    }
    return sheet;
}

} // namespace vantero
