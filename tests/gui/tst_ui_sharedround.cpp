// The window's "更新所有" on a team database: one more worker of the shared round beside the
// command-line workers, its stop giving the page in progress back, and the status panel with the
// round's progress over all workers. A real PostgreSQL server of the tests' own; pages on 127.0.0.1.
#include "app/UtMain.h"
#include "catalogue/SharedRound.h"
#include "catalogue/SharedRoundThr.h"
#include "reader/UtReadItemThr.h"
#include "store/PageOutcomes.h"
#include "store/ServerSession.h"
#include "support/UpdaterTestData.h"
#include "widgets/UiMessageBoxes.h"
#include "widgets/UiStatusPanels.h"

#include <QAction>
#include <QLabel>
#include <QProcess>
#include <QTest>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

using namespace vantero;
using namespace vantero::test;

namespace {

constexpr int kWaitMs = 180000; // a loaded machine with a server, a window and a worker process

// Eight own items, each mapped to one rival (sixteen pages); each page takes delayMs to answer.
struct TTeamShop {
    TUpdaterCatalogue catalogue{TTestEngine::Server};
    QStringList paths;

    explicit TTeamShop(int delayMs) {
        catalogue.AddRival(QStringLiteral("rivala"));
        for (int i = 1; i <= 8; ++i) {
            const QString id = QString::number(1000 + i);
            paths << catalogue.AddItem(id, QStringLiteral("宝贝%1").arg(i), QStringLiteral("%1.50").arg(i));
            Serve(paths.last(),
                  ItemPage(QStringLiteral("宝贝%1").arg(i), kOwnAccount, QStringLiteral("%1.50").arg(i), id), delayMs);
            const QString rivalId = QStringLiteral("r%1").arg(i);
            paths << QStringLiteral("/rival/") + rivalId;
            catalogue.AddMapping(QStringLiteral("rivala"), id, rivalId, paths.last());
            Serve(
                paths.last(),
                ItemPage(QStringLiteral("同行宝贝"), QStringLiteral("rivala"), QStringLiteral("%1.90").arg(i), rivalId),
                delayMs);
        }
    }

    void Serve(const QString& path, const QByteArray& page, int delayMs) {
        TTestResponse response;
        response.body = page;
        response.headers = {{"Content-Type", "text/html; charset=gbk"}};
        response.delayMs = delayMs;
        catalogue.server.route(path, response);
    }

    std::unique_ptr<QProcess> StartWorker(const QString& name) const {
        auto worker = std::make_unique<QProcess>();
        worker->start(QStringLiteral(VANTERO_CLI), {QStringLiteral("--db"), catalogue.db.path(),
                                                    QStringLiteral("update-all"), QStringLiteral("--worker"), name});
        return worker;
    }

    qint64 Count(const QString& sql, const QVariantList& values = {}) const {
        return catalogue.db.value(sql, values).toLongLong();
    }

    QString Holder(const QString& path) const {
        return catalogue.db
            .value(QStringLiteral("select Worker from RoundClaims where URL=? and State=0"),
                   {catalogue.server.url(path)})
            .toString();
    }

    // One round, every page of it read once and stored, every price the page's.
    void VerifyRoundComplete() const {
        QCOMPARE(Count(QStringLiteral("select count(*) from SharedRounds")), 1);
        QCOMPARE(Count(QStringLiteral("select count(*) from SharedRounds where EndedAt is null")), 0);
        QCOMPARE(Count(QStringLiteral("select count(*) from RoundClaims")), paths.size());
        QCOMPARE(Count(QStringLiteral("select count(*) from RoundClaims where State<>1")), 0);
        for (int i = 1; i <= 8; ++i) {
            QCOMPARE(catalogue.ItemPrice(QString::number(1000 + i)), i + 0.5);
            QCOMPARE(catalogue.RivalPrice(QStringLiteral("r%1").arg(i)), i + 0.9);
        }
    }
};

// The summary line of a worker that ended well; -1 readings otherwise.
int WorkerReadings(QProcess& worker) {
    if (worker.exitStatus() != QProcess::NormalExit || worker.exitCode() != 0) {
        qWarning().noquote() << QString::fromUtf8(worker.readAllStandardError());
        return -1;
    }
    const QString out = QString::fromUtf8(worker.readAllStandardOutput());
    if (!out.startsWith(QStringLiteral("readings=")))
        return -1;
    return out.section(u'=', 1, 1).section(u' ', 0, 0).toInt();
}

} // namespace

class TstUiSharedRound final : public QObject {
    Q_OBJECT

private:
    QStringList m_boxes;

    static std::unique_ptr<TFmMain> OpenWindow(const TTeamShop& shop) {
        auto window = std::make_unique<TFmMain>(shop.catalogue.db.connection());
        window->ApplySettings();
        window->RefreshAll();
        return window;
    }
    static QAction* Command(TFmMain& window, const char* name) { return window.Command(QString::fromLatin1(name)); }

    // A window whose update has claimed the round's first page, a page that never finishes.
    static std::unique_ptr<TFmMain> ReadingEndlessFirstPage(TTeamShop& shop) {
        const QString first = shop.paths.first();
        TTestResponse endless;
        endless.endless = true;
        shop.catalogue.server.route(first, endless);
        auto window = OpenWindow(shop);
        Command(*window, "btnUpdateItem")->trigger();
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(shop.catalogue.server.requestCount(first) == 1, kWaitMs);
            QTRY_COMPARE_WITH_TIMEOUT(shop.Holder(first), TSharedRoundThr::WindowWorkerName(), kWaitMs);
        }();
        return window;
    }

private slots:
    void init() {
        TReadItem::SetDownloadLimits({60000, 60000, 16 * 1024 * 1024});
        m_boxes.clear();
        SetMessageBoxHook([this](TBoxKind, const QString&, const QString& text) {
            m_boxes << text;
            return true;
        });
    }
    void cleanup() {
        SetMessageBoxHook({});
        TConnection::closeAll();
    }

    void windowAndCommandLineWorkerShareOneRound() {
        TTeamShop shop(150);
        auto window = OpenWindow(shop);
        // Before any round the panel says so; it stands after the database panel.
        TStatusPanel* panel = window->RoundPanel();
        QVERIFY(!panel->isHidden());
        QCOMPARE(window->RoundPanelText(), QStringLiteral("共享轮次：尚未开始"));
        QVERIFY(!panel->accessibleName().isEmpty());
        auto* panels = window->findChild<TStatusPanels*>(QStringLiteral("statPanels"));
        QVERIFY(panels);
        const QObjectList order = panels->children();
        QVERIFY(order.indexOf(panel) > order.indexOf(window->DatabasePanel()));

        Command(*window, "btnUpdateItem")->trigger();
        QVERIFY(window->UpdateRunning());
        // The window is a worker of the round like any other: it claims under its own name.
        const QString name = TSharedRoundThr::WindowWorkerName();
        QVERIFY(name.endsWith(QStringLiteral("-窗口")));
        QTRY_VERIFY_WITH_TIMEOUT(
            shop.Count(QStringLiteral("select count(*) from RoundClaims where Worker=?"), {name}) > 0, kWaitMs);
        // While it reads, its panel counts the round over every worker.
        QTRY_VERIFY_WITH_TIMEOUT(window->RoundPanelText().startsWith(QStringLiteral("共享轮次：已读 ")), kWaitMs);
        QVERIFY(window->RoundPanelText().contains(QStringLiteral("/16，失败 0，")));
        auto cli = shop.StartWorker(QStringLiteral("desk2"));

        QTRY_VERIFY_WITH_TIMEOUT(!window->UpdateRunning(), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(cli->state() == QProcess::NotRunning, kWaitMs);
        const int cliReadings = WorkerReadings(*cli);
        QVERIFY(cliReadings >= 0);
        // Every page asked for once, by one of the two, and the round is over.
        for (const QString& path : shop.paths)
            QCOMPARE(shop.catalogue.server.requestCount(path), 1);
        const qint64 windowReadings =
            shop.Count(QStringLiteral("select count(*) from RoundClaims where Worker=? and State=1"), {name});
        QVERIFY(windowReadings >= 1);
        QCOMPARE(windowReadings + cliReadings, shop.paths.size());
        shop.VerifyRoundComplete();
        // The grid shows every reading, the ones of the other worker too (announced to the window).
        for (int row = 0; row < window->RowCount(); ++row) {
            const int i = window->ItemAt(row)->ItemID.toInt() - 1000;
            QTRY_COMPARE_WITH_TIMEOUT(window->Data().grid.cell(row, 2), QStringLiteral("%1.90").arg(i), kWaitMs);
            QCOMPARE(window->Data().grid.cell(row, 5), QStringLiteral("%1.50").arg(i));
        }
        QTRY_COMPARE_WITH_TIMEOUT(window->RoundPanelText(), QStringLiteral("共享轮次：已读 16/16，失败 0，已完成"),
                                  kWaitMs);
        QCOMPARE(window->RoundPanel()->accessibleDescription(), window->RoundPanelText());
        QVERIFY(Command(*window, "btnUpdateItem")->isEnabled());
        // The window's own summary counts its own readings.
        QCOMPARE(window->RunSummaryText(), OutcomeTexts::RunSummary.arg(windowReadings).arg(0));
        QVERIFY(m_boxes.isEmpty());
    }

    void stopGivesThePageBackAndAnotherWorkerFinishesTheRound() {
        TTeamShop shop(20);
        auto window = ReadingEndlessFirstPage(shop);
        if (QTest::currentTestFailed())
            return;
        const QString first = shop.paths.first();

        QAction* stop = Command(*window, "btnStopUpdate");
        QVERIFY(stop->isEnabled());
        stop->trigger();
        QVERIFY(!stop->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!window->UpdateRunning(), kWaitMs);
        // The page went back at once, for any worker to take; nothing else was read.
        QCOMPARE(shop.Holder(first), QString());
        QCOMPARE(shop.Count(QStringLiteral("select count(*) from RoundClaims where State<>0")), 0);
        QCOMPARE(shop.catalogue.server.requests().size(), 1);
        const QString progress = window->StatusText(2);
        QVERIFY2(progress.startsWith(QStringLiteral("更新已于 ")), qPrintable(progress));
        QVERIFY2(progress.endsWith(QStringLiteral(" 停止（正在读取的页面已交回共享轮次）")), qPrintable(progress));
        QVERIFY(Command(*window, "btnUpdateItem")->isEnabled());
        QCOMPARE(window->RoundPanelText(), QStringLiteral("共享轮次：已读 0/16，失败 0，0 个读取者"));

        // A command-line worker joins the open round and reads all of it, the given-back page too.
        shop.Serve(first,
                   ItemPage(QStringLiteral("宝贝1"), kOwnAccount, QStringLiteral("1.50"), QStringLiteral("1001")), 0);
        auto cli = shop.StartWorker(QStringLiteral("desk2"));
        QTRY_VERIFY_WITH_TIMEOUT(cli->state() == QProcess::NotRunning, kWaitMs);
        QCOMPARE(WorkerReadings(*cli), shop.paths.size());
        for (const QString& path : shop.paths)
            QCOMPARE(shop.catalogue.server.requestCount(path), path == first ? 2 : 1);
        shop.VerifyRoundComplete();
        // The other worker's readings reach the window's grid and panel by the server's notices.
        QTRY_COMPARE_WITH_TIMEOUT(window->Data().grid.cell(0, 5), QStringLiteral("1.50"), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(window->RoundPanelText(), QStringLiteral("共享轮次：已读 16/16，失败 0，已完成"),
                                  kWaitMs);
        QVERIFY(m_boxes.isEmpty());
    }

    void closingTheWindowMidRoundGivesItsPageBack() {
        TTeamShop shop(20);
        auto window = ReadingEndlessFirstPage(shop);
        if (QTest::currentTestFailed())
            return;
        const QString first = shop.paths.first();
        QVERIFY(window->close());
        QVERIFY(!window->UpdateRunning());
        window.reset();
        QCOMPARE(shop.Holder(first), QString());
        QCOMPARE(shop.Count(QStringLiteral("select count(*) from RoundClaims where State=0")), shop.paths.size());
    }

    void closingTheWindowDoesNotWaitForAServerThatDoesNotAnswer() {
        TTeamShop shop(20);
        auto window = ReadingEndlessFirstPage(shop);
        if (QTest::currentTestFailed())
            return;
        // The server stops answering the window: another program holds the claims behind a lock,
        // so giving the page back waits for as long as that program likes.
        TServerSession holder(shop.catalogue.db.path());
        holder.Run("BEGIN; LOCK TABLE roundclaims IN ACCESS EXCLUSIVE MODE");
        std::promise<void> closed;
        std::atomic<bool> released{false};
        // Bounds the test should closing wait after all: the lock goes after a minute.
        std::thread release([&holder, &released, done = closed.get_future()] {
            done.wait_for(std::chrono::minutes(1));
            holder.Rollback();
            released = true;
        });
        QVERIFY(window->close());
        const bool closedWhileStuck = !released;
        closed.set_value();
        release.join();
        QVERIFY2(closedWhileStuck, "closing waited until the server answered");
        QVERIFY(!window->UpdateRunning());
        window.reset();
        // Nothing was read or stored; the page is free again once the server answers or the
        // claim runs out.
        QCOMPARE(shop.Count(QStringLiteral("select count(*) from RoundClaims where State<>0")), 0);
        QCOMPARE(shop.catalogue.server.requests().size(), 1);
        QVERIFY(m_boxes.isEmpty());
    }

    void panelIsHiddenOnTheFile() {
        TUpdaterCatalogue file;
        TFmMain window{file.db.connection()};
        window.ApplySettings();
        window.RefreshAll();
        QVERIFY(window.RoundPanel()->isHidden());
        QCOMPARE(window.RoundPanelText(), QString());
    }
};

QTEST_MAIN(TstUiSharedRound)
#include "tst_ui_sharedround.moc"
