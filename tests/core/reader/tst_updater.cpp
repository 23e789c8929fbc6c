// The background updater against pages served on 127.0.0.1, a real database file and a host
// that keeps the grid data as the main window does.
#include "catalogue/HeadlessUpdate.h"
#include "catalogue/MainData.h"
#include "reader/UtReadItemThr.h"
#include "store/DatabaseError.h"
#include "support/UpdaterTestData.h"

#include <QTest>

#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

// The window's side of the update over the real grid data; records what the updater asks of it.
class TTestHost final : public TUpdaterHost {
public:
    explicit TTestHost(TMainData& data) : m_data(data) {}

    TWindowHandle Handle() const { return m_registration.handle(); }

    QList<QPair<int, QString>> Texts;
    QList<int> Refreshed;
    QDateTime LastRefreshAt;
    bool Ended = false;
    bool RunningAtEnd = true;
    std::function<void(int)> BeforeRowAt;
    std::function<void(int)> BeforeRefresh;
    bool FailRowCount = false;

    QStringList TextsOf(int panel) const {
        QStringList texts;
        for (const auto& [p, text] : Texts) {
            if (p == panel)
                texts << text;
        }
        return texts;
    }

    void ShowStatus(int panel, const QString& text) override { Texts.append({panel, text}); }
    int RowCount() override {
        if (FailRowCount)
            throw TDatabaseError(QStringLiteral("无法读取表格"));
        return m_data.grid.rowCount();
    }
    std::optional<TUpdaterRow> RowAt(int position) override {
        if (BeforeRowAt)
            BeforeRowAt(position);
        if (position >= m_data.grid.rowCount())
            return std::nullopt;
        const TItem& item = m_data.grid.item(position);
        return TUpdaterRow{item.ItemID, item.ItemName, item.URL};
    }
    void RefreshRow(int position) override {
        if (BeforeRefresh)
            BeforeRefresh(position);
        m_data.RefreshRowData(position);
        Refreshed << position;
        LastRefreshAt = QDateTime::currentDateTime();
    }
    QString OwnAccount() override { return m_data.OwnAccount; }

protected:
    void customEvent(QEvent* event) override {
        if (event->type() == TWindowMessageEvent::eventType() &&
            static_cast<TWindowMessageEvent*>(event)->Msg == WM_READALL_FINISHED)
            Ended = true;
    }

private:
    TMainData& m_data;
    TWindowRegistration m_registration{this};
};

} // namespace

class TstUpdater final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TUpdaterCatalogue> m_cat;
    std::unique_ptr<TMainData> m_data;
    std::unique_ptr<TReadAllItemThr> m_updater;
    TTestHost* m_host = nullptr;

    // Loads the grid as the window does, then makes an updater over it.
    void Prepare() {
        m_data = std::make_unique<TMainData>(m_cat->db.connection());
        m_data->ApplySettings();
        m_data->RefreshAllData();
        auto host = std::make_unique<TTestHost>(*m_data);
        m_host = host.get();
        m_updater = std::make_unique<TReadAllItemThr>(m_cat->db.connection(), std::move(host), m_host->Handle());
    }
    bool RunToEnd() {
        m_updater->start();
        if (!QTest::qWaitFor([this] { return m_host->Ended; }, 120000))
            return false;
        return m_updater->wait(10000);
    }
    QStringList Requests() const { return m_cat->server.requests(); }

private slots:
    void init() {
        TReadItem::SetDownloadLimits({10000, 10000, 16 * 1024 * 1024});
        m_cat = std::make_unique<TUpdaterCatalogue>();
    }
    void cleanup() {
        m_updater.reset();
        m_host = nullptr;
        m_data.reset();
        m_cat.reset();
    }

    // --- Texts ---

    void statusTextsKeepTheirBlanks() {
        const QDateTime at(QDate(2026, 1, 31), QTime(8, 5, 0));
        const QString when = StatusDateTime(at);
        QCOMPARE(UpdaterTexts::Started(at), QStringLiteral("后台更新线程在 ") + when + QStringLiteral(" 启动 "));
        QCOMPARE(UpdaterTexts::Finished(at), QStringLiteral("后台更新线程在 ") + when + QStringLiteral(" 完成 "));
        QCOMPARE(UpdaterTexts::AllDone(at), QStringLiteral("所有宝贝已在 ") + when + QStringLiteral(" 完成更新"));
        QCOMPARE(UpdaterTexts::Progress(QStringLiteral("连衣裙")),
                 QStringLiteral("后台正在更新 \"连衣裙\" 及其所对应的宝贝..."));
        QVERIFY(when.contains(u' '));
    }

    // --- Runs ---

    void emptyGridShowsStartAllDoneAndFinishAndReadsNothing() {
        Prepare();
        QVERIFY(RunToEnd());
        QCOMPARE(m_host->Texts.size(), 3);
        QCOMPARE(m_host->Texts[0], qMakePair(1, UpdaterTexts::Started(m_updater->StartTime)));
        QCOMPARE(m_host->Texts[1].first, 2);
        QVERIFY(TextOfSomeSecond(m_host->Texts[1].second, UpdaterTexts::AllDone, m_updater->StartTime,
                                 m_updater->FinishTime));
        QCOMPARE(m_host->Texts[2], qMakePair(1, UpdaterTexts::Finished(m_updater->FinishTime)));
        QVERIFY(Requests().isEmpty());
        QVERIFY(m_host->Refreshed.isEmpty());
    }

    void ownItemWithoutMappingsReadsOnlyItsOwnPage_data() {
        QTest::addColumn<bool>("unmappedRecord");
        QTest::addColumn<QString>("rivalItemId");
        QTest::newRow("no RivalItems record") << false << QString();
        QTest::newRow("record with empty RivalItemID") << true << QStringLiteral("");
        QTest::newRow("record without RivalItemID") << true << QString();
    }
    void ownItemWithoutMappingsReadsOnlyItsOwnPage() {
        QFETCH(bool, unmappedRecord);
        QFETCH(QString, rivalItemId);
        m_cat->AddRival(QStringLiteral("shopb"));
        const QString own = m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("88.00"));
        if (unmappedRecord)
            m_cat->AddMapping(QStringLiteral("shopb"), QStringLiteral("100"), rivalItemId, QStringLiteral("/rival/b"));
        Prepare();
        QVERIFY(RunToEnd());
        QCOMPARE(Requests(), QStringList{own});
        QCOMPARE(m_cat->ItemPrice(QStringLiteral("100")), 88.0);
        QCOMPARE(m_host->Refreshed, QList<int>{0});
        // The row was refilled from the stored reading: the own price column shows it.
        QCOMPARE(m_data->grid.cell(0, m_data->grid.columnCount() - 2), QStringLiteral("88.00"));
        QCOMPARE(m_host->TextsOf(2).first(), UpdaterTexts::Progress(QStringLiteral("标题A")));
    }

    void blankAddressBetweenTwoMappedRivalsIsPassedOver() {
        for (const char* ww : {"shopb", "shopc", "shopd"})
            m_cat->AddRival(QString::fromLatin1(ww));
        const QString own = m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("88.00"));
        m_cat->AddMapping(QStringLiteral("shopb"), QStringLiteral("100"), QStringLiteral("201"),
                          QStringLiteral("/rival/b"), {}, QStringLiteral("11.00"));
        m_cat->AddMapping(QStringLiteral("shopc"), QStringLiteral("100"), QStringLiteral("202"),
                          QStringLiteral(" \t\r\n "));
        m_cat->AddMapping(QStringLiteral("shopd"), QStringLiteral("100"), QStringLiteral("203"),
                          QStringLiteral("/rival/d"), {}, QStringLiteral("33.00"));
        Prepare();
        QVERIFY(RunToEnd());
        QCOMPARE(Requests(), (QStringList{own, QStringLiteral("/rival/b"), QStringLiteral("/rival/d")}));
        QCOMPARE(m_cat->RivalPrice(QStringLiteral("201")), 11.0);
        QCOMPARE(m_cat->RivalPrice(QStringLiteral("202")), 5.0);
        QCOMPARE(m_cat->RivalPrice(QStringLiteral("203")), 33.0);
        QCOMPARE(m_updater->Counts().readings, 3);
        QCOMPARE(m_host->TextsOf(1).last(), UpdaterTexts::Finished(m_updater->FinishTime));
        // Rival bands 1 and 3 show the new prices.
        QCOMPARE(m_data->grid.cell(0, 2), QStringLiteral("11.00"));
        QCOMPARE(m_data->grid.cell(0, 8), QStringLiteral("33.00"));
    }

    void rivalPageOfWrongSellerStoresNothingAndTheNextIsRead() {
        m_cat->AddRival(QStringLiteral("shopb"));
        m_cat->AddRival(QStringLiteral("shopc"));
        m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("88.00"));
        m_cat->AddMapping(QStringLiteral("shopb"), QStringLiteral("100"), QStringLiteral("201"),
                          QStringLiteral("/rival/b"), QStringLiteral("shopx"), QStringLiteral("11.00"));
        m_cat->AddMapping(QStringLiteral("shopc"), QStringLiteral("100"), QStringLiteral("202"),
                          QStringLiteral("/rival/c"), {}, QStringLiteral("22.00"));
        Prepare();
        QVERIFY(RunToEnd());
        QCOMPARE(m_cat->server.requestCount(QStringLiteral("/rival/c")), 1);
        QCOMPARE(m_cat->RivalPrice(QStringLiteral("201")), 5.0);
        QCOMPARE(m_cat->db.value(QStringLiteral("select RivalWW from RivalItems where RivalItemID='201'")).toString(),
                 QStringLiteral("shopb"));
        QCOMPARE(m_cat->RivalPrice(QStringLiteral("202")), 22.0);
        const TReadAllItemThr::Tally tally = m_updater->Counts();
        QCOMPARE(tally.refused, 1);
        QCOMPARE(tally.stored, 2);
    }

    void rowsAddedDuringTheRunAreNotVisited() {
        const QString first = m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("1.50"));
        Prepare();
        // While the first row is being reached, another item arrives and the grid is rebuilt.
        m_host->BeforeRowAt = [this](int position) {
            if (position == 0) {
                m_cat->AddItem(QStringLiteral("101"), QStringLiteral("标题B"), QStringLiteral("2.50"));
                m_data->ReloadItemRows();
            }
        };
        QVERIFY(RunToEnd());
        QCOMPARE(m_data->grid.rowCount(), 2);
        QCOMPARE(Requests(), QStringList{first});
        QCOMPARE(m_host->Refreshed, QList<int>{0});
        QCOMPARE(m_cat->ItemPrice(QStringLiteral("101")), 1.0);
    }

    void aPositionGoneWhenReachedIsSkipped() {
        const QString first = m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("1.50"));
        m_cat->AddItem(QStringLiteral("101"), QStringLiteral("标题B"), QStringLiteral("2.50"));
        const QString third = m_cat->AddItem(QStringLiteral("102"), QStringLiteral("标题C"), QStringLiteral("3.50"));
        Prepare();
        // The second item is deleted when its position is reached: position 2 no longer exists.
        m_host->BeforeRowAt = [this](int position) {
            if (position == 1) {
                m_cat->db.exec(QStringLiteral("delete from Items where ItemID='101'"));
                m_data->ReloadItemRows();
            }
        };
        QVERIFY(RunToEnd());
        // Position 1 now holds the third item; position 2 is gone.
        QCOMPARE(Requests(), (QStringList{first, third}));
        QCOMPARE(m_host->Refreshed, (QList<int>{0, 1}));
        QCOMPARE(m_host->TextsOf(1).last(), UpdaterTexts::Finished(m_updater->FinishTime));
    }

    void aFailedRowRefreshPassesOnToTheNextRow() {
        m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("1.50"));
        const QString second = m_cat->AddItem(QStringLiteral("101"), QStringLiteral("标题B"), QStringLiteral("2.50"));
        Prepare();
        m_host->BeforeRefresh = [](int position) {
            if (position == 0)
                throw TDatabaseError(QStringLiteral("数据库已锁定"));
        };
        QVERIFY(RunToEnd());
        // The first row's reading stays stored although its refresh failed.
        QCOMPARE(m_cat->ItemPrice(QStringLiteral("100")), 1.5);
        QCOMPARE(m_cat->ItemPrice(QStringLiteral("101")), 2.5);
        QCOMPARE(m_host->Refreshed, QList<int>{1});
        QCOMPARE(m_host->TextsOf(2).size(), 3);
    }

    void aRowThatCannotBeTakenIsSkippedAndTheNextIsRead() {
        const QString first = m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("1.50"));
        m_cat->AddItem(QStringLiteral("101"), QStringLiteral("标题B"), QStringLiteral("2.50"));
        const QString third = m_cat->AddItem(QStringLiteral("102"), QStringLiteral("标题C"), QStringLiteral("3.50"));
        Prepare();
        QList<int> taken;
        m_host->BeforeRowAt = [&taken](int position) {
            taken << position;
            if (position == 1)
                throw TDatabaseError(QStringLiteral("无法读取表格行"));
        };
        QVERIFY(RunToEnd());
        QCOMPARE(taken, (QList<int>{0, 1, 2}));
        QCOMPARE(Requests(), (QStringList{first, third}));
        QCOMPARE(m_cat->ItemPrice(QStringLiteral("101")), 1.0);
        QCOMPARE(m_host->Refreshed, (QList<int>{0, 2}));
        QCOMPARE(m_host->TextsOf(2).mid(0, 2), (QStringList{UpdaterTexts::Progress(QStringLiteral("标题A")),
                                                            UpdaterTexts::Progress(QStringLiteral("标题C"))}));
    }

    void eachOwnReadingChecksTheOwnAccountAsItIsThen() {
        m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("1.50"));
        m_cat->AddItem(QStringLiteral("101"), QStringLiteral("标题B"), QStringLiteral("2.50"));
        Prepare();
        // The settings dialog changes the own account while the first row is being read.
        m_host->BeforeRowAt = [this](int position) {
            if (position == 1)
                m_data->OwnAccount = QStringLiteral("另一家店");
        };
        QVERIFY(RunToEnd());
        const TReadAllItemThr::Tally tally = m_updater->Counts();
        QCOMPARE(tally.stored, 1);
        QCOMPARE(tally.refused, 1);
    }

    void eachRowIsTakenAfterThePreviousRowsRefresh() {
        m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("1.50"));
        m_cat->AddItem(QStringLiteral("101"), QStringLiteral("标题B"), QStringLiteral("2.50"));
        m_cat->AddItem(QStringLiteral("102"), QStringLiteral("标题C"), QStringLiteral("3.50"));
        Prepare();
        QStringList calls;
        m_host->BeforeRowAt = [&calls](int position) { calls << QStringLiteral("take %1").arg(position); };
        m_host->BeforeRefresh = [&calls](int position) { calls << QStringLiteral("refresh %1").arg(position); };
        QVERIFY(RunToEnd());
        QCOMPARE(calls,
                 (QStringList{QStringLiteral("take 0"), QStringLiteral("refresh 0"), QStringLiteral("take 1"),
                              QStringLiteral("refresh 1"), QStringLiteral("take 2"), QStringLiteral("refresh 2")}));
        // Each progress text went up after the previous row's refresh and before its own.
        QCOMPARE(m_host->TextsOf(2).size(), 4);
    }

    void startAndFinishTextsCarryTheRunsOwnTimes() {
        m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("1.50"));
        m_cat->AddItem(QStringLiteral("101"), QStringLiteral("标题B"), QStringLiteral("2.50"));
        Prepare();
        const QDateTime before = QDateTime::currentDateTime();
        QVERIFY(RunToEnd());
        const QDateTime after = QDateTime::currentDateTime();
        QVERIFY(before <= m_updater->StartTime);
        QVERIFY(m_updater->StartTime <= m_updater->FinishTime);
        // The finish time is taken after the last row, before the message arrived.
        QVERIFY(m_host->LastRefreshAt <= m_updater->FinishTime);
        QVERIFY(m_updater->FinishTime <= after);
        QCOMPARE(m_host->TextsOf(1), (QStringList{UpdaterTexts::Started(m_updater->StartTime),
                                                  UpdaterTexts::Finished(m_updater->FinishTime)}));
    }

    void aFailureOutsideTheRowsStillEndsTheRun() {
        m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("1.50"));
        Prepare();
        m_host->FailRowCount = true;
        QVERIFY(RunToEnd());
        QVERIFY(m_updater->HasEnded());
        QCOMPARE(m_host->Texts.size(), 1);
        QVERIFY(Requests().isEmpty());
    }

    // --- Stopping ---

    void stopEndsTheRunBetweenReadingsAndStoresNothingHalf() {
        m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("1.50"));
        m_cat->AddItem(QStringLiteral("101"), QStringLiteral("标题B"), QStringLiteral("2.50"));
        // The first page never completes; the reading is in progress when the stop comes.
        TTestResponse slow;
        slow.endless = true;
        m_cat->server.route(QStringLiteral("/own/100"), slow);
        Prepare();
        m_updater->start();
        QVERIFY(QTest::qWaitFor([this] { return m_cat->server.requestCount(QStringLiteral("/own/100")) == 1; }, 60000));
        m_updater->Stop();
        QVERIFY(m_updater->wait(30000));
        QVERIFY(QTest::qWaitFor([this] { return m_host->Ended; }, 60000));
        QCOMPARE(m_cat->server.requestCount(QStringLiteral("/own/101")), 0);
        QCOMPARE(m_cat->ItemPrice(QStringLiteral("100")), 1.0);
        QCOMPARE(m_host->TextsOf(1).size(), 1); // no finish text
        QVERIFY(m_host->Refreshed.isEmpty());
    }

    void stopWhileAStepWaitsForTheHostDoesNotDeadlock() {
        m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("1.50"));
        Prepare();
        // The host's thread is this one and serves no events: the first hand-over waits.
        m_updater->start();
        QThread::msleep(50);
        m_updater->Stop();
        QVERIFY(m_updater->wait(30000));
        QVERIFY(QTest::qWaitFor([this] { return m_host->Ended; }, 60000));
        // The dropped step never runs, not even when events are served afterwards.
        QVERIFY(m_host->Texts.isEmpty());
        QVERIFY(Requests().isEmpty());
    }

    void releasingARunningUpdaterStopsAndWaitsForIt() {
        m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("1.50"));
        TTestResponse slow;
        slow.endless = true;
        m_cat->server.route(QStringLiteral("/own/100"), slow);
        Prepare();
        m_updater->start();
        QVERIFY(QTest::qWaitFor([this] { return m_cat->server.requestCount(QStringLiteral("/own/100")) == 1; }, 60000));
        m_updater.reset();
        m_host = nullptr;
        QCOMPARE(m_cat->ItemPrice(QStringLiteral("100")), 1.0);
    }

    // --- Headless run (update-all) ---

    void headlessRunShowsEveryTextAndTalliesTheReadings() {
        for (const char* ww : {"shopb", "shopc", "shopd"})
            m_cat->AddRival(QString::fromLatin1(ww));
        m_cat->AddItem(QStringLiteral("100"), QStringLiteral("标题A"), QStringLiteral("88.00"));
        m_cat->AddMapping(QStringLiteral("shopb"), QStringLiteral("100"), QStringLiteral("201"),
                          QStringLiteral("/rival/b"), QStringLiteral("shopx"));
        m_cat->AddMapping(QStringLiteral("shopc"), QStringLiteral("100"), QStringLiteral("202"),
                          m_cat->server.url(QStringLiteral("/missing")));
        m_cat->AddMapping(QStringLiteral("shopd"), QStringLiteral("100"), QStringLiteral("203"),
                          m_cat->server.url(QStringLiteral("/noitem")));
        m_cat->server.route(QStringLiteral("/noitem"), QByteArray(300, 'x'));
        TMainData data(m_cat->db.connection());
        data.ApplySettings();
        data.RefreshAllData();
        QStringList texts;
        const TReadAllItemThr::Tally tally = RunHeadlessUpdate(data, [&texts](const QString& text) { texts << text; });
        QCOMPARE(tally.readings, 4);
        QCOMPARE(tally.stored, 1);
        QCOMPARE(tally.refused, 2);
        QCOMPARE(tally.failed, 1);
        QCOMPARE(texts.size(), 4);
        QVERIFY(texts[0].startsWith(QStringLiteral("后台更新线程在 ")) && texts[0].endsWith(QStringLiteral(" 启动 ")));
        QCOMPARE(texts[1], UpdaterTexts::Progress(QStringLiteral("标题A")));
        QVERIFY(texts[2].startsWith(QStringLiteral("所有宝贝已在 ")));
        QVERIFY(texts[3].endsWith(QStringLiteral(" 完成 ")));
        QCOMPARE(data.grid.cell(0, data.grid.columnCount() - 2), QStringLiteral("88.00"));
    }
};

QTEST_GUILESS_MAIN(TstUpdater)
#include "tst_updater.moc"
