// Times how long a reading stored on another desk takes to show in the window's grid on a team
// database: from the other desk's commit to the row refreshed, on a catalogue of 5,000 own items
// with 30 rival shops each, on the benchmarks' own PostgreSQL server (a Unix socket, so the
// network's delay is not in the figure).
#include "app/UtMain.h"
#include "reader/ReadingLog.h"
#include "store/ReadingListener.h"
#include "support/PgServer.h"
#include "widgets/UiGridModel.h"

#include <QApplication>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace vantero;
using namespace vantero::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kItems = 5000;
constexpr int kRivals = 30;
constexpr int kReadings = 60;

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TPgServer& server = TPgServer::Shared();
    const QString target = server.NewDatabase();
    const QString name = target.section(QStringLiteral("dbname="), 1).section(u' ', 0, 0);
    if (!PrepareDatabaseFile(target).isEmpty())
        return 1;
    server.Psql(name, QStringLiteral("update Setting set UpdateTimeOut=60, WW='我的店'"));
    server.Psql(name, QStringLiteral("insert into Rival (RivalWW, ShopURL) select '同行' || r, 'http://shop/' || r "
                                     "from generate_series(0, %1) r")
                          .arg(kRivals - 1));
    server.Psql(name, QStringLiteral("insert into Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount, "
                                     "LastUpdated) select (100000 + i)::text, '宝贝' || i, '', 'http://own/' || i, "
                                     "50, 1, '2026-01-01 08:00:00' from generate_series(0, %1) i")
                          .arg(kItems - 1));
    server.Psql(name, QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                                     "SellCount, LastUpdated) select '同行' || r, (100000 + i)::text, "
                                     "(900000 + i * 100 + r)::text, '对手' || i, 'http://a/' || i, 40 + r, 1, "
                                     "'2026-01-01 08:00:00' from generate_series(0, %1) i, generate_series(0, %2) r")
                          .arg(kItems - 1)
                          .arg(kRivals - 1));

    const TConnection con(target);
    TFmMain main{con};
    main.show();
    if (!QTest::qWaitForWindowExposed(&main) || main.RowCount() != kItems)
        return 1;
    for (int waited = 0; !main.Listener()->Listening(); waited += 50) {
        if (waited > 60000)
            return 1;
        QTest::qWait(50);
    }

    // The moment the row shows the other desk's price, seen where the grid is told of it.
    std::atomic<Clock::rep> committed{0};
    QString awaited;
    int awaitedRow = -1;
    Clock::time_point shown;
    QEventLoop loop;
    QObject::connect(main.GridModel(), &QAbstractItemModel::dataChanged, &main, [&](const QModelIndex& from) {
        if (awaitedRow >= 0 && from.row() <= awaitedRow && main.Data().grid.cell(awaitedRow, 2) == awaited) {
            shown = Clock::now();
            loop.quit();
        }
    });

    std::vector<double> delays;
    for (int n = 0; n < kReadings; ++n) {
        awaitedRow = int(QRandomGenerator::global()->bounded(kItems));
        const QString item = main.ItemAt(awaitedRow)->ItemID;
        const double price = 10 + n * 0.25;
        awaited = QString::number(price, 'f', 2);
        shown = {};
        std::thread desk([&, item, price] {
            {
                TWriteTransaction transaction(con);
                con.exec(QStringLiteral("update RivalItems set Price=? where LocalItemID=? and RivalWW='同行0'"),
                         {price, item});
                TReadingOutcome outcome;
                outcome.LocalItemID = item;
                outcome.RivalWW = QStringLiteral("同行0");
                outcome.RivalItemID = QString::number(900000 + (item.toInt() - 100000) * 100);
                outcome.URL = QStringLiteral("http://a/");
                outcome.Price = price;
                LogReading(con, outcome, CurrentDateTimeColumn());
                transaction.Commit();
            }
            committed = Clock::now().time_since_epoch().count();
            TConnection::closeThreadConnections();
        });
        desk.join();
        if (shown == Clock::time_point{}) {
            QTimer limit;
            limit.setSingleShot(true);
            QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
            limit.start(60000);
            loop.exec();
        }
        if (shown == Clock::time_point{}) {
            std::fprintf(stderr, "the row was not refreshed within a minute\n");
            return 1;
        }
        const Clock::time_point at{Clock::duration(committed.load())};
        delays.push_back(std::chrono::duration<double, std::milli>(shown - at).count());
    }
    std::sort(delays.begin(), delays.end());
    std::printf("live rows on a team database, %d own items x %d rivals, %d readings of another desk\n", kItems,
                kRivals, kReadings);
    std::printf("commit to row refreshed: median %.1f ms, 95th percentile %.1f ms, max %.1f ms\n",
                delays[delays.size() / 2], delays[delays.size() * 95 / 100], delays.back());
    main.close();
    TConnection::closeAll();
    return 0;
}
