// Reading the fields of an item page: exact markers first, then the tolerant input, then each
// field's fallbacks; login and block pages; mislabelled charsets; control characters.
#include "reader/PageFields.h"
#include "reader/PageText.h"

#include <QFile>
#include <QStringEncoder>
#include <QTest>

using namespace vantero;

Q_DECLARE_METATYPE(vantero::TFieldSource)
Q_DECLARE_METATYPE(vantero::TPageKind)
Q_DECLARE_METATYPE(vantero::TPriceState)

namespace {

const QUrl kAddress(QStringLiteral("http://item.example.test/item.htm?spm=a1&id=1234567"));
const QUrl kNoIdAddress(QStringLiteral("http://item.example.test/item.htm"));

// A page around body, long enough to be read, in the given encoding.
QByteArray Page(const QString& body, const char* encoding = "GBK") {
    const QString html = QStringLiteral("<!DOCTYPE html><html><head><meta name=\"keywords\" content=\"x\"></head>"
                                        "<body><div class=\"page\">") +
                         body + QStringLiteral("</div><p>页面其余部分，足够长的一段正文。</p></body></html>\n");
    QStringEncoder encoder(encoding);
    return encoder(html);
}

TItemFields Read(const QString& body, const QUrl& address = kNoIdAddress, const QUrl& finalAddress = {}) {
    return ReadItemFields(Page(body), "text/html", address, finalAddress);
}

QByteArray Excerpt(const QString& name) {
    QFile file(QStringLiteral(VANTERO_TEST_DATA "/pages/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test page %s", qPrintable(name));
    return file.readAll();
}

const QString kSeller = QStringLiteral("<input type=\"hidden\" name=\"seller_nickname\" value=\"小店\" />");
// A seller's item page that names no id: title and seller of its own.
const QString kItemWithoutId = kSeller + QStringLiteral("<input type=\"hidden\" name=\"title\" value=\"宝贝\">");

} // namespace

class TstPageFields final : public QObject {
    Q_OBJECT

private slots:
    // --- Exact markers and the tolerant input ---

    void exactMarkersWinOverEveryOtherSource() {
        const TItemFields f = Read(QStringLiteral(
            "<title>文档标题-淘宝网</title><h3 class=\"tb-main-title\" data-title=\"主标题\">主标题</h3>"
            "<input name=\"title\" value=\"宽松标题\"><input type=\"hidden\" name=\"title\" value=\" 原样 标题\" />"
            "<script>var g_config = { itemId : '999', sellerNick : '脚本卖家' };</script>"
            "<input type=\"hidden\" name=\"seller_nickname\" value=\"原样卖家\" />"
            "<input type=\"hidden\" name=\"current_price\" value= \"12.50\" />"
            "<input type=\"hidden\" name=\"item_id_num\" value=\"1001\" />"));
        QCOMPARE(f.kind, TPageKind::Read);
        QCOMPARE(f.itemName.text, QStringLiteral(" 原样 标题")); // as found, not trimmed
        QCOMPARE(f.itemName.source, TFieldSource::ExactMarker);
        QCOMPARE(f.sellerNick.text, QStringLiteral("原样卖家"));
        QCOMPARE(f.itemId.text, QStringLiteral("1001"));
        QCOMPARE(f.priceValue, 12.5);
        QCOMPARE(f.price.source, TFieldSource::ExactMarker);
    }

    void tolerantInput_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("browser form, no blank after value=")
            << QStringLiteral("<input type=\"hidden\" name=\"current_price\" value=\"75.00\">")
            << QStringLiteral("75.00");
        QTest::newRow("attributes reordered, />")
            << QStringLiteral("<input name=\"current_price\" type=\"hidden\" value=\"75.00\"/>")
            << QStringLiteral("75.00");
        QTest::newRow("upper case, single quotes, blanks around =")
            << QStringLiteral("<INPUT VALUE = '75.00' NAME = 'current_price' TYPE='hidden' />")
            << QStringLiteral("75.00");
        QTest::newRow("no quotes, ended by />")
            << QStringLiteral("<input type=hidden name=current_price value=75.00 />") << QStringLiteral("75.00");
        QTest::newRow("no quotes, ended by >")
            << QStringLiteral("<input name=current_price value=75.00>") << QStringLiteral("75.00");
        QTest::newRow("line breaks between attributes")
            << QStringLiteral("<input\n\tname=\"current_price\"\r\n value=\"75.00\"\n>") << QStringLiteral("75.00");
        QTest::newRow("empty input skipped for a later one")
            << QStringLiteral("<input name=\"current_price\" value=\"\"><input name=\"current_price\" value=\"75.00\">")
            << QStringLiteral("75.00");
        QTest::newRow("commented-out input ignored")
            << QStringLiteral("<!-- <input name=\"current_price\" value=\"1.00\"> --><input name=\"current_price\" "
                              "value=\"75.00\">")
            << QStringLiteral("75.00");
        QTest::newRow("template inside a script ignored")
            << QStringLiteral("<script>var t = '<input name=\"current_price\" value=\"{{p}}\">';</script>"
                              "<input name=\"current_price\" value=\"75.00\">")
            << QStringLiteral("75.00");
        QTest::newRow("similar name is another input")
            << QStringLiteral("<input name=\"current_price_old\" value=\"1.00\"><input name=\"current_price\" "
                              "value=\"75.00\">")
            << QStringLiteral("75.00");
    }
    void tolerantInput() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const TItemFields f = Read(kSeller + input);
        QCOMPARE(f.price.source, TFieldSource::TolerantInput);
        QCOMPARE(f.price.text, expected);
        QCOMPARE(f.priceValue, expected.toDouble());
    }

    void tolerantInputDecodesCharacterReferences() {
        const TItemFields f = Read(QStringLiteral("<input name='title' value='A&amp;B &#165;5 &#x4e2d;&quot;号&quot;'>"
                                                  "<input name=seller_nickname value=\"Tom&#39;s&nbsp;店\">"));
        QCOMPARE(f.itemName.text, QStringLiteral("A&B ¥5 中\"号\""));
        QCOMPARE(f.sellerNick.text, QStringLiteral("Tom's\u00a0店"));
        QCOMPARE(f.sellerNick.source, TFieldSource::TolerantInput);
    }

    void itemIdFromEitherInput_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("detail");
        QTest::newRow("item_id_num reordered")
            << QStringLiteral("<input name=\"item_id_num\" type=\"hidden\" value=\"690907579222\"/>")
            << QStringLiteral("690907579222") << QStringLiteral("<input name=\"item_id_num\">");
        QTest::newRow("item_id_num before item_id")
            << QStringLiteral("<input name=\"item_id\" value=\"1\"><input name=\"item_id_num\" value=\"2\">")
            << QStringLiteral("2") << QStringLiteral("<input name=\"item_id_num\">");
        QTest::newRow("item_id alone") << QStringLiteral(
                                              "<input type=\"hidden\" name=\"item_id\" value=\"45383717461\">")
                                       << QStringLiteral("45383717461") << QStringLiteral("<input name=\"item_id\">");
    }
    void itemIdFromEitherInput() {
        QFETCH(QString, body);
        QFETCH(QString, expected);
        QFETCH(QString, detail);
        const TItemFields f = Read(body, kAddress);
        QCOMPARE(f.itemId.text, expected);
        QCOMPARE(f.itemId.source, TFieldSource::TolerantInput);
        QCOMPARE(f.itemId.detail, detail);
    }

    void pageCutOffInsideMarkupIsReadUpToThere_data() {
        QTest::addColumn<QString>("tail");
        QTest::newRow("after <") << QStringLiteral("<");
        QTest::newRow("after </") << QStringLiteral("</");
        QTest::newRow("inside an attribute value") << QStringLiteral("<input name=title value='半");
        QTest::newRow("inside a comment") << QStringLiteral("<!-- <input name=title value=x>");
        QTest::newRow("inside a script") << QStringLiteral("<script>var a = {sellerNick: '\\");
        QTest::newRow("inside a reference") << QStringLiteral("&#x4e2");
    }
    void pageCutOffInsideMarkupIsReadUpToThere() {
        QFETCH(QString, tail);
        QStringEncoder gbk("GBK");
        const QByteArray page = Page(QStringLiteral("<input name=\"item_id\" value=\"9\">")) + gbk(tail);
        const TItemFields f = ReadItemFields(page, "text/html", kNoIdAddress);
        QCOMPARE(f.itemId.text, QStringLiteral("9"));
    }

    // --- Fallbacks ---

    void titleFallbacks_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<TFieldSource>("source");
        QTest::newRow("main title's data-title")
            << QStringLiteral("<title>别的-淘宝网</title><h3 class=\"tb-main-title\" data-title=\"红色 &amp; 蓝色\">"
                              "显示的</h3>")
            << QStringLiteral("红色 & 蓝色") << TFieldSource::MainTitle;
        QTest::newRow("main title's text, trimmed")
            << QStringLiteral("<div id=\"J_Title\"><h3 class=\"tb-title tb-main-title\">\n  纯棉<em>T恤</em>\n "
                              "</h3></div>")
            << QStringLiteral("纯棉 T恤") << TFieldSource::MainTitle;
        QTest::newRow("mall detail heading")
            << QStringLiteral("<div class=\"tb-detail-hd\"><h1 data-spm=\"1000983\">\n\t 电子钢琴 88键\n</h1></div>")
            << QStringLiteral("电子钢琴 88键") << TFieldSource::MainTitle;
        QTest::newRow("document title without -淘宝网") << QStringLiteral("<title>AMZ头盔镜片-淘宝网</title>")
                                                        << QStringLiteral("AMZ头盔镜片") << TFieldSource::DocumentTitle;
        QTest::newRow("document title without -tmall.com天猫")
            << QStringLiteral("<title>电子钢琴88键-tmall.com天猫</title>") << QStringLiteral("电子钢琴88键")
            << TFieldSource::DocumentTitle;
        QTest::newRow("document title without  - 天猫Tmall.com")
            << QStringLiteral("<TITLE>电子钢琴 - 天猫Tmall.com</TITLE>") << QStringLiteral("电子钢琴")
            << TFieldSource::DocumentTitle;
        QTest::newRow("a dash of the item's own stays") << QStringLiteral("<title>T恤-白色-淘宝网</title>")
                                                        << QStringLiteral("T恤-白色") << TFieldSource::DocumentTitle;
        QTest::newRow("no marketplace suffix: whole title")
            << QStringLiteral("<title>T恤-白色</title>") << QStringLiteral("T恤-白色") << TFieldSource::DocumentTitle;
        QTest::newRow("input before main title")
            << QStringLiteral("<h3 class=\"tb-main-title\" data-title=\"主标题\"></h3><input name=\"title\" "
                              "value=\"输入\">")
            << QStringLiteral("输入") << TFieldSource::TolerantInput;
        QTest::newRow("none") << QStringLiteral("<h2>不是标题</h2>") << QString() << TFieldSource::None;
    }
    void titleFallbacks() {
        QFETCH(QString, body);
        QFETCH(QString, expected);
        QFETCH(TFieldSource, source);
        const TItemFields f = Read(body);
        QCOMPARE(f.itemName.text, expected);
        QCOMPARE(f.itemName.source, source);
    }

    void sellerFallbacks_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<TFieldSource>("source");
        QTest::newRow("sellerNick in single quotes")
            << QStringLiteral("<script>var g_config = {\n  sellerId : '1',\n  sellerNick       : 'amz品牌工作室',\n};"
                              "</script>")
            << QStringLiteral("amz品牌工作室") << TFieldSource::EmbeddedData;
        QTest::newRow("sellerNick as JSON, escaped")
            << QStringLiteral("<script>TShop.Setup({\"sellerNick\":\"\\u97f3\\u683c\\u683c\"});</script>")
            << QStringLiteral("音格格") << TFieldSource::EmbeddedData;
        QTest::newRow("empty sellerNick gives way to the next")
            << QStringLiteral("<script>a = {sellerNick: ''}; b = {sellerNick: \"第二\"};</script>")
            << QStringLiteral("第二") << TFieldSource::EmbeddedData;
        QTest::newRow("a longer key is another key")
            << QStringLiteral("<script>x = {sellerNickTitle: '不是'};</script><span class=\"J_WangWang\" "
                              "data-nick=\"店主\"></span>")
            << QStringLiteral("店主") << TFieldSource::ShopContact;
        QTest::newRow("data-nick of the shop's contact")
            << QStringLiteral("<div class=\"tb-shop-info\"><span class=\"ww-light ww-large\" data-nick=\"amz店\" "
                              "data-display=\"inline\"></span></div>")
            << QStringLiteral("amz店") << TFieldSource::ShopContact;
        QTest::newRow("contact element before another data-nick")
            << QStringLiteral("<a data-nick=\"别人\"></a><span class=\"J_WangWang\" data-nick=\"店主\"></span>")
            << QStringLiteral("店主") << TFieldSource::ShopContact;
        QTest::newRow("percent-encoded data-nick")
            << QStringLiteral("<span class=\"J_WangWang\" data-nick=\"%E9%9F%B3%E6%A0%BC%E6%A0%BC\" "
                              "data-encode=\"true\"></span>")
            << QStringLiteral("音格格") << TFieldSource::ShopContact;
        QTest::newRow("data before the tolerant input")
            << QStringLiteral("<input value=\"输入\" name=\"seller_nickname\"><script>c = {sellerNick:'脚本'}</script>")
            << QStringLiteral("脚本") << TFieldSource::EmbeddedData;
        QTest::newRow("none") << QStringLiteral("<p>无卖家</p>") << QString() << TFieldSource::None;
    }
    void sellerFallbacks() {
        QFETCH(QString, body);
        QFETCH(QString, expected);
        QFETCH(TFieldSource, source);
        const TItemFields f = Read(body);
        QCOMPARE(f.sellerNick.text, expected);
        QCOMPARE(f.sellerNick.source, source);
    }

    void itemIdFallbacks_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QUrl>("address");
        QTest::addColumn<QUrl>("finalAddress");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<TFieldSource>("source");
        QTest::newRow("itemId quoted") << QStringLiteral("<script>g = { itemId : '45383717461' };</script>") << kAddress
                                       << QUrl() << QStringLiteral("45383717461") << TFieldSource::EmbeddedData;
        QTest::newRow("itemId as JSON number")
            << QStringLiteral("<script>s({\"itemId\":541636851254,\"x\":1})</script>") << kAddress << QUrl()
            << QStringLiteral("541636851254") << TFieldSource::EmbeddedData;
        QTest::newRow("address id") << kItemWithoutId << kAddress << QUrl() << QStringLiteral("1234567")
                                    << TFieldSource::Address;
        QTest::newRow("address read before the final one")
            << kItemWithoutId << kAddress << QUrl(QStringLiteral("http://detail.example.test/item.htm?id=7"))
            << QStringLiteral("1234567") << TFieldSource::Address;
        QTest::newRow("final address when the read one has none")
            << kItemWithoutId << kNoIdAddress << QUrl(QStringLiteral("http://detail.example.test/item.htm?id=7"))
            << QStringLiteral("7") << TFieldSource::Address;
        QTest::newRow("an id that is no number is none")
            << kSeller << QUrl(QStringLiteral("http://item.example.test/item.htm?id=abc")) << QUrl() << QString()
            << TFieldSource::None;
        QTest::newRow("a seller alone does not make an item page")
            << kSeller << kAddress << QUrl() << QString() << TFieldSource::None;
        QTest::newRow("a page that names the address id agrees")
            << QStringLiteral("<a href=\"/cart?item=1234567\">加入购物车</a>") << kAddress << QUrl()
            << QStringLiteral("1234567") << TFieldSource::Address;
        QTest::newRow("no address id on a gone page that names it")
            << kItemWithoutId + QStringLiteral("<p>此宝贝已下架</p><a href=\"?id=1234567\">x</a>") << kAddress << QUrl()
            << QString() << TFieldSource::None;
        QTest::newRow("no address id for a page without seller")
            << QStringLiteral("<title>宝贝不存在</title>") << kAddress << QUrl() << QString() << TFieldSource::None;
    }
    void itemIdFallbacks() {
        QFETCH(QString, body);
        QFETCH(QUrl, address);
        QFETCH(QUrl, finalAddress);
        QFETCH(QString, expected);
        QFETCH(TFieldSource, source);
        const TItemFields f = Read(body, address, finalAddress);
        QCOMPARE(f.kind, TPageKind::Read);
        QCOMPARE(f.itemId.text, expected);
        QCOMPARE(f.itemId.source, source);
    }

    void priceFallbacks_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<double>("expected");
        QTest::addColumn<TFieldSource>("source");
        QTest::newRow("shown price number")
            << QStringLiteral("<strong id=\"J_StrPrice\"><em class=\"tb-rmb\">&yen;</em><em class=\"tb-rmb-num\">"
                              "75.00</em></strong>")
            << 75.0 << TFieldSource::PriceElement;
        QTest::newRow("price element with the currency sign")
            << QStringLiteral("<strong id=\"J_StrPrice\">￥ 58.50</strong>") << 58.5 << TFieldSource::PriceElement;
        QTest::newRow("mall price") << QStringLiteral("<dd><span class=\"tm-price\">716.00</span></dd>") << 716.0
                                    << TFieldSource::PriceElement;
        QTest::newRow("a range gives its low end")
            << QStringLiteral("<span class=\"tm-price\">796.00 - 716.00</span>") << 716.0 << TFieldSource::PriceElement;
        QTest::newRow("a range in the input gives its low end")
            << QStringLiteral("<input name=\"current_price\" value=\"716.00 - 796.00\"><em class=\"tb-rmb-num\">1</em>")
            << 716.0 << TFieldSource::TolerantInput;
        QTest::newRow("none") << QStringLiteral("<p>价格面议</p>") << 0.0 << TFieldSource::None;
    }
    void priceFallbacks() {
        QFETCH(QString, body);
        QFETCH(double, expected);
        QFETCH(TFieldSource, source);
        const TItemFields f = Read(body);
        QCOMPARE(f.priceValue, expected);
        QCOMPARE(f.price.source, source);
    }

    void salesPlaceholderGivesZero() {
        const TItemFields f = Read(
            QStringLiteral("<li><span>30天售出：</span><em>-</em>件</li><li><span>已 售 出：</span><em>-</em>件</li>"));
        QCOMPARE(f.sellCountValue, 0);
        QCOMPARE(f.sellCount.source, TFieldSource::ExactMarker);
    }

    // --- Login and block pages ---

    void loginAndBlockPages_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QUrl>("finalAddress");
        QTest::addColumn<TPageKind>("kind");
        QTest::addColumn<QString>("text");
        const QString item = QStringLiteral("<input name=\"item_id_num\" value=\"1\">") + kSeller;
        QTest::newRow("redirected to a login host: told by content only")
            << item << QUrl(QStringLiteral("https://login.example.test/member/x.jhtml?redirectURL=a"))
            << TPageKind::Read << QString();
        QTest::newRow("redirected to a passport host: told by content only")
            << QString() << QUrl(QStringLiteral("https://passport.example.test/")) << TPageKind::Read << QString();
        QTest::newRow("redirected to a login path: told by content only")
            << QString() << QUrl(QStringLiteral("http://localhost:8080/member/login.jhtml?f=top")) << TPageKind::Read
            << QString();
        QTest::newRow("password form")
            << QStringLiteral("<form><input name=\"TPL_username\"><input type=PASSWORD name=\"pw\"></form>") << QUrl()
            << TPageKind::Login << PageTexts::NeedsLogin;
        QTest::newRow("slider") << QStringLiteral("<div id=\"nc_1_wrapper\">请按住滑块，拖动到最右边</div>") << QUrl()
                                << TPageKind::Verification << PageTexts::Verification;
        QTest::newRow("captcha") << QStringLiteral("<img src=\"/captcha.jpg\"><p>请输入验证码</p>") << QUrl()
                                 << TPageKind::Verification << PageTexts::Verification;
        QTest::newRow("verification address: told by content only")
            << item << QUrl(QStringLiteral("http://item.example.test//_____tmd_____/punish?x5secdata=abc"))
            << TPageKind::Read << QString();
        QTest::newRow("access denied") << QStringLiteral("<h1>Access Denied</h1><p>You don't have permission.</p>")
                                       << QUrl() << TPageKind::AccessDenied << PageTexts::AccessDenied;
        QTest::newRow("refused in Chinese") << QStringLiteral("<p>很抱歉，您的访问被拒绝</p>") << QUrl()
                                            << TPageKind::AccessDenied << PageTexts::AccessDenied;
        QTest::newRow("an item page that mentions a captcha stays an item")
            << item + QStringLiteral("<script src=\"//g.example.test/nocaptcha.js\"></script><a>登录</a>") << QUrl()
            << TPageKind::Read << QString();
    }
    void loginAndBlockPages() {
        QFETCH(QString, body);
        QFETCH(QUrl, finalAddress);
        QFETCH(TPageKind, kind);
        QFETCH(QString, text);
        const TItemFields f = Read(body, kAddress, finalAddress);
        QCOMPARE(f.kind, kind);
        QCOMPARE(f.blockText, text);
        QCOMPARE(f.blocked(), !text.isEmpty());
        if (f.blocked())
            QVERIFY(f.itemId.text.isEmpty()); // the address id is no reading of a wall
    }

    void shortAccessDeniedPageIsBlocked() {
        QCOMPARE(ReadItemFields("<h1>Access Denied</h1>", "text/html", kAddress).kind, TPageKind::AccessDenied);
        QCOMPARE(ReadItemFields("<p>x</p>", "text/html", kAddress).kind, TPageKind::TooShort);
    }

    // --- Encodings ---

    void mislabelledCharsetReadsAsTheBytes_data() {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("readAs");
        QTest::addColumn<bool>("overruled");
        QTest::newRow("GBK served as ISO-8859-1")
            << QByteArray("GBK") << QByteArray("text/html; charset=ISO-8859-1") << QByteArray("GB18030") << true;
        QTest::newRow("GBK served as windows-1252")
            << QByteArray("GBK") << QByteArray("text/html; charset=windows-1252") << QByteArray("GB18030") << true;
        QTest::newRow("GBK served as utf-8")
            << QByteArray("GBK") << QByteArray("text/html; charset=utf-8") << QByteArray("GB18030") << true;
        QTest::newRow("UTF-8 served as utf-8")
            << QByteArray("UTF-8") << QByteArray("text/html; charset=utf-8") << QByteArray("UTF-8") << false;
        QTest::newRow("UTF-8 served as ISO-8859-1")
            << QByteArray("UTF-8") << QByteArray("text/html; charset=iso-8859-1") << QByteArray("UTF-8") << true;
        QTest::newRow("UTF-8 served as gbk")
            << QByteArray("UTF-8") << QByteArray("text/html; charset=gbk") << QByteArray("UTF-8") << true;
        QTest::newRow("UTF-8 undeclared")
            << QByteArray("UTF-8") << QByteArray("text/html") << QByteArray("UTF-8") << false;
        QTest::newRow("GBK undeclared") << QByteArray("GBK") << QByteArray("text/html") << QByteArray("GB18030")
                                        << false;
    }
    void mislabelledCharsetReadsAsTheBytes() {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, readAs);
        QFETCH(bool, overruled);
        const QByteArray page =
            Page(QStringLiteral("<input type=\"hidden\" name=\"title\" value=\"纯棉T恤 夏季新款\" />"
                                "<input type=\"hidden\" name=\"seller_nickname\" value=\"小店掌柜\" />"
                                "<input type=\"hidden\" name=\"item_id_num\" value=\"1001\" />"
                                "<li><span>已 售 出：</span><em>35</em>件</li>"),
                 encoding.constData());
        const TItemFields f = ReadItemFields(page, contentType, kNoIdAddress);
        QCOMPARE(f.encoding, readAs);
        QCOMPARE(f.declarationOverruled, overruled);
        QCOMPARE(f.itemName.text, QStringLiteral("纯棉T恤 夏季新款"));
        QCOMPARE(f.sellerNick.text, QStringLiteral("小店掌柜"));
        QCOMPARE(f.sellCountValue, 35); // the Chinese sales marker matched
    }

    void latin1PageThatIsNotGbkStaysLatin1() {
        // "café " is no GBK: the declaration fits and stands.
        const QByteArray page = "<html><body><input type=\"hidden\" name=\"title\" value=\"caf\xe9 au lait\" />"
                                "<input type=\"hidden\" name=\"item_id_num\" value=\"5\" /></body></html>";
        const TItemFields f = ReadItemFields(page, "text/html; charset=iso-8859-1", kNoIdAddress);
        QCOMPARE(f.itemName.text, QStringLiteral("café au lait"));
        QVERIFY(!f.declarationOverruled);
    }

    // --- Control characters ---

    void valuesCarryNoControlCharacters_data() {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("itemId");
        // "@" stands for a NUL byte.
        auto bytes = [](const char* text) { return QByteArray(text).replace('@', '\0') + QByteArray(80, ' '); };
        QTest::newRow("NUL in exact values") << bytes("<input type=\"hidden\" name=\"title\" value=\"A@B\tC\" />"
                                                      "<input type=\"hidden\" name=\"item_id_num\" value=\"10@\x01"
                                                      "01\" />")
                                             << QStringLiteral("AB\tC") << QStringLiteral("1001");
        QTest::newRow("NUL and line breaks in tolerant values")
            << bytes("<input name=title value='x@\r\ny\x7f'><input name=item_id value='7@'>") << QStringLiteral("xy")
            << QStringLiteral("7");
        QTest::newRow("NUL in the document title")
            << bytes("<title>@\x1b[31m\xba\xec@</title><input name=item_id value='8'>") << QStringLiteral("[31m红")
            << QStringLiteral("8");
    }
    void valuesCarryNoControlCharacters() {
        QFETCH(QByteArray, page);
        QFETCH(QString, title);
        QFETCH(QString, itemId);
        const TItemFields f = ReadItemFields(page, "text/html", kNoIdAddress);
        QCOMPARE(f.itemName.text, title);
        QCOMPARE(f.itemId.text, itemId);
    }

    void characterReferences_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("named") << QStringLiteral("&lt;a&gt; &amp; &quot;b&quot; &apos;c&apos;")
                               << QStringLiteral("<a> & \"b\" 'c'");
        QTest::newRow("decimal and hex") << QStringLiteral("&#165;&#x4E2D;&#X6587;") << QStringLiteral("¥中文");
        QTest::newRow("unknown name stays") << QStringLiteral("&foo; &amp") << QStringLiteral("&foo; &amp");
        QTest::newRow("out of range number") << QStringLiteral("&#0;&#x110000;") << QStringLiteral("\ufffd\ufffd");
        QTest::newRow("bare ampersand") << QStringLiteral("A & B &#;") << QStringLiteral("A & B &#;");
    }
    void characterReferences() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(DecodeCharacterReferences(text), expected);
    }

    // --- The real excerpts ---

    void realExcerpts_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QUrl>("address");
        QTest::addColumn<QString>("itemId");
        QTest::addColumn<double>("price");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("seller");
        const QUrl tb(QStringLiteral("https://item.example.test/item.htm?spm=a230r.1.14.1&id=45383717461"));
        const QUrl tmall(QStringLiteral("https://detail.example.test/item.htm?id=541636851254&skuId=1"));
        const QString tbTitle = QStringLiteral("AMZ小贝同款头盔镜片哈雷三扣式带框架复古风镜飞行盔多色泡泡镜");
        const QString tmTitle = QStringLiteral("音格格手卷电子钢琴便携式88键初学者成人家用键盘专业加厚版入门");
        QTest::newRow("2017 GBK") << QStringLiteral("tb2017-item-45383717461.excerpt.gbk.html") << tb
                                  << QStringLiteral("45383717461") << 75.0 << tbTitle
                                  << QStringLiteral("amz品牌工作室");
        QTest::newRow("2017 UTF-8") << QStringLiteral("tb2017-item-45383717461.excerpt.html") << tb
                                    << QStringLiteral("45383717461") << 75.0 << tbTitle
                                    << QStringLiteral("amz品牌工作室");
        QTest::newRow("2018 GBK") << QStringLiteral("tmall2018-item-541636851254.excerpt.gbk.html") << tmall
                                  << QStringLiteral("541636851254") << 0.0 << tmTitle << QStringLiteral("音格格旗舰店");
        QTest::newRow("2018 UTF-8") << QStringLiteral("tmall2018-item-541636851254.excerpt.html") << tmall
                                    << QStringLiteral("541636851254") << 0.0 << tmTitle
                                    << QStringLiteral("音格格旗舰店");
    }
    void realExcerpts() {
        QFETCH(QString, file);
        QFETCH(QUrl, address);
        QFETCH(QString, itemId);
        QFETCH(double, price);
        QFETCH(QString, title);
        QFETCH(QString, seller);
        const TItemFields f = ReadItemFields(Excerpt(file), "text/html", address);
        QCOMPARE(f.kind, TPageKind::Read);
        QCOMPARE(f.itemId.text, itemId);
        QCOMPARE(f.priceValue, price);
        QCOMPARE(f.itemName.text, title);
        QCOMPARE(f.sellerNick.text, seller);
    }

    // --- Data forms ---

    // Each form of embedded data and markup a page may keep its fields in, read whole: id, title,
    // seller, price (low and high end, promotion or not).
    void dataForms_data() {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("itemId");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("seller");
        QTest::addColumn<double>("price");
        QTest::addColumn<double>("high");
        QTest::addColumn<bool>("promotion");
        const QByteArray html = "text/html";
        const QString id = QStringLiteral("1234567");
        QTest::newRow("g_config literal and TShop.Setup with a range")
            << Page(QStringLiteral(
                   "<script>var g_config = { itemId: '1234567', startTime: (+new Date()), pw: (w >= 1260 ? '1190' : "
                   "'990'), // a comment\n sellerNickName: 'amh%E5%AE%98%E6%96%B9', 'x': [1, 2,], };\n"
                   "TShop.Setup({\"detail\": {\"defaultItemPrice\": \"5499.00-6799.00\"}, \"itemDO\": {\"title\": "
                   "\"手机 旗舰版\", \"reservePrice\": \"6999.00\"}});</script>"))
            << html << id << QStringLiteral("手机 旗舰版") << QStringLiteral("amh官方") << 5499.0 << 6799.0 << false;
        QTest::newRow("mobile data, promotion running")
            << Page(QStringLiteral(
                   "<script>var _DATA_Detail = {\"itemDO\": {\"itemId\": \"1234567\", \"title\": \"牛仔裤\", "
                   "\"sellerNickName\": \"%E5%B0%8F%E5%BA%97\"}, \"detail\": {\"defaultItemPrice\": \"298.00\"}};"
                   "var _DATA_Mdskip = {\"priceInfo\": {\"1\": {\"price\": \"298.00\", \"promotionList\": [{\"price\": "
                   "\"179.00\", \"start\": true, \"type\": \"无线特惠\"}]}}};</script>"))
            << html << id << QStringLiteral("牛仔裤") << QStringLiteral("小店") << 179.0 << 179.0 << true;
        QTest::newRow("mobile data, promotion not started")
            << Page(QStringLiteral(
                   "<script>var _DATA_Detail = {\"itemDO\": {\"itemId\": \"1234567\", \"title\": \"牛仔裤\", "
                   "\"sellerNickName\": \"%E5%B0%8F%E5%BA%97\"}, \"detail\": {\"defaultItemPrice\": \"298.00\"}};"
                   "var _DATA_Mdskip = {\"priceInfo\": {\"1\": {\"price\": \"298.00\", \"promotionList\": [{\"price\": "
                   "\"179.00\", \"start\": false}]}}};</script>"))
            << html << id << QStringLiteral("牛仔裤") << QStringLiteral("小店") << 298.0 << 298.0 << false;
        QTest::newRow("__INITIAL_DATA__ through JSON.parse, cheapest variant")
            << Page(QStringLiteral(
                   "<script>window.__INITIAL_DATA__ = "
                   "JSON.parse('{\"item\":{\"itemId\":\"1234567\",\"title\":\"台灯\"},"
                   "\"seller\":{\"sellerNick\":\"灯具店\"},\"sku2info\":{\"11\":{\"price\":{\"priceText\":\"30.00\"}},"
                   "\"12\":{\"price\":{\"priceText\":\"20.00\"}},\"13\":{\"price\":{\"priceText\":\"25.00\"}}}}');"
                   "</script>"))
            << html << id << QStringLiteral("台灯") << QStringLiteral("灯具店") << 20.0 << 20.0 << false;
        QTest::newRow("__ICE_APP_CONTEXT__")
            << Page(QStringLiteral(
                   "<script>window.__ICE_APP_CONTEXT__ = {\"loaderData\": {\"home\": {\"data\": {\"res\": "
                   "{\"item\": {\"itemId\": \"1234567\", \"title\": \"键盘\"}, \"seller\": {\"sellerNick\": "
                   "\"键盘店\", \"shopName\": \"键盘旗舰店\"}, \"price\": {\"price\": {\"priceText\": "
                   "\"199-299\"}, \"extraPrice\": {\"priceText\": \"399\"}}}}}}};</script>"))
            << html << id << QStringLiteral("键盘") << QStringLiteral("键盘店") << 199.0 << 299.0 << false;
        QTest::newRow("detail data answer with apiStack")
            << QStringLiteral("{\"api\":\"detail\",\"data\":{\"item\":{\"itemId\":\"1234567\",\"title\":\"耳机\"},"
                              "\"seller\":{\"sellerNick\":\"耳机店\"},\"apiStack\":[{\"name\":\"esi\",\"value\":"
                              "\"{\\\"price\\\":{\\\"price\\\":{\\\"priceText\\\":\\\"99.00\\\"}}}\"}]}}")
                   .toUtf8()
            << QByteArray("application/json") << id << QStringLiteral("耳机") << QStringLiteral("耳机店") << 99.0
            << 99.0 << false;
        QTest::newRow("JSONP answer")
            << QStringLiteral(
                   "mtopjsonp3({data: {item: {itemId: 1234567, title: '鼠标'}, seller: {sellerNick: '鼠标店'}, "
                   "price: {price: {priceText: '59.90'}}}})")
                   .toUtf8()
            << QByteArray("application/javascript") << id << QStringLiteral("鼠标") << QStringLiteral("鼠标店") << 59.9
            << 59.9 << false;
        QTest::newRow("JSON-LD product")
            << Page(
                   QStringLiteral("<script type=\"application/ld+json\">{\"@type\": \"Product\", \"name\": \"水杯\", "
                                  "\"url\": \"https://item.example.test/item.htm?id=1234567\", \"offers\": {\"@type\": "
                                  "\"AggregateOffer\", \"lowPrice\": \"15.00\", \"highPrice\": \"18.00\"}}</script>"
                                  "<span class=\"J_WangWang\" data-nick=\"水杯店\"></span>"))
            << html << id << QStringLiteral("水杯") << QStringLiteral("水杯店") << 15.0 << 15.0 << false;
        QTest::newRow("Open Graph and markup")
            << Page(
                   QStringLiteral("<meta property=\"og:title\" content=\"雨伞 - 淘宝网\"><meta property=\"og:url\" "
                                  "content=\"https://item.example.test/item.htm?id=1234567\"><meta "
                                  "property=\"product:price:amount\" content=\"35.00\"><a data-nick=\"伞店\">旺旺</a>"))
            << html << id << QStringLiteral("雨伞") << QStringLiteral("伞店") << 35.0 << 35.0 << false;
        QTest::newRow("newer markup classes, promotion shown")
            << Page(QStringLiteral(
                   "<h1 class=\"ItemHeader--mainTitle--3CIjqW5\">保温杯</h1><div "
                   "class=\"Price--root\"><span class=\"Price--priceText--2nLbVda\">129</span></div><div "
                   "class=\"Promotion--root\"><span class=\"Price--priceText--2nLbVda\">99</span></div>"
                   "<span class=\"shopName--x\">杯子旗舰店</span><input name=item_id value=1234567>"
                   "<input name=seller_nickname value=杯子店>"))
            << html << id << QStringLiteral("保温杯") << QStringLiteral("杯子店") << 99.0 << 99.0 << true;
    }
    void dataForms() {
        QFETCH(QByteArray, page);
        QFETCH(QByteArray, contentType);
        QFETCH(QString, itemId);
        QFETCH(QString, title);
        QFETCH(QString, seller);
        QFETCH(double, price);
        QFETCH(double, high);
        QFETCH(bool, promotion);
        const TItemFields f = ReadItemFields(page, contentType, kAddress);
        QCOMPARE(f.kind, TPageKind::Read);
        QCOMPARE(f.itemId.text, itemId);
        QCOMPARE(f.itemName.text, title);
        QCOMPARE(f.sellerNick.text, seller);
        QCOMPARE(f.priceState, TPriceState::Found);
        QCOMPARE(f.priceValue, price);
        QCOMPARE(f.priceHigh, high);
        QCOMPARE(f.promotionPrice, promotion);
        QVERIFY(!f.gone);
    }

    void addressIdOnlyWhereThePageAgrees() {
        // A page listing other items: the id the address names wins when the page names it too.
        const TItemFields listed = Read(
            QStringLiteral(
                "<script>var d = {recommend: [{itemId: '999'}], itemDO: {itemId: '1234567', title: '宝贝'}};</script>"),
            kAddress);
        QCOMPARE(listed.itemId.text, QStringLiteral("1234567"));
        QCOMPARE(listed.itemId.source, TFieldSource::EmbeddedData);
        QVERIFY(!listed.itemId.passedOver.isEmpty());
    }

    void exactPriceRulesAndPriceMeaning_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<TPriceState>("state");
        QTest::addColumn<double>("price");
        const QString exact = QStringLiteral("<input type=\"hidden\" name=\"current_price\" value= \"%1\" />");
        QTest::newRow("exact price wins over data")
            << exact.arg(QStringLiteral("12.50")) + QStringLiteral("<script>x = {defaultItemPrice: '10'}</script>")
            << TPriceState::Found << 12.5;
        QTest::newRow("exact range gives its low end")
            << exact.arg(QStringLiteral("5499.00-6799.00")) << TPriceState::Found << 5499.0;
        QTest::newRow("exact 0 gives way to data")
            << exact.arg(QStringLiteral("0.00")) + QStringLiteral("<script>x = {defaultItemPrice: '10'}</script>")
            << TPriceState::Found << 10.0;
        QTest::newRow("exact 0 and nothing else is invalid")
            << exact.arg(QStringLiteral("0.00")) << TPriceState::Invalid << 0.0;
        QTest::newRow("negative data price is invalid")
            << QStringLiteral("<script>x = {item: {price: -5}}</script>") << TPriceState::Invalid << 0.0;
        QTest::newRow("a word is no price") << exact.arg(QStringLiteral("面议")) << TPriceState::Missing << 0.0;
        QTest::newRow("no price anywhere") << QStringLiteral("<p>无</p>") << TPriceState::Missing << 0.0;
    }
    void exactPriceRulesAndPriceMeaning() {
        QFETCH(QString, body);
        QFETCH(TPriceState, state);
        QFETCH(double, price);
        const TItemFields f = Read(body);
        QCOMPARE(f.priceState, state);
        QCOMPARE(f.priceValue, price);
    }

    void gonePages_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("gone");
        QTest::newRow("visible words")
            << QStringLiteral("<div class=\"error\">很抱歉，您查看的宝贝不存在，可能已下架或者被转移。</div>") << true;
        QTest::newRow("in the data") << QStringLiteral("<script>x = {detail: {isDownShelf: true}}</script>") << true;
        QTest::newRow("an error message in a data answer")
            << QStringLiteral("<script>y = {ret: ['FAIL_SYS_ITEM_NOT_FOUND::宝贝不存在']}</script>") << true;
        QTest::newRow("hidden words are not shown")
            << QStringLiteral("<div style=\"display: none\">此宝贝已下架</div>") << false;
        QTest::newRow("words in a script are not shown")
            << QStringLiteral("<script>var tip = '此宝贝已下架';</script>") << false;
        QTest::newRow("isDownShelf false") << QStringLiteral("<script>x = {isDownShelf: false}</script>") << false;
    }
    void gonePages() {
        QFETCH(QString, body);
        QFETCH(bool, gone);
        QCOMPARE(Read(body, kAddress).gone, gone);
    }

    void renderedDocumentIsReadByItsStructure() {
        // A browser writes inputs back as <input ... value="x">: the exact end marker then stands
        // only inside a later script. Read by structure, the values are the inputs' own.
        const QString document =
            QStringLiteral("<html><head></head><body><input type=\"hidden\" name=\"title\" value=\"真标题\">"
                           "<input type=\"hidden\" name=\"seller_nickname\" value=\"真卖家\">"
                           "<input type=\"hidden\" name=\"current_price\" value=\"12.50\">"
                           "<input type=\"hidden\" name=\"item_id_num\" value=\"1001\">"
                           "<script>var t = '<b>\" />';</script><p>页面其余部分，足够长的一段正文。</p></body></html>");
        const TItemFields rendered =
            ReadItemFields(document.toUtf8(), "text/html; charset=utf-8", kNoIdAddress, {}, true);
        QCOMPARE(rendered.itemName.text, QStringLiteral("真标题"));
        QCOMPARE(rendered.sellerNick.text, QStringLiteral("真卖家"));
        QCOMPARE(rendered.itemId.text, QStringLiteral("1001"));
        QCOMPARE(rendered.priceValue, 12.5);
    }
};

QTEST_GUILESS_MAIN(TstPageFields)
#include "tst_pagefields.moc"
