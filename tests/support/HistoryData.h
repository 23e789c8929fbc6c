#pragma once

#include "store/Connection.h"

#include <QDateTime>
#include <QStringList>

namespace vantero::test {

// A made-up price history for one own item and its rivals, for benchmarks and screenshots: the
// item, the rival shops and their mappings, and `points` PriceHistory rows spread over `days`
// days before `end`, each page walking its price up and down from its own start.
struct THistoryDemo {
    QString itemId = QStringLiteral("5200000001");
    QString itemName = QStringLiteral("夏季新款纯棉短袖T恤 男士宽松休闲");
    QString ownAccount = QStringLiteral("我的小店");
    int rivals = 5;
    int points = 300;
    int days = 28;
    QDateTime end = QDateTime::currentDateTime();
    quint32 seed = 20261209;
};
// Writes the demo into the database; returns the rival accounts in their order.
QStringList WriteHistoryDemo(const TConnection& con, const THistoryDemo& demo);

} // namespace vantero::test
