// Readings that must never look true, through the item reader against pages served on 127.0.0.1
// and a real database file: a page without a price or with a price of 0 or less, a gone item, an
// error page at an item's address; each after a good reading, which stays. The seller check by
// shop name for pages that name no account.
#include "history/AlertStore.h"
#include "reader/PageFields.h"
#include "reader/ReadModes.h"
#include "reader/UtReadItemThr.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"

#include <QStringEncoder>
#include <QTest>

#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

const QString kOwnId = QStringLiteral("1001");
const QString kRivalId = QStringLiteral("2002");

// A page with the exact fields; price empty leaves its field out.
QByteArray ExactPage(const QString& id, const QString& seller, const QString& price, const QString& title,
                     const QString& extra = {}) {
    QString html = QStringLiteral("<html><head><title>%1-淘宝网</title></head><body>\n").arg(title);
    html += QStringLiteral("<input type=\"hidden\" name=\"title\" value=\"%1\" />\n").arg(title);
    html += QStringLiteral("<input type=\"hidden\" name=\"seller_nickname\" value=\"%1\" />\n").arg(seller);
    if (!price.isNull())
        html += QStringLiteral("<input type=\"hidden\" name=\"current_price\" value= \"%1\" />\n").arg(price);
    html += QStringLiteral("<input type=\"hidden\" name=\"item_id_num\" value=\"%1\" />\n").arg(id);
    html +=
        QStringLiteral("<li><span>30天售出：</span><em>12</em>件</li>\n") + extra + QStringLiteral("</body></html>\n");
    QStringEncoder gbk("GBK");
    return gbk(html);
}

} // namespace

class TstFalseReadings final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TTestHttpServer> m_server;
    std::unique_ptr<TTestDatabase> m_db;
    int m_counter = 0;

    std::unique_ptr<TReadItem> Read(const QString& url, const QString& seller, const QString& localItemId = {}) {
        auto reader = std::make_unique<TReadItem>(m_db->connection());
        reader->URL = url;
        reader->ExpectedSeller = seller;
        reader->LocalItemID = localItemId;
        reader->start();
        reader->wait();
        return reader;
    }

    QString NewPath() { return QStringLiteral("/item.htm?id=%1&n=%2").arg(kRivalId).arg(++m_counter); }

    // The own item and one rival's item, each read well once at its address; returns the rival's.
    QString StoreGoodReadings() {
        const QString own = QStringLiteral("/own.htm?id=%1&n=%2").arg(kOwnId).arg(++m_counter);
        m_server->route(own,
                        ExactPage(kOwnId, QStringLiteral("me"), QStringLiteral("50.00"), QStringLiteral("我的杯子")));
        if (Read(m_server->url(own), QStringLiteral("me"))->ResultCode != TReadItem::rcAdded)
            qFatal("own reading failed");
        const QString path = NewPath();
        m_server->route(
            path, ExactPage(kRivalId, QStringLiteral("rival"), QStringLiteral("45.00"), QStringLiteral("好杯子")));
        if (Read(m_server->url(path), QStringLiteral("rival"), kOwnId)->ResultCode != TReadItem::rcAdded)
            qFatal("rival reading failed");
        return path;
    }

    QVariantList RivalRow() const {
        const QString columns = QStringLiteral("ItemName, Price, SellCount, URL, LastUpdated, RivalWW");
        QVariantList row;
        for (const QString& column : columns.split(QStringLiteral(", ")))
            row << m_db->value(QStringLiteral("select %1 from RivalItems where RivalItemID=?").arg(column), {kRivalId});
        return row;
    }

    QString Outcome(const QString& column) const {
        return m_db
            ->value(QStringLiteral("select %1 from ReadingStatus where LocalItemID=? and RivalWW='rival'").arg(column),
                    {kOwnId})
            .toString();
    }

private slots:
    void initTestCase() { m_server = std::make_unique<TTestHttpServer>(); }
    void init() { m_db = std::make_unique<TTestDatabase>(); }
    void cleanup() { m_db.reset(); }
    void cleanupTestCase() { m_server.reset(); }

    // Each page that cannot be a good reading, at the address of a rival item read well before:
    // the reading fails with its reason (or is "no item"), the stored reading stays as it was, and
    // the page's outcome says so.
    void badPageKeepsTheLastGoodReading_data() {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        const QString title = QStringLiteral("好杯子");
        QTest::newRow("no price field") << ExactPage(kRivalId, QStringLiteral("rival"), QString(), title)
                                        << int(TReadItem::rcFailed) << PageTexts::NoPrice;
        QTest::newRow("a price that is no number")
            << ExactPage(kRivalId, QStringLiteral("rival"), QStringLiteral("面议"), title) << int(TReadItem::rcFailed)
            << PageTexts::NoPrice;
        QTest::newRow("price 0") << ExactPage(kRivalId, QStringLiteral("rival"), QStringLiteral("0.00"), title)
                                 << int(TReadItem::rcFailed) << PageTexts::InvalidPrice;
        QTest::newRow("negative price") << ExactPage(kRivalId, QStringLiteral("rival"), QStringLiteral("-3"), title)
                                        << int(TReadItem::rcFailed) << PageTexts::InvalidPrice;
        QTest::newRow("gone, with its old fields still there")
            << ExactPage(kRivalId, QStringLiteral("rival"), QStringLiteral("45.00"), title,
                         QStringLiteral("<div class=\"sold-out\">此宝贝已下架</div>"))
            << int(TReadItem::rcFailed) << PageTexts::Gone;
        QStringEncoder gbk("GBK");
        QTest::newRow("gone, a page of its own")
            << QByteArray(gbk(QStringLiteral("<html><head><title>淘宝网 - 宝贝不存在</title></head><body><div>很抱歉，"
                                             "您查看的宝贝不存在，可能已下架或者被转移。</div></body></html>")))
            << int(TReadItem::rcFailed) << PageTexts::Gone;
        QTest::newRow("an error page without id")
            << QByteArray(gbk(QStringLiteral("<html><head><title>出错啦</title></head><body><div>服务器忙，请稍后再试。"
                                             "这里没有任何宝贝的信息。</div></body></html>")))
            << int(TReadItem::rcNoItem) << QString();
    }
    void badPageKeepsTheLastGoodReading() {
        QFETCH(QByteArray, page);
        QFETCH(int, code);
        QFETCH(QString, text);
        const QString path = StoreGoodReadings();
        const QVariantList before = RivalRow();
        m_server->route(path, page);
        auto reader = Read(m_server->url(path), QStringLiteral("rival"), kOwnId);
        QCOMPARE(reader->ResultCode, code);
        QCOMPARE(reader->ErrorText, text);
        QCOMPARE(RivalRow(), before);
        QCOMPARE(m_db->value(QStringLiteral("select count(*) from RivalItems")).toInt(), 1);
        QCOMPARE(Outcome(QStringLiteral("LastCode")).toInt(), code);
        QCOMPARE(Outcome(QStringLiteral("LastText")), text);
        QCOMPARE(Outcome(QStringLiteral("FailedInRow")).toInt(), 1);
        // The history keeps the good reading only.
        QCOMPARE(m_db->value(QStringLiteral("select count(*) from PriceHistory where RivalWW='rival'")).toInt(), 1);
    }

    void ownPageWithoutPriceKeepsTheOwnReading() {
        StoreGoodReadings();
        const QString own = QStringLiteral("/own-again.htm?id=%1").arg(kOwnId);
        m_server->route(own, ExactPage(kOwnId, QStringLiteral("me"), QString(), QStringLiteral("改过的标题")));
        auto reader = Read(m_server->url(own), QStringLiteral("me"));
        QCOMPARE(reader->ResultCode, int(TReadItem::rcFailed));
        QCOMPARE(reader->ErrorText, PageTexts::NoPrice);
        QCOMPARE(m_db->value(QStringLiteral("select Price from Items where ItemID=?"), {kOwnId}).toDouble(), 50.0);
        QCOMPARE(m_db->value(QStringLiteral("select ItemName from Items where ItemID=?"), {kOwnId}).toString(),
                 QStringLiteral("我的杯子"));
        QCOMPARE(m_db->value(QStringLiteral("select LastText from ReadingStatus where LocalItemID=? and RivalWW=''"),
                             {kOwnId})
                     .toString(),
                 PageTexts::NoPrice);
    }

    void goneRivalItemIsAlertedOnce() {
        const QString path = StoreGoodReadings();
        CheckAlerts(m_db->connection()); // the first readings alert nothing
        QStringEncoder gbk("GBK");
        m_server->route(path, QByteArray(gbk(QStringLiteral("<html><body><script>var d = {itemDO: {itemId: '2002'}, "
                                                            "detail: {isDownShelf: true}};</script><p>宝贝页面，"
                                                            "足够长的一段正文。</p></body></html>"))));
        for (int round = 0; round < 2; ++round) {
            auto reader = Read(m_server->url(path), QStringLiteral("rival"), kOwnId);
            QCOMPARE(reader->ErrorText, PageTexts::Gone);
            const QList<TAlert> alerts = CheckAlerts(m_db->connection());
            QCOMPARE(alerts.size(), round == 0 ? 1 : 0);
            if (round == 0) {
                QCOMPARE(alerts.first().kind, TAlertKind::RivalItemGone);
                QCOMPARE(alerts.first().rivalWW, QStringLiteral("rival"));
                QCOMPARE(alerts.first().oldPrice, std::optional<double>(45.0));
                QCOMPARE(AlertTexts::KindName(alerts.first().kind), QStringLiteral("同行宝贝已下架"));
            }
        }
        QCOMPARE(RivalRow().at(1).toDouble(), 45.0);
    }

    void goneWithoutAGoodReadingIsNotAlerted() {
        StoreGoodReadings();
        CheckAlerts(m_db->connection());
        QStringEncoder gbk("GBK");
        const QString path = QStringLiteral("/never-read.htm?id=3003");
        m_server->route(
            path, QByteArray(gbk(QStringLiteral("<html><head><title>淘宝网</title></head><body><div>很抱歉，"
                                                "您查看的宝贝不存在，可能已下架或者被转移。</div></body></html>"))));
        QCOMPARE(Read(m_server->url(path), QStringLiteral("other"), kOwnId)->ErrorText, PageTexts::Gone);
        QCOMPARE(CheckAlerts(m_db->connection()).size(), 0);
    }

    // A page that names only its shop: the shop name stored for the expected seller decides.
    void shopNameDecidesWhenThePageNamesNoAccount_data() {
        QTest::addColumn<QString>("storedShop");
        QTest::addColumn<QString>("pageShop");
        QTest::addColumn<int>("code");
        QTest::newRow("same name") << QStringLiteral("杯子旗舰店") << QStringLiteral("杯子旗舰店")
                                   << int(TReadItem::rcAdded);
        QTest::newRow("blanks around") << QStringLiteral(" 杯子旗舰店 ") << QStringLiteral("杯子旗舰店 ")
                                       << int(TReadItem::rcAdded);
        QTest::newRow("another shop") << QStringLiteral("杯子旗舰店") << QStringLiteral("别家旗舰店")
                                      << int(TReadItem::rcWrongSeller);
        QTest::newRow("no stored name never matches")
            << QString() << QStringLiteral("杯子旗舰店") << int(TReadItem::rcWrongSeller);
    }
    void shopNameDecidesWhenThePageNamesNoAccount() {
        QFETCH(QString, storedShop);
        QFETCH(QString, pageShop);
        QFETCH(int, code);
        StoreGoodReadings();
        m_db->exec(QStringLiteral("insert into Rival (RivalWW, ShopURL, ShopName, ShopClass, ShopType) "
                                  "values ('Cups', 'http://cups.example.test/', ?, '', '')"),
                   {storedShop});
        const QString path = QStringLiteral("/shop-only.htm?id=4004&n=%1").arg(++m_counter);
        const QString page =
            QStringLiteral("<html><body><script>window.__ICE_APP_CONTEXT__ = {\"res\": {\"item\": {\"itemId\": "
                           "\"4004\", \"title\": \"新杯子\"}, \"seller\": {\"shopName\": \"%1\"}, \"price\": "
                           "{\"price\": {\"priceText\": \"39.00\"}}}};</script></body></html>")
                .arg(pageShop);
        m_server->route(path, page.toUtf8(), "text/html; charset=utf-8");
        auto reader = Read(m_server->url(path), QStringLiteral("cups"), kOwnId);
        QCOMPARE(reader->ResultCode, code);
        QCOMPARE(reader->SellerByShopName, code == TReadItem::rcAdded);
        if (code == TReadItem::rcAdded) {
            // The row keys on the expected account, as every reading of this rival does.
            QCOMPARE(m_db->value(QStringLiteral("select RivalWW from RivalItems where RivalItemID='4004'")).toString(),
                     QStringLiteral("cups"));
            QCOMPARE(m_db->value(QStringLiteral("select Price from RivalItems where RivalItemID='4004'")).toDouble(),
                     39.0);
        } else {
            QCOMPARE(m_db->value(QStringLiteral("select count(*) from RivalItems where RivalItemID='4004'")).toInt(),
                     0);
        }
    }

    void ownShopNameDecidesForOwnPages() {
        const QString path = QStringLiteral("/own-shop.htm?id=5005");
        m_server->route(
            path,
            QStringLiteral("<html><body><script>var d = {item: {itemId: '5005', title: '我的台灯'}, seller: "
                           "{shopName: '我的灯具店'}, price: {price: {priceText: '88.00'}}};</script></body>"
                           "</html>")
                .toUtf8(),
            "text/html; charset=utf-8");
        QCOMPARE(Read(m_server->url(path), QStringLiteral("me"))->ResultCode, int(TReadItem::rcWrongSeller));
        SetOwnShopName(m_db->connection(), QStringLiteral("我的灯具店"));
        auto reader = Read(m_server->url(path), QStringLiteral("me"));
        QCOMPARE(reader->ResultCode, int(TReadItem::rcAdded));
        QCOMPARE(reader->SellerNick, QStringLiteral("me"));
        QCOMPARE(m_db->value(QStringLiteral("select Price from Items where ItemID='5005'")).toDouble(), 88.0);
    }
};

QTEST_GUILESS_MAIN(TstFalseReadings)
#include "tst_falsereadings.moc"
