// Real item page layouts read end to end: the item reader and vantero-cli against pages served on
// 127.0.0.1, stored in a real database file; login and block pages; mislabelled charsets.
#include "catalogue/MarketHosts.h"
#include "catalogue/ShopPage.h"
#include "reader/UtReadItemThr.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringEncoder>
#include <QTest>

#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

QByteArray Excerpt(const QString& name) {
    QFile file(QStringLiteral(VANTERO_TEST_DATA "/pages/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test page %s", qPrintable(name));
    return file.readAll();
}

const QString kTbTitle = QStringLiteral("AMZ小贝同款头盔镜片哈雷三扣式带框架复古风镜飞行盔多色泡泡镜");
const QString kTbSeller = QStringLiteral("amz品牌工作室");
const QString kTmTitle = QStringLiteral("音格格手卷电子钢琴便携式88键初学者成人家用键盘专业加厚版入门");
const QString kTmSeller = QStringLiteral("音格格旗舰店");
const QString kAmhTitle = QStringLiteral("AMH男装韩版2015秋装新款修身水洗微弹牛仔裤长裤NZ2508燊");
const QString kAmhSeller = QStringLiteral("amh官方旗舰店");

// A UTF-8 page as the marketplace served it: GBK bytes (GB18030 for the odd character GBK lacks).
QByteArray AsGbk(const QByteArray& utf8) {
    QStringEncoder gbk("GB18030");
    return gbk(QString::fromUtf8(utf8));
}

} // namespace

class TstRealPages final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TTestHttpServer> m_server;
    std::unique_ptr<TTestDatabase> m_db;
    int m_routeCounter = 0;

    void ServeExcerpts() {
        const struct {
            const char* path;
            const char* file;
            QByteArray contentType;
        } pages[] = {
            {"/tb/gbk/item.htm?id=45383717461", "tb2017-item-45383717461.excerpt.gbk.html", "text/html"},
            {"/tb/utf8/item.htm?id=45383717461", "tb2017-item-45383717461.excerpt.html", "text/html; charset=utf-8"},
            // The UTF-8 copy still says <meta charset="gbk">: its bytes say otherwise.
            {"/tb/utf8meta/item.htm?id=45383717461", "tb2017-item-45383717461.excerpt.html", "text/html"},
            {"/tm/gbk/item.htm?id=541636851254", "tmall2018-item-541636851254.excerpt.gbk.html", "text/html"},
            {"/tm/utf8/item.htm?id=541636851254", "tmall2018-item-541636851254.excerpt.html",
             "text/html;charset=UTF-8"},
            // Whole pages: UTF-8 under a gbk meta as saved.
            {"/tm2015/item.htm?id=18959526273", "tmall2015-item-18959526273.html", "text/html"},
            {"/tmm2015/item.htm?id=18959526273", "tmallm2015-item-18959526273.html", "text/html"},
            // Walls: no item, whatever the address says.
            {"/x5/item.htm?id=18959526273", "x5block-worldtmall-shop.fragment.html", "text/html"},
            {"/pw/item.htm?id=18959526273", "tb2020-pwframe.modified.html", "text/html"},
        };
        for (const auto& page : pages)
            m_server->route(QString::fromLatin1(page.path), Excerpt(QString::fromLatin1(page.file)), page.contentType);
        // The whole pages again as the marketplace sent them: GBK bytes.
        m_server->route(QStringLiteral("/tm2015gbk/item.htm?id=18959526273"),
                        AsGbk(Excerpt(QStringLiteral("tmall2015-item-18959526273.html"))), "text/html; charset=gbk");
        m_server->route(QStringLiteral("/tmm2015gbk/item.htm?id=18959526273"),
                        AsGbk(Excerpt(QStringLiteral("tmallm2015-item-18959526273.html"))), "text/html; charset=gbk");
    }

    std::unique_ptr<TReadItem> Read(const QString& url, const QString& seller) {
        auto reader = std::make_unique<TReadItem>(m_db->connection());
        reader->URL = url;
        reader->ExpectedSeller = seller;
        reader->start();
        reader->wait();
        return reader;
    }

    int Count(const QString& table) const {
        return m_db->value(QStringLiteral("select count(*) from ") + table).toInt();
    }

    static QString CliPath() {
        const QFileInfo info(QStringLiteral(VANTERO_CLI));
        return info.exists() ? info.absoluteFilePath() : QString();
    }

    int RunCli(const QStringList& args, QByteArray* out) const {
        QProcess process;
        process.start(CliPath(), QStringList{QStringLiteral("--db"), m_db->path()} + args);
        if (!process.waitForFinished(60000))
            return -1;
        *out = process.readAllStandardOutput();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    static QString Line(const QByteArray& out, const QString& name) {
        for (const QString& line : QString::fromUtf8(out).split(u'\n')) {
            if (line.startsWith(name + QStringLiteral(": ")))
                return line.mid(name.size() + 2);
        }
        return QStringLiteral("(no line %1)").arg(name);
    }

private slots:
    void initTestCase() {
        m_server = std::make_unique<TTestHttpServer>();
        ServeExcerpts();
    }
    void init() { m_db = std::make_unique<TTestDatabase>(); }
    void cleanup() { m_db.reset(); }
    void cleanupTestCase() { m_server.reset(); }

    void realPagesReadAndStored_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("itemId");
        QTest::addColumn<double>("price");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("seller");
        QTest::addColumn<int>("sales");
        const QString tb = QStringLiteral("45383717461");
        const QString amh = QStringLiteral("18959526273");
        QTest::newRow("2017 GBK") << QStringLiteral("/tb/gbk/item.htm?id=45383717461") << tb << 75.0 << kTbTitle
                                  << kTbSeller << 0;
        QTest::newRow("2017 UTF-8") << QStringLiteral("/tb/utf8/item.htm?id=45383717461") << tb << 75.0 << kTbTitle
                                    << kTbSeller << 0;
        QTest::newRow("2017 UTF-8 under a gbk meta")
            << QStringLiteral("/tb/utf8meta/item.htm?id=45383717461") << tb << 75.0 << kTbTitle << kTbSeller << 0;
        QTest::newRow("2015 mall desktop, UTF-8")
            << QStringLiteral("/tm2015/item.htm?id=18959526273") << amh << 298.0 << kAmhTitle << kAmhSeller << 0;
        QTest::newRow("2015 mall desktop, GBK")
            << QStringLiteral("/tm2015gbk/item.htm?id=18959526273") << amh << 298.0 << kAmhTitle << kAmhSeller << 0;
        QTest::newRow("2015 mall mobile, UTF-8")
            << QStringLiteral("/tmm2015/item.htm?id=18959526273") << amh << 298.0 << kAmhTitle << kAmhSeller << 2247;
        QTest::newRow("2015 mall mobile, GBK")
            << QStringLiteral("/tmm2015gbk/item.htm?id=18959526273") << amh << 298.0 << kAmhTitle << kAmhSeller << 2247;
    }
    void realPagesReadAndStored() {
        QFETCH(QString, path);
        QFETCH(QString, itemId);
        QFETCH(double, price);
        QFETCH(QString, title);
        QFETCH(QString, seller);
        QFETCH(int, sales);
        auto reader = Read(m_server->url(path), seller);
        QCOMPARE(reader->ErrorText, QString());
        QCOMPARE(reader->ResultCode, int(TReadItem::rcAdded));
        QCOMPARE(reader->ItemID, itemId);
        QCOMPARE(reader->Price, price);
        QCOMPARE(reader->ItemName, title);
        QCOMPARE(reader->SellerNick, seller);
        QCOMPARE(reader->SellCount, sales);
        QCOMPARE(m_db->value(QStringLiteral("select ItemName from Items where ItemID=?"), {itemId}).toString(), title);
        QCOMPARE(m_db->value(QStringLiteral("select Price from Items where ItemID=?"), {itemId}).toDouble(), price);
    }

    void pageWithoutPriceIsAFailureNotAZero_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("2018 GBK") << QStringLiteral("/tm/gbk/item.htm?id=541636851254");
        QTest::newRow("2018 UTF-8") << QStringLiteral("/tm/utf8/item.htm?id=541636851254");
    }
    void pageWithoutPriceIsAFailureNotAZero() {
        QFETCH(QString, path);
        auto reader = Read(m_server->url(path), kTmSeller);
        QCOMPARE(reader->ResultCode, int(TReadItem::rcFailed));
        QCOMPARE(reader->ErrorText, PageTexts::NoPrice);
        // The page is the seller's item page: its id comes from the address, the rest from the page.
        QCOMPARE(reader->ItemID, QStringLiteral("541636851254"));
        QCOMPARE(reader->ItemName, kTmTitle);
        QCOMPARE(Count(QStringLiteral("Items")), 0);
    }

    void realWallsAreFailuresWithTheirReason_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("text");
        QTest::newRow("slider or login jump")
            << QStringLiteral("/x5/item.htm?id=18959526273") << PageTexts::Verification;
        QTest::newRow("login frame") << QStringLiteral("/pw/item.htm?id=18959526273") << PageTexts::NeedsLogin;
    }
    void realWallsAreFailuresWithTheirReason() {
        QFETCH(QString, path);
        QFETCH(QString, text);
        auto reader = Read(m_server->url(path), kAmhSeller);
        QCOMPARE(reader->ResultCode, int(TReadItem::rcFailed));
        QCOMPARE(reader->ErrorText, text);
        QVERIFY(reader->ItemID.isEmpty());
        QCOMPARE(Count(QStringLiteral("Items")), 0);
    }

    void cliReadsThePagesAndExplainsWhy_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("seller");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("itemId");
        QTest::addColumn<QString>("price");
        QTest::addColumn<QString>("titleFrom");
        QTest::addColumn<QString>("idFrom");
        QTest::addColumn<QString>("priceFrom");
        QTest::newRow("2017 GBK") << QStringLiteral("/tb/gbk/item.htm?id=45383717461") << kTbSeller << kTbTitle
                                  << QStringLiteral("45383717461") << QStringLiteral("75.00")
                                  << QStringLiteral("document-title") << QStringLiteral("data")
                                  << QStringLiteral("tolerant-input");
        QTest::newRow("2017 UTF-8") << QStringLiteral("/tb/utf8meta/item.htm?id=45383717461") << kTbSeller << kTbTitle
                                    << QStringLiteral("45383717461") << QStringLiteral("75.00")
                                    << QStringLiteral("document-title") << QStringLiteral("data")
                                    << QStringLiteral("tolerant-input");
        QTest::newRow("2015 mall desktop")
            << QStringLiteral("/tm2015gbk/item.htm?id=18959526273") << kAmhSeller << kAmhTitle
            << QStringLiteral("18959526273") << QStringLiteral("298.00") << QStringLiteral("exact-marker")
            << QStringLiteral("data") << QStringLiteral("data");
        QTest::newRow("2015 mall mobile") << QStringLiteral("/tmm2015/item.htm?id=18959526273") << kAmhSeller
                                          << kAmhTitle << QStringLiteral("18959526273") << QStringLiteral("298.00")
                                          << QStringLiteral("data") << QStringLiteral("data") << QStringLiteral("data");
    }
    void cliReadsThePagesAndExplainsWhy() {
        QFETCH(QString, path);
        QFETCH(QString, seller);
        QFETCH(QString, title);
        QFETCH(QString, itemId);
        QFETCH(QString, price);
        QFETCH(QString, titleFrom);
        QFETCH(QString, idFrom);
        QFETCH(QString, priceFrom);
        QByteArray out;
        QCOMPARE(RunCli({QStringLiteral("settings"), QStringLiteral("--own-account"), seller}, &out), 0);
        QCOMPARE(RunCli({QStringLiteral("read-item"), m_server->url(path), QStringLiteral("--explain")}, &out), 0);
        QCOMPARE(Line(out, QStringLiteral("ResultCode")), QStringLiteral("1 rcAdded"));
        QCOMPARE(Line(out, QStringLiteral("ItemName")), title);
        QCOMPARE(Line(out, QStringLiteral("SellerNick")), seller);
        QCOMPARE(Line(out, QStringLiteral("ItemID")), itemId);
        QCOMPARE(Line(out, QStringLiteral("Price")), price);
        QCOMPARE(Line(out, QStringLiteral("ItemNameFrom")).section(u' ', 0, 0), titleFrom);
        QCOMPARE(Line(out, QStringLiteral("ItemIDFrom")).section(u' ', 0, 0), idFrom);
        QCOMPARE(Line(out, QStringLiteral("PriceFrom")).section(u' ', 0, 0), priceFrom);
        QVERIFY(Line(out, QStringLiteral("Page")).startsWith(QLatin1String("item ")));
        QCOMPARE(m_db->value(QStringLiteral("select ItemName from Items where ItemID=?"), {itemId}).toString(), title);
    }

    void cliExplainsAMissingPrice() {
        QByteArray out;
        QCOMPARE(RunCli({QStringLiteral("settings"), QStringLiteral("--own-account"), kTmSeller}, &out), 0);
        QCOMPARE(RunCli({QStringLiteral("read-item"), m_server->url(QStringLiteral("/tm/gbk/item.htm?id=541636851254")),
                         QStringLiteral("--explain")},
                        &out),
                 3);
        QCOMPARE(Line(out, QStringLiteral("ResultCode")), QStringLiteral("4 rcFailed"));
        QCOMPARE(Line(out, QStringLiteral("ErrorText")), PageTexts::NoPrice);
        QCOMPARE(Line(out, QStringLiteral("ItemIDFrom")).section(u' ', 0, 0), QStringLiteral("address"));
        QCOMPARE(Line(out, QStringLiteral("PriceFrom")).section(u' ', 0, 0), QStringLiteral("none"));
        QCOMPARE(Count(QStringLiteral("Items")), 0);
    }

    void loginRedirectIsAFailureWithItsReason() {
        // The item address sends the reader to a login page on another host name of this machine.
        QString login = m_server->url(QStringLiteral("/member/login.jhtml?redirectURL=item"));
        login.replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
        TTestResponse redirect;
        redirect.status = 302;
        redirect.headers << qMakePair(QByteArray("Location"), login.toUtf8());
        m_server->route(QStringLiteral("/login/item.htm?id=77"), redirect);
        m_server->route(
            QStringLiteral("/member/login.jhtml?redirectURL=item"),
            QStringLiteral("<html><head><title>登录</title></head><body><p>亲，请登录后再来。</p>"
                           "<form><input name=\"TPL_username\"><input type=\"password\" name=\"TPL_password\">"
                           "</form></body></html>")
                .toUtf8(),
            "text/html; charset=utf-8");
        auto reader = Read(m_server->url(QStringLiteral("/login/item.htm?id=77")), QStringLiteral("shopa"));
        QCOMPARE(reader->ResultCode, int(TReadItem::rcFailed));
        QCOMPARE(reader->ErrorText, PageTexts::NeedsLogin);
        QVERIFY(reader->ItemID.isEmpty());
        QCOMPARE(Count(QStringLiteral("Items")), 0);
        QCOMPARE(m_server->requestCount(QStringLiteral("/member/login.jhtml?redirectURL=item")), 1);

        QByteArray out;
        QCOMPARE(RunCli({QStringLiteral("read-item"), m_server->url(QStringLiteral("/login/item.htm?id=77")),
                         QStringLiteral("--explain")},
                        &out),
                 3);
        QCOMPARE(Line(out, QStringLiteral("ResultCode")), QStringLiteral("4 rcFailed"));
        QCOMPARE(Line(out, QStringLiteral("ErrorText")), PageTexts::NeedsLogin);
        QVERIFY(Line(out, QStringLiteral("Page")).startsWith(QLatin1String("login ")));
    }

    void itemPageAtAnAddressThatSaysLoginIsAnItem() {
        // Words in an address tell nothing: the page's content is an item.
        const QString path = QStringLiteral("/member/login/item.htm?id=18959526273&from=passport");
        m_server->route(path, AsGbk(Excerpt(QStringLiteral("tmall2015-item-18959526273.html"))),
                        "text/html; charset=gbk");
        QString url = m_server->url(path);
        url.replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
        auto reader = Read(url, kAmhSeller);
        QCOMPARE(reader->ResultCode, int(TReadItem::rcAdded));
        QCOMPARE(reader->Price, 298.0);
    }

    void blockPagesAreFailuresWithTheirReason_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("text");
        QTest::newRow("slider")
            << QStringLiteral(
                   "<html><head><title>验证</title></head><body><div id=\"nocaptcha\"><span class=\"nc-lang-cnt\">"
                   "请按住滑块，拖动到最右边</span></div></body></html>")
            << PageTexts::Verification;
        QTest::newRow("password form")
            << QStringLiteral(
                   "<html><body><form action=\"/member/x\"><input name=\"TPL_username\"><input type=\"password\" "
                   "name=\"TPL_password\"><button>登录</button></form></body></html>")
            << PageTexts::NeedsLogin;
        QTest::newRow("access denied") << QStringLiteral(
                                              "<html><head><title>Access Denied</title></head><body><h1>Access "
                                              "Denied</h1><p>很抱歉，您的访问被拒绝。"
                                              "</p></body></html>")
                                       << PageTexts::AccessDenied;
    }
    void blockPagesAreFailuresWithTheirReason() {
        QFETCH(QString, page);
        QFETCH(QString, text);
        // Served at an item address that names an id: the id of a wall is no reading.
        const QString path = QStringLiteral("/wall/%1/item.htm?id=88").arg(++m_routeCounter);
        QStringEncoder gbk("GBK");
        m_server->route(path, gbk(page));
        auto reader = Read(m_server->url(path), QString());
        QCOMPARE(reader->ResultCode, int(TReadItem::rcFailed));
        QCOMPARE(reader->ErrorText, text);
        QCOMPARE(Count(QStringLiteral("Items")), 0);
    }

    void mislabelledPagesReadAsTheirBytes_data() {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("contentType");
        QTest::newRow("GBK page served as ISO-8859-1")
            << QByteArray("GBK") << QByteArray("text/html; charset=ISO-8859-1");
        QTest::newRow("GBK page served as utf-8") << QByteArray("GBK") << QByteArray("text/html; charset=utf-8");
        QTest::newRow("UTF-8 page served as utf-8") << QByteArray("UTF-8") << QByteArray("text/html; charset=utf-8");
    }
    void mislabelledPagesReadAsTheirBytes() {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, contentType);
        const QString html =
            QStringLiteral("<html><body>\n<input type=\"hidden\" name=\"title\" value=\"纯棉T恤 夏季新款\" />\n"
                           "<input type=\"hidden\" name=\"seller_nickname\" value=\"小店掌柜\" />\n"
                           "<input type=\"hidden\" name=\"current_price\" value= \"12.50\" />\n"
                           "<input type=\"hidden\" name=\"item_id_num\" value=\"1001\" />\n"
                           "<li><span>30天售出：</span><em>12</em>件</li>\n</body></html>\n");
        QStringEncoder encoder(encoding.constData());
        const QString path = QStringLiteral("/mislabel/%1").arg(++m_routeCounter);
        m_server->route(path, encoder(html), contentType);
        // The seller check compares Chinese names as text: a garbled one would be "卖家不匹配".
        auto reader = Read(m_server->url(path), QStringLiteral("小店掌柜"));
        QCOMPARE(reader->ResultCode, int(TReadItem::rcAdded));
        QCOMPARE(reader->ItemName, QStringLiteral("纯棉T恤 夏季新款"));
        QCOMPARE(reader->SellCount, 12);
        QCOMPARE(m_db->value(QStringLiteral("select ItemName from Items where ItemID='1001'")).toString(),
                 QStringLiteral("纯棉T恤 夏季新款"));
        QCOMPARE(m_db->value(QStringLiteral("select SellCount from Items where ItemID='1001'")).toInt(), 12);
    }

    void nulBytesNeverReachTheDatabaseOrTheGrid() {
        QByteArray page("<html><body>\n<input type=\"hidden\" name=\"title\" value=\"红@色\x01连衣裙\" />\n"
                        "<input type=\"hidden\" name=\"seller_nickname\" value=\"shopa@\" />\n"
                        "<input type=\"hidden\" name=\"current_price\" value= \"9@9.00\" />\n"
                        "<input type=\"hidden\" name=\"item_id_num\" value=\"10@01\" />\n</body></html>\n");
        page.replace('@', QByteArray(1, '\0'));
        QStringEncoder gbk("GBK");
        for (const QString& word : {QStringLiteral("红"), QStringLiteral("色"), QStringLiteral("连衣裙")})
            page.replace(word.toUtf8(), QByteArray(gbk(word)));
        m_server->route(QStringLiteral("/nul"), page);
        auto reader = Read(m_server->url(QStringLiteral("/nul")), QStringLiteral("shopa"));
        QCOMPARE(reader->ResultCode, int(TReadItem::rcAdded));
        QCOMPARE(reader->ItemID, QStringLiteral("1001"));
        QCOMPARE(reader->Price, 99.0);
        const QString stored = m_db->value(QStringLiteral("select ItemName from Items where ItemID='1001'")).toString();
        QCOMPARE(stored, QStringLiteral("红色连衣裙"));

        QByteArray out;
        QCOMPARE(RunCli({QStringLiteral("grid"), QStringLiteral("--csv")}, &out), 0);
        QVERIFY(out.contains(QStringLiteral("红色连衣裙").toUtf8()));
        QVERIFY(!out.contains('\0'));
        QVERIFY(!out.contains('\x01'));
    }

    void mislabelledShopPageGivesTheRightAccount_data() {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("contentType");
        QTest::newRow("GBK shop page served as ISO-8859-1")
            << QByteArray("GBK") << QByteArray("text/html; charset=ISO-8859-1");
        QTest::newRow("GBK shop page served as utf-8") << QByteArray("GBK") << QByteArray("text/html; charset=utf-8");
        QTest::newRow("UTF-8 shop page served as utf-8")
            << QByteArray("UTF-8") << QByteArray("text/html; charset=utf-8");
    }
    void mislabelledShopPageGivesTheRightAccount() {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, contentType);
        // The rival's account read here is what every reading of its items is checked against.
        const QString html = QStringLiteral("<html><body><a href=\"http://store.example/?ownerid=88123&amp;x=1\">o</a>"
                                            "<a href=\"http://%1/user-rate-abc.htm\">小店掌柜</a></body></html>")
                                 .arg(QLatin1String(RATE_HOST));
        QStringEncoder encoder(encoding.constData());
        const TShopPageReading reading = ReadShopPage(QByteArray(encoder(html)), contentType);
        QCOMPARE(reading.outcome, TShopPageReading::Outcome::Read);
        QCOMPARE(reading.account, QStringLiteral("小店掌柜"));
    }
};

QTEST_GUILESS_MAIN(TstRealPages)
#include "tst_realpages.moc"
