// Reading shop pages and keeping the Rival table: the page parser, the account decoding, and adding
// and deleting shops against a real database and shop pages served from 127.0.0.1.
#include "catalogue/MarketHosts.h"
#include "catalogue/ShopClient.h"
#include "catalogue/ShopPage.h"
#include "net/HttpEngine.h"
#include "store/DatabaseError.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringEncoder>
#include <QTest>

using namespace vantero;
using namespace vantero::test;

namespace {

QByteArray Gbk(const QString& text) {
    return QStringEncoder("GBK").encode(text);
}

QByteArray Page(const QByteArray& body, const QByteArray& head = {}) {
    return "<html><head>" + head +
           "</head><body>\r\n<a href=\"http://store.example/?ownerid=88123&amp;x=1\">o</a>\r\n" + body +
           "\r\n</body></html>";
}
QByteArray Viewed(const QByteArray& name) {
    return "<div id=\"J_shopViewed\" data-value='{\"name\":\"" + name +
           "\",\"id\":1,\"link\":\"http://shop1.taobao.com\"}'></div>";
}
QByteArray RateLink(const QByteArray& caption) {
    return "<a href=\"http://rate.taobao.com/user-rate-abc.htm\" target=\"_blank\">" + caption + "</a>";
}
QByteArray ShopInfo(const QByteArray& owner) {
    return "<div id=\"shop-info\"><span><a href=\"http://shop1.taobao.com\">" + owner +
           "</a></span><a href=\"http://rate.taobao.com/user-rate-abc.htm\"> </a></div>";
}
QByteArray MessageLink(const QByteArray& nick) {
    return "<a href=\"http://amos.example/msg.aw?v=2&uid=1&recipient_nickname=" + nick + "\" title=\"m\">m</a>";
}

struct TRivalRow {
    QString RivalWW, ShopURL, ShopName, ShopClass, ShopType;
};

QList<TRivalRow> RivalRows(const TTestDatabase& db) {
    TRecordSet rs(db.connection());
    rs.Reopen(kSelectRivalShops);
    QList<TRivalRow> rows;
    for (; !rs.Eof(); rs.Next())
        rows.append({rs.AsString(QStringLiteral("RivalWW")), rs.AsString(QStringLiteral("ShopURL")),
                     rs.AsString(QStringLiteral("ShopName")), rs.AsString(QStringLiteral("ShopClass")),
                     rs.AsString(QStringLiteral("ShopType"))});
    return rows;
}

} // namespace

class TestShopPage final : public QObject {
    Q_OBJECT

private:
    TTestHttpServer* server = nullptr;

    TAddRivalResult Add(TTestDatabase& db, const QString& address, TShopClient* client = nullptr) {
        TShopClient own;
        TRecordSet rivals(db.connection());
        rivals.Reopen(kSelectRivalShops);
        return AddRival(client ? *client : own, rivals, address);
    }

private slots:
    void initTestCase() {
        server = new TTestHttpServer;
        // The marketplace's host names reach the loopback server through it acting as the proxy.
        SetHttpProxy(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server->port())));
    }
    void cleanupTestCase() {
        SetHttpProxy(QUrl());
        delete server;
    }
    void init() { server->clearRequests(); }

    void readingTakesOwnerAndShopName_data() {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("shopName");
        QTest::addColumn<QString>("failure");
        const int read = int(TShopPageReading::Outcome::Read);
        const int noOwner = int(TShopPageReading::Outcome::NoOwnerId);
        const int badCode = int(TShopPageReading::Outcome::DecodeFailed);
        const QString none;

        QTest::newRow("the rating link comes first") << Page(Viewed(Gbk(u"甲的小店"_qs)) + RateLink(Gbk(u"店主甲"_qs)) +
                                                             ShopInfo(Gbk(u"别人"_qs)) + MessageLink("other"))
                                                     << QByteArray() << read << u"店主甲"_qs << u"甲的小店"_qs << none;
        QTest::newRow("line breaks and tabs inside markers are ignored")
            << Page("<a href=\"http://rate.taobao.com/user-\r\nrate-abc.htm\">\t" + Gbk(u"店主"_qs) + "\r\n" +
                    Gbk(u"乙"_qs) + "</\na>")
            << QByteArray() << read << u"店主乙"_qs << QString() << none;
        QTest::newRow("blank rating caption falls to the shop-information block")
            << Page(ShopInfo(Gbk(u"店主丙"_qs)) + MessageLink("other")) << QByteArray() << read << u"店主丙"_qs
            << QString() << none;
        QTest::newRow("neither falls to the message link")
            << Page(RateLink("  ") + MessageLink("ding")) << QByteArray() << read << u"ding"_qs << QString() << none;
        QTest::newRow("%20 and plus both decode to a blank")
            << Page(MessageLink("%D5%C5%20%C8%FD+x")) << QByteArray() << read << u"张 三 x"_qs << QString() << none;
        QTest::newRow("plus without a percent sign stays")
            << Page(MessageLink("a+b")) << QByteArray() << read << u"a+b"_qs << QString() << none;
        QTest::newRow("doubled percent is one percent")
            << Page(MessageLink("a%%b%41")) << QByteArray() << read << u"a%bA"_qs << QString() << none;
        QTest::newRow("utf-8 page by its meta tag")
            << Page(Viewed(u"小店"_qs.toUtf8()) + MessageLink("%E6%9D%8E%E5%9B%9B"), "<meta charset=\"utf-8\">")
            << QByteArray() << read << u"李四"_qs << u"小店"_qs << none;
        QTest::newRow("utf-8 page by its Content-Type header")
            << Page(RateLink(u"王五"_qs.toUtf8())) << QByteArray("text/html; charset=UTF-8") << read << u"王五"_qs
            << QString() << none;
        QTest::newRow("account and shop name are not trimmed")
            << Page(Viewed(" shop ") + RateLink(" ding ")) << QByteArray() << read << u" ding "_qs << u" shop "_qs
            << none;
        QTest::newRow("no owner anywhere gives an empty account")
            << Page(Viewed("s")) << QByteArray() << read << QString() << u"s"_qs << none;
        QTest::newRow("no J_shopViewed block gives an empty shop name")
            << Page(RateLink("ding")) << QByteArray() << read << u"ding"_qs << QString() << none;
        QTest::newRow("no ownerid refuses the page")
            << QByteArray("<html>" + RateLink("ding") + "</html>") << QByteArray() << noOwner << QString() << QString()
            << RivalTexts::PageFailed;
        QTest::newRow("blank ownerid refuses the page")
            << QByteArray("<a href=\"?ownerid= \t &x\">" + RateLink("ding")) << QByteArray() << noOwner << QString()
            << QString() << RivalTexts::PageFailed;
        QTest::newRow("bad percent sequence fails")
            << Page(MessageLink("ab%ZZ")) << QByteArray() << badCode << QString() << QString()
            << u"Invalid URL encoded character (%ZZ) at position 3"_qs;
        QTest::newRow("short percent sequence fails")
            << Page(MessageLink("abc%4")) << QByteArray() << badCode << QString() << QString()
            << u"Error decoding URL style (%XX) encoded string at position 4"_qs;
    }
    void readingTakesOwnerAndShopName() {
        QFETCH(QByteArray, page);
        QFETCH(QByteArray, contentType);
        QFETCH(int, outcome);
        QFETCH(QString, account);
        QFETCH(QString, shopName);
        QFETCH(QString, failure);
        const TShopPageReading reading = ReadShopPage(page, contentType);
        QCOMPARE(int(reading.outcome), outcome);
        QCOMPARE(reading.account, account);
        QCOMPARE(reading.shopName, shopName);
        QCOMPARE(reading.failure, failure);
    }

    void percentDecodingFollowsItsRules_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("error");
        QTest::newRow("plain") << QByteArray("abc") << true << QByteArray("abc") << QString();
        QTest::newRow("plus and %20") << QByteArray("a+b%20c") << true << QByteArray("a b c") << QString();
        QTest::newRow("both cases of hex digits") << QByteArray("%4a%4A") << true << QByteArray("JJ") << QString();
        QTest::newRow("multi-byte") << QByteArray("%D5%C5") << true << QByteArray("\xD5\xC5") << QString();
        QTest::newRow("doubled percent at the end") << QByteArray("100%%") << true << QByteArray("100%") << QString();
        QTest::newRow("percent at the end") << QByteArray("ab%") << false << QByteArray()
                                            << u"Error decoding URL style (%XX) encoded string at position 3"_qs;
        QTest::newRow("one digit at the end") << QByteArray("%4") << false << QByteArray()
                                              << u"Error decoding URL style (%XX) encoded string at position 1"_qs;
        QTest::newRow("after a doubled percent") << QByteArray("%%%") << false << QByteArray()
                                                 << u"Error decoding URL style (%XX) encoded string at position 3"_qs;
        QTest::newRow("one bad digit") << QByteArray("x%4G") << false << QByteArray()
                                       << u"Invalid URL encoded character (%4G) at position 2"_qs;
        QTest::newRow("bad digit first") << QByteArray("%G41") << false << QByteArray()
                                         << u"Invalid URL encoded character (%G4) at position 1"_qs;
        QTest::newRow("position counts the undecoded text") << QByteArray("%41%41%4x") << false << QByteArray()
                                                            << u"Invalid URL encoded character (%4x) at position 7"_qs;
    }
    void percentDecodingFollowsItsRules() {
        QFETCH(QByteArray, input);
        QFETCH(bool, ok);
        QFETCH(QByteArray, output);
        QFETCH(QString, error);
        QByteArray decoded;
        QString message;
        QCOMPARE(PercentDecode(input, &decoded, &message), ok);
        QCOMPARE(message, error);
        if (ok)
            QCOMPARE(decoded, output);
    }

    void addressCheckIgnoresLetterCase_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("marketplace") << u"http://shop1.taobao.com/"_qs << true;
        QTest::newRow("capitals") << u"HTTP://SHOP1.TAOBAO.COM/"_qs << true;
        QTest::newRow("mall") << u"https://brand.tmall.com/shop"_qs << true;
        QTest::newRow("no scheme") << u"shop1.taobao.com"_qs << true;
        QTest::newRow("bare domain without the dot") << u"http://taobao.com/"_qs << false;
        QTest::newRow("another site") << u"http://www.example.com/shop"_qs << false;
        QTest::newRow("empty") << QString() << false;
    }
    void addressCheckIgnoresLetterCase() {
        QFETCH(QString, address);
        QFETCH(bool, accepted);
        QCOMPARE(IsShopAddress(address), accepted);
    }

    void addingStoresTheTrimmedAddressAsTyped() {
        TTestDatabase db;
        server->route(u"http://shop123.taobao.com/"_qs, Page(Viewed(Gbk(u"好店"_qs)) + RateLink(Gbk(u"店主"_qs))));
        const TAddRivalResult result = Add(db, u"  HTTP://SHOP123.TAOBAO.COM/ \t"_qs);
        QCOMPARE(int(result.outcome), int(TAddRivalResult::Outcome::Stored));
        QCOMPARE(result.message, u"添加对手店铺成功"_qs);
        QCOMPARE(server->requests(), QStringList{u"http://shop123.taobao.com/"_qs});
        const QList<TRivalRow> rows = RivalRows(db);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].RivalWW, u"店主"_qs);
        QCOMPARE(rows[0].ShopURL, u"HTTP://SHOP123.TAOBAO.COM/"_qs);
        QCOMPARE(rows[0].ShopName, u"好店"_qs);
        QCOMPARE(rows[0].ShopClass, u"淘宝"_qs);
        QCOMPARE(rows[0].ShopType, u"淘宝"_qs);
    }

    void mallShopIsStoredAsMarketplaceKind() {
        TTestDatabase db;
        server->route(u"http://brand.tmall.com/"_qs, Page(RateLink("mallowner")));
        QCOMPARE(int(Add(db, u"http://brand.tmall.com/"_qs).outcome), int(TAddRivalResult::Outcome::Stored));
        const QList<TRivalRow> rows = RivalRows(db);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].RivalWW, u"mallowner"_qs);
        QCOMPARE(rows[0].ShopType, u"淘宝"_qs);
        QCOMPARE(rows[0].ShopClass, u"淘宝"_qs);
    }

    void otherAddressIsRefusedWithoutDownload() {
        TTestDatabase db;
        server->route(u"http://www.example.com/shop"_qs, Page(RateLink("x")));
        const TAddRivalResult result = Add(db, u"http://www.example.com/shop"_qs);
        QCOMPARE(int(result.outcome), int(TAddRivalResult::Outcome::BadAddress));
        QCOMPARE(result.message, u"请输入淘宝店铺的地址，如：http://shop12345678.taobao.com/"_qs);
        QVERIFY(server->requests().isEmpty());
        QVERIFY(RivalRows(db).isEmpty());
    }

    void shopRequestCarriesTheClientHeaders() {
        TTestDatabase db;
        server->route(u"http://shop9.taobao.com/"_qs, Page(RateLink("h")));
        Add(db, u"http://shop9.taobao.com/"_qs);
        // Each header line ends in CR LF, the last one too.
        const QByteArray head = server->lastRequestHead(u"http://shop9.taobao.com/"_qs) + "\r\n";
        QVERIFY2(head.contains("\r\nAccept: text/html, */*\r\n"), head.constData());
        QVERIFY2(head.contains("\r\nContent-Type: text/html\r\n"), head.constData());
        QVERIFY2(head.contains("\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"), head.constData());
    }

    void cookiesStayWithTheClient() {
        TTestDatabase db;
        TTestResponse response;
        response.body = Page(RateLink("c"));
        response.headers << qMakePair(QByteArray("Set-Cookie"), QByteArray("sid=abc123; path=/"));
        server->route(u"http://shop8.taobao.com/"_qs, response);
        TShopClient client;
        Add(db, u"http://shop8.taobao.com/"_qs, &client);
        Add(db, u"http://shop8.taobao.com/"_qs, &client);
        QVERIFY(server->lastRequestHead(u"http://shop8.taobao.com/"_qs).contains("Cookie: sid=abc123"));
        // A new client (a new opening of the dialog) starts without them.
        Add(db, u"http://shop8.taobao.com/"_qs);
        QVERIFY(!server->lastRequestHead(u"http://shop8.taobao.com/"_qs).contains("Cookie:"));
    }

    void redirectsAreFollowedUpToFifteen_data() {
        QTest::addColumn<int>("hops");
        QTest::addColumn<bool>("stored");
        QTest::newRow("one") << 1 << true;
        QTest::newRow("fifteen") << 15 << true;
        QTest::newRow("sixteen") << 16 << false;
    }
    void redirectsAreFollowedUpToFifteen() {
        QFETCH(int, hops);
        QFETCH(bool, stored);
        TTestDatabase db;
        const QString base = u"http://shop7.taobao.com/r/"_qs;
        server->route(base + u"0"_qs, Page(RateLink("redirected")));
        for (int n = 1; n <= hops; ++n) {
            TTestResponse response;
            response.status = 302;
            response.headers << qMakePair(QByteArray("Location"), (base + QString::number(n - 1)).toUtf8());
            server->route(base + QString::number(n), response);
        }
        TShopClient client;
        TRecordSet rivals(db.connection());
        rivals.Reopen(kSelectRivalShops);
        const TAddRivalResult result = AddRival(client, rivals, base + QString::number(hops));
        QCOMPARE(result.outcome == TAddRivalResult::Outcome::Stored, stored);
        QCOMPARE(RivalRows(db).size(), stored ? 1 : 0);
        if (!stored)
            QVERIFY(result.message.startsWith(RivalTexts::DownloadFailed));
        // Following was on for the shop download only.
        QVERIFY(!client.HandleRedirects());
    }

    void failedDownloadStoresNothing_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("endless");
        QTest::addColumn<QString>("detail");
        QTest::newRow("not found") << 404 << false << u"404"_qs;
        QTest::newRow("server error") << 500 << false << u"500"_qs;
        QTest::newRow("time-out") << 200 << true << u"超时"_qs;
    }
    void failedDownloadStoresNothing() {
        QFETCH(int, status);
        QFETCH(bool, endless);
        QFETCH(QString, detail);
        TTestDatabase db;
        TTestResponse response;
        response.status = status;
        response.endless = endless;
        response.body = Page(RateLink("nobody"));
        server->route(u"http://shop6.taobao.com/"_qs, response);
        TShopClient client;
        client.SetTimeout(400);
        const TAddRivalResult result = Add(db, u"http://shop6.taobao.com/"_qs, &client);
        QCOMPARE(int(result.outcome), int(TAddRivalResult::Outcome::DownloadFailed));
        QVERIFY2(result.message.startsWith(u"读取店铺资料失败\r\n"_qs), qPrintable(result.message));
        QVERIFY2(result.message.contains(detail), qPrintable(result.message));
        QVERIFY(RivalRows(db).isEmpty());
    }

    void unreadablePageStoresNothing_data() {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("message");
        QTest::newRow("no ownerid") << QByteArray("<html>" + RateLink("x") + "</html>")
                                    << int(TAddRivalResult::Outcome::PageFailed) << u"读取网页失败，请重试"_qs;
        QTest::newRow("bad percent sequence")
            << Page(MessageLink("ab%ZZ")) << int(TAddRivalResult::Outcome::DecodeFailed)
            << u"Invalid URL encoded character (%ZZ) at position 3"_qs;
    }
    void unreadablePageStoresNothing() {
        QFETCH(QByteArray, page);
        QFETCH(int, outcome);
        QFETCH(QString, message);
        TTestDatabase db;
        server->route(u"http://shop5.taobao.com/"_qs, page);
        const TAddRivalResult result = Add(db, u"http://shop5.taobao.com/"_qs);
        QCOMPARE(int(result.outcome), outcome);
        QCOMPARE(result.message, message);
        QVERIFY(RivalRows(db).isEmpty());
    }

    void sameShopAddedTwiceIsListedTwice() {
        TTestDatabase db;
        server->route(u"http://shop4.taobao.com/"_qs, Page(RateLink("twice")));
        TShopClient client;
        TRecordSet rivals(db.connection());
        rivals.Reopen(kSelectRivalShops);
        AddRival(client, rivals, u"http://shop4.taobao.com/"_qs);
        AddRival(client, rivals, u"http://shop4.taobao.com/"_qs);
        QCOMPARE(rivals.RecordCount(), 2);
        QCOMPARE(rivals.RecNo(), 1); // the new row is current
        QCOMPARE(RivalRows(db).size(), 2);
    }

    void accountWithQuotesIsStoredAndDeletedIntact() {
        TTestDatabase db;
        server->route(u"http://shop3.taobao.com/"_qs, Page(RateLink("o'neil\"; drop table Items;--")));
        const TAddRivalResult result = Add(db, u"http://shop3.taobao.com/"_qs);
        QCOMPARE(int(result.outcome), int(TAddRivalResult::Outcome::Stored));
        const QString account = u"o'neil\"; drop table Items;--"_qs;
        QCOMPARE(RivalRows(db).value(0).RivalWW, account);
        db.exec(u"insert into RivalItems (RivalWW, LocalItemID) values (?, ?)"_qs, {account, u"1"_qs});
        TRecordSet rivals(db.connection());
        TRecordSet mappings(db.connection());
        rivals.Reopen(kSelectRivalShops);
        QCOMPARE(DeleteRival(mappings, rivals), account);
        QCOMPARE(db.value(u"select count(*) from RivalItems"_qs).toInt(), 0);
        QCOMPARE(db.value(u"select count(*) from Items"_qs).toInt(), 0);
        QVERIFY(RivalRows(db).isEmpty());
    }

    void refusedRowIsNotLeftHalfAdded() {
        TTestDatabase db;
        db.exec(u"create trigger refuse_rival before insert on Rival begin select raise(abort, 'row refused'); end"_qs);
        server->route(u"http://shop2.taobao.com/"_qs, Page(RateLink("refused")));
        TShopClient client;
        TRecordSet rivals(db.connection());
        rivals.Reopen(kSelectRivalShops);
        QVERIFY_THROWS_EXCEPTION(TDatabaseError, AddRival(client, rivals, u"http://shop2.taobao.com/"_qs));
        QCOMPARE(rivals.CurrentState(), TRecordSet::State::Browse);
        QCOMPARE(rivals.RecordCount(), 0);
        QVERIFY(RivalRows(db).isEmpty());
    }

    void deletingRemovesTheShopsMappingsForEveryItem() {
        TTestDatabase db;
        for (const QString& id : {u"1"_qs, u"2"_qs})
            db.exec(u"insert into Items (ItemID, ItemName) values (?, ?)"_qs, {id, id});
        db.exec(u"insert into Rival (RivalWW, ShopURL) values (?, ?), (?, ?)"_qs,
                {u" ShopA "_qs, u"http://a.taobao.com/"_qs, u"shopb"_qs, u"http://b.taobao.com/"_qs});
        db.exec(
            u"insert into RivalItems (RivalWW, LocalItemID) values ('shopa', '1'), ('SHOPA', '2'), ('shopb', '1')"_qs);
        TRecordSet rivals(db.connection());
        TRecordSet mappings(db.connection());
        rivals.Reopen(kSelectRivalShops);
        QCOMPARE(DeleteRival(mappings, rivals), u"ShopA"_qs);
        QCOMPARE(rivals.RecordCount(), 1);
        QCOMPARE(db.value(u"select count(*) from RivalItems where RivalWW='shopa'"_qs).toInt(), 0);
        QCOMPARE(db.value(u"select count(*) from RivalItems where RivalWW='shopb'"_qs).toInt(), 1);
        QCOMPARE(db.value(u"select count(*) from Items"_qs).toInt(), 2);
        const QList<TRivalRow> rows = RivalRows(db);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].RivalWW, u"shopb"_qs);
    }
    void commandLineAddsListsAndDeletesRivals() {
        const QString cli = QStringLiteral(VANTERO_CLI);
        TTestDatabase db;
        server->route(u"http://shop31.taobao.com/"_qs, Page(Viewed("Cli Shop") + RateLink("cliowner")));
        server->route(u"http://shop32.taobao.com/"_qs, Page(MessageLink("x%4")));
        const QStringList global = {u"--db"_qs, db.path(), u"--proxy"_qs,
                                    u"http://127.0.0.1:%1"_qs.arg(server->port())};
        struct TRun {
            int code;
            QString out, err;
        };
        auto run = [&](const QStringList& args) {
            QProcess process;
            process.start(cli, global + args);
            process.waitForFinished(60000);
            return TRun{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                        QString::fromUtf8(process.readAllStandardError())};
        };

        TRun added = run({u"add-rival"_qs, u" http://shop31.taobao.com/ "_qs});
        QCOMPARE(added.code, 0);
        QCOMPARE(added.err.trimmed(), u"添加对手店铺成功"_qs);
        QVERIFY(added.out.contains(u"RivalWW: cliowner"_qs));

        TRun refused = run({u"add-rival"_qs, u"http://www.example.com/"_qs});
        QCOMPARE(refused.code, 3);
        QCOMPARE(refused.err.trimmed(), u"请输入淘宝店铺的地址，如：http://shop12345678.taobao.com/"_qs);
        TRun badCode = run({u"add-rival"_qs, u"http://shop32.taobao.com/"_qs});
        QCOMPARE(badCode.code, 3);
        QCOMPARE(badCode.err.trimmed(), u"Error decoding URL style (%XX) encoded string at position 2"_qs);

        TRun listed = run({u"rivals"_qs, u"--json"_qs});
        QCOMPARE(listed.code, 0);
        const QJsonArray rows = QJsonDocument::fromJson(listed.out.toUtf8()).array();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].toObject().value(u"ShopName"_qs).toString(), u"Cli Shop"_qs);
        QCOMPARE(rows[0].toObject().value(u"ShopURL"_qs).toString(), u"http://shop31.taobao.com/"_qs);

        db.exec(u"insert into RivalItems (RivalWW, LocalItemID) values ('CLIOWNER', '1')"_qs);
        QCOMPARE(run({u"delete-rival"_qs, u"cliowner"_qs}).code, 2); // not without --yes
        QCOMPARE(db.value(u"select count(*) from Rival"_qs).toInt(), 1);
        QCOMPARE(run({u"delete-rival"_qs, u"nobody"_qs, u"--yes"_qs}).code, 3);
        QCOMPARE(run({u"delete-rival"_qs, u"cliowner"_qs, u"--yes"_qs}).code, 0);
        QCOMPARE(db.value(u"select count(*) from Rival"_qs).toInt(), 0);
        QCOMPARE(db.value(u"select count(*) from RivalItems"_qs).toInt(), 0);
    }
};

QTEST_GUILESS_MAIN(TestShopPage)
#include "tst_shoppage.moc"
