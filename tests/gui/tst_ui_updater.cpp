// The main window's background update: starting, ticks, the finish message, status panels and
// closing the window during a run. Pages are served on 127.0.0.1.
#include "app/UtMain.h"
#include "reader/UtReadItemThr.h"
#include "support/UpdaterTestData.h"
#include "widgets/UiMessageBoxes.h"

#include <QAction>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace vantero;
using namespace vantero::test;

class TstUiUpdater final : public QObject {
    Q_OBJECT

private:
    struct TBox {
        TBoxKind kind;
        QString text;
    };
    std::unique_ptr<TUpdaterCatalogue> m_cat;
    std::unique_ptr<TFmMain> m_window;
    QList<TBox> m_boxes;

    void OpenWindow() {
        m_window = std::make_unique<TFmMain>(m_cat->db.connection());
        m_window->ApplySettings();
        m_window->RefreshAll();
    }
    QAction* UpdateAll() const { return m_window->Command(QStringLiteral("btnUpdateItem")); }
    bool WaitForIdle() {
        return QTest::qWaitFor([this] { return !m_window->UpdateRunning(); }, 120000);
    }
    // An own item whose page answers only after delayMs.
    QString AddSlowItem(int delayMs) {
        const QString path = m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("1.50"));
        TTestResponse response;
        response.body = ItemPage(QStringLiteral("标题A"), kOwnAccount, QStringLiteral("1.50"), QStringLiteral("100"));
        response.headers << qMakePair(QByteArray("Content-Type"), QByteArray("text/html; charset=gbk"));
        response.delayMs = delayMs;
        m_cat->server.route(path, response);
        return path;
    }

private slots:
    void init() {
        TReadItem::SetDownloadLimits({60000, 60000, 16 * 1024 * 1024});
        m_cat = std::make_unique<TUpdaterCatalogue>();
        m_boxes.clear();
        SetMessageBoxHook([this](TBoxKind kind, const QString&, const QString& text) {
            m_boxes.append({kind, text});
            return true;
        });
    }
    void cleanup() {
        m_window.reset();
        m_cat.reset();
        SetMessageBoxHook({});
    }

    // --- Starting and finishing ---

    void updateAllRunsOnceAndTheFinishMessageEnablesItAgain() {
        OpenWindow();
        const QDateTime before = QDateTime::currentDateTime();
        UpdateAll()->trigger();
        QVERIFY(m_window->UpdateRunning());
        QVERIFY(!UpdateAll()->isEnabled());
        QVERIFY(WaitForIdle());
        const QDateTime after = QDateTime::currentDateTime();
        QVERIFY(UpdateAll()->isEnabled());
        // Empty grid: panel 1 ends with the finish text, panel 2 with the all-done text.
        QVERIFY(TextOfSomeSecond(m_window->StatusText(1), UpdaterTexts::Finished, before, after));
        QVERIFY(TextOfSomeSecond(m_window->StatusText(2), UpdaterTexts::AllDone, before, after));
        QVERIFY(m_cat->server.requests().isEmpty());
        QVERIFY(m_boxes.isEmpty());
    }

    void updateAllWhileRunningShowsTheNoticeAndStartsNoSecondRun() {
        const QString path = AddSlowItem(1500);
        OpenWindow();
        m_window->btnUpdateItemClick();
        m_window->btnUpdateItemClick();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].kind, TBoxKind::Info);
        QCOMPARE(m_boxes[0].text, QStringLiteral("更新程序正在进行中"));
        QVERIFY(WaitForIdle());
        QCOMPARE(m_cat->server.requestCount(path), 1);
    }

    void aTickDuringARunChangesNothingAndTheNextTickStartsANewRun() {
        const QString path = AddSlowItem(1500);
        OpenWindow();
        m_window->tmrTimer();
        QVERIFY(m_window->UpdateRunning());
        m_window->tmrTimer();
        QVERIFY(m_boxes.isEmpty());
        QVERIFY(!UpdateAll()->isEnabled());
        QVERIFY(WaitForIdle());
        QCOMPARE(m_cat->server.requestCount(path), 1);
        QVERIFY(m_window->UpdateTimer()->isActive()); // the timer kept running
        m_window->tmrTimer();
        QVERIFY(m_window->UpdateRunning());
        QVERIFY(!UpdateAll()->isEnabled());
        QVERIFY(WaitForIdle());
        QCOMPARE(m_cat->server.requestCount(path), 2);
        QVERIFY(m_boxes.isEmpty());
    }

    void eachRowIsRefreshedInTheGridAfterItsReadings() {
        m_cat->AddRival(QStringLiteral("shopb"));
        m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("100.00"));
        m_cat->AddMapping(QStringLiteral("shopb"), QStringLiteral("100"), QStringLiteral("201"),
                          QStringLiteral("/rival/b"), {}, QStringLiteral("98.50"));
        OpenWindow();
        QCOMPARE(m_window->Data().grid.cell(0, 2), QStringLiteral("5.00"));
        UpdateAll()->trigger();
        QVERIFY(WaitForIdle());
        const TGridData& grid = m_window->Data().grid;
        QCOMPARE(grid.cell(0, 2), QStringLiteral("98.50"));
        QCOMPARE(grid.cell(0, 3), QStringLiteral("-1.50"));
        QCOMPARE(grid.cell(0, 5), QStringLiteral("100.00"));
        QCOMPARE(m_window->StatusText(2).left(7), QStringLiteral("所有宝贝已在 "));
    }

    // --- Stopping a run ---

    void stopEndsTheRunAfterTheReadingInProgressAndSaysSo() {
        const QString slow = AddSlowItem(1500);
        const QString second = m_cat->AddItem(QStringLiteral("101"), QStringLiteral("标题B"), QStringLiteral("3.00"));
        m_cat->AddItem(QStringLiteral("102"), QStringLiteral("标题C"), QStringLiteral("4.00"));
        OpenWindow();
        QAction* stop = m_window->Command(QStringLiteral("btnStopUpdate"));
        QVERIFY(stop);
        QCOMPARE(stop->text(), QStringLiteral("停止更新"));
        QVERIFY(!stop->isEnabled()); // nothing to stop yet
        UpdateAll()->trigger();
        QVERIFY(stop->isEnabled());
        QVERIFY(QTest::qWaitFor([&] { return m_cat->server.requestCount(slow) == 1; }, 60000));
        const QString started = m_window->StatusText(1);
        stop->trigger();
        QVERIFY(!stop->isEnabled());
        QVERIFY(WaitForIdle());
        // The reading in progress was stored and shows; nothing after it was read.
        QCOMPARE(m_cat->ItemPrice(QStringLiteral("100")), 1.5);
        QCOMPARE(m_window->Data().grid.cell(0, 2), QStringLiteral("1.50"));
        QCOMPARE(m_cat->server.requestCount(second), 0);
        // No finish texts: the start text stays, the progress panel says the run was stopped.
        QCOMPARE(m_window->StatusText(1), started);
        const QString progress = m_window->StatusText(2);
        QVERIFY2(progress.startsWith(QStringLiteral("更新已于 ")), qPrintable(progress));
        QVERIFY2(progress.endsWith(QStringLiteral(" 停止（已更新 1/3）")), qPrintable(progress));
        QVERIFY(UpdateAll()->isEnabled());
        QVERIFY(!stop->isEnabled());
        QVERIFY(m_boxes.isEmpty());
    }

    // --- Closing during a run ---

    void closingTheWindowDuringARunStopsItWithoutACrash_data() {
        QTest::addColumn<bool>("readingInProgress");
        QTest::addColumn<bool>("destroyWithoutClose");
        QTest::newRow("close at once") << false << false;
        QTest::newRow("close while a page is read") << true << false;
        QTest::newRow("destroy while a page is read") << true << true;
    }
    void closingTheWindowDuringARunStopsItWithoutACrash() {
        QFETCH(bool, readingInProgress);
        QFETCH(bool, destroyWithoutClose);
        m_cat->AddRival(QStringLiteral("shopb"));
        const QString path = m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("2.00"));
        m_cat->AddItem(QStringLiteral("101"), QStringLiteral("标题B"), QStringLiteral("3.00"));
        m_cat->AddMapping(QStringLiteral("shopb"), QStringLiteral("100"), QStringLiteral("201"),
                          QStringLiteral("/rival/b"));
        TTestResponse endless;
        endless.endless = true;
        m_cat->server.route(path, endless);
        OpenWindow();
        UpdateAll()->trigger();
        if (readingInProgress)
            QVERIFY(QTest::qWaitFor([&] { return m_cat->server.requestCount(path) == 1; }, 60000));
        if (destroyWithoutClose) {
            m_window.reset();
        } else {
            QVERIFY(m_window->close());
            QVERIFY(!m_window->UpdateRunning());
            QVERIFY(!m_window->UpdateTimer()->isActive()); // no tick starts a new run
            QTest::qWait(50);                              // late messages find nothing to end
            m_window.reset();
        }
        QCOMPARE(m_cat->server.requestCount(QStringLiteral("/own/101")), 0);
        QCOMPARE(m_cat->ItemPrice(QStringLiteral("100")), 1.0);
        QCOMPARE(m_cat->RivalPrice(QStringLiteral("201")), 5.0);
    }
};

QTEST_MAIN(TstUiUpdater)
#include "tst_ui_updater.moc"
