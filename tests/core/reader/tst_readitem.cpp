// The item reader against pages served on 127.0.0.1 and a real database file.
#include "net/HttpEngine.h"
#include "reader/UtReadItemThr.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"

#include <QPointer>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTest>

#include <memory>
#include <optional>

using namespace vantero;
using namespace vantero::test;

namespace {

// Stands in for a starter's window: records the result messages posted to it.
class TResultSink final : public QObject {
public:
    struct Message {
        unsigned msg;
        qintptr wparam;
        qintptr lparam;
    };
    TWindowHandle handle() const { return m_registration.handle(); }
    QList<Message> messages;

protected:
    void customEvent(QEvent* event) override {
        if (event->type() == TWindowMessageEvent::eventType()) {
            const auto* message = static_cast<TWindowMessageEvent*>(event);
            messages.append({message->Msg, message->WParam, message->LParam});
        }
    }

private:
    TWindowRegistration m_registration{this};
};

struct TPageFields {
    std::optional<QString> title = QStringLiteral("宝贝标题");
    std::optional<QString> seller = QStringLiteral("shopa");
    std::optional<QString> price = QStringLiteral("12.50");
    std::optional<QString> itemId = QStringLiteral("1001");
    std::optional<QString> sales30;
    std::optional<QString> salesTotal;
    QString head; // extra text inside <head>
};

// An item page as the marketplace writes it, in the given encoding.
QByteArray ItemPage(const TPageFields& f, const char* encoding = "GBK") {
    QString html = QStringLiteral("<html><head>") + f.head + QStringLiteral("</head><body>\n");
    auto input = [&](const char* name, const std::optional<QString>& value, bool blankBeforeQuote = false) {
        if (value)
            html += QStringLiteral("<input type=\"hidden\" name=\"%1\" value=%2\"%3\" />\n")
                        .arg(QLatin1String(name), blankBeforeQuote ? QStringLiteral(" ") : QString(), *value);
    };
    input("title", f.title);
    input("seller_nickname", f.seller);
    input("current_price", f.price, true);
    input("item_id_num", f.itemId);
    if (f.sales30)
        html += QStringLiteral("<li><span>30天售出：</span><em>%1</em>件</li>\n").arg(*f.sales30);
    if (f.salesTotal)
        html += QStringLiteral("<li><span>已 售 出：</span><em>%1</em>件</li>\n").arg(*f.salesTotal);
    html += QStringLiteral("<p>页面其余部分</p></body></html>\n");
    QStringEncoder encoder(encoding);
    return encoder(html);
}

// A page of exactly size bytes whose only field is the item id.
QByteArray SizedPage(int size) {
    QByteArray page = "<input type=\"hidden\" name=\"item_id_num\" value=\"77\" /><b class=tm-price>1</b>";
    page += QByteArray(size - page.size(), ' ');
    return page;
}

} // namespace

class TstReadItem final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TTestHttpServer> m_server;
    std::unique_ptr<TTestDatabase> m_db;
    std::unique_ptr<TResultSink> m_sink;
    int m_routeCounter = 0;

    // Serves page at a fresh path; returns its address.
    QString Serve(const TTestResponse& response) {
        const QString path = QStringLiteral("/item/%1").arg(++m_routeCounter);
        m_server->route(path, response);
        return m_server->url(path);
    }
    QString Serve(const QByteArray& page, const QByteArray& contentType = "text/html") {
        TTestResponse response;
        response.body = page;
        response.headers << qMakePair(QByteArray("Content-Type"), contentType);
        return Serve(response);
    }

    std::unique_ptr<TReadItem> NewReader(const QString& url, const QString& expectedSeller = QStringLiteral("shopa"),
                                         const QString& localItemId = {}) {
        auto reader = std::make_unique<TReadItem>(m_db->connection());
        reader->URL = url;
        reader->ExpectedSeller = expectedSeller;
        reader->LocalItemID = localItemId;
        reader->TargetWnd = m_sink->handle();
        reader->ResultMsg = WM_ADDITEM_RESULT;
        reader->Token = 4242;
        return reader;
    }

    // Runs the reader to its end and delivers its result message; the result code.
    int Run(TReadItem& reader) {
        reader.start();
        reader.wait();
        QCoreApplication::sendPostedEvents(m_sink.get());
        return reader.ResultCode;
    }

    int Read(const QString& url, const QString& expectedSeller = QStringLiteral("shopa"),
             const QString& localItemId = {}) {
        auto reader = NewReader(url, expectedSeller, localItemId);
        return Run(*reader);
    }

    int Count(const QString& table) const {
        return m_db->value(QStringLiteral("select count(*) from ") + table).toInt();
    }

private slots:
    void initTestCase() { m_server = std::make_unique<TTestHttpServer>(); }
    void init() {
        m_db = std::make_unique<TTestDatabase>();
        m_sink = std::make_unique<TResultSink>();
        TReadItem::SetDownloadLimits({});
    }
    void cleanup() {
        m_sink.reset();
        m_db.reset();
        TReadItem::SetDownloadLimits({});
    }
    void cleanupTestCase() { m_server.reset(); }

    // --- Page encodings ---

    void readsPageInItsEncoding_data() {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("head");
        QTest::newRow("undeclared is GBK") << QByteArray("GBK") << QByteArray("text/html") << QString();
        QTest::newRow("Content-Type gbk") << QByteArray("GBK") << QByteArray("text/html; charset=GBK") << QString();
        QTest::newRow("meta gb2312") << QByteArray("GBK") << QByteArray("text/html")
                                     << QStringLiteral("<meta http-equiv=\"Content-Type\" "
                                                       "content=\"text/html; charset=gb2312\" />");
        QTest::newRow("Content-Type utf-8")
            << QByteArray("UTF-8") << QByteArray("text/html;charset=utf-8") << QString();
        QTest::newRow("meta charset utf-8")
            << QByteArray("UTF-8") << QByteArray("text/html") << QStringLiteral("<meta charset=\"UTF-8\">");
        QTest::newRow("Content-Type wins over meta")
            << QByteArray("UTF-8") << QByteArray("text/html; charset=\"utf-8\"")
            << QStringLiteral("<meta charset=\"gbk\">");
    }
    void readsPageInItsEncoding() {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, contentType);
        QFETCH(QString, head);
        TPageFields fields;
        fields.title = QStringLiteral("纯棉T恤 夏季新款");
        fields.seller = QStringLiteral("小店掌柜");
        fields.sales30 = QStringLiteral("0");
        fields.salesTotal = QStringLiteral("35");
        fields.head = head;
        const QString url = Serve(ItemPage(fields, encoding.constData()), contentType);
        auto reader = NewReader(url, QStringLiteral("小店掌柜"));
        QCOMPARE(Run(*reader), int(TReadItem::rcAdded));
        QCOMPARE(reader->ItemName, QStringLiteral("纯棉T恤 夏季新款"));
        QCOMPARE(reader->SellerNick, QStringLiteral("小店掌柜"));
        QCOMPARE(reader->ItemID, QStringLiteral("1001"));
        QCOMPARE(reader->Price, 12.5);
        QCOMPARE(reader->SellCount, 35); // the Chinese sales markers matched too
        QVERIFY(reader->ErrorText.isEmpty());
        QCOMPARE(m_db->value(QStringLiteral("select ItemName from Items where ItemID='1001'")).toString(),
                 QStringLiteral("纯棉T恤 夏季新款"));
    }

    // --- Conversions ---

    void salesFigure_data() {
        QTest::addColumn<QString>("sales30");
        QTest::addColumn<QString>("salesTotal");
        QTest::addColumn<int>("expected");
        QTest::newRow("30-day 0 falls back to total") << QStringLiteral("0") << QStringLiteral("35") << 35;
        QTest::newRow("30-day figure wins") << QStringLiteral("12") << QStringLiteral("35") << 12;
        QTest::newRow("30-day missing") << QString() << QStringLiteral("35") << 35;
        QTest::newRow("30-day not a number") << QStringLiteral("很多") << QStringLiteral("8") << 8;
        QTest::newRow("thousands separator") << QStringLiteral("1,234") << QString() << 0;
        QTest::newRow("blanks around") << QStringLiteral(" 7 ") << QString() << 7;
        QTest::newRow("neither") << QString() << QString() << 0;
    }
    void salesFigure() {
        QFETCH(QString, sales30);
        QFETCH(QString, salesTotal);
        QFETCH(int, expected);
        TPageFields fields;
        if (!sales30.isNull())
            fields.sales30 = sales30;
        if (!salesTotal.isNull())
            fields.salesTotal = salesTotal;
        QCOMPARE(Read(Serve(ItemPage(fields))), int(TReadItem::rcAdded));
        QCOMPARE(m_db->value(QStringLiteral("select SellCount from Items")).toInt(), expected);
    }

    void salesConversion_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("digits") << QStringLiteral("42") << 42;
        QTest::newRow("signed") << QStringLiteral("-3") << -3;
        QTest::newRow("dollar hex") << QStringLiteral("$1A") << 26;
        QTest::newRow("0x hex") << QStringLiteral("0X1f") << 31;
        QTest::newRow("x hex") << QStringLiteral("xff") << 255;
        QTest::newRow("largest") << QStringLiteral("2147483647") << 2147483647;
        QTest::newRow("beyond 32 bits") << QStringLiteral("2147483648") << 0;
        QTest::newRow("thousands separator") << QStringLiteral("1,234") << 0;
        QTest::newRow("decimal") << QStringLiteral("3.5") << 0;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("full-width digits") << QStringLiteral("１２") << 0;
    }
    void salesConversion() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(TReadItem::ConvertSales(text), expected);
    }

    void priceConversion_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("decimal") << QStringLiteral("12.50") << 12.5;
        QTest::newRow("whole") << QStringLiteral("8") << 8.0;
        QTest::newRow("blanks around") << QStringLiteral(" 8.5 ") << 8.5;
        QTest::newRow("exponent") << QStringLiteral("1.5e2") << 150.0;
        QTest::newRow("leading point") << QStringLiteral(".5") << 0.5;
        QTest::newRow("signed") << QStringLiteral("-2") << -2.0;
        QTest::newRow("empty") << QString() << 0.0;
        QTest::newRow("thousands separator") << QStringLiteral("1,234.00") << 0.0;
        QTest::newRow("price range") << QStringLiteral("10.00 - 20.00") << 0.0;
        QTest::newRow("currency sign") << QStringLiteral("¥10") << 0.0;
        QTest::newRow("infinity") << QStringLiteral("inf") << 0.0;
        QTest::newRow("trailing point") << QStringLiteral("8.") << 8.0;
        QTest::newRow("point alone") << QStringLiteral(".") << 0.0;
        QTest::newRow("sign alone") << QStringLiteral("-") << 0.0;
        QTest::newRow("exponent without digits") << QStringLiteral("1e") << 0.0;
        QTest::newRow("blank inside") << QStringLiteral("1 2") << 0.0;
        QTest::newRow("tab before") << QStringLiteral("\t8") << 0.0;
        QTest::newRow("full-width digits") << QStringLiteral("１２") << 0.0;
        QTest::newRow("hexadecimal") << QStringLiteral("0x10") << 0.0;
        QTest::newRow("beyond double") << QStringLiteral("1e999") << 0.0;
    }
    void priceConversion() {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(TReadItem::ConvertPrice(text), expected);
    }

    void missingPriceIsAFailureThatStoresNothing() {
        TPageFields fields;
        fields.price.reset();
        auto reader = NewReader(Serve(ItemPage(fields)), QStringLiteral("shopa"));
        QCOMPARE(Run(*reader), int(TReadItem::rcFailed));
        QCOMPARE(reader->ErrorText, PageTexts::NoPrice);
        QCOMPARE(Count(QStringLiteral("Items")), 0);
    }

    // --- How pages arrive ---

    void chunkedPageIsReadWhole() {
        TPageFields fields;
        fields.head = QStringLiteral("<meta name=\"chunked\">");
        const QByteArray page = ItemPage(fields);
        QByteArray chunked;
        for (qsizetype at = 0; at < page.size(); at += 37) {
            const QByteArray piece = page.mid(at, 37);
            chunked += QByteArray::number(piece.size(), 16) + ";ext=1\r\n" + piece + "\r\n";
        }
        chunked += "0\r\n\r\n";
        TTestResponse response;
        response.body = chunked;
        response.headers << qMakePair(QByteArray("Transfer-Encoding"), QByteArray("chunked"));
        auto reader = NewReader(Serve(response));
        QCOMPARE(Run(*reader), int(TReadItem::rcAdded));
        QCOMPARE(reader->ItemName, QStringLiteral("宝贝标题"));
        QCOMPARE(reader->ItemID, QStringLiteral("1001"));
    }

    void pageThroughAnHttpProxyIsAskedByItsWholeAddress() {
        // The test server stands in for a proxy: it answers requests for full addresses.
        const QString address = QStringLiteral("http://item.taobao.com/item.htm?id=31");
        m_server->route(address, ItemPage(TPageFields{}));
        SetHttpProxy(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server->port())));
        const int code = Read(address);
        SetHttpProxy(QUrl());
        QCOMPARE(code, int(TReadItem::rcAdded));
        QCOMPARE(m_server->requestCount(address), 1);
        QVERIFY(m_server->lastRequestHead(address).contains("Host: item.taobao.com"));
        QCOMPARE(m_db->value(QStringLiteral("select URL from Items")).toString(), address);
    }

    void loopbackPagesAreNeverAskedOfTheProxy() {
        QTcpServer dead;
        QVERIFY(dead.listen(QHostAddress::LocalHost, 0));
        const quint16 deadPort = dead.serverPort();
        dead.close();
        SetHttpProxy(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(deadPort)));
        const QString url = Serve(ItemPage(TPageFields{}));
        const int code = Read(url);
        SetHttpProxy(QUrl());
        QCOMPARE(code, int(TReadItem::rcAdded));
    }

    void pageAtAnIpv6AddressIsRead() {
        TTestHttpServer server6{QHostAddress(QHostAddress::LocalHostIPv6)};
        if (!server6.listening())
            QSKIP("no IPv6 loopback on this machine");
        server6.route(QStringLiteral("/item6"), ItemPage(TPageFields{}));
        const QString url = server6.url(QStringLiteral("/item6"));
        QVERIFY(url.startsWith(QStringLiteral("http://[::1]:")));
        QCOMPARE(Read(url), int(TReadItem::rcAdded));
        // The Host header names the address in brackets, with its port.
        QVERIFY2(server6.lastRequestHead(QStringLiteral("/item6")).contains("Host: [::1]:"),
                 server6.lastRequestHead(QStringLiteral("/item6")).constData());
    }

    void pageAddressedByHostNameIsRead() {
        // The name is looked up; every address it has is tried in turn.
        QString url = Serve(ItemPage(TPageFields{}));
        url.replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
        QCOMPARE(Read(url), int(TReadItem::rcAdded));
    }

    // --- Size threshold and item id ---

    void pageOf100BytesIsNotParsed() {
        const QByteArray page = SizedPage(100);
        QCOMPARE(page.size(), 100);
        auto reader = NewReader(Serve(page), QString());
        QCOMPARE(Run(*reader), int(TReadItem::rcNoItem));
        QVERIFY(reader->ItemID.isEmpty());
        QVERIFY(reader->ErrorText.isEmpty());
        QCOMPARE(Count(QStringLiteral("Items")), 0);
    }

    void pageOf101BytesIsParsed() {
        const QByteArray page = SizedPage(101);
        QCOMPARE(page.size(), 101);
        auto reader = NewReader(Serve(page), QString()); // no seller on the page, none expected
        QCOMPARE(Run(*reader), int(TReadItem::rcAdded));
        QCOMPARE(reader->ItemID, QStringLiteral("77"));
        QCOMPARE(Count(QStringLiteral("Items")), 1);
    }

    void blankItemIdIsNoItemEvenWithWrongSeller() {
        TPageFields fields;
        fields.itemId = QStringLiteral("  \t ");
        fields.seller = QStringLiteral("somebody else");
        auto reader = NewReader(Serve(ItemPage(fields)));
        QCOMPARE(Run(*reader), int(TReadItem::rcNoItem));
        QVERIFY(reader->ErrorText.isEmpty());
        QCOMPARE(Count(QStringLiteral("Items")), 0);
    }

    // --- Seller check ---

    void sellerCheck_data() {
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("onPage");
        QTest::addColumn<bool>("matches");
        QTest::newRow("case and blanks ignored") << QStringLiteral(" ShopA ") << QStringLiteral("shopa") << true;
        QTest::newRow("blanks on the page") << QStringLiteral("shopa") << QStringLiteral("  SHOPA\t") << true;
        QTest::newRow("other seller") << QStringLiteral("ShopA") << QStringLiteral("ShopB") << false;
        QTest::newRow("inner blank counts") << QStringLiteral("Shop A") << QStringLiteral("ShopA") << false;
        QTest::newRow("Chinese exact") << QStringLiteral("小店掌柜") << QStringLiteral("小店掌柜") << true;
        QTest::newRow("Chinese differs") << QStringLiteral("小店掌柜") << QStringLiteral("小店掌櫃") << false;
        QTest::newRow("full-width letters keep case")
            << QStringLiteral("ＳｈｏｐＡ") << QStringLiteral("ｓｈｏｐａ") << false;
        QTest::newRow("empty matches empty") << QString() << QString() << true;
        QTest::newRow("empty matches no one else") << QString() << QStringLiteral("shopa") << false;
    }
    void sellerCheck() {
        QFETCH(QString, expected);
        QFETCH(QString, onPage);
        QFETCH(bool, matches);
        TPageFields fields;
        fields.seller = onPage;
        auto reader = NewReader(Serve(ItemPage(fields)), expected);
        const int code = Run(*reader);
        if (matches) {
            QCOMPARE(code, int(TReadItem::rcAdded));
            QVERIFY(reader->ErrorText.isEmpty());
            QCOMPARE(Count(QStringLiteral("Items")), 1);
        } else {
            QCOMPARE(code, int(TReadItem::rcWrongSeller));
            QCOMPARE(reader->ErrorText, QStringLiteral("卖家不匹配"));
            QCOMPARE(Count(QStringLiteral("Items")), 0);
        }
    }

    // --- Storing ---

    void readingTwiceUpdatesAndKeepsCustomName() {
        const QString url = Serve(ItemPage({}));
        QCOMPARE(Read(url), int(TReadItem::rcAdded));
        m_db->exec(QStringLiteral("update Items set CustomItemName=?, Price=1"), {QStringLiteral("我的叫法")});
        QCOMPARE(Read(url), int(TReadItem::rcUpdated));
        QCOMPARE(Count(QStringLiteral("Items")), 1);
        QCOMPARE(m_db->value(QStringLiteral("select CustomItemName from Items")).toString(),
                 QStringLiteral("我的叫法"));
        QCOMPARE(m_db->value(QStringLiteral("select Price from Items")).toDouble(), 12.5);
    }

    void ownRowIsFoundByPageItemId() {
        m_db->exec(
            QStringLiteral("insert into Items (ItemID, ItemName, URL) values ('1001', 'old', 'http://elsewhere/')"));
        const QString url = Serve(ItemPage({}));
        QCOMPARE(Read(QStringLiteral(" ") + url), int(TReadItem::rcUpdated));
        // The address is stored as it was given, blanks included.
        QCOMPARE(m_db->value(QStringLiteral("select URL from Items")).toString(), QStringLiteral(" ") + url);
        QCOMPARE(m_db->value(QStringLiteral("select ItemName from Items")).toString(), QStringLiteral("宝贝标题"));
    }

    void rivalReadingStoresSellerAsSpelled() {
        TPageFields fields;
        fields.seller = QStringLiteral("  ShopB ");
        fields.itemId = QStringLiteral("2002");
        fields.sales30 = QStringLiteral("9");
        const QString url = Serve(ItemPage(fields));
        QCOMPARE(Read(url, QStringLiteral("shopb"), QStringLiteral("1001")), int(TReadItem::rcAdded));
        QCOMPARE(Count(QStringLiteral("Items")), 0);
        QCOMPARE(m_db->value(QStringLiteral("select RivalWW from RivalItems")).toString(), QStringLiteral("  ShopB "));
        QCOMPARE(m_db->value(QStringLiteral("select LocalItemID from RivalItems")).toString(), QStringLiteral("1001"));
        QCOMPARE(m_db->value(QStringLiteral("select RivalItemID from RivalItems")).toString(), QStringLiteral("2002"));
        QCOMPARE(m_db->value(QStringLiteral("select SellCount from RivalItems")).toInt(), 9);
        QCOMPARE(m_db->value(QStringLiteral("select URL from RivalItems")).toString(), url);
        QVERIFY(!m_db->value(QStringLiteral("select LastUpdated from RivalItems")).toString().isEmpty());
    }

    void rivalItemUnderAnotherOwnItemMoves() {
        m_db->exec(QStringLiteral(
            "insert into RivalItems (RivalWW, LocalItemID, RivalItemID) values ('shopb', '500', '2002')"));
        TPageFields fields;
        fields.seller = QStringLiteral("shopb");
        fields.itemId = QStringLiteral("2002");
        QCOMPARE(Read(Serve(ItemPage(fields)), QStringLiteral("shopb"), QStringLiteral("1001")),
                 int(TReadItem::rcUpdated));
        QCOMPARE(Count(QStringLiteral("RivalItems")), 1);
        QCOMPARE(m_db->value(QStringLiteral("select LocalItemID from RivalItems")).toString(), QStringLiteral("1001"));
    }

    void pageValuesReachDatabaseAsValues() {
        TPageFields fields;
        fields.itemId = QStringLiteral("1' or '1'='1");
        fields.seller = QStringLiteral("o'brien");
        QCOMPARE(Read(Serve(ItemPage(fields)), QStringLiteral("O'Brien"), QStringLiteral("x'; drop table Items; --")),
                 int(TReadItem::rcAdded));
        QCOMPARE(m_db->value(QStringLiteral("select RivalItemID from RivalItems")).toString(),
                 QStringLiteral("1' or '1'='1"));
        QCOMPARE(Count(QStringLiteral("Items")), 0); // the table is still there
    }

    void storingFailureLeavesNoRow() {
        m_db->exec(QStringLiteral("create trigger refuse_items before insert on Items "
                                  "begin select raise(abort, 'no inserts today'); end"));
        auto reader = NewReader(Serve(ItemPage({})));
        QCOMPARE(Run(*reader), int(TReadItem::rcFailed));
        QVERIFY2(reader->ErrorText.contains(QStringLiteral("no inserts today")), qPrintable(reader->ErrorText));
        QCOMPARE(Count(QStringLiteral("Items")), 0);
        QCOMPARE(m_sink->messages.size(), 1);
        QCOMPARE(m_sink->messages[0].wparam, qintptr(TReadItem::rcFailed));
    }

    // --- Redirects ---

    void redirects_data() {
        QTest::addColumn<int>("hops");
        QTest::addColumn<int>("code");
        QTest::newRow("15 followed") << 15 << int(TReadItem::rcAdded);
        QTest::newRow("16 refused") << 16 << int(TReadItem::rcFailed);
    }
    void redirects() {
        QFETCH(int, hops);
        QFETCH(int, code);
        const QString name = QStringLiteral("r%1").arg(++m_routeCounter);
        m_server->route(QStringLiteral("/final/") + name, ItemPage({}));
        const QString start = m_server->redirectChain(name, hops, QStringLiteral("/final/") + name);
        auto reader = NewReader(start);
        QCOMPARE(Run(*reader), code);
        if (code == TReadItem::rcAdded) {
            // The address read is stored, not the one reached.
            QCOMPARE(m_db->value(QStringLiteral("select URL from Items")).toString(), start);
        } else {
            QVERIFY2(reader->ErrorText.contains(QStringLiteral("重定向")), qPrintable(reader->ErrorText));
            QCOMPARE(Count(QStringLiteral("Items")), 0);
        }
    }

    // --- Download failures: code 4, and the starter still hears of it ---

    void downloadFailure_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("HTTP 404") << 404;
        QTest::newRow("HTTP 500") << 500;
        QTest::newRow("nobody listening") << 0;
    }
    void downloadFailure() {
        QFETCH(int, kind);
        QString url;
        if (kind > 0) {
            TTestResponse response;
            response.status = kind;
            response.body = ItemPage({}); // an error page is not read, however it looks
            url = Serve(response);
        } else {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            url = QStringLiteral("http://127.0.0.1:%1/item").arg(probe.serverPort());
            probe.close();
        }
        auto reader = NewReader(url);
        QCOMPARE(Run(*reader), int(TReadItem::rcFailed));
        QVERIFY(!reader->ErrorText.isEmpty());
        if (kind > 0)
            QVERIFY2(reader->ErrorText.contains(QString::number(kind)), qPrintable(reader->ErrorText));
        else
            QVERIFY2(reader->ErrorText.contains(NetTexts::Refused), qPrintable(reader->ErrorText));
        QCOMPARE(Count(QStringLiteral("Items")), 0);
        QCOMPARE(m_sink->messages.size(), 1);
        QCOMPARE(m_sink->messages[0].msg, WM_ADDITEM_RESULT);
        QCOMPARE(m_sink->messages[0].wparam, qintptr(TReadItem::rcFailed));
        QCOMPARE(m_sink->messages[0].lparam, qintptr(4242));
        QVERIFY(reader->IsFinished());
    }

    void addressThatIsNotHttpMakesNoRequest_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty") << QString() << AddressTexts::Empty;
        QTest::newRow("blanks") << QStringLiteral("   ") << AddressTexts::Empty;
        QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1:%1/item") << NetTexts::BadAddress;
        QTest::newRow("file") << QStringLiteral("file:///etc/passwd") << NetTexts::BadAddress;
        QTest::newRow("no scheme") << QStringLiteral("127.0.0.1:%1/item") << NetTexts::BadAddress;
        QTest::newRow("no host") << QStringLiteral("http:///item")
                                 << AddressTexts::NoHost.arg(QStringLiteral("http:///item"));
    }
    void addressThatIsNotHttpMakesNoRequest() {
        QFETCH(QString, address);
        QFETCH(QString, reason);
        if (address.contains(QLatin1String("%1")))
            address = address.arg(m_server->port());
        m_server->route(QStringLiteral("/item"), ItemPage({}));
        m_server->clearRequests();
        auto reader = NewReader(address);
        QCOMPARE(Run(*reader), int(TReadItem::rcFailed));
        QCOMPARE(reader->ErrorText, reason);
        QVERIFY(m_server->requests().isEmpty());
        QCOMPARE(m_sink->messages.size(), 1);
    }

    void endlessSlowBodyTimesOut() {
        TReadItem::SetDownloadLimits({2000, 700, 16 * 1024 * 1024});
        TTestResponse response;
        response.endless = true;
        auto reader = NewReader(Serve(response));
        QCOMPARE(Run(*reader), int(TReadItem::rcFailed));
        QVERIFY2(reader->ErrorText.contains(QStringLiteral("超时")), qPrintable(reader->ErrorText));
    }

    void silentServerTimesOut() {
        TReadItem::SetDownloadLimits({500, 30000, 16 * 1024 * 1024});
        TTestResponse response;
        response.body = ItemPage({});
        response.delayMs = 3000;
        auto reader = NewReader(Serve(response));
        QCOMPARE(Run(*reader), int(TReadItem::rcFailed));
        QVERIFY2(reader->ErrorText.contains(QStringLiteral("超时")), qPrintable(reader->ErrorText));
    }

    void oversizedBodyIsRefused() {
        TReadItem::SetDownloadLimits({30000, 30000, 4096});
        TTestResponse response;
        response.generatedSize = 4097;
        auto reader = NewReader(Serve(response));
        QCOMPARE(Run(*reader), int(TReadItem::rcFailed));
        QVERIFY2(reader->ErrorText.contains(QStringLiteral("过大")), qPrintable(reader->ErrorText));
    }

    void bodyWithoutLengthIsCutAtTheLimit() {
        // No Content-Length: the limit is noticed while the body streams in.
        TReadItem::SetDownloadLimits({30000, 30000, 2});
        TTestResponse response;
        response.endless = true;
        auto reader = NewReader(Serve(response));
        QCOMPARE(Run(*reader), int(TReadItem::rcFailed));
        QVERIFY2(reader->ErrorText.contains(QStringLiteral("过大")), qPrintable(reader->ErrorText));
    }

    void bodyAtTheLimitIsRead() {
        QByteArray page = ItemPage({});
        TReadItem::SetDownloadLimits({30000, 30000, page.size()});
        QCOMPARE(Read(Serve(page)), int(TReadItem::rcAdded));
    }

    void stopAllEndsARunningReading() {
        TTestResponse response;
        response.endless = true;
        auto reader = NewReader(Serve(response));
        reader->start();
        QTRY_VERIFY_WITH_TIMEOUT(m_server->requests().contains(QStringLiteral("/item/%1").arg(m_routeCounter)), 60000);
        TReadItem::StopAll();
        QVERIFY(reader->isFinished());
        QCOMPARE(reader->ResultCode, int(TReadItem::rcFailed));
        QCOMPARE(reader->ErrorText, ReaderTexts::Stopped);
    }

    // --- The result message ---

    void resultGoesNowhereWithoutWindow() {
        auto reader = NewReader(Serve(ItemPage({})));
        {
            TResultSink gone;
            reader->TargetWnd = gone.handle();
        }
        QCOMPARE(Run(*reader), int(TReadItem::rcAdded));
        QVERIFY(reader->IsFinished());
        QVERIFY(m_sink->messages.isEmpty());
    }

    void readerWithFreeWhenDoneReleasesItself() {
        auto* reader = NewReader(Serve(ItemPage({}))).release();
        reader->FreeWhenDone = true;
        QPointer<TReadItem> watch(reader);
        reader->start();
        QTRY_VERIFY_WITH_TIMEOUT(watch.isNull(), 60000);
        QCOMPARE(m_sink->messages.size(), 1);
        QCOMPARE(m_sink->messages[0].wparam, qintptr(TReadItem::rcAdded));
        QCOMPARE(Count(QStringLiteral("Items")), 1);
    }

    void resultNames() {
        QCOMPARE(TReadItem::ResultName(0), QStringLiteral("rcUpdated"));
        QCOMPARE(TReadItem::ResultName(1), QStringLiteral("rcAdded"));
        QCOMPARE(TReadItem::ResultName(2), QStringLiteral("rcWrongSeller"));
        QCOMPARE(TReadItem::ResultName(3), QStringLiteral("rcNoItem"));
        QCOMPARE(TReadItem::ResultName(4), QStringLiteral("rcFailed"));
    }
};

QTEST_GUILESS_MAIN(TstReadItem)
#include "tst_readitem.moc"
