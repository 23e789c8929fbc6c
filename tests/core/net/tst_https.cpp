// Item pages over TLS: the engine speaks https, and never steps down to http.
#include "net/HttpEngine.h"
#include "reader/UtReadItemThr.h"
#include "support/TestDatabase.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QStringEncoder>
#include <QTest>
#include <QThread>

#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// A TLS server on 127.0.0.1 with a certificate made for that address, on a thread of its own;
// it answers every request with the same response.
class TTlsServer {
public:
    explicit TTlsServer(QByteArray response) {
        m_thread.start();
        m_context.moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            &m_context,
            [this, response] {
                m_server = new QSslServer;
                QSslConfiguration config = QSslConfiguration::defaultConfiguration();
                config.setLocalCertificate(
                    QSslCertificate(ReadFile(QStringLiteral(VANTERO_TEST_DATA "/loopback-cert.pem"))));
                config.setPrivateKey(
                    QSslKey(ReadFile(QStringLiteral(VANTERO_TEST_DATA "/loopback-key.pem")), QSsl::Rsa));
                config.setPeerVerifyMode(QSslSocket::VerifyNone);
                m_server->setSslConfiguration(config);
                m_server->listen(QHostAddress::LocalHost, 0);
                m_port = m_server->serverPort();
                QObject::connect(m_server, &QTcpServer::pendingConnectionAvailable, m_server, [this, response] {
                    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
                        // One request per connection: answer once its head is in.
                        auto head = std::make_shared<QByteArray>();
                        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, response, head] {
                            *head += socket->readAll();
                            if (head->contains("\r\n\r\n")) {
                                socket->write(response);
                                socket->disconnectFromHost();
                            }
                        });
                        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                    }
                });
            },
            Qt::BlockingQueuedConnection);
    }
    ~TTlsServer() {
        QMetaObject::invokeMethod(
            &m_context, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    quint16 port() const { return m_port; }

private:
    QThread m_thread;
    QObject m_context;
    QSslServer* m_server = nullptr;
    quint16 m_port = 0;
};

QByteArray Answer(const QByteArray& status, const QByteArray& extraHeaders, const QByteArray& body) {
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" +
           extraHeaders + "Connection: close\r\n\r\n" + body;
}

QByteArray Page() {
    QString html = QStringLiteral("<html><body>\n");
    html += QStringLiteral("<input type=\"hidden\" name=\"title\" value=\"加密页面的宝贝\" />\n");
    html += QStringLiteral("<input type=\"hidden\" name=\"seller_nickname\" value=\"shopa\" />\n");
    html += QStringLiteral("<input type=\"hidden\" name=\"current_price\" value= \"9.90\" />\n");
    html += QStringLiteral("<input type=\"hidden\" name=\"item_id_num\" value=\"5150\" />\n</body></html>\n");
    return html.toUtf8();
}

// Trusts the test certificate (and nothing else) while it lives.
class TTrustTestCertificate {
public:
    TTrustTestCertificate() { SetHttpCaFile(QStringLiteral(VANTERO_TEST_DATA "/loopback-cert.pem")); }
    ~TTrustTestCertificate() { SetHttpCaFile(QString()); }
};

} // namespace

class TestHttps : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void anHttpsPageIsReadAndStored();
    void aServerWithAnUntrustedCertificateIsAFailure();
    void aRedirectFromHttpsDownToHttpIsRefused();

private:
    int Read(const QString& url, TTestDatabase& db, QString* error = nullptr) {
        TReadItem reader(db.connection());
        reader.URL = url;
        reader.ExpectedSeller = QStringLiteral("shopa");
        reader.start();
        reader.wait();
        if (error)
            *error = reader.ErrorText;
        return reader.ResultCode;
    }
};

void TestHttps::initTestCase() {
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS support on this machine");
}

void TestHttps::anHttpsPageIsReadAndStored() {
    TTlsServer server(Answer("200 OK", {}, Page()));
    const TTrustTestCertificate trust;
    TTestDatabase db;
    QString error;
    const int code = Read(QStringLiteral("https://127.0.0.1:%1/item.htm?id=5150").arg(server.port()), db, &error);
    QVERIFY2(code == TReadItem::rcAdded, qPrintable(error));
    QCOMPARE(db.value(QStringLiteral("select ItemName from Items")).toString(), QStringLiteral("加密页面的宝贝"));
    QCOMPARE(db.value(QStringLiteral("select Price from Items")).toDouble(), 9.9);
}

void TestHttps::aServerWithAnUntrustedCertificateIsAFailure() {
    TTlsServer server(Answer("200 OK", {}, Page()));
    TTestDatabase db;
    QString error;
    QCOMPARE(Read(QStringLiteral("https://127.0.0.1:%1/item.htm").arg(server.port()), db, &error),
             int(TReadItem::rcFailed));
    QVERIFY(!error.isEmpty());
    QCOMPARE(db.value(QStringLiteral("select count(*) from Items")).toInt(), 0);
}

void TestHttps::aRedirectFromHttpsDownToHttpIsRefused() {
    TTlsServer server(Answer("302 Found", "Location: http://127.0.0.1:9/plain\r\n", {}));
    const TTrustTestCertificate trust;
    TTestDatabase db;
    QString error;
    const int code = Read(QStringLiteral("https://127.0.0.1:%1/item.htm").arg(server.port()), db, &error);
    QCOMPARE(code, int(TReadItem::rcFailed));
    QVERIFY2(error.contains(NetTexts::Insecure), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestHttps)
#include "tst_https.moc"
