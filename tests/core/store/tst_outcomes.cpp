// Every reading's outcome per page and the price history, with the real reader, store and updater.
#include "catalogue/HeadlessUpdate.h"
#include "catalogue/ItemCommands.h"
#include "catalogue/MainData.h"
#include "catalogue/ShopPage.h"
#include "reader/UtReadItemThr.h"
#include "store/PageOutcomes.h"
#include "support/UpdaterTestData.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace vantero;
using namespace vantero::test;

namespace {

struct TStatusRow {
    int code = -1;
    QString text;
    int failedInRow = -1;
    bool hasSuccess = false;
    QString url;
};

} // namespace

class TstOutcomes final : public QObject {
    Q_OBJECT

    std::unique_ptr<TUpdaterCatalogue> m_cat;
    TTestEngine m_engine;

public:
    explicit TstOutcomes(TTestEngine engine) : m_engine(engine) {}

private:
    int Read(const QString& url, const QString& localItemId = {}, const QString& seller = kOwnAccount,
             const QString& ownItemId = {}) {
        TReadItem reader(m_cat->db.connection());
        reader.URL = url;
        reader.LocalItemID = localItemId;
        reader.ExpectedSeller = seller;
        reader.OwnItemID = ownItemId;
        reader.start();
        reader.wait();
        return reader.ResultCode;
    }
    TStatusRow Status(const QString& localItemId, const QString& rivalWW = {}) const {
        TStatusRow row;
        const TConnection con = m_cat->db.connection();
        for (const TPageStatus& s : ItemPageStatuses(con, localItemId)) {
            if (TPageStatuses::Key(s.RivalWW) == TPageStatuses::Key(rivalWW))
                row = {s.LastCode, s.LastText, s.FailedInRow, s.LastSuccess.isValid(), s.URL};
        }
        return row;
    }
    int HistoryCount(const QString& localItemId) const {
        return int(ItemHistory(m_cat->db.connection(), localItemId).size());
    }
    void ServePage(const QString& path, const QString& seller, const QString& price, const QString& id, int sales = 7) {
        QByteArray page = ItemPage(QStringLiteral("标题"), seller, price, id);
        page.replace("<em>7</em>", "<em>" + QByteArray::number(sales) + "</em>");
        m_cat->server.route(path, page, "text/html; charset=gbk");
    }

    static QString CliPath() {
        const QFileInfo info(QStringLiteral(VANTERO_CLI));
        return info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    int RunCli(const QStringList& args, QByteArray* out = nullptr) const {
        QProcess process;
        process.start(CliPath(), QStringList{QStringLiteral("--db"), m_cat->db.path()} + args);
        if (!process.waitForFinished(60000))
            return -1;
        if (out)
            *out = process.readAllStandardOutput();
        return process.exitCode();
    }

private slots:
    void init() {
        m_cat = std::make_unique<TUpdaterCatalogue>(m_engine);
        m_cat->AddRival(QStringLiteral("rivala"));
    }
    void cleanup() { m_cat.reset(); }

    void everyResultCodeLeavesTheOutcome_data() {
        QTest::addColumn<bool>("rival");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        for (bool rival : {false, true}) {
            const char* who = rival ? "rival" : "own";
            QTest::addRow("%s added", who) << rival << "added" << 1 << "";
            QTest::addRow("%s updated", who) << rival << "updated" << 0 << "";
            QTest::addRow("%s wrong seller", who) << rival << "wrongSeller" << 2 << "卖家不匹配";
            QTest::addRow("%s no item id", who) << rival << "noItem" << 3 << "";
            QTest::addRow("%s download failed", who) << rival << "failed" << 4 << "*";
        }
    }
    void everyResultCodeLeavesTheOutcome() {
        QFETCH(bool, rival);
        QFETCH(QString, kind);
        QFETCH(int, code);
        QFETCH(QString, text);
        m_cat->AddItem(QStringLiteral("1001"), QStringLiteral("裙子"), QStringLiteral("20.00"));
        if (kind != QLatin1String("added") || !rival)
            m_cat->AddMapping(QStringLiteral("rivala"), QStringLiteral("1001"), QStringLiteral("9001"),
                              QStringLiteral("/r/9001"));
        if (kind == QLatin1String("added") && !rival)
            m_cat->db.exec(QStringLiteral("delete from Items"));
        const QString seller = rival ? QStringLiteral("rivala") : kOwnAccount;
        const QString id = rival ? QStringLiteral("9001") : QStringLiteral("1001");
        const QString path = QStringLiteral("/page");
        if (kind == QLatin1String("wrongSeller"))
            ServePage(path, QStringLiteral("someoneelse"), QStringLiteral("3.00"), id);
        else if (kind == QLatin1String("noItem"))
            m_cat->server.route(path, QByteArray("<html>short</html>"));
        else if (kind != QLatin1String("failed"))
            ServePage(path, seller, QStringLiteral("3.00"), id);
        const QString url = m_cat->server.url(path);
        // The own item is known to the starter (the updater, the main window), except when added.
        const int result = Read(url, rival ? QStringLiteral("1001") : QString(), seller,
                                rival || kind == QLatin1String("added") ? QString() : QStringLiteral("1001"));
        QCOMPARE(result, code);
        const TStatusRow row = Status(QStringLiteral("1001"), rival ? QStringLiteral("rivala") : QString());
        QCOMPARE(row.code, code);
        if (text == QLatin1String("*"))
            QVERIFY(!row.text.isEmpty());
        else
            QCOMPARE(row.text, text);
        QCOMPARE(row.failedInRow, code >= 2 ? 1 : 0);
        QCOMPARE(row.hasSuccess, code <= 1);
        QCOMPARE(row.url, url);
    }

    void failuresCountInARowAndASuccessResetsThem() {
        m_cat->AddItem(QStringLiteral("1001"), QStringLiteral("裙子"), QStringLiteral("20.00"));
        const QString good = m_cat->server.url(QStringLiteral("/own/1001"));
        const QString bad = m_cat->server.url(QStringLiteral("/missing"));
        QCOMPARE(Read(good), 0);
        for (int i = 1; i <= 3; ++i) {
            QCOMPARE(Read(bad, {}, kOwnAccount, QStringLiteral("1001")), 4);
            QCOMPARE(Status(QStringLiteral("1001")).failedInRow, i);
            QVERIFY(Status(QStringLiteral("1001")).hasSuccess); // the last success is kept
        }
        QCOMPARE(Read(good), 0);
        QCOMPARE(Status(QStringLiteral("1001")).failedInRow, 0);
        QCOMPARE(Status(QStringLiteral("1001")).text, QString());
    }

    void ownFailureIsKeyedByTheStoredAddressWhenTheItemIsNotGiven() {
        m_cat->AddItem(QStringLiteral("1001"), QStringLiteral("裙子"), QStringLiteral("20.00"));
        m_cat->server.route(QStringLiteral("/own/1001"), TTestResponse{500, "down", {}});
        QCOMPARE(Read(m_cat->server.url(QStringLiteral("/own/1001"))), 4);
        QCOMPARE(Status(QStringLiteral("1001")).code, 4);
        // A new address that fails before its item id is known has nothing to be keyed by.
        QCOMPARE(Read(m_cat->server.url(QStringLiteral("/new"))), 4);
        QCOMPARE(m_cat->db.value(QStringLiteral("select count(*) from ReadingStatus")).toInt(), 1);
    }

    void historyGetsARowOnlyWhenPriceOrSalesChange() {
        m_cat->AddItem(QStringLiteral("1001"), QStringLiteral("裙子"), QStringLiteral("20.00"));
        const QString path = QStringLiteral("/own/1001");
        const QString url = m_cat->server.url(path);
        struct Step {
            const char* price;
            int sales;
            int code;
            int rows;
        };
        // first reading; same; price change; same; sales change; no price (a failed reading, no
        // row); no price again; back as before the failures (no change, no row).
        const Step steps[] = {{"20.00", 7, 0, 1}, {"20.00", 7, 0, 1}, {"18.50", 7, 0, 2}, {"18.50", 7, 0, 2},
                              {"18.50", 9, 0, 3}, {"", 9, 4, 3},      {"", 9, 4, 3},      {"18.50", 9, 0, 3}};
        for (const Step& step : steps) {
            ServePage(path, kOwnAccount, QString::fromLatin1(step.price), QStringLiteral("1001"), step.sales);
            QCOMPARE(Read(url), step.code);
            QCOMPARE(HistoryCount(QStringLiteral("1001")), step.rows);
        }
        const QList<THistoryRow> history = ItemHistory(m_cat->db.connection(), QStringLiteral("1001"));
        QCOMPARE(history[0].price.value_or(0), 20.0);
        QCOMPARE(history[2].sellCount, qint64(9));
        // No history row ever holds a price of 0.
        for (const THistoryRow& row : history)
            QVERIFY(row.price && *row.price > 0);
    }

    void refusalsAndFailuresAddNoHistory() {
        m_cat->AddItem(QStringLiteral("1001"), QStringLiteral("裙子"), QStringLiteral("20.00"));
        ServePage(QStringLiteral("/x"), QStringLiteral("other"), QStringLiteral("1.00"), QStringLiteral("1001"));
        QCOMPARE(Read(m_cat->server.url(QStringLiteral("/x")), {}, kOwnAccount, QStringLiteral("1001")), 2);
        QCOMPARE(HistoryCount(QStringLiteral("1001")), 0);
    }

    void backgroundUpdateRecordsEveryPageItReads() {
        m_cat->AddItem(QStringLiteral("1001"), QStringLiteral("裙子"), QStringLiteral("20.00"));
        m_cat->AddMapping(QStringLiteral("rivala"), QStringLiteral("1001"), QStringLiteral("9001"),
                          QStringLiteral("/r/9001"), QStringLiteral("wrongshop"));
        m_cat->server.route(QStringLiteral("/own/1001"), TTestResponse{404, "gone", {}});
        TMainData data(m_cat->db.connection());
        data.ApplySettings();
        data.RefreshAllData();
        const TReadAllItemThr::Tally tally = RunHeadlessUpdate(data, [](const QString&) {});
        QCOMPARE(tally.readings, 2);
        QCOMPARE(Status(QStringLiteral("1001")).code, 4);
        QCOMPARE(Status(QStringLiteral("1001"), QStringLiteral("rivala")).code, 2);
        // The refreshed rows carry the marks: own band and the rival's band are stale.
        QVERIFY(data.grid.IsStale(0, 1));
        QVERIFY(data.grid.IsStale(0, 2));
        QVERIFY(data.grid.IsStale(0, data.grid.columnCount() - 1));

        const QList<TFailedPage> failed = LoadFailedPages(m_cat->db.connection());
        QCOMPARE(failed.size(), 2);
        QCOMPARE(failed[0].Shop, QStringLiteral("自己"));
        QCOMPARE(failed[0].ItemName, QStringLiteral("自定义名"));
        QCOMPARE(failed[1].Shop, QStringLiteral("rivala"));
        QCOMPARE(failed[1].Status.Reason(), QStringLiteral("卖家不匹配"));
        QCOMPARE(failed[1].ReadAddress, m_cat->server.url(QStringLiteral("/r/9001")));
    }

    void gridMarksOnlyCellsOfFailingPages() {
        m_cat->AddItem(QStringLiteral("1001"), QStringLiteral("裙子"), QStringLiteral("20.00"));
        m_cat->AddItem(QStringLiteral("1002"), QStringLiteral("裤子"), QStringLiteral("30.00"));
        m_cat->AddMapping(QStringLiteral("rivala"), QStringLiteral("1002"), QStringLiteral("9002"),
                          QStringLiteral("/r/9002"));
        QCOMPARE(Read(m_cat->server.url(QStringLiteral("/own/1001"))), 0);
        m_cat->server.route(QStringLiteral("/r/9002"), TTestResponse{500, "", {}});
        QCOMPARE(Read(m_cat->server.url(QStringLiteral("/r/9002")), QStringLiteral("1002"), QStringLiteral("RivalA ")),
                 4);
        TMainData data(m_cat->db.connection());
        data.ApplySettings();
        data.RefreshAllData();
        for (int column = 0; column < data.grid.columnCount(); ++column) {
            QVERIFY(!data.grid.IsStale(0, column));
            // Only the rival's band of the second row: account case and blanks do not matter.
            QCOMPARE(data.grid.IsStale(1, column), column >= 2 && column <= 4);
        }
        // A success clears the mark at the next row refresh.
        QCOMPARE(Read(m_cat->server.url(QStringLiteral("/own/1001"))), 0);
        ServePage(QStringLiteral("/r/9002"), QStringLiteral("rivala"), QStringLiteral("8.00"), QStringLiteral("9002"));
        QCOMPARE(Read(m_cat->server.url(QStringLiteral("/r/9002")), QStringLiteral("1002"), QStringLiteral("rivala")),
                 0);
        QVERIFY(data.RefreshRowData(1));
        QVERIFY(!data.grid.IsStale(1, 2));
    }

    void commandLineRecordsItsReadingsAndListsThem() {
        m_cat->AddItem(QStringLiteral("1001"), QStringLiteral("裙子"), QStringLiteral("20.00"));
        m_cat->AddMapping(QStringLiteral("rivala"), QStringLiteral("1001"), QStringLiteral("9001"),
                          QStringLiteral("/r/9001"));
        const QString own = m_cat->server.url(QStringLiteral("/own/1001"));
        QCOMPARE(RunCli({QStringLiteral("read-item"), own}), 0);
        QCOMPARE(RunCli({QStringLiteral("read-item"), m_cat->server.url(QStringLiteral("/r/9001")),
                         QStringLiteral("--rival-of"), QStringLiteral("1001"), QStringLiteral("--seller"),
                         QStringLiteral("rivala")}),
                 0);
        ServePage(QStringLiteral("/own/1001"), kOwnAccount, QStringLiteral("18.00"), QStringLiteral("1001"));
        m_cat->server.route(QStringLiteral("/r/9001"), TTestResponse{503, "busy", {}});
        QByteArray out;
        QCOMPARE(RunCli({QStringLiteral("update-all")}, &out), 0);
        QCOMPARE(out.trimmed(), QByteArray("readings=2 stored=1 refused=0 failed=1")); // the line stays as it was

        QCOMPARE(RunCli({QStringLiteral("failures"), QStringLiteral("--json")}, &out), 0);
        const QJsonArray failures = QJsonDocument::fromJson(out).array();
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures[0][QStringLiteral("Shop")].toString(), QStringLiteral("rivala"));
        QCOMPARE(failures[0][QStringLiteral("FailedInRow")].toString(), QStringLiteral("1"));
        QVERIFY(failures[0][QStringLiteral("Reason")].toString().contains(QStringLiteral("503")));

        QCOMPARE(RunCli({QStringLiteral("history"), QStringLiteral("1001"), QStringLiteral("--json")}, &out), 0);
        const QJsonArray history = QJsonDocument::fromJson(out).array();
        QCOMPARE(history.size(), 3); // own 20.00, rival 9.90, own 18.00
        QCOMPARE(history[0][QStringLiteral("Price")].toString(), QStringLiteral("20.00"));
        QCOMPARE(history[1][QStringLiteral("Shop")].toString(), QStringLiteral("rivala"));
        QCOMPARE(history[2][QStringLiteral("Price")].toString(), QStringLiteral("18.00"));
        QCOMPARE(RunCli({QStringLiteral("history"), QStringLiteral("4711")}), 3);

        QCOMPARE(RunCli({QStringLiteral("grid"), QStringLiteral("--json")}, &out), 0);
        const QJsonObject grid = QJsonDocument::fromJson(out).object();
        const QJsonArray stale = grid[QStringLiteral("stale")].toArray()[0].toArray();
        QCOMPARE(stale[2].toBool(), true);  // the rival's price
        QCOMPARE(stale[1].toBool(), false); // the own item was read
        const QJsonArray outcomes = grid[QStringLiteral("outcomes")].toArray()[0].toArray();
        QCOMPARE(outcomes[0][QStringLiteral("lastCode")].toInt(), 0);
        QCOMPARE(outcomes[1][QStringLiteral("lastCode")].toInt(), 4);
        QCOMPARE(outcomes[1][QStringLiteral("failedInRow")].toInt(), 1);
    }

    // The command lists what the chart and the export show: readings by their time, and a price
    // of 0 that an older program stored as no price.
    void historyCommandListsReadingsByTimeAndAStoredZeroAsNoPrice() {
        m_cat->AddItem(QStringLiteral("1001"), QStringLiteral("裙子"), QStringLiteral("20.00"));
        m_cat->db.exec(QStringLiteral("insert into PriceHistory (LocalItemID, RivalWW, RivalItemID, ReadAt, Price, "
                                      "SellCount) values ('1001', 'rivala', '9001', '2026-12-02 08:00:00', 19.5, 4),"
                                      " ('1001', '', '', '2026-12-01 08:00:00', 0, 3),"
                                      " ('1001', '', '', '2026-12-02 08:00:00', 20, 3)"));
        QByteArray out;
        QCOMPARE(RunCli({QStringLiteral("history"), QStringLiteral("1001"), QStringLiteral("--csv")}, &out), 0);
        QCOMPARE(QString::fromUtf8(out), QStringLiteral("ReadAt,Shop,RivalItemID,Price,SellCount\r\n"
                                                        "2026-12-01 08:00:00,自己,,,3\r\n"
                                                        "2026-12-02 08:00:00,rivala,9001,19.50,4\r\n"
                                                        "2026-12-02 08:00:00,自己,,20.00,3\r\n"));
    }

    void deletionsLeaveNoGhostRows() {
        m_cat->AddRival(QStringLiteral("rivalb"));
        m_cat->AddItem(QStringLiteral("1001"), QStringLiteral("裙子"), QStringLiteral("20.00"));
        m_cat->AddItem(QStringLiteral("1002"), QStringLiteral("裤子"), QStringLiteral("30.00"));
        for (const char* ww : {"rivala", "rivalb"}) {
            for (const char* item : {"1001", "1002"}) {
                const QString rivalId = QString::fromLatin1(ww).right(1) + QString::fromLatin1(item);
                m_cat->AddMapping(QString::fromLatin1(ww), QString::fromLatin1(item), rivalId,
                                  QStringLiteral("/r/") + rivalId);
                QCOMPARE(Read(m_cat->server.url(QStringLiteral("/r/") + rivalId), QString::fromLatin1(item),
                              QString::fromLatin1(ww)),
                         0);
                m_cat->server.route(QStringLiteral("/r/") + rivalId, TTestResponse{404, "", {}});
                QCOMPARE(Read(m_cat->server.url(QStringLiteral("/r/") + rivalId), QString::fromLatin1(item),
                              QString::fromLatin1(ww)),
                         4);
            }
        }
        const TConnection con = m_cat->db.connection();
        QCOMPARE(LoadFailedPages(con).size(), 4);
        // Deleting a rival shop.
        TRecordSet mappings(con);
        TRecordSet rivals(con);
        rivals.Reopen(QStringLiteral("select * from Rival"));
        QVERIFY(rivals.Locate(QStringLiteral("RivalWW"), {QStringLiteral("rivalb")}));
        DeleteRival(mappings, rivals);
        QCOMPARE(LoadFailedPages(con).size(), 2);
        QCOMPARE(m_cat->db.value(QStringLiteral("select count(*) from ReadingStatus where RivalWW='rivalb'")).toInt(),
                 0);
        QCOMPARE(m_cat->db.value(QStringLiteral("select count(*) from PriceHistory where RivalWW='rivalb'")).toInt(),
                 0);
        // Deleting an own item.
        TRecordSet items(con);
        items.Reopen(QStringLiteral("select * from Items"));
        QVERIFY(LocateItem(items, QStringLiteral("1001")));
        DeleteLocatedItem(items, con, QStringLiteral("1001"));
        QCOMPARE(LoadFailedPages(con).size(), 1);
        QCOMPARE(m_cat->db.value(QStringLiteral("select count(*) from PriceHistory where LocalItemID='1001'")).toInt(),
                 0);
        // Removing a mapping keeps the page's price history, found again when it is mapped anew.
        const int kept = m_cat->db
                             .value(QStringLiteral("select count(*) from PriceHistory where LocalItemID='1002' "
                                                   "and RivalWW='rivala'"))
                             .toInt();
        QVERIFY(kept > 0);
        DeleteMapping(con, QStringLiteral("1002"), QStringLiteral("RivalA"));
        QCOMPARE(LoadFailedPages(con).size(), 0);
        QCOMPARE(m_cat->db
                     .value(QStringLiteral("select count(*) from PriceHistory where LocalItemID='1002' and "
                                           "RivalWW='rivala'"))
                     .toInt(),
                 kept);
        // Rows an older program left behind for a deleted page are not listed either.
        m_cat->db.exec(QStringLiteral("insert into ReadingStatus (LocalItemID, RivalWW, LastCode, FailedInRow) "
                                      "values ('gone', '', 4, 2), ('1002', 'noshop', 4, 1)"));
        QCOMPARE(LoadFailedPages(con).size(), 0);
    }
};

// Every case on the database file, then on a database on the tests' own PostgreSQL server.
int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    int failed = 0;
    for (TTestEngine engine : {TTestEngine::File, TTestEngine::Server}) {
        TstOutcomes test(engine);
        failed += QTest::qExec(&test, argc, argv);
    }
    return failed;
}
#include "tst_outcomes.moc"
