// What https connections carry: the certificate store kept for the process (and still strict),
// TLS sessions resumed only when the user asked for it, and where a download's time went.
#include "net/FailureTexts.h"
#include "net/HttpEngine.h"
#include "support/TlsPageServer.h"

#include <QTest>

using namespace vantero;
using namespace vantero::test;

namespace {

const QString kOurCert = QStringLiteral(VANTERO_TEST_DATA "/loopback-cert.pem");
const QString kOurKey = QStringLiteral(VANTERO_TEST_DATA "/loopback-key.pem");
const QString kStrangerCert = QStringLiteral(VANTERO_TEST_DATA "/stranger-cert.pem");
const QString kStrangerKey = QStringLiteral(VANTERO_TEST_DATA "/stranger-key.pem");

TTlsPageServer::Options Server(const QString& cert, const QString& key, int version = 13) {
    TTlsPageServer::Options options;
    options.certFile = cert;
    options.keyFile = key;
    options.tlsVersion = version;
    options.page = [](const QByteArray& path) { return "<html>page " + path + "</html>"; };
    return options;
}

// The certificates trusted while it lives; the system's again afterwards.
class TTrust {
public:
    explicit TTrust(const QString& file) { SetHttpCaFile(file); }
    ~TTrust() { SetHttpCaFile(QString()); }
};

class TReuse {
public:
    explicit TReuse(bool on) { SetHttpSessionReuse(on); }
    ~TReuse() { SetHttpSessionReuse(false); }
};

// The failure text of a download, or '' when it succeeded.
QString Failure(const QString& url) {
    try {
        HttpGet(QUrl(url), {}, {}, {});
        return {};
    } catch (const THttpFailure& failure) {
        return failure.text;
    }
}

QString Url(const TTlsPageServer& server, const char* host = "127.0.0.1") {
    return QStringLiteral("https://%1:%2/item.htm").arg(QLatin1String(host)).arg(server.port());
}

} // namespace

class TestTlsState : public QObject {
    Q_OBJECT
private slots:
    void theKeptStoreRefusesWhatItDoesNotTrust();
    void theHostNameIsStillChecked();
    void sessionsResumeOnlyWhenAsked_data();
    void sessionsResumeOnlyWhenAsked();
    void aDownloadTellsWhereItsTimeWent();
};

void TestTlsState::theKeptStoreRefusesWhatItDoesNotTrust() {
    TTlsPageServer ours(Server(kOurCert, kOurKey));
    TTlsPageServer stranger(Server(kStrangerCert, kStrangerKey));
    QVERIFY2(ours.ok() && stranger.ok(), qPrintable(ours.error() + stranger.error()));
    {
        const TTrust trust(kOurCert);
        // Twice: the second download works from the kept store.
        QCOMPARE(Failure(Url(ours)), QString());
        QCOMPARE(Failure(Url(ours)), QString());
        const QString refused = Failure(Url(stranger));
        QVERIFY2(refused.contains(NetTexts::Tls), qPrintable(refused));
    }
    {
        // Another bundle is another store: what the first trusted is not trusted now.
        const TTrust trust(kStrangerCert);
        QCOMPARE(Failure(Url(stranger)), QString());
        QVERIFY(Failure(Url(ours)).contains(NetTexts::Tls));
    }
    // The system's store knows neither test certificate.
    QVERIFY(Failure(Url(ours)).contains(NetTexts::Tls));
    // Only the three trusted connections got as far as a finished handshake.
    QCOMPARE(ours.counts().fullHandshakes + stranger.counts().fullHandshakes, 3);
}

void TestTlsState::theHostNameIsStillChecked() {
    // The certificate names 127.0.0.1 only; the same server reached as localhost is refused.
    TTlsPageServer ours(Server(kOurCert, kOurKey));
    const TTrust trust(kOurCert);
    QCOMPARE(Failure(Url(ours)), QString());
    QVERIFY(Failure(Url(ours, "localhost")).contains(NetTexts::Tls));
}

void TestTlsState::sessionsResumeOnlyWhenAsked_data() {
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("reuse");
    QTest::newRow("TLS 1.3, off") << 13 << false;
    QTest::newRow("TLS 1.3, on") << 13 << true;
    QTest::newRow("TLS 1.2, off") << 12 << false;
    QTest::newRow("TLS 1.2, on") << 12 << true;
}

void TestTlsState::sessionsResumeOnlyWhenAsked() {
    QFETCH(int, version);
    QFETCH(bool, reuse);
    TTlsPageServer server(Server(kOurCert, kOurKey, version));
    QVERIFY2(server.ok(), qPrintable(server.error()));
    const TTrust trust(kOurCert);
    const TReuse option(reuse);
    constexpr int kReadings = 5;
    for (int i = 0; i < kReadings; ++i)
        QCOMPARE(Failure(Url(server)), QString());
    const TTlsPageServer::Counts counts = server.counts();
    QCOMPARE(counts.connections, kReadings);
    QCOMPARE(counts.fullHandshakes, reuse ? 1 : kReadings);
    QCOMPARE(counts.resumedHandshakes, reuse ? kReadings - 1 : 0);
}

void TestTlsState::aDownloadTellsWhereItsTimeWent() {
    TTlsPageServer server(Server(kOurCert, kOurKey));
    const TTrust trust(kOurCert);
    const THttpResponse response = HttpGet(QUrl(Url(server)), {}, {}, {});
    const THttpTiming& timing = response.timing;
    QVERIFY(timing.measured);
    QVERIFY(timing.tlsUs > 0);
    QVERIFY(timing.totalUs >= timing.dnsUs + timing.connectUs + timing.tlsUs + timing.firstByteUs + timing.bodyUs);
    QVERIFY(timing.storedText().startsWith(QLatin1String("dns=")));
    QVERIFY(timing.displayText().contains(QStringLiteral("加密握手")));

    // A refused connection still tells how far it came.
    try {
        HttpGet(QUrl(QStringLiteral("http://127.0.0.1:9/")), {}, {}, {});
        QFAIL("port 9 answered");
    } catch (const THttpFailure& failure) {
        QVERIFY(failure.timing.measured);
        QCOMPARE(failure.timing.tlsUs, 0);
        QCOMPARE(failure.timing.bodyUs, 0);
    }
}

QTEST_GUILESS_MAIN(TestTlsState)
#include "tst_tlsstate.moc"
