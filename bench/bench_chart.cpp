// Times opening the price chart window on an item with many rivals and a long history: reading
// the history, building the series and the table, and the first paint.
//   bench_chart [--rivals N] [--points N] [--days N] [--keep FILE] [--shot FILE]
// --keep copies the database (to look at the chart in the program); --shot saves the window.
#include "app/UtPriceChart.h"
#include "support/HistoryData.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>

#include <algorithm>
#include <cstdio>

using namespace vantero;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    test::THistoryDemo demo;
    demo.rivals = 50;
    demo.points = 10000;
    demo.days = 90;
    QString keep;
    QString shot;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--rivals"))
            demo.rivals = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--points"))
            demo.points = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--days"))
            demo.days = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--keep"))
            keep = args[i + 1];
        else if (args[i] == QLatin1String("--shot"))
            shot = args[i + 1];
    }

    test::TTestDatabase db;
    const QStringList rivals = test::WriteHistoryDemo(db.connection(), demo);
    if (!keep.isEmpty()) {
        QFile::remove(keep);
        db.connection().exec(QStringLiteral("VACUUM INTO ?"), {keep});
    }

    constexpr int kRounds = 7;
    QList<double> open;
    QList<double> all;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        auto* window = new TFmPriceChart(db.connection(), demo.itemId, demo.itemName, rivals);
        window->show();
        window->repaint();
        QApplication::processEvents();
        // The first paint of the chart itself, as the user sees the window.
        const QPixmap picture = window->grab();
        open << double(timer.nsecsElapsed()) / 1e6;
        timer.restart();
        window->SetPeriod(TChartPeriod::All);
        window->grab();
        all << double(timer.nsecsElapsed()) / 1e6;
        if (round == kRounds - 1 && !shot.isEmpty()) {
            window->SetPeriod(TChartPeriod::Month);
            window->grab().save(shot);
        }
        delete window;
    }
    std::sort(open.begin(), open.end());
    std::sort(all.begin(), all.end());
    std::printf("chart: %d rivals, %d history rows over %d days\n", demo.rivals, demo.points, demo.days);
    std::printf("open window (30 天) to first paint: median %.1f ms, min %.1f ms, max %.1f ms (%d rounds)\n",
                open[kRounds / 2], open.first(), open.last(), kRounds);
    std::printf("switch to 全部 and repaint:           median %.1f ms, min %.1f ms, max %.1f ms\n", all[kRounds / 2],
                all.first(), all.last());
    return 0;
}
