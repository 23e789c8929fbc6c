#include "support/HistoryData.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace vantero::test {

QStringList WriteHistoryDemo(const TConnection& con, const THistoryDemo& demo) {
    QRandomGenerator random(demo.seed);
    TWriteTransaction transaction(con);
    con.exec(QStringLiteral("UPDATE Setting SET WW=?"), {demo.ownAccount});
    const double ownStart = 89.0;
    QStringList accounts;
    QList<double> prices;
    QList<qint64> sales;
    prices << ownStart;
    sales << 120;
    for (int r = 0; r < demo.rivals; ++r) {
        const QString account = QStringLiteral("同行店铺%1").arg(r + 1);
        accounts << account;
        prices << std::round((ownStart * (0.85 + 0.3 * random.generateDouble())) * 10) / 10;
        sales << 20 + random.bounded(300);
        con.exec(QStringLiteral("INSERT INTO Rival (RivalWW, ShopURL, ShopName) VALUES (?, ?, ?)"),
                 {account, QStringLiteral("http://shop%1.taobao.com/").arg(100000 + r), account});
    }
    // Pages' last readings: the grid and the detail list show the latest history values.
    const int pages = demo.rivals + 1;
    const qint64 endMs = demo.end.toMSecsSinceEpoch();
    const qint64 spanMs = qint64(demo.days) * 24 * 3600 * 1000;
    QList<QString> lastAt(pages);
    // Every page starts at the beginning; the other rows are changes at random times.
    QList<std::pair<qint64, int>> events;
    for (int p = 0; p < pages; ++p)
        events.append({endMs - spanMs, p});
    for (int i = pages; i < demo.points; ++i)
        events.append({endMs - spanMs + qint64(random.generateDouble() * double(spanMs)), int(random.bounded(pages))});
    std::sort(events.begin(), events.end());
    QList<bool> started(pages, false);
    for (const auto& [at, page] : std::as_const(events)) {
        if (started[page]) {
            const double step = (random.generateDouble() - 0.5) * 0.12;
            prices[page] = std::max(5.0, std::round(prices[page] * (1 + step) * 10) / 10);
            sales[page] += random.bounded(15);
        }
        started[page] = true;
        const QString readAt = DateTimeToColumn(QDateTime::fromMSecsSinceEpoch(at));
        const QString rival = page == 0 ? QString() : accounts[page - 1];
        con.exec(
            QStringLiteral("INSERT INTO PriceHistory (LocalItemID, RivalWW, RivalItemID, ReadAt, Price, SellCount) "
                           "VALUES (?, ?, ?, ?, ?, ?)"),
            {demo.itemId, rival, page == 0 ? QString() : QString::number(6200000000LL + page), readAt, prices[page],
             sales[page]});
        lastAt[page] = readAt;
    }
    con.exec(QStringLiteral("INSERT INTO Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount, LastUpdated) "
                            "VALUES (?, ?, '', ?, ?, ?, ?)"),
             {demo.itemId, demo.itemName, QStringLiteral("http://item.taobao.com/item.htm?id=%1").arg(demo.itemId),
              prices[0], sales[0], lastAt[0]});
    for (int r = 0; r < demo.rivals; ++r) {
        const QString rivalItem = QString::number(6200000000LL + r + 1);
        con.exec(QStringLiteral("INSERT INTO RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                                "SellCount, LastUpdated) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                 {accounts[r], demo.itemId, rivalItem, demo.itemName + QStringLiteral(" 同款"),
                  QStringLiteral("http://item.taobao.com/item.htm?id=%1").arg(rivalItem), prices[r + 1], sales[r + 1],
                  lastAt[r + 1]});
    }
    transaction.Commit();
    return accounts;
}

} // namespace vantero::test
