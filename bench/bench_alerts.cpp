// Times the look for alerts at the end of a background run on a large catalogue: once after the
// first run (every page's first history row), then after a run in which 2 % of the pages changed.
#include "history/AlertStore.h"
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <cstdio>

using namespace vantero;

namespace {

constexpr int kItems = 5000;
constexpr int kRivals = 30;

QString ItemId(int item) {
    return QString::number(5000000000LL + item);
}

QString Rival(int rival) {
    return QStringLiteral("同行店铺%1").arg(rival);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    test::TTestDatabase db;
    const TConnection con = db.connection();
    QRandomGenerator random(7);
    QList<double> prices(kItems * (kRivals + 1));
    {
        TWriteTransaction transaction(con);
        for (int i = 0; i < kItems; ++i) {
            con.exec(QStringLiteral("INSERT INTO Items (ItemID, ItemName, Price) VALUES (?, ?, ?)"),
                     {ItemId(i), QStringLiteral("宝贝%1").arg(i), 100.0});
            for (int r = 0; r <= kRivals; ++r) {
                const double price = r == 0 ? 100.0 : 80.0 + random.bounded(40);
                prices[i * (kRivals + 1) + r] = price;
                con.exec(QStringLiteral("INSERT INTO PriceHistory (LocalItemID, RivalWW, ReadAt, Price, SellCount) "
                                        "VALUES (?, ?, '2026-12-01 08:00:00', ?, 0)"),
                         {ItemId(i), r == 0 ? QString() : Rival(r), price});
            }
        }
        transaction.Commit();
    }
    QElapsedTimer timer;
    timer.start();
    const int firstAlerts = int(CheckAlerts(con).size());
    const double firstMs = double(timer.nsecsElapsed()) / 1e6;

    const int changes = kItems * kRivals / 50;
    {
        TWriteTransaction transaction(con);
        for (int c = 0; c < changes; ++c) {
            const int i = int(random.bounded(kItems));
            const int r = 1 + int(random.bounded(kRivals));
            double& price = prices[i * (kRivals + 1) + r];
            price = std::max(1.0, price + (random.generateDouble() - 0.5) * 30);
            con.exec(QStringLiteral("INSERT INTO PriceHistory (LocalItemID, RivalWW, ReadAt, Price, SellCount) "
                                    "VALUES (?, ?, '2026-12-01 09:00:00', ?, 0)"),
                     {ItemId(i), Rival(r), price});
        }
        transaction.Commit();
    }
    timer.restart();
    const int runAlerts = int(CheckAlerts(con).size());
    const double runMs = double(timer.nsecsElapsed()) / 1e6;
    std::printf("alerts: %d items x %d rivals\n", kItems, kRivals);
    std::printf("first run, %d new history rows: %.1f ms, %d alerts\n", kItems * (kRivals + 1), firstMs, firstAlerts);
    std::printf("a run with %d changed pages: %.1f ms, %d alerts\n", changes, runMs, runAlerts);
    return 0;
}
