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
        };
        for (const auto& page : pages)
            m_server->route(QString::fromLatin1(page.path), Excerpt(QString::fromLatin1(page.file)), page.contentType);
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

    void excerptsReadAndStored_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("itemId");
        QTest::addColumn<double>("price");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("seller");
        QTest::newRow("2017 GBK") << QStringLiteral("/tb/gbk/item.htm?id=45383717461") << QStringLiteral("45383717461")
                                  << 75.0 << kTbTitle << kTbSeller;
        QTest::newRow("2017 UTF-8") << QStringLiteral("/tb/utf8/item.htm?id=45383717461")
                                    << QStringLiteral("45383717461") << 75.0 << kTbTitle << kTbSeller;
        QTest::newRow("2017 UTF-8 under a gbk meta") << QStringLiteral("/tb/utf8meta/item.htm?id=45383717461")
                                                     << QStringLiteral("45383717461") << 75.0 << kTbTitle << kTbSeller;
        QTest::newRow("2018 GBK") << QStringLiteral("/tm/gbk/item.htm?id=541636851254")
                                  << QStringLiteral("541636851254") << 0.0 << kTmTitle << kTmSeller;
        QTest::newRow("2018 UTF-8") << QStringLiteral("/tm/utf8/item.htm?id=541636851254")
                                    << QStringLiteral("541636851254") << 0.0 << kTmTitle << kTmSeller;
    }
    void excerptsReadAndStored() {
        QFETCH(QString, path);
        QFETCH(QString, itemId);
        QFETCH(double, price);
        QFETCH(QString, title);
        QFETCH(QString, seller);
        auto reader = Read(m_server->url(path), seller);
        QCOMPARE(reader->ResultCode, int(TReadItem::rcAdded));
        QCOMPARE(reader->ItemID, itemId);
        QCOMPARE(reader->Price, price);
        QCOMPARE(reader->ItemName, title);
        QCOMPARE(reader->SellerNick, seller);
        QCOMPARE(m_db->value(QStringLiteral("select ItemName from Items where ItemID=?"), {itemId}).toString(), title);
        QCOMPARE(m_db->value(QStringLiteral("select Price from Items where ItemID=?"), {itemId}).toDouble(), price);
    }

    void cliReadsTheExcerptsAndExplainsWhy_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("seller");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("itemId");
        QTest::addColumn<QString>("price");
        QTest::addColumn<QString>("titleFrom");
        QTest::addColumn<QString>("idFrom");
        QTest::newRow("2017 GBK") << QStringLiteral("/tb/gbk/item.htm?id=45383717461") << kTbSeller << kTbTitle
                                  << QStringLiteral("45383717461") << QStringLiteral("75.00")
                                  << QStringLiteral("document-title") << QStringLiteral("tolerant-input");
        QTest::newRow("2017 UTF-8") << QStringLiteral("/tb/utf8meta/item.htm?id=45383717461") << kTbSeller << kTbTitle
                                    << QStringLiteral("45383717461") << QStringLiteral("75.00")
                                    << QStringLiteral("document-title") << QStringLiteral("tolerant-input");
        QTest::newRow("2018 GBK") << QStringLiteral("/tm/gbk/item.htm?id=541636851254") << kTmSeller << kTmTitle
                                  << QStringLiteral("541636851254") << QStringLiteral("0.00")
                                  << QStringLiteral("tolerant-input") << QStringLiteral("address");
        QTest::newRow("2018 UTF-8") << QStringLiteral("/tm/utf8/item.htm?id=541636851254") << kTmSeller << kTmTitle
                                    << QStringLiteral("541636851254") << QStringLiteral("0.00")
                                    << QStringLiteral("tolerant-input") << QStringLiteral("address");
    }
    void cliReadsTheExcerptsAndExplainsWhy() {
        QFETCH(QString, path);
        QFETCH(QString, seller);
        QFETCH(QString, title);
        QFETCH(QString, itemId);
        QFETCH(QString, price);
        QFETCH(QString, titleFrom);
        QFETCH(QString, idFrom);
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
        QVERIFY(Line(out, QStringLiteral("Page")).startsWith(QLatin1String("item ")));
        QCOMPARE(m_db->value(QStringLiteral("select ItemName from Items where ItemID=?"), {itemId}).toString(), title);
    }

    void loginRedirectIsAFailureWithItsReason() {
        // The item address sends the reader to a login page on another host name of this machine.
        QString login = m_server->url(QStringLiteral("/member/login.jhtml?redirectURL=item"));
        login.replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
        TTestResponse redirect;
        redirect.status = 302;
        redirect.headers << qMakePair(QByteArray("Location"), login.toUtf8());
        m_server->route(QStringLiteral("/login/item.htm?id=77"), redirect);
        m_server->route(QStringLiteral("/member/login.jhtml?redirectURL=item"),
                        QStringLiteral("<html><head><title>登录</title></head><body><p>亲，请登录后再来。这里什么宝贝"
                                       "都没有，只有一个登录框的说明文字。</p></body></html>")
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
