// The "复用加密会话" setting: stored in the file, off by default, applied to the process's downloads
// at start; and the download timing each reading keeps with its outcome.
#include "catalogue/MainData.h"
#include "catalogue/Settings.h"
#include "net/HttpEngine.h"
#include "reader/UtReadItemThr.h"
#include "support/TestDatabase.h"
#include "support/TlsPageServer.h"

#include <QProcess>
#include <QTest>

using namespace vantero;
using namespace vantero::test;

namespace {

QByteArray Page(const QByteArray&) {
    return "<html><body>\n<input type=\"hidden\" name=\"title\" value=\"T\" />\n"
           "<input type=\"hidden\" name=\"seller_nickname\" value=\"me\" />\n"
           "<input type=\"hidden\" name=\"current_price\" value= \"9.90\" />\n"
           "<input type=\"hidden\" name=\"item_id_num\" value=\"77\" />\n</body></html>\n";
}

int RunCli(const QString& database, const QStringList& args, QString* out) {
    QProcess cli;
    cli.start(QStringLiteral(VANTERO_CLI), QStringList{QStringLiteral("--db"), database} + args);
    cli.waitForFinished(30000);
    *out = QString::fromUtf8(cli.readAllStandardOutput());
    return cli.exitCode();
}

} // namespace

class TestTlsResume : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { SetHttpSessionReuse(false); }
    void offByDefaultAndAppliedAtStart();
    void theCommandLineSetsAndShowsIt();
    void aReadingKeepsWhereItsTimeWent();
};

void TestTlsResume::offByDefaultAndAppliedAtStart() {
    TTestDatabase db;
    QVERIFY(!TlsResumeOn(db.connection()));
    SetHttpSessionReuse(true); // what an earlier file of the same process left
    TMainData data(db.connection());
    data.ApplySettings();
    QVERIFY(!HttpSessionReuse());

    SetTlsResume(db.connection(), true);
    QVERIFY(TlsResumeOn(db.connection()));
    QVERIFY(HttpSessionReuse());
    SetHttpSessionReuse(false);
    data.ApplySettings();
    QVERIFY(HttpSessionReuse());
}

void TestTlsResume::theCommandLineSetsAndShowsIt() {
    TTestDatabase db;
    QString out;
    QCOMPARE(RunCli(db.path(), {QStringLiteral("settings")}, &out), 0);
    QVERIFY2(out.endsWith(QLatin1String("TlsResume: off\n")), qPrintable(out));
    QCOMPARE(
        RunCli(db.path(), {QStringLiteral("settings"), QStringLiteral("--tls-resume"), QStringLiteral("on")}, &out), 0);
    QVERIFY2(out.endsWith(QLatin1String("TlsResume: on\n")), qPrintable(out));
    QVERIFY(TlsResumeOn(db.connection()));
    QCOMPARE(
        RunCli(db.path(), {QStringLiteral("settings"), QStringLiteral("--tls-resume"), QStringLiteral("yes")}, &out),
        2);
    QVERIFY(TlsResumeOn(db.connection()));
}

void TestTlsResume::aReadingKeepsWhereItsTimeWent() {
    TTlsPageServer::Options options;
    options.tls = false;
    options.page = &Page;
    TTlsPageServer server(options);
    QVERIFY2(server.ok(), qPrintable(server.error()));
    TTestDatabase db;
    TReadItem reader(db.connection());
    reader.URL = QStringLiteral("http://127.0.0.1:%1/item.htm").arg(server.port());
    reader.ExpectedSeller = QStringLiteral("me");
    reader.start();
    reader.wait();
    QCOMPARE(reader.ResultCode, int(TReadItem::rcAdded));
    const QString stored =
        db.value(QStringLiteral("select LastTiming from ReadingStatus where LocalItemID='77'")).toString();
    QVERIFY2(stored.startsWith(QLatin1String("dns=")) && stored.contains(QLatin1String(" total=")), qPrintable(stored));
    QCOMPARE(stored, reader.Timing);
    QVERIFY(THttpTiming::DisplayFromStored(stored).contains(QStringLiteral("等待首字节")));

    // A failed reading replaces it with its own.
    TReadItem failing(db.connection());
    failing.URL = QStringLiteral("http://127.0.0.1:9/item.htm");
    failing.OwnItemID = QStringLiteral("77");
    failing.ExpectedSeller = QStringLiteral("me");
    failing.start();
    failing.wait();
    QCOMPARE(failing.ResultCode, int(TReadItem::rcFailed));
    const QString after =
        db.value(QStringLiteral("select LastTiming from ReadingStatus where LocalItemID='77'")).toString();
    QCOMPARE(after, failing.Timing);
    QVERIFY(after != stored);
}

QTEST_GUILESS_MAIN(TestTlsResume)
#include "tst_tlsresume.moc"
