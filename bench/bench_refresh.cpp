// Times the refresh cycle and a single row refresh on a large catalogue, against the time the
// sqlite3 shell needs to read the same tables.
#include "app/UtMain.h"
#include "support/BenchFigures.h"
#include "support/RefreshCatalogue.h"
#include "support/TestDatabase.h"
#include "widgets/UiGridModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

using namespace vantero;

using vantero::bench::Median;

namespace {

constexpr int kItems = bench::kRefreshItems;
constexpr int kRivals = bench::kRefreshRivals;

double PeakRssMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);

    vantero::test::TTestDatabase db;
    bench::FillRefreshCatalogue(db.connection());
    out << "database: " << kItems << " items, " << kRivals << " rivals, " << kItems * kRivals << " mappings\n";
    out.flush();

    // What the start-up check of the file costs, with and without SQLite's quick integrity check.
    {
        vantero::TConnection::closeAll();
        std::vector<double> plain;
        std::vector<double> checked;
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer t;
            t.start();
            vantero::CheckDatabaseLayout(db.path(), nullptr, false);
            plain.push_back(double(t.nsecsElapsed()) / 1e6);
            t.start();
            vantero::CheckDatabaseLayout(db.path(), nullptr, true);
            checked.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        out << QStringLiteral("layout_check_ms=%1 with_quick_check_ms=%2 file_mb=%3\n")
                   .arg(Median(plain), 0, 'f', 1)
                   .arg(Median(checked), 0, 'f', 1)
                   .arg(double(QFileInfo(db.path()).size()) / 1048576.0, 0, 'f', 1);
        out.flush();
    }

    std::vector<double> shell;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        QProcess sqlite;
        sqlite.setStandardOutputFile(QStringLiteral("/dev/null"));
        sqlite.start(QStringLiteral("sqlite3"),
                     {db.path(), QStringLiteral("select * from Items; select * from RivalItems;")});
        sqlite.waitForFinished(-1);
        shell.push_back(double(t.nsecsElapsed()) / 1e6);
    }

    if (qEnvironmentVariableIsSet("BENCH_PARTS")) {
        TMainData data(db.connection());
        QElapsedTimer t;
        for (int run = 0; run < 3; ++run) {
            t.start();
            data.LoadRivals();
            data.grid.BuildGridLayout(data.RivalAccounts, data.OwnAccount);
            const double a = t.nsecsElapsed() / 1e6;
            data.qry.Reopen(kSelectItems);
            const double b = t.nsecsElapsed() / 1e6;
            data.FillAllRows();
            const double c = t.nsecsElapsed() / 1e6;
            out << "layout " << a << " items " << b - a << " fill " << c - b << "\n";
        }
        out.flush();
    }
    TFmMain main(db.connection());
    main.resize(1400, 900);
    main.show(); // runs the first refresh cycle
    QApplication::processEvents();

    std::vector<double> full;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        main.RefreshAll();
        QApplication::processEvents(); // let the views take the new rows
        full.push_back(double(t.nsecsElapsed()) / 1e6);
    }

    std::vector<double> single;
    for (int run = 0; run < 200; ++run) {
        const int row = int(QRandomGenerator::global()->bounded(kItems));
        QElapsedTimer t;
        t.start();
        main.RefreshRow(row);
        QApplication::processEvents();
        single.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    const double refreshAll = Median(full);
    const double sqlite = Median(shell);
    const double refreshRow = Median(single);
    const double worstRow = *std::max_element(single.begin(), single.end());
    out << "RefreshAll median of 5: " << refreshAll << " ms; sqlite3 shell median of 5: " << sqlite << " ms\n";
    out << "RefreshRow median of 200: " << refreshRow << " ms; worst: " << worstRow << " ms\n";
    out << QStringLiteral("refresh_all_ms=%1 sqlite3_read_ms=%2 ratio=%3 refresh_row_ms=%4 peak_rss_mb=%5\n")
               .arg(refreshAll, 0, 'f', 1)
               .arg(sqlite, 0, 'f', 1)
               .arg(refreshAll / sqlite, 0, 'f', 2)
               .arg(refreshRow, 0, 'f', 2)
               .arg(PeakRssMb(), 0, 'f', 0);
    return 0;
}
