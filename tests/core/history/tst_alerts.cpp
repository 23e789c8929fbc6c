// The price alerts: the rules as a table, the evaluation of stored history with its mark, the
// failing own page, the switches, the list, and the command line's alerts and update-all.
#include "history/AlertStore.h"
#include "store/AddedTables.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace vantero;
using namespace vantero::test;

namespace {

using Price = std::optional<double>;
constexpr int kNone = 0;

const QString kItem = QStringLiteral("1001");
const QString kRival = QStringLiteral("rivalA");

void AddItem(const TTestDatabase& db, double price) {
    db.exec(QStringLiteral("INSERT INTO Items (ItemID, ItemName, CustomItemName, Price) VALUES (?, ?, '', ?)"),
            {kItem, QStringLiteral("纯棉T恤"), price});
}

// One history row; "-" is a reading without a price (NULL), a number its price.
void AddReading(const TTestDatabase& db, const QString& rival, const QString& price, int second) {
    const QString readAt = QStringLiteral("2026-12-01 10:%1:%2")
                               .arg(second / 60, 2, 10, QLatin1Char('0'))
                               .arg(second % 60, 2, 10, QLatin1Char('0'));
    db.exec(QStringLiteral("INSERT INTO PriceHistory (LocalItemID, RivalWW, ReadAt, Price, SellCount) "
                           "VALUES (?, ?, ?, ?, 0)"),
            {kItem, rival, readAt, price == QLatin1String("-") ? QVariant() : QVariant(price.toDouble())});
}

// Plays a sequence such as "o:100 r:105 r:90" (o = own page, r = the rival) and returns the alert
// kinds each step gave when checked after every step ("0" for none), or all of them when checked
// once at the end.
QStringList Play(const QString& steps, double percent, bool checkEachStep) {
    TTestDatabase db;
    AddItem(db, 100);
    WriteAlertSettings(db.connection(), {true, percent});
    QStringList kinds;
    int second = 0;
    for (const QString& step : steps.split(u' ', Qt::SkipEmptyParts)) {
        AddReading(db, step.startsWith(u'o') ? QString() : kRival, step.mid(2), ++second);
        if (!checkEachStep)
            continue;
        const QList<TAlert> alerts = CheckAlerts(db.connection());
        kinds << (alerts.isEmpty() ? QStringLiteral("0") : QString::number(int(alerts.first().kind)));
    }
    if (!checkEachStep) {
        for (const TAlert& alert : CheckAlerts(db.connection()))
            kinds << QString::number(int(alert.kind));
    }
    return kinds;
}

void SetFailures(const TTestDatabase& db, int failedInRow, const QString& lastSuccess) {
    db.exec(QStringLiteral("INSERT INTO ReadingStatus (LocalItemID, RivalWW, LastAttempt, LastCode, LastText, "
                           "LastSuccess, FailedInRow) VALUES (?, '', ?, ?, 'x', ?, ?) "
                           "ON CONFLICT(LocalItemID, RivalWW) DO UPDATE SET LastCode=excluded.LastCode, "
                           "LastSuccess=excluded.LastSuccess, FailedInRow=excluded.FailedInRow"),
            {kItem, CurrentDateTimeColumn(), failedInRow > 0 ? 4 : 0,
             lastSuccess.isEmpty() ? QVariant() : QVariant(lastSuccess), failedInRow});
}

} // namespace

class TestAlerts : public QObject {
    Q_OBJECT
private slots:
    void rivalReadingAlerts_data();
    void rivalReadingAlerts();
    void ownFailureIsReportedOncePerRun_data();
    void ownFailureIsReportedOncePerRun();
    void historySequencesAlertAsTheRulesSay_data();
    void historySequencesAlertAsTheRulesSay();
    void ownPageFailingThreeTimesInARowAlertsOncePerRunOfFailures();
    void switchedOffAlertsNothingAndLaterPassesOverWhatWasRead();
    void readingsOfADeletedItemAlertNothing();
    void aMarkBeyondTheNewestRowDoesNotHideNewRows();
    void switchesAreStoredAndKeptInRange();
    void listFiltersByTimeAndUnreadAndMarkingReadSticks();
    void alertMessagesNameItemShopAndPrices();
    void cliListsAlertsAndUpdateAllPrintsTheRunsAlertsAsJsonLines();
};

void TestAlerts::rivalReadingAlerts_data() {
    QTest::addColumn<Price>("oldPrice");
    QTest::addColumn<Price>("oldOwn");
    QTest::addColumn<Price>("newPrice");
    QTest::addColumn<Price>("own");
    QTest::addColumn<double>("percent");
    QTest::addColumn<int>("kind");
    const Price none;
    QTest::newRow("drops below the own price") << Price(105) << Price(100) << Price(95) << Price(100) << 10.0 << 1;
    QTest::newRow("stays below") << Price(95) << Price(100) << Price(94) << Price(100) << 10.0 << kNone;
    QTest::newRow("equal is not below") << Price(105) << Price(100) << Price(100) << Price(100) << 10.0 << kNone;
    QTest::newRow("was equal, now below") << Price(100) << Price(100) << Price(99.99) << Price(100) << 10.0 << 1;
    QTest::newRow("cents compare exactly")
        << Price(0.3) << Price(0.3) << Price(0.1 + 0.2) << Price(0.3) << 1.0 << kNone;
    QTest::newRow("below after own price rose") << Price(95) << Price(90) << Price(94) << Price(100) << 10.0 << 1;
    QTest::newRow("own price unknown then") << Price(95) << none << Price(94) << Price(100) << 10.0 << 1;
    QTest::newRow("own price unknown now, big move") << Price(100) << none << Price(80) << none << 10.0 << 2;
    QTest::newRow("first reading of a page") << none << none << Price(50) << Price(100) << 10.0 << kNone;
    QTest::newRow("page without a price") << Price(105) << Price(100) << none << Price(100) << 10.0 << kNone;
    QTest::newRow("price of 0") << Price(105) << Price(100) << Price(0) << Price(100) << 10.0 << kNone;
    QTest::newRow("rise beyond the percentage") << Price(100) << Price(50) << Price(111) << Price(50) << 10.0 << 2;
    QTest::newRow("fall beyond the percentage") << Price(200) << Price(50) << Price(170) << Price(50) << 10.0 << 2;
    QTest::newRow("exactly the percentage") << Price(100) << Price(50) << Price(110) << Price(50) << 10.0 << kNone;
    QTest::newRow("within the percentage") << Price(100) << Price(50) << Price(105) << Price(50) << 10.0 << kNone;
    QTest::newRow("a set percentage of 5") << Price(100) << Price(50) << Price(106) << Price(50) << 5.0 << 2;
    QTest::newRow("undercut wins over the percentage")
        << Price(120) << Price(100) << Price(80) << Price(100) << 10.0 << 1;
    QTest::newRow("big fall while staying below is a change")
        << Price(90) << Price(100) << Price(70) << Price(100) << 10.0 << 2;
}

void TestAlerts::rivalReadingAlerts() {
    QFETCH(Price, oldPrice);
    QFETCH(Price, oldOwn);
    QFETCH(Price, newPrice);
    QFETCH(Price, own);
    QFETCH(double, percent);
    QFETCH(int, kind);
    const std::optional<TAlertKind> got = RivalAlertKind({oldPrice, oldOwn, newPrice, own}, percent);
    QCOMPARE(got ? int(*got) : kNone, kind);
}

void TestAlerts::ownFailureIsReportedOncePerRun_data() {
    QTest::addColumn<int>("failedInRow");
    QTest::addColumn<bool>("reported");
    QTest::addColumn<bool>("due");
    QTest::newRow("two failures") << 2 << false << false;
    QTest::newRow("the third") << 3 << false << true;
    QTest::newRow("the third, reported") << 3 << true << false;
    QTest::newRow("the seventh, never reported") << 7 << false << true;
    QTest::newRow("none") << 0 << false << false;
}

void TestAlerts::ownFailureIsReportedOncePerRun() {
    QFETCH(int, failedInRow);
    QFETCH(bool, reported);
    QFETCH(bool, due);
    QCOMPARE(OwnFailureAlertDue(failedInRow, reported), due);
}

void TestAlerts::historySequencesAlertAsTheRulesSay_data() {
    QTest::addColumn<QString>("steps");
    QTest::addColumn<double>("percent");
    QTest::addColumn<QString>("kinds");
    // The own price is 100 unless an own reading says otherwise.
    QTest::newRow("new undercut once") << "r:105 r:95" << 50.0 << "0 1";
    QTest::newRow("not again while below") << "r:105 r:95 r:94 r:90 r:97" << 50.0 << "0 1 0 0 0";
    QTest::newRow("again after rising and falling") << "r:105 r:95 r:101 r:96" << 50.0 << "0 1 0 1";
    QTest::newRow("back to equal and down again") << "r:105 r:95 r:100 r:99" << 50.0 << "0 1 0 1";
    QTest::newRow("a reading without a price is passed over") << "r:105 r:95 r:- r:94" << 50.0 << "0 1 0 0";
    QTest::newRow("no price, then below") << "r:105 r:- r:95" << 50.0 << "0 0 1";
    QTest::newRow("0 is no price") << "r:105 r:0 r:106" << 5.0 << "0 0 0";
    QTest::newRow("percentage both ways") << "r:200 r:230 r:231 r:200" << 10.0 << "0 2 0 2";
    QTest::newRow("own price cut under the rival: nothing") << "r:95 o:90 r:94" << 50.0 << "0 0 0";
    QTest::newRow("own price raised above the rival, rival moves")
        << "r:95 o:90 r:96 o:100 r:94" << 50.0 << "0 0 0 0 1";
}

void TestAlerts::historySequencesAlertAsTheRulesSay() {
    QFETCH(QString, steps);
    QFETCH(double, percent);
    QFETCH(QString, kinds);
    QCOMPARE(Play(steps, percent, true).join(u' '), kinds);
    // One look after the whole run finds the same alerts as a look after every reading.
    QStringList expected = kinds.split(u' ');
    expected.removeAll(QStringLiteral("0"));
    QCOMPARE(Play(steps, percent, false), expected);
}

void TestAlerts::ownPageFailingThreeTimesInARowAlertsOncePerRunOfFailures() {
    TTestDatabase db;
    AddItem(db, 88);
    const TConnection con = db.connection();
    QList<int> counts;
    for (int failed : {1, 2, 3, 4, 5}) {
        SetFailures(db, failed, QString());
        counts << CheckAlerts(con).size();
    }
    QCOMPARE(counts, (QList<int>{0, 0, 1, 0, 0}));
    const QList<TAlert> first = ListAlerts(con);
    QCOMPARE(first.size(), 1);
    QCOMPARE(first[0].kind, TAlertKind::OwnPageFailing);
    QCOMPARE(first[0].rivalWW, QString());
    QCOMPARE(first[0].ownPrice, Price(88));

    // A success ends the run; the next run of three failures is reported again.
    QTest::qWait(1100); // the stored times count seconds
    const QString success = CurrentDateTimeColumn();
    SetFailures(db, 0, success);
    QCOMPARE(CheckAlerts(con).size(), 0);
    counts.clear();
    for (int failed : {1, 2, 3, 4}) {
        SetFailures(db, failed, success);
        counts << CheckAlerts(con).size();
    }
    QCOMPARE(counts, (QList<int>{0, 0, 1, 0}));
}

void TestAlerts::switchedOffAlertsNothingAndLaterPassesOverWhatWasRead() {
    TTestDatabase db;
    AddItem(db, 100);
    const TConnection con = db.connection();
    WriteAlertSettings(con, {false, 50});
    AddReading(db, kRival, QStringLiteral("105"), 1);
    AddReading(db, kRival, QStringLiteral("90"), 2);
    SetFailures(db, 3, QString());
    QCOMPARE(CheckAlerts(con).size(), 0);
    QCOMPARE(db.value(QStringLiteral("SELECT count(*) FROM Alerts")).toInt(), 0);
    WriteAlertSettings(con, {true, 50});
    SetFailures(db, 0, CurrentDateTimeColumn());
    QCOMPARE(CheckAlerts(con).size(), 0); // the undercut was read while alerts were off
    AddReading(db, kRival, QStringLiteral("101"), 3);
    AddReading(db, kRival, QStringLiteral("92"), 4);
    const QList<TAlert> alerts = CheckAlerts(con);
    QCOMPARE(alerts.size(), 1);
    QCOMPARE(alerts[0].kind, TAlertKind::Undercut);
    QCOMPARE(alerts[0].oldPrice, Price(101));
    QCOMPARE(alerts[0].newPrice, Price(92));
    QCOMPARE(alerts[0].ownPrice, Price(100));
    QCOMPARE(alerts[0].createdAt, QStringLiteral("2026-12-01 10:00:04"));
    QCOMPARE(ReadOption(con, QStringLiteral("AlertsCheckedRow")).toLongLong(),
             db.value(QStringLiteral("SELECT max(rowid) FROM PriceHistory")).toLongLong());
}

void TestAlerts::readingsOfADeletedItemAlertNothing() {
    TTestDatabase db;
    AddItem(db, 100);
    db.exec(QStringLiteral("DELETE FROM Items"));
    AddReading(db, kRival, QStringLiteral("105"), 1);
    AddReading(db, kRival, QStringLiteral("50"), 2);
    SetFailures(db, 3, QString());
    QCOMPARE(CheckAlerts(db.connection()).size(), 0);
}

void TestAlerts::aMarkBeyondTheNewestRowDoesNotHideNewRows() {
    TTestDatabase db;
    AddItem(db, 100);
    WriteAlertSettings(db.connection(), {true, 50});
    // Rows were looked at and then deleted: new rows reuse their numbers.
    WriteOption(db.connection(), QStringLiteral("AlertsCheckedRow"), 50);
    AddReading(db, kRival, QStringLiteral("105"), 1);
    AddReading(db, kRival, QStringLiteral("90"), 2);
    QCOMPARE(CheckAlerts(db.connection()).size(), 0); // the mark comes back to the newest row
    AddReading(db, kRival, QStringLiteral("101"), 3);
    AddReading(db, kRival, QStringLiteral("91"), 4);
    QCOMPARE(CheckAlerts(db.connection()).size(), 1);
}

void TestAlerts::switchesAreStoredAndKeptInRange() {
    TTestDatabase db;
    const TConnection con = db.connection();
    QCOMPARE(ReadAlertSettings(con).on, true);
    QCOMPARE(ReadAlertSettings(con).percent, 10.0);
    WriteAlertSettings(con, {false, 25.5});
    QCOMPARE(ReadAlertSettings(con).on, false);
    QCOMPARE(ReadAlertSettings(con).percent, 25.5);
    WriteAlertSettings(con, {true, 0});
    QCOMPARE(ReadAlertSettings(con).percent, 1.0);
    WriteOption(con, QStringLiteral("AlertPercent"), QStringLiteral("abc"));
    QCOMPARE(ReadAlertSettings(con).percent, 10.0);
}

void TestAlerts::listFiltersByTimeAndUnreadAndMarkingReadSticks() {
    TTestDatabase db;
    AddItem(db, 100);
    for (const char* at : {"2026-11-30 09:00:00", "2026-12-01 09:00:00", "2026-12-02 09:00:00"})
        db.exec(QStringLiteral("INSERT INTO Alerts (CreatedAt, Kind, LocalItemID, RivalWW, OldPrice, NewPrice, "
                               "OwnPrice) VALUES (?, 1, ?, ?, 105, 95, 100)"),
                {QString::fromLatin1(at), kItem, kRival});
    const TConnection con = db.connection();
    QCOMPARE(ListAlerts(con).size(), 3);
    QCOMPARE(ListAlerts(con).first().itemName, QStringLiteral("纯棉T恤"));
    TAlertFilter since;
    since.since = QDateTime(QDate(2026, 12, 1), QTime(0, 0));
    QCOMPARE(ListAlerts(con, since).size(), 2);
    since.newestFirst = true;
    QCOMPARE(ListAlerts(con, since).first().createdAt, QStringLiteral("2026-12-02 09:00:00"));
    MarkAlertsRead(con, {ListAlerts(con).first().id});
    TAlertFilter unread;
    unread.unreadOnly = true;
    QCOMPARE(ListAlerts(con, unread).size(), 2);
    QCOMPARE(UnreadAlertCount(con), 2);
    MarkAllAlertsRead(con);
    QCOMPARE(ListAlerts(con, unread).size(), 0);
    QCOMPARE(ListAlerts(con).size(), 3);
}

void TestAlerts::alertMessagesNameItemShopAndPrices() {
    TAlert alert;
    alert.kind = TAlertKind::Undercut;
    alert.itemName = QStringLiteral("纯棉T恤");
    alert.rivalWW = kRival;
    alert.oldPrice = 105;
    alert.newPrice = 95.5;
    alert.ownPrice = 100;
    QCOMPARE(AlertTexts::Message(alert),
             QStringLiteral("“纯棉T恤”：rivalA 的价格由 105.00 降到 95.50，低于您的 100.00"));
    alert.kind = TAlertKind::PriceChange;
    QCOMPARE(AlertTexts::Message(alert), QStringLiteral("“纯棉T恤”：rivalA 的价格由 105.00 变为 95.50（-9.0%）"));
    alert.kind = TAlertKind::OwnPageFailing;
    QCOMPARE(AlertTexts::Message(alert), QStringLiteral("“纯棉T恤”：您的宝贝页面已连续 3 次读取失败"));
}

void TestAlerts::cliListsAlertsAndUpdateAllPrintsTheRunsAlertsAsJsonLines() {
    const QString cli = QStringLiteral(VANTERO_CLI);
    // A rival page on the loopback server that now sells below the own price.
    TTestHttpServer server;
    const QByteArray page =
        QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body>"
                       "<input type=\"hidden\" name=\"title\" value=\"同款\" />"
                       "<input type=\"hidden\" name=\"seller_nickname\" value=\"rivalA\" />"
                       "<input type=\"hidden\" name=\"current_price\" value= \"90.00\" />"
                       "<input type=\"hidden\" name=\"item_id_num\" value=\"9001\" /></body></html>")
            .toUtf8();
    server.route(QStringLiteral("/rival"), page);
    TTestDatabase db;
    AddItem(db, 100);
    db.exec(QStringLiteral("INSERT INTO Rival (RivalWW) VALUES ('rivalA')"));
    db.exec(QStringLiteral("INSERT INTO RivalItems (RivalWW, LocalItemID, RivalItemID, URL, Price) "
                           "VALUES ('rivalA', ?, '9001', ?, 105)"),
            {kItem, server.url(QStringLiteral("/rival"))});
    // The rival's previous reading, as the history keeps it.
    AddReading(db, kRival, QStringLiteral("105"), 1);
    auto run = [&](const QStringList& args) {
        QProcess process;
        process.start(cli, QStringList{QStringLiteral("--db"), db.path()} + args);
        process.waitForFinished(60000);
        return std::make_pair(process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()));
    };
    const auto [code, out] = run({QStringLiteral("update-all"), QStringLiteral("--alerts-json")});
    QCOMPARE(code, 0);
    QStringList lines = out.split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.value(0).startsWith(QStringLiteral("readings=")), qPrintable(out));
    // Where the reader does not keep history rows itself, the row the reading stands for is added
    // and the run repeated.
    if (db.value(QStringLiteral("SELECT count(*) FROM PriceHistory")).toInt() == 1) {
        AddReading(db, kRival, QStringLiteral("90"), 2);
        const auto [again, text] = run({QStringLiteral("update-all"), QStringLiteral("--alerts-json")});
        QCOMPARE(again, 0);
        lines = text.split(u'\n', Qt::SkipEmptyParts);
    }
    QCOMPARE(lines.size(), 2);
    const QJsonObject alert = QJsonDocument::fromJson(lines[1].toUtf8()).object();
    QCOMPARE(alert.value(QStringLiteral("类型")).toString(), AlertTexts::KindName(TAlertKind::Undercut));
    QCOMPARE(alert.value(QStringLiteral("新价格")).toString(), QStringLiteral("90.00"));
    QCOMPARE(alert.value(QStringLiteral("自己的价格")).toString(), QStringLiteral("100.00"));

    const auto [listed, csv] = run({QStringLiteral("alerts"), QStringLiteral("--unread")});
    QCOMPARE(listed, 0);
    QCOMPARE(csv.split(u'\n', Qt::SkipEmptyParts).size(), 2);
    const auto [later, none] = run({QStringLiteral("alerts"), QStringLiteral("--since"), QStringLiteral("2099-01-01")});
    QCOMPARE(later, 0);
    QCOMPARE(none.split(u'\n', Qt::SkipEmptyParts).size(), 1);
    QCOMPARE(run({QStringLiteral("alerts"), QStringLiteral("--since"), QStringLiteral("gestern")}).first, 2);
}

QTEST_GUILESS_MAIN(TestAlerts)
#include "tst_alerts.moc"
