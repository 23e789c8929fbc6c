// The grid's refresh cycle (the data steps the window and `vantero-cli grid` share) on 5,000 own
// items × 30 rivals, on the database file and on a throw-away team database holding the same
// rows (seeded on the file, then copied over as `copy-db` does); and the single row refresh that
// brings one reading in; then `vantero-cli grid --csv` on each, a whole process from start to
// its last line. Medians. The server is a throw-away one on this machine behind a Unix socket, or
// the empty database an argument names (a connection string), to measure a real team server.
#include "catalogue/MainData.h"
#include "store/Connection.h"
#include "store/DatabaseCopy.h"
#include "store/Statement.h"
#include "support/BenchFigures.h"
#include "support/MeasuredChild.h"
#include "support/PgServer.h"
#include "support/RefreshCatalogue.h"
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace vantero;

using vantero::bench::LoadAverage;
using vantero::bench::Median;

namespace {

constexpr int kItems = bench::kRefreshItems;
constexpr int kRivals = bench::kRefreshRivals;
constexpr int kRuns = 5;
constexpr int kRowRuns = 200;
constexpr int kCliRuns = 3;

struct TFigures {
    double refreshAll = 0;
    double refreshRow = 0;
    double worstRow = 0;
    int rows = 0;
};

TFigures Measure(const TConnection& con) {
    TFigures figures;
    TMainData data(con);
    data.ApplySettings();
    data.RefreshAllData(); // the first cycle prepares the statements and warms the caches
    std::vector<double> full;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer t;
        t.start();
        data.RefreshAllData();
        full.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    figures.rows = data.grid.rowCount();
    std::vector<double> single;
    for (int run = 0; run < kRowRuns; ++run) {
        const int row = int(QRandomGenerator::global()->bounded(figures.rows));
        QElapsedTimer t;
        t.start();
        data.RefreshRowData(row);
        single.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    figures.refreshAll = Median(full);
    figures.refreshRow = Median(single);
    figures.worstRow = *std::max_element(single.begin(), single.end());
    return figures;
}

// With BENCH_PARTS set: where a cycle's reading of the readings goes, the one query's answer
// (for the server: its round trip, the whole result) and the walk over its rows, every cell read
// as the grid reads it.
void PrintParts(QTextStream& out, const char* engine, const TConnection& con) {
    for (int run = 0; run < 3; ++run) {
        const TReadTransaction snapshot(con);
        QElapsedTimer t;
        t.start();
        TStatement query(con, QStringLiteral("SELECT LocalItemID, RivalWW, RivalItemID, Price, SellCount "
                                             "FROM RivalItems ORDER BY rowid"));
        query.Bind({});
        query.ColumnCount();
        const double answered = double(t.nsecsElapsed()) / 1e6;
        double sum = 0;
        qint64 bytes = 0;
        while (query.Step()) {
            bytes += query.Bytes(0).size() + query.Bytes(1).size() + query.Bytes(2).size();
            sum += query.Float(3) + double(query.Integer(4));
        }
        const double walked = double(t.nsecsElapsed()) / 1e6 - answered;
        out << engine << " parts: answer " << answered << " ms, rows " << walked << " ms (" << bytes
            << " text bytes, sum " << sum << ")\n";
    }
    out.flush();
}

// `vantero-cli grid --csv` on the database, its table thrown away; median seconds, or -1 when
// it failed.
double CliGrid(const QString& target) {
    std::vector<double> times;
    for (int run = 0; run < kCliRuns; ++run) {
        const TChildCost cost = RunMeasuredChild({QStringLiteral(VANTERO_CLI), QStringLiteral("--db"), target,
                                                  QStringLiteral("grid"), QStringLiteral("--csv")},
                                                 [] {
                                                     const int null = open("/dev/null", O_WRONLY);
                                                     return null >= 0 && dup2(null, STDOUT_FILENO) >= 0;
                                                 });
        if (cost.exitCode != 0)
            return -1;
        times.push_back(cost.seconds);
    }
    return Median(times);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    vantero::test::TTestDatabase file;
    bench::FillRefreshCatalogue(file.connection());
    std::unique_ptr<vantero::test::TTestDatabase> throwAway;
    QString target = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (target.isEmpty()) {
        throwAway = std::make_unique<vantero::test::TTestDatabase>(vantero::test::TTestEngine::Server);
        target = throwAway->path();
    }
    const TConnection server(target);
    TConnection::closeAll();
    QElapsedTimer copyTimer;
    copyTimer.start();
    const TRefusable<TCopyCounts> copied = CopyDatabase(file.path(), target, false);
    if (!copied) {
        std::fprintf(stderr, "%s\n", qPrintable(copied.refusal()));
        return 1;
    }
    const double copySeconds = copyTimer.nsecsElapsed() / 1e9;
    // And back into a new file, as `copy-db` takes a team database home.
    copyTimer.start();
    const TRefusable<TCopyCounts> back = CopyDatabase(target, file.dir() + QStringLiteral("/back.mdb"), false);
    if (!back) {
        std::fprintf(stderr, "%s\n", qPrintable(back.refusal()));
        return 1;
    }
    const double backSeconds = copyTimer.nsecsElapsed() / 1e9;
    TConnection::closeAll();
    out << "database: " << kItems << " items, " << kRivals << " rivals, " << kItems * kRivals
        << " mappings; copy to the server: " << QString::number(copySeconds, 'f', 1) << " s for " << copied->total()
        << " rows, back to a new file: " << QString::number(backSeconds, 'f', 1) << " s\n";
    out << "load average before: " << LoadAverage() << "\n";
    out.flush();

    if (qEnvironmentVariableIsSet("BENCH_PARTS")) {
        PrintParts(out, "file", file.connection());
        PrintParts(out, "server", server);
    }
    const TFigures onFile = Measure(file.connection());
    out << "file:   RefreshAllData median of " << kRuns << ": " << onFile.refreshAll << " ms; RefreshRowData median of "
        << kRowRuns << ": " << onFile.refreshRow << " ms, worst " << onFile.worstRow << " ms\n";
    out.flush();
    const TFigures onServer = Measure(server);
    out << "server: RefreshAllData median of " << kRuns << ": " << onServer.refreshAll
        << " ms; RefreshRowData median of " << kRowRuns << ": " << onServer.refreshRow << " ms, worst "
        << onServer.worstRow << " ms\n";
    TConnection::closeAll();
    if (onFile.rows != kItems || onServer.rows != kItems) {
        std::fprintf(stderr, "rows: file %d, server %d\n", onFile.rows, onServer.rows);
        return 1;
    }
    out.flush();
    const double cliFile = CliGrid(file.path());
    const double cliServer = CliGrid(target);
    if (cliFile < 0 || cliServer < 0) {
        std::fprintf(stderr, "vantero-cli grid failed\n");
        return 1;
    }
    out << "vantero-cli grid --csv median of " << kCliRuns << ": file " << QString::number(cliFile, 'f', 2)
        << " s, server " << QString::number(cliServer, 'f', 2) << " s\n";
    out << "load average after: " << LoadAverage() << "\n";
    out << QStringLiteral("pgrefresh file_ms=%1 server_ms=%2 ratio=%3 file_row_ms=%4 server_row_ms=%5 "
                          "cli_file_s=%6 cli_server_s=%7 cli_ratio=%8 copy_s=%9 copy_back_s=%10\n")
               .arg(onFile.refreshAll, 0, 'f', 1)
               .arg(onServer.refreshAll, 0, 'f', 1)
               .arg(onServer.refreshAll / onFile.refreshAll, 0, 'f', 2)
               .arg(onFile.refreshRow, 0, 'f', 2)
               .arg(onServer.refreshRow, 0, 'f', 2)
               .arg(cliFile, 0, 'f', 2)
               .arg(cliServer, 0, 'f', 2)
               .arg(cliServer / cliFile, 0, 'f', 2)
               .arg(copySeconds, 0, 'f', 2)
               .arg(backSeconds, 0, 'f', 2);
    return 0;
}
