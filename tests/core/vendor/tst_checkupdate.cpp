// The version check against a local stand-in for the vendor's version service.
#include "support/TestHttpServer.h"
#include "vendor/utCheckUpdate.h"

#include <QCoreApplication>
#include <QPointer>
#include <QProcess>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTest>

#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

const QString kQuery = QStringLiteral("/download/down.asp?softname=vantero");

// A window stand-in: receives posted window messages.
struct TMessage {
    unsigned Msg;
    qintptr WParam;
    qintptr LParam;
};

class TReceiver final : public QObject {
public:
    TWindowRegistration registration{this};
    QList<TMessage> messages;

protected:
    void customEvent(QEvent* event) override {
        if (event->type() != TWindowMessageEvent::eventType())
            return;
        const auto* message = static_cast<TWindowMessageEvent*>(event);
        messages << TMessage{message->Msg, message->WParam, message->LParam};
    }
};

QString HostOf(const TTestHttpServer& server) {
    return QStringLiteral("127.0.0.1:%1").arg(server.port());
}

// A loopback port on which nobody listens.
quint16 ClosedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace

class TestCheckUpdate : public QObject {
    Q_OBJECT

private slots:
    void answerLinesGiveTheVersion_data();
    void answerLinesGiveTheVersion();
    void serviceIsAskedForTheSoftName();
    void failedRequestsGiveOne_data();
    void failedRequestsGiveOne();
    void unconfiguredHostIsNeverAsked_data();
    void unconfiguredHostIsNeverAsked();
    void vendorPagesLiveOnTheWebHost();
    void checkThreadPostsTheNumberAndReleasesItself();
    void checkThreadPostingToAGoneWindowDoesNothing();
    void checkThreadWaitsByDefault();
    void programEndsWithoutWaitingForTheCheck_data();
    void programEndsWithoutWaitingForTheCheck();
};

void TestCheckUpdate::answerLinesGiveTheVersion_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("version");
    QTest::newRow("one line") << QByteArray("vantero=204") << 204;
    QTest::newRow("name in capitals") << QByteArray("VANTERO=204\r\n") << 204;
    QTest::newRow("among other lines, CR LF") << QByteArray("other=999\r\nvantero=210\r\nlast=1\r\n") << 210;
    QTest::newRow("CR only") << QByteArray("other=999\rvantero=205\r") << 205;
    QTest::newRow("LF only") << QByteArray("other=999\nvantero=206\n") << 206;
    QTest::newRow("first matching line wins") << QByteArray("vantero=207\nvantero=300\n") << 207;
    QTest::newRow("same version") << QByteArray("vantero=203") << 203;
    QTest::newRow("value with letters") << QByteArray("vantero=204abc") << 0;
    QTest::newRow("value with blank") << QByteArray("vantero=204 ") << 0;
    QTest::newRow("empty value") << QByteArray("vantero=") << 0;
    QTest::newRow("value too large") << QByteArray("vantero=99999999999") << 0;
    QTest::newRow("second equals sign belongs to the value") << QByteArray("vantero=2=3") << 0;
    QTest::newRow("name only begins the line's name") << QByteArray("vanteroplus=500") << 0;
    QTest::newRow("name with blank") << QByteArray("vantero =500") << 0;
    QTest::newRow("line without equals sign") << QByteArray("vantero 204") << 0;
    QTest::newRow("no line for the name") << QByteArray("other=500\n") << 0;
    QTest::newRow("empty answer") << QByteArray() << 0;
}

void TestCheckUpdate::answerLinesGiveTheVersion() {
    QFETCH(QByteArray, body);
    QFETCH(int, version);
    QCOMPARE(ParseServerVersion(body, kSoftName), version);

    TTestHttpServer server;
    server.route(kQuery, body, "text/plain");
    QCOMPARE(QueryServerVersion(HostOf(server), kSoftName, TCheckUpdate::kReadTimeoutMs), version);
}

void TestCheckUpdate::serviceIsAskedForTheSoftName() {
    TTestHttpServer server;
    server.route(kQuery, "vantero=204", "text/plain");
    QCOMPARE(QueryServerVersion(HostOf(server), kSoftName, TCheckUpdate::kReadTimeoutMs), 204);
    QCOMPARE(server.requests(), QStringList{kQuery});
    QVERIFY(server.lastRequestHead(kQuery).startsWith("GET "));
}

void TestCheckUpdate::failedRequestsGiveOne_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("no server") << QStringLiteral("closed");
    QTest::newRow("not found") << QStringLiteral("404");
    QTest::newRow("server error") << QStringLiteral("500");
    QTest::newRow("redirect") << QStringLiteral("302");
    QTest::newRow("no data within the read time-out") << QStringLiteral("slow");
}

void TestCheckUpdate::failedRequestsGiveOne() {
    QFETCH(QString, kind);
    TTestHttpServer server;
    QString host = HostOf(server);
    int timeout = TCheckUpdate::kReadTimeoutMs;
    if (kind == QLatin1String("closed")) {
        host = QStringLiteral("127.0.0.1:%1").arg(ClosedPort());
    } else if (kind == QLatin1String("slow")) {
        server.route(kQuery, TTestResponse{200, "vantero=204", {}, 5000, false, -1});
        timeout = 300;
    } else if (kind == QLatin1String("302")) {
        server.route(kQuery, TTestResponse{302, "vantero=204", {{"Location", "/elsewhere"}}, 0, false, -1});
        server.route(QStringLiteral("/elsewhere"), "vantero=204", "text/plain");
    } else {
        server.route(kQuery, TTestResponse{kind.toInt(), "vantero=204", {}, 0, false, -1});
    }
    QCOMPARE(QueryServerVersion(host, kSoftName, timeout), 1);
}

void TestCheckUpdate::unconfiguredHostIsNeverAsked_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("configured");
    QTest::newRow("build default") << QStringLiteral(VANTERO_VENDOR_DOWNLOAD_HOST) << false;
    QTest::newRow("reserved name") << QStringLiteral("download.example.invalid") << false;
    QTest::newRow("reserved name in capitals") << QStringLiteral("WWW.EXAMPLE.INVALID:8080") << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("address with path") << QStringLiteral("a.example.com/x") << false;
    QTest::newRow("host and port") << QStringLiteral("127.0.0.1:8080") << true;
    QTest::newRow("plain host") << QStringLiteral("vendor.example.com") << true;
}

void TestCheckUpdate::unconfiguredHostIsNeverAsked() {
    QFETCH(QString, host);
    QFETCH(bool, configured);
    QCOMPARE(VendorHostConfigured(host), configured);
    if (!configured)
        QCOMPARE(QueryServerVersion(host, kSoftName, TCheckUpdate::kReadTimeoutMs), 1);
}

void TestCheckUpdate::vendorPagesLiveOnTheWebHost() {
    const QString saved = VendorWebHost();
    SetVendorWebHost(QStringLiteral("pages.example.com"));
    QCOMPARE(VendorPageAddress(TVendorPage::UpgradePage).toString(),
             QStringLiteral("http://pages.example.com/upgrade/vantero.asp"));
    QCOMPARE(VendorPageAddress(TVendorPage::ManualPage).toString(),
             QStringLiteral("http://pages.example.com/upgrade/vantero_help.asp"));
    SetVendorWebHost(QStringLiteral("127.0.0.1:8123"));
    QCOMPARE(VendorPageAddress(TVendorPage::ManualPage).toString(),
             QStringLiteral("http://127.0.0.1:8123/upgrade/vantero_help.asp"));
    QCOMPARE(VendorPageCaption(TVendorPage::UpgradePage), QStringLiteral("软件升级"));
    QCOMPARE(VendorPageCaption(TVendorPage::ManualPage), QStringLiteral("使用说明"));
    SetVendorWebHost(saved);
}

void TestCheckUpdate::checkThreadPostsTheNumberAndReleasesItself() {
    TTestHttpServer server;
    server.route(kQuery, "vantero=204\r\n", "text/plain");
    TReceiver window;
    QPointer<TCheckUpdate> check = new TCheckUpdate;
    QVERIFY(!check->parent());
    check->Host = HostOf(server);
    check->TargetWnd = window.registration.handle();
    check->WaitBeforeReportMs = 0;
    check->WaitAfterReportMs = 0;
    check->start();
    QTRY_COMPARE_WITH_TIMEOUT(window.messages.size(), 1, 60000);
    QCOMPARE(window.messages.first().Msg, WM_UPDATE_VERSION);
    QCOMPARE(window.messages.first().WParam, 0);
    QCOMPARE(window.messages.first().LParam, 204);
    QTRY_VERIFY_WITH_TIMEOUT(check.isNull(), 60000);
}

void TestCheckUpdate::checkThreadPostingToAGoneWindowDoesNothing() {
    TTestHttpServer server;
    server.route(kQuery, "vantero=204", "text/plain");
    auto window = std::make_unique<TReceiver>();
    const TWindowHandle handle = window->registration.handle();
    window.reset();
    QPointer<TCheckUpdate> check = new TCheckUpdate;
    check->Host = HostOf(server);
    check->TargetWnd = handle;
    check->WaitBeforeReportMs = 0;
    check->WaitAfterReportMs = 0;
    check->start();
    QTRY_VERIFY_WITH_TIMEOUT(check.isNull(), 60000);
    QCOMPARE(server.requestCount(kQuery), 1);
}

void TestCheckUpdate::checkThreadWaitsByDefault() {
    TCheckUpdate* check = new TCheckUpdate;
    QCOMPARE(check->SoftName, QStringLiteral("vantero"));
    QCOMPARE(check->ReadTimeoutMs, 60000);
    QCOMPARE(check->WaitBeforeReportMs, 3000);
    QCOMPARE(check->WaitAfterReportMs, 1000);
    QCOMPARE(check->Host, VendorDownloadHost());
    delete check;
}

void TestCheckUpdate::programEndsWithoutWaitingForTheCheck_data() {
    QTest::addColumn<QString>("stage");
    QTest::newRow("while the service answers slowly") << QStringLiteral("asking");
    QTest::newRow("during the wait before reporting") << QStringLiteral("waiting");
}

void TestCheckUpdate::programEndsWithoutWaitingForTheCheck() {
    QFETCH(QString, stage);
    TTestHttpServer server;
    // "asking": the answer trickles in for ever, so the read time-out never ends the request.
    if (stage == QLatin1String("asking"))
        server.route(kQuery, TTestResponse{200, {}, {}, 0, true, -1});
    else
        server.route(kQuery, "vantero=204", "text/plain");
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--exit-during-check"), HostOf(server), stage});
    QVERIFY(child.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(kQuery), 1, 60000);
    child.write("quit\n");
    child.closeWriteChannel();
    // Bounded only to fail instead of hanging: a program that waited for the check would never end.
    QVERIFY2(child.waitForFinished(120000), "the program waited for the running check");
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(child.readAllStandardOutput().trimmed(), QByteArray("ended"));
}

// Child mode of the test above: a program that quits, when told on its input, while its check
// is still running.
static int ExitDuringCheck(int argc, char** argv) {
    {
        QCoreApplication app(argc, argv);
        auto* check = new TCheckUpdate;
        check->Host = QString::fromLocal8Bit(argv[2]);
        // Never reports while this program lives: an hour's wait after the answer.
        check->WaitBeforeReportMs = 3600 * 1000;
        check->start();
        QSocketNotifier input(0, QSocketNotifier::Read);
        QObject::connect(&input, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        QCoreApplication::exec();
    }
    fputs("ended\n", stdout);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 4 && qstrcmp(argv[1], "--exit-during-check") == 0)
        return ExitDuringCheck(argc, argv);
    QCoreApplication app(argc, argv);
    TestCheckUpdate test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_checkupdate.moc"
