// One shared round of N pages (default 300: 100 own items with 2 mapped rivals each) on a
// throw-away team database, each page answered by a loopback server after 20 ms, read by 1, 2
// and 3 `vantero-cli update-all --worker` processes started together. The round's time runs from
// its opening (just before the workers start) to its end as the server recorded it, when the
// last page was marked; a worker that had nothing left to take notices the end a moment later
// and exits, so the time to the last exit is given too. The ratio compares N workers' round with
// 1/N of one worker's, for the whole round and for its pages alone (less what one worker costs
// besides its pages, measured on rounds of a single page). The settings
// run in turn (1, 2, 3, 1, 2, 3, ...) so a change in the machine's load falls on all of them;
// the summary gives the medians.
#include "catalogue/MainData.h"
#include "catalogue/SharedRound.h"
#include "store/Connection.h"
#include "support/BenchFigures.h"
#include "support/UpdaterTestData.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <sys/resource.h>
#include <vector>

using namespace vantero;
using namespace vantero::test;

using vantero::bench::LoadAverage;
using vantero::bench::Median;

namespace {

constexpr int kRivals = 2;
constexpr int kPageDelayMs = 20;
constexpr int kMaxWorkers = 3;

// The processor time of every child process this program waited for so far.
double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A catalogue on the throw-away server whose every page answers after kPageDelayMs.
struct TTeam {
    TUpdaterCatalogue catalogue{TTestEngine::Server};
    QStringList paths;

    explicit TTeam(int pages) {
        const QStringList rivals{QStringLiteral("rivala"), QStringLiteral("rivalb")};
        for (const QString& ww : rivals)
            catalogue.AddRival(ww);
        for (int i = 0; paths.size() < pages; ++i) {
            const QString id = QString::number(100000 + i);
            const QString title = QStringLiteral("宝贝%1").arg(i);
            const QString price = QStringLiteral("%1.50").arg(10 + i % 90);
            paths << catalogue.AddItem(id, title, price);
            Serve(paths.last(), ItemPage(title, kOwnAccount, price, id));
            for (int r = 0; r < kRivals && paths.size() < pages; ++r) {
                const QString rivalId = QStringLiteral("%1%2").arg(rivals[r]).arg(i);
                const QString path = QStringLiteral("/rival/") + rivalId;
                catalogue.AddMapping(rivals[r], id, rivalId, path);
                Serve(path, ItemPage(QStringLiteral("同行宝贝"), rivals[r], QStringLiteral("%1.90").arg(10 + i % 90),
                                     rivalId));
                paths << path;
            }
        }
    }

    void Serve(const QString& path, const QByteArray& page) {
        TTestResponse response;
        response.body = page;
        response.headers = {{"Content-Type", "text/html; charset=gbk"}};
        response.delayMs = kPageDelayMs;
        catalogue.server.route(path, response);
    }

    // Opens the next round in this process, so that every worker joins the same one.
    void OpenRound() {
        TMainData data(catalogue.db.connection());
        data.ApplySettings();
        data.RefreshAllData();
        JoinSharedRound(data);
        TConnection::closeThreadConnections();
    }

    struct TRoundTime {
        double round = -1; // opening to end, by the server's clock
        double exit = -1;  // opening to the last worker's exit
        double cpu = 0;    // the workers' processor time (user and system), all of them together
    };

    // One round read by `workers` processes; negative times when a worker failed or a page was
    // not read exactly once.
    TRoundTime Round(int workers) {
        OpenRound();
        catalogue.server.clearRequests();
        std::vector<std::unique_ptr<QProcess>> processes;
        const double cpuBefore = ChildrenCpuSeconds();
        QElapsedTimer timer;
        timer.start();
        for (int w = 0; w < workers; ++w) {
            auto process = std::make_unique<QProcess>();
            process->start(QStringLiteral(VANTERO_CLI),
                           {QStringLiteral("--db"), catalogue.db.path(), QStringLiteral("update-all"),
                            QStringLiteral("--worker"), QStringLiteral("desk%1").arg(w + 1)});
            processes.push_back(std::move(process));
        }
        int readings = 0;
        bool ok = true;
        for (auto& process : processes) {
            if (!process->waitForFinished(600000) || process->exitStatus() != QProcess::NormalExit ||
                process->exitCode() != 0) {
                std::fprintf(stderr, "%s\n", process->readAllStandardError().constData());
                ok = false;
                continue;
            }
            static const QRegularExpression tally(QStringLiteral("^readings=(\\d+) "),
                                                  QRegularExpression::MultilineOption);
            readings += tally.match(QString::fromUtf8(process->readAllStandardOutput())).captured(1).toInt();
        }
        TRoundTime time;
        time.exit = double(timer.nsecsElapsed()) / 1e9;
        time.cpu = ChildrenCpuSeconds() - cpuBefore;
        time.round = catalogue.db
                         .value(QStringLiteral("select extract(epoch from EndedAt - StartedAt) from SharedRounds "
                                               "order by rowid desc limit 1"))
                         .toDouble();
        for (const QString& path : std::as_const(paths))
            ok = ok && catalogue.server.requestCount(path) == 1;
        if (!ok || readings != paths.size()) {
            std::fprintf(stderr, "round with %d workers: readings=%d of %lld pages\n", workers, readings,
                         static_cast<long long>(paths.size()));
            return {};
        }
        return time;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const int pages = argc > 1 ? std::max(3, QString::fromLocal8Bit(argv[1]).toInt()) : 300;
    const int repeats = argc > 2 ? std::max(1, QString::fromLocal8Bit(argv[2]).toInt()) : 3;

    // What a worker costs besides its pages (starting, joining, ending), from rounds of one page.
    std::vector<double> alone;
    {
        TTeam tiny(1);
        for (int repeat = 0; repeat < 3; ++repeat) {
            const TTeam::TRoundTime time = tiny.Round(1);
            if (time.round <= 0)
                return 1;
            alone.push_back(time.round - kPageDelayMs / 1000.0);
        }
    }
    const double own = Median(alone);

    TTeam team(pages);
    out << "pages: " << pages << " (" << kPageDelayMs << " ms each on 127.0.0.1), rounds per setting: " << repeats
        << ", load average before: " << LoadAverage() << "\n";
    out << "a worker's cost besides its pages (a round of one page, less its 20 ms): " << QString::number(own, 'f', 2)
        << " s\n";
    out.flush();

    std::map<int, std::vector<double>> rounds;
    std::map<int, std::vector<double>> exits;
    for (int repeat = 0; repeat < repeats; ++repeat) {
        for (int workers = 1; workers <= kMaxWorkers; ++workers) {
            const TTeam::TRoundTime time = team.Round(workers);
            if (time.round <= 0 || time.exit <= 0)
                return 1;
            rounds[workers].push_back(time.round);
            exits[workers].push_back(time.exit);
            out << "round " << repeat + 1 << ", " << workers << " worker(s): " << QString::number(time.round, 'f', 2)
                << " s (" << QString::number(time.round * 1000 / pages, 'f', 1) << " ms a page), last exit after "
                << QString::number(time.exit, 'f', 2) << " s; workers' processor time "
                << QString::number(time.cpu * 1000 / pages, 'f', 1) << " ms a page\n";
            out.flush();
        }
    }
    TConnection::closeAll();

    const double one = Median(rounds[1]);
    QString summary = QStringLiteral("teamround pages=%1 w1_s=%2").arg(pages).arg(one, 0, 'f', 2);
    for (int workers = 2; workers <= kMaxWorkers; ++workers) {
        const double n = Median(rounds[workers]);
        summary +=
            QStringLiteral(" w%1_s=%2 w%1_ratio=%3").arg(workers).arg(n, 0, 'f', 2).arg(n / (one / workers), 0, 'f', 3);
    }
    summary += QStringLiteral(" w1_exit_s=%1").arg(Median(exits[1]), 0, 'f', 2);
    for (int workers = 2; workers <= kMaxWorkers; ++workers) {
        const double n = Median(exits[workers]);
        summary += QStringLiteral(" w%1_exit_ratio=%2").arg(workers).arg(n / (Median(exits[1]) / workers), 0, 'f', 3);
    }
    // The pages alone, each setting's round less one worker's own cost (its workers pay it at once).
    for (int workers = 2; workers <= kMaxWorkers; ++workers) {
        const double n = Median(rounds[workers]);
        summary +=
            QStringLiteral(" w%1_pages_ratio=%2").arg(workers).arg((n - own) / ((one - own) / workers), 0, 'f', 3);
    }
    summary += QStringLiteral(" worker_own_s=%1").arg(own, 0, 'f', 2);
    out << "load average after: " << LoadAverage() << "\n" << summary << "\n";
    return 0;
}
