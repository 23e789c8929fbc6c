#include "store/PageHistory.h"

#include "store/Statement.h"

#include <sqlite3.h>

namespace vantero {

namespace {

QString TextAt(sqlite3_stmt* s, int column) {
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, column)),
                             sqlite3_column_bytes(s, column));
}

std::optional<double> PriceAt(sqlite3_stmt* s, int column) {
    const int type = sqlite3_column_type(s, column);
    if (type == SQLITE_NULL)
        return std::nullopt;
    if (type == SQLITE_TEXT)
        return HistoryPrice(TextAt(s, column));
    return HistoryPrice(sqlite3_column_double(s, column));
}

const QString kHistoryColumns =
    QStringLiteral("rowid, LocalItemID, RivalWW, RivalItemID, ReadAt, Price, SellCount FROM PriceHistory");

THistoryRow HistoryRowAt(sqlite3_stmt* s) {
    THistoryRow row;
    row.rowId = sqlite3_column_int64(s, 0);
    row.localItemID = TextAt(s, 1);
    row.rivalWW = TextAt(s, 2);
    row.rivalItemID = TextAt(s, 3);
    row.readAt = TextAt(s, 4);
    row.price = PriceAt(s, 5);
    row.sellCount = sqlite3_column_int64(s, 6);
    return row;
}

QList<THistoryRow> HistoryRows(const TConnection& con, const QString& sql, const QVariantList& values) {
    TStatement statement(con.handle(), sql);
    statement.Bind(values);
    QList<THistoryRow> rows;
    while (statement.Step())
        rows.append(HistoryRowAt(statement.Handle()));
    return rows;
}

} // namespace

std::optional<double> HistoryPrice(const QVariant& stored) {
    if (stored.isNull())
        return std::nullopt;
    bool ok = false;
    const double price = stored.toDouble(&ok);
    if (!ok || !(price > 0))
        return std::nullopt;
    return price;
}

QList<THistoryRow> ItemHistory(const TConnection& con, const QString& itemId) {
    return HistoryRows(con,
                       QStringLiteral("SELECT ") + kHistoryColumns +
                           QStringLiteral(" WHERE LocalItemID=? ORDER BY ReadAt, rowid"),
                       {itemId});
}

QList<THistoryRow> HistoryRowsAfter(const TConnection& con, qint64 rowId) {
    return HistoryRows(
        con, QStringLiteral("SELECT ") + kHistoryColumns + QStringLiteral(" WHERE rowid>? ORDER BY rowid"), {rowId});
}

qint64 LastHistoryRowId(const TConnection& con) {
    return con.value(QStringLiteral("SELECT max(rowid) FROM PriceHistory")).toLongLong();
}

std::optional<THistoryRow> PricedRowBefore(const TConnection& con, const QString& itemId, const QString& rivalWW,
                                           qint64 rowId) {
    const QList<THistoryRow> rows = HistoryRows(
        con,
        QStringLiteral("SELECT ") + kHistoryColumns +
            QStringLiteral(" WHERE LocalItemID=? AND RivalWW=? AND rowid<? AND Price>0 ORDER BY rowid DESC LIMIT 1"),
        {itemId, rivalWW, rowId});
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first();
}

QList<TFailingPage> FailingPages(const TConnection& con) {
    // Pages of items that are gone are left out: nobody can act on them.
    TStatement statement(
        con.handle(),
        QStringLiteral("SELECT s.LocalItemID, s.RivalWW, s.RivalItemID, s.URL, i.ItemName, i.CustomItemName,"
                       " s.LastAttempt, s.LastSuccess, s.LastCode, s.LastText, s.FailedInRow"
                       " FROM ReadingStatus s JOIN Items i ON i.ItemID=s.LocalItemID"
                       " WHERE s.LastCode BETWEEN 2 AND 4 ORDER BY i.rowid, s.RivalWW<>'', s.RivalWW"));
    QList<TFailingPage> pages;
    while (statement.Step()) {
        sqlite3_stmt* s = statement.Handle();
        TFailingPage page;
        page.localItemID = TextAt(s, 0);
        page.rivalWW = TextAt(s, 1);
        page.rivalItemID = TextAt(s, 2);
        page.url = TextAt(s, 3);
        page.itemName = TextAt(s, 4);
        page.customItemName = TextAt(s, 5);
        page.lastAttempt = TextAt(s, 6);
        page.lastSuccess = TextAt(s, 7);
        page.lastCode = sqlite3_column_int(s, 8);
        page.lastText = TextAt(s, 9);
        page.failedInRow = sqlite3_column_int(s, 10);
        pages.append(page);
    }
    return pages;
}

} // namespace vantero
