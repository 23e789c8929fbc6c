// The HTTP engine itself against loopback servers: compressed answers, the address after
// redirects, answers that are not followed, and the item reader on a compressed page.
#include "net/HttpEngine.h"
#include "reader/UtReadItemThr.h"
#include "support/Compression.h"
#include "support/RawTestServer.h"
#include "support/TestDatabase.h"

#include <QTest>

#include <mutex>

using namespace vantero;
using namespace vantero::test;

namespace {

QByteArray Page() {
    QByteArray page = "<html><body>\n<input type=\"hidden\" name=\"title\" value=\"compressed\" />\n"
                      "<input type=\"hidden\" name=\"seller_nickname\" value=\"shopa\" />\n"
                      "<input type=\"hidden\" name=\"current_price\" value= \"8.00\" />\n"
                      "<input type=\"hidden\" name=\"item_id_num\" value=\"8080\" />\n";
    page += QByteArray("<p>filler filler filler</p>\n").repeated(2000);
    return page + "</body></html>\n";
}

// Answers with the page compressed in the given encoding (gzip or br) when the request accepts
// it, plain otherwise; keeps the heads.
class TCompressingServer {
public:
    explicit TCompressingServer(const QByteArray& encoding = "gzip")
        : m_server([this, encoding](TRawConnection& c) {
              const QByteArray head = c.readRequest();
              {
                  std::lock_guard lock(m_mutex);
                  m_heads << head;
              }
              const QByteArray lower = head.toLower();
              const qsizetype accept = lower.indexOf("\r\naccept-encoding:");
              const bool compress =
                  accept >= 0 && lower.mid(accept, lower.indexOf("\r\n", accept + 2) - accept).contains(encoding);
              const QByteArray body = !compress ? Page() : encoding == "br" ? Brotli(Page()) : Gzip(Page());
              c.send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n" +
                     (compress ? "Content-Encoding: " + encoding + "\r\n" : QByteArray()) +
                     "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
          }) {}
    QString url() const { return m_server.url(QStringLiteral("/item.htm")); }
    QByteArray lastHead() {
        std::lock_guard lock(m_mutex);
        return m_heads.value(m_heads.size() - 1);
    }

private:
    std::mutex m_mutex;
    QList<QByteArray> m_heads;
    TRawTestServer m_server;
};

} // namespace

class TestHttpEngine final : public QObject {
    Q_OBJECT

private slots:
    void compressedAnswersAreAskedForAndDecoded() {
        if (!HttpDecodedEncodings().contains("gzip"))
            QSKIP("this libcurl decodes no gzip");
        TCompressingServer server;
        THttpRequest request;
        request.url = QUrl(server.url());
        const THttpResponse response = HttpGet(request);
        QVERIFY(server.lastHead().contains("\r\nAccept-Encoding: " + HttpDecodedEncodings() + "\r\n"));
        QCOMPARE(response.body, Page());
        QVERIFY2(response.wireBytes * 5 < response.body.size(), qPrintable(QString::number(response.wireBytes)));
    }

    void brotliAnswersAreDecodedWhereTheLibraryCan() {
        if (!HttpDecodedEncodings().contains("br"))
            QSKIP("this libcurl decodes no brotli");
        TCompressingServer server("br");
        THttpRequest request;
        request.url = QUrl(server.url());
        const THttpResponse response = HttpGet(request);
        QVERIFY(server.lastHead().contains(", br\r\n"));
        QCOMPARE(response.body, Page());
        QVERIFY2(response.wireBytes * 5 < response.body.size(), qPrintable(QString::number(response.wireBytes)));
    }

    void withoutCompressionThePageTravelsPlain() {
        TCompressingServer server;
        THttpRequest request;
        request.url = QUrl(server.url());
        request.compressed = false;
        const THttpResponse response = HttpGet(request);
        QVERIFY(!server.lastHead().toLower().contains("accept-encoding"));
        QCOMPARE(response.body, Page());
        QCOMPARE(response.wireBytes, qint64(Page().size()));
    }

    void aCompressedItemPageIsReadAndStored() {
        TCompressingServer server;
        TTestDatabase db;
        TReadItem reader(db.connection());
        reader.URL = server.url();
        reader.ExpectedSeller = QStringLiteral("shopa");
        reader.start();
        reader.wait();
        QVERIFY2(reader.ResultCode == TReadItem::rcAdded, qPrintable(reader.ErrorText));
        QCOMPARE(db.value(QStringLiteral("select ItemName from Items")).toString(), QStringLiteral("compressed"));
    }

    void theResponseNamesTheAddressReachedAfterRedirects() {
        TRawTestServer server([](TRawConnection& c) {
            const QByteArray head = c.readRequest();
            if (head.startsWith("GET /start "))
                c.send("HTTP/1.1 301 Moved\r\nLocation: /middle?x=1\r\nContent-Length: 0\r\n\r\n");
            else if (head.startsWith("GET /middle?x=1 "))
                c.send("HTTP/1.1 302 Found\r\nLocation: /end\r\nContent-Length: 0\r\n\r\n");
            else
                c.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        });
        THttpRequest request;
        request.url = QUrl(server.url(QStringLiteral("/start")));
        const THttpResponse response = HttpGet(request);
        QCOMPARE(response.body, QByteArray("ok"));
        QCOMPARE(response.finalUrl, QUrl(server.url(QStringLiteral("/end"))));
    }

    void aRedirectNotFollowedIsAFailureWithItsStatus() {
        TRawTestServer server([](TRawConnection& c) {
            c.readRequest();
            c.send("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n");
        });
        THttpRequest request;
        request.url = QUrl(server.url(QStringLiteral("/")));
        request.followRedirects = false;
        try {
            HttpGet(request);
            QFAIL("a redirect not followed was taken as the page");
        } catch (const THttpFailure& failure) {
            QCOMPARE(failure.status, 302);
            QCOMPARE(failure.reason, QByteArray("Found"));
        }
    }

    void onlyWebAddressesAreAsked_data() {
        QTest::addColumn<QString>("address");
        QTest::newRow("file") << QStringLiteral("file:///etc/passwd");
        QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/");
        QTest::newRow("no host") << QStringLiteral("http:///item.htm");
    }
    void onlyWebAddressesAreAsked() {
        QFETCH(QString, address);
        THttpRequest request;
        request.url = QUrl(address);
        QVERIFY_THROWS_EXCEPTION(THttpFailure, HttpGet(request));
    }
};

QTEST_GUILESS_MAIN(TestHttpEngine)
#include "tst_httpengine.moc"
