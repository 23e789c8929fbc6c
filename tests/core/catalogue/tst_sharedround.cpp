// Several update-all workers on one team database: one round, every page read by one of them.
#include "catalogue/MainData.h"
#include "catalogue/SharedRound.h"
#include "common/StoreTexts.h"
#include "store/ReadingNotice.h"
#include "store/ServerSession.h"
#include "support/SilentServer.h"
#include "support/UpdaterTestData.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <libpq-fe.h>
#include <memory>
#include <vector>

using namespace vantero;
using namespace vantero::test;

namespace {

constexpr int kPageDelayMs = 20;
constexpr int kFinishMs = 180000; // a loaded machine with three workers and a server

// A catalogue on the tests' server whose pages each take kPageDelayMs to answer: six own items,
// each with two mapped rivals (eighteen pages).
struct TTeamCatalogue {
    TUpdaterCatalogue catalogue{TTestEngine::Server};
    QStringList paths;

    TTeamCatalogue() {
        catalogue.AddRival(QStringLiteral("rivala"));
        catalogue.AddRival(QStringLiteral("rivalb"));
        for (int i = 1; i <= 6; ++i) {
            const QString id = QString::number(1000 + i);
            paths << catalogue.AddItem(id, QStringLiteral("宝贝%1").arg(i), QStringLiteral("%1.50").arg(i));
            Serve(paths.last(),
                  ItemPage(QStringLiteral("宝贝%1").arg(i), kOwnAccount, QStringLiteral("%1.50").arg(i), id));
            for (const QString& ww : {QStringLiteral("rivala"), QStringLiteral("rivalb")}) {
                const QString rivalId = QStringLiteral("%1%2").arg(ww).arg(i);
                const QString path = QStringLiteral("/rival/") + rivalId;
                catalogue.AddMapping(ww, id, rivalId, path);
                Serve(path, ItemPage(QStringLiteral("同行宝贝"), ww, QStringLiteral("%1.90").arg(i), rivalId));
                paths << path;
            }
        }
    }

    void Serve(const QString& path, const QByteArray& page, int delayMs = kPageDelayMs) {
        TTestResponse response;
        response.body = page;
        response.headers = {{"Content-Type", "text/html; charset=gbk"}};
        response.delayMs = delayMs;
        catalogue.server.route(path, response);
    }

    std::unique_ptr<QProcess> StartWorker(const QString& name, int leaseSeconds = 0) {
        auto worker = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (leaseSeconds > 0)
            env.insert(QStringLiteral("VANTERO_ROUND_LEASE_SECONDS"), QString::number(leaseSeconds));
        worker->setProcessEnvironment(env);
        worker->start(QStringLiteral(VANTERO_CLI), {QStringLiteral("--db"), catalogue.db.path(),
                                                    QStringLiteral("update-all"), QStringLiteral("--worker"), name});
        return worker;
    }

    // Opens the round in this process, as the first worker would: workers started later join it
    // however late they come, so none of them starts a second round.
    void OpenRound() {
        TMainData data(catalogue.db.connection());
        data.ApplySettings();
        data.RefreshAllData();
        JoinSharedRound(data);
        TConnection::closeThreadConnections();
    }

    qint64 Count(const QString& sql, const QVariantList& values = {}) const {
        return catalogue.db.value(sql, values).toLongLong();
    }

    // Every page read and stored: the round ended with each claim read, every price the page's.
    void VerifyRoundComplete() const {
        QCOMPARE(Count(QStringLiteral("select count(*) from RoundClaims")), paths.size());
        QCOMPARE(Count(QStringLiteral("select count(*) from RoundClaims where State<>1")), 0);
        QCOMPARE(Count(QStringLiteral("select count(*) from SharedRounds where EndedAt is null")), 0);
        QCOMPARE(Count(QStringLiteral("select count(*) from SharedRounds")), 1);
        for (int i = 1; i <= 6; ++i) {
            QCOMPARE(catalogue.ItemPrice(QString::number(1000 + i)), i + 0.5);
            QCOMPARE(catalogue.RivalPrice(QStringLiteral("rivalb%1").arg(i)), i + 0.9);
        }
    }
};

struct TSummary {
    int readings = -1;
    int stored = -1;
};

TSummary Finish(QProcess& worker) {
    TSummary summary;
    if (!worker.waitForFinished(kFinishMs) || worker.exitStatus() != QProcess::NormalExit || worker.exitCode() != 0) {
        qWarning().noquote() << QString::fromUtf8(worker.readAllStandardError());
        return summary;
    }
    const QString out = QString::fromUtf8(worker.readAllStandardOutput());
    const QRegularExpression line(QStringLiteral("^readings=(\\d+) stored=(\\d+) refused=0 failed=0$"),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(out);
    if (match.hasMatch())
        summary = {match.captured(1).toInt(), match.captured(2).toInt()};
    else
        qWarning().noquote() << out;
    return summary;
}

} // namespace

class TstSharedRound : public QObject {
    Q_OBJECT
private slots:
    void workerOnlyOnTeamDatabase() {
        TTestDatabase file;
        QProcess cli;
        cli.start(QStringLiteral(VANTERO_CLI), {QStringLiteral("--db"), file.path(), QStringLiteral("update-all"),
                                                QStringLiteral("--worker"), QStringLiteral("desk1")});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 2);
        QVERIFY(QString::fromUtf8(cli.readAllStandardError()).contains(QStringLiteral("只用于团队数据库")));
        QCOMPARE(cli.readAllStandardOutput(), QByteArray());
    }

    void threeWorkersReadEveryPageOnce() {
        TTeamCatalogue team;
        team.OpenRound();
        std::vector<std::unique_ptr<QProcess>> workers;
        for (const char* name : {"desk1", "desk2", "desk3"})
            workers.push_back(team.StartWorker(QString::fromLatin1(name)));
        int readings = 0;
        int stored = 0;
        for (auto& worker : workers) {
            const TSummary summary = Finish(*worker);
            QVERIFY(summary.readings >= 0);
            readings += summary.readings;
            stored += summary.stored;
        }
        // Each page was asked for once, by one worker, and its reading counted once.
        for (const QString& path : team.paths)
            QCOMPARE(team.catalogue.server.requestCount(path), 1);
        QCOMPARE(readings, team.paths.size());
        QCOMPARE(stored, team.paths.size());
        team.VerifyRoundComplete();
        // Readings are stored as the ordinary round stores them.
        QCOMPARE(team.Count(QStringLiteral("select count(*) from ReadingStatus where LastCode in (0, 1)")),
                 team.paths.size());
        // A worker started after the round ended starts the next one.
        auto late = team.StartWorker(QStringLiteral("desk4"));
        QCOMPARE(Finish(*late).readings, team.paths.size());
        QCOMPARE(team.Count(QStringLiteral("select count(*) from SharedRounds where EndedAt is null")), 0);
        QCOMPARE(team.Count(QStringLiteral("select count(*) from SharedRounds")), 2);
        // The claims of the ended round went when the next one opened.
        QCOMPARE(team.Count(QStringLiteral("select count(distinct RoundID) from RoundClaims")), 1);
    }

    void everyStoredReadingNotifies() {
        TTeamCatalogue team;
        // A failing page is a stored reading too.
        team.Serve(team.paths.at(1), QByteArray("<html><body>no item here</body></html>"));
        // Another desk listening, through the server's own client library.
        PGconn* listener = PQconnectdb(team.catalogue.db.path().toUtf8().constData());
        QCOMPARE(PQstatus(listener), CONNECTION_OK);
        PQclear(PQexec(listener, ("LISTEN " + kReadingsChannel.toUtf8()).constData()));
        // The ordinary round on a team database: the notices come from where readings are stored.
        QProcess cli;
        cli.start(QStringLiteral(VANTERO_CLI),
                  {QStringLiteral("--db"), team.catalogue.db.path(), QStringLiteral("update-all")});
        QVERIFY(cli.waitForFinished(kFinishMs));
        QCOMPARE(cli.exitCode(), 0);
        QMap<QString, int> byItem;
        int notices = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                PQconsumeInput(listener);
                while (PGnotify* notice = PQnotifies(listener)) {
                    if (QByteArray(notice->relname) == kReadingsChannel.toUtf8()) {
                        ++byItem[QString::fromUtf8(notice->extra)];
                        ++notices;
                    }
                    PQfreemem(notice);
                }
                return notices >= int(team.paths.size());
            }(),
            30000);
        PQfinish(listener);
        QCOMPARE(notices, team.paths.size());
        // Each own item once for its own page and once for each rival's.
        QCOMPARE(byItem.size(), 6);
        for (auto it = byItem.cbegin(); it != byItem.cend(); ++it)
            QCOMPARE(it.value(), 3);
    }

    void killedWorkerLosesOnlyItsPage() {
        TTeamCatalogue team;
        // One page answers slowly, longer than a lease: its reader keeps it by renewing.
        const QString slow = team.paths.at(7);
        team.Serve(slow,
                   ItemPage(QStringLiteral("同行宝贝"), QStringLiteral("rivala"), QStringLiteral("3.90"),
                            QStringLiteral("rivala3")),
                   5000);
        team.OpenRound();
        constexpr int kLease = 2;
        QHash<QString, std::shared_ptr<QProcess>> workers;
        for (const char* name : {"desk1", "desk2", "desk3"})
            workers.insert(QString::fromLatin1(name), team.StartWorker(QString::fromLatin1(name), kLease));
        QTRY_VERIFY_WITH_TIMEOUT(team.catalogue.server.requestCount(slow) == 1, kFinishMs);
        QString holder;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(holder = team.catalogue.db
                           .value(QStringLiteral("select Worker from RoundClaims where URL=? and State=0"),
                                  {team.catalogue.server.url(slow)})
                           .toString())
                 .isEmpty(),
            30000);
        QVERIFY(workers.contains(holder));
        workers[holder]->kill(); // SIGKILL: nothing of it runs any more
        QVERIFY(workers[holder]->waitForFinished(30000));
        for (auto it = workers.begin(); it != workers.end(); ++it) {
            if (it.key() != holder)
                QVERIFY(Finish(**it).readings >= 1); // the page it retook at least
        }
        // The dead worker's page was read once more by another; no other page twice.
        for (const QString& path : team.paths)
            QCOMPARE(team.catalogue.server.requestCount(path), path == slow ? 2 : 1);
        QCOMPARE(
            team.Count(QStringLiteral("select Tries from RoundClaims where URL=?"), {team.catalogue.server.url(slow)}),
            2);
        QVERIFY(team.Count(QStringLiteral("select count(*) from RoundClaims where URL=? and Worker<>?"),
                           {team.catalogue.server.url(slow), holder}) == 1);
        team.VerifyRoundComplete();
    }

    // A worker told to end while the server does not answer (here: another program holds the
    // claims behind a lock) ends anyway, saying why, instead of waiting to give its page back.
    void signalledWorkerEndsThoughTheServerDoesNotAnswer() {
        TTeamCatalogue team;
        const QString first = team.paths.first();
        TTestResponse endless;
        endless.endless = true;
        team.catalogue.server.route(first, endless);
        team.OpenRound();
        auto worker = team.StartWorker(QStringLiteral("desk1"));
        QTRY_VERIFY_WITH_TIMEOUT(team.catalogue.server.requestCount(first) == 1, kFinishMs);
        TServerSession holder(team.catalogue.db.path());
        holder.Run("BEGIN; LOCK TABLE roundclaims IN ACCESS EXCLUSIVE MODE");
        worker->terminate();
        // The lock goes after a minute at the latest, so a worker that waits for it still ends.
        const bool endedWhileStuck = worker->waitForFinished(60000);
        holder.Rollback();
        if (!endedWhileStuck)
            worker->waitForFinished(kFinishMs);
        QVERIFY2(endedWhileStuck, "the worker waited until the server answered");
        QCOMPARE(worker->exitStatus(), QProcess::NormalExit);
        QCOMPARE(worker->exitCode(), 1);
        const QString error = QString::fromUtf8(worker->readAllStandardError());
        QVERIFY2(error.contains(StoreTexts::ServerLost.section(u'%', 0, 0)), qPrintable(error));
        QVERIFY2(error.contains(StoreTexts::ServerCutOff), qPrintable(error));
        QCOMPARE(team.Count(QStringLiteral("select count(*) from RoundClaims where State<>0")), 0);
    }

    void workerToldToEndWhileConnectingToAServerThatNeverAnswersEndsAtOnce() {
        TSilentServer silent;
        QVERIFY(silent.Port() != 0);
        QProcess worker;
        worker.start(QStringLiteral(VANTERO_CLI),
                     {QStringLiteral("--db"), silent.Target(), QStringLiteral("update-all"), QStringLiteral("--worker"),
                      QStringLiteral("desk1")});
        QVERIFY(silent.Accept() >= 0);
        worker.terminate();
        QVERIFY(worker.waitForFinished(60000));
        QCOMPARE(worker.exitStatus(), QProcess::NormalExit);
        QCOMPARE(worker.exitCode(), 1);
        const QString error = QString::fromUtf8(worker.readAllStandardError());
        // Not the connection's own time limit: it gave up when told to end.
        QVERIFY2(error.contains(StoreTexts::ServerCutOff), qPrintable(error));
        QVERIFY(silent.AttemptClosed());
    }

    // The loop the window runs: its texts and pages come to its callbacks, a stop between pages
    // leaves the rest of the round to the others, and the round's progress counts every worker.
    void workerLoopReportsEachPageAndStopsBetweenPages() {
        TTeamCatalogue team;
        // A page that fails is marked failed, not left open.
        team.Serve(team.paths.at(1), QByteArray("<html><body>no item here</body></html>"));
        const TConnection& con = team.catalogue.db.connection();
        QCOMPARE(SharedRoundProgressText(SharedRoundProgress(con)), QStringLiteral("共享轮次：尚未开始"));
        team.OpenRound();
        TSharedRoundProgress open = SharedRoundProgress(con);
        QCOMPARE(open.total, int(team.paths.size()));
        QCOMPARE(open.done + open.failed + open.held + open.workers, 0);
        QVERIFY(!open.ended);

        TMainData data(con);
        data.ApplySettings();
        data.RefreshAllData();
        const qint64 round = JoinSharedRound(data);
        QCOMPARE(round, open.round);
        QStringList progressTexts;
        QList<TSharedRoundProgress> whileHeld;
        QList<TSharedRoundPage> pages;
        std::unique_ptr<TSharedRoundWorker> worker;
        worker = std::make_unique<TSharedRoundWorker>(
            con, round, QStringLiteral("desk1"), data.OwnAccount,
            [&](int panel, const QString& text) {
                if (panel != TReadAllItemThr::kProgressPanel)
                    return;
                progressTexts << text;
                whileHeld << SharedRoundProgress(con); // a page is claimed and not yet read
            },
            [&](const TSharedRoundPage& page) {
                pages << page;
                if (pages.size() == 3)
                    worker->Stop();
            });
        const TReadAllItemThr::Tally tally = worker->Run();
        QCOMPARE(tally.readings, 3);
        QCOMPARE(tally.refused, 1);
        // The round's first pages in its order: the first own item's page, then its rivals'.
        QCOMPARE(pages.size(), 3);
        QCOMPARE(pages[0].ownItemID, QStringLiteral("1001"));
        QVERIFY(pages[0].rivalWW.isEmpty());
        QCOMPARE(pages[0].resultCode, 0);
        QCOMPARE(pages[1].rivalWW, QStringLiteral("rivala"));
        QCOMPARE(pages[1].resultCode, 3);
        QCOMPARE(pages[2].rivalWW, QStringLiteral("rivalb"));
        QCOMPARE(progressTexts, QStringList{UpdaterTexts::Progress(QStringLiteral("宝贝1"))});
        QCOMPARE(whileHeld.size(), 1);
        QCOMPARE(whileHeld[0].held, 1);
        QCOMPARE(whileHeld[0].workers, 1);
        // Stopped between pages: nothing of the rest was asked for or claimed.
        for (int i = 3; i < team.paths.size(); ++i)
            QCOMPARE(team.catalogue.server.requestCount(team.paths.at(i)), 0);
        const TSharedRoundProgress stopped = SharedRoundProgress(con);
        QCOMPARE(stopped.done, 2);
        QCOMPARE(stopped.failed, 1);
        QCOMPARE(stopped.held, 0);
        QCOMPARE(SharedRoundProgressText(stopped),
                 QStringLiteral("共享轮次：已读 3/%1，失败 1，0 个读取者").arg(team.paths.size()));

        // Another worker reads the rest and the round is over.
        auto cli = team.StartWorker(QStringLiteral("desk2"));
        QVERIFY(cli->waitForFinished(kFinishMs));
        QCOMPARE(cli->exitCode(), 0);
        for (const QString& path : team.paths)
            QCOMPARE(team.catalogue.server.requestCount(path), 1);
        const TSharedRoundProgress ended = SharedRoundProgress(con);
        QVERIFY(ended.ended);
        QCOMPARE(SharedRoundProgressText(ended),
                 QStringLiteral("共享轮次：已读 %1/%1，失败 1，已完成").arg(team.paths.size()));
        TConnection::closeThreadConnections();
    }
};

QTEST_GUILESS_MAIN(TstSharedRound)
#include "tst_sharedround.moc"
