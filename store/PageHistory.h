#pragma once

#include "store/Connection.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace vantero {

// One PriceHistory row: a page's price and sales as a successful reading found them.
struct THistoryRow {
    qint64 rowId = 0;
    QString localItemID;
    QString rivalWW; // empty for the own item's page
    QString rivalItemID;
    QString readAt;              // stored date-time form
    std::optional<double> price; // nothing: the page showed no price (stored NULL, or 0)
    qint64 sellCount = 0;

    bool isOwn() const { return rivalWW.isEmpty(); }
    QDateTime readAtTime() const { return DateTimeFromColumn(readAt); }
};

// A price as the history means it: a stored NULL or a price of 0 or less is no price at all.
std::optional<double> HistoryPrice(const QVariant& stored);

// Every history row of an own item's pages (its own and its rivals'), oldest first.
QList<THistoryRow> ItemHistory(const TConnection& con, const QString& itemId);
// The history rows written after rowId, in the order they were written.
QList<THistoryRow> HistoryRowsAfter(const TConnection& con, qint64 rowId);
// The rowid of the newest history row; 0 when there is none.
qint64 LastHistoryRowId(const TConnection& con);
// The page's last price before the row rowId (exclusive), skipping rows without a price.
std::optional<THistoryRow> PricedRowBefore(const TConnection& con, const QString& itemId, const QString& rivalWW,
                                           qint64 rowId);

// One ReadingStatus row whose last attempt failed or was refused (codes 2 to 4).
struct TFailingPage {
    QString localItemID;
    QString rivalWW; // empty for the own item's page
    QString rivalItemID;
    QString url;
    QString itemName; // the own item's page title
    QString customItemName;
    QString lastAttempt;
    QString lastSuccess; // empty when the page never read successfully
    int lastCode = 0;
    QString lastText;
    int failedInRow = 0;
};

// The pages whose last attempt failed, by own item (in the catalogue's order) and shop.
QList<TFailingPage> FailingPages(const TConnection& con);

} // namespace vantero
