// Time to read the fields of one item page of about 230 KB (GBK): a page the exact markers read,
// pages the exact markers cannot read (fields in markup; fields in a script's data), and, for
// comparison, the exact markers alone on the same bytes and the two steps of the structured
// reading on their own: decoding the page to Unicode, and decoding plus parsing its structure.
// Median of 5 rounds of 200 readings each.
#include "reader/Extract.h"
#include "reader/PageFields.h"
#include "reader/PageStructure.h"
#include "reader/PageText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringEncoder>
#include <QTextStream>

#include <algorithm>
#include <functional>

using namespace vantero;

namespace {

QString Filler() {
    QString body;
    for (int i = 0; body.size() < 100000; ++i)
        body += QStringLiteral(
                    "<div class=\"x%1\"><span>纯棉T恤 夏季新款 第%1段</span><a href=\"/a?id=%1\">链接</a></div>\n")
                    .arg(i);
    return body;
}

double MedianMicroseconds(const std::function<qsizetype()>& once) {
    constexpr int kRounds = 5;
    constexpr int kPerRound = 200;
    QList<double> rounds;
    qsizetype sink = 0;
    for (int r = 0; r < kRounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < kPerRound; ++i)
            sink += once();
        rounds.append(timer.nsecsElapsed() / 1000.0 / kPerRound);
    }
    std::sort(rounds.begin(), rounds.end());
    return sink >= 0 ? rounds[kRounds / 2] : 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString filler = Filler();
    const QString head = QStringLiteral("<html><head><title>宝贝-淘宝网</title></head><body>");
    const QString exactFields =
        QStringLiteral("<input type=\"hidden\" name=\"title\" value=\"标题\" />"
                       "<input type=\"hidden\" name=\"seller_nickname\" value=\"店\" />"
                       "<input type=\"hidden\" name=\"current_price\" value= \"1.00\" />"
                       "<input type=\"hidden\" name=\"item_id_num\" value=\"1\" /><span>30天售出：</span><em>3</em>件");
    const QString laterFields =
        QStringLiteral("<input type=\"hidden\" name=\"item_id\" value=\"1\"><script>sellerNick : '店'</script>"
                       "<strong id=\"J_StrPrice\"><em class=\"tb-rmb-num\">1.00</em></strong>");
    QStringEncoder gbk("GBK");
    const QByteArray exactPage = gbk(head + filler + exactFields + filler + QStringLiteral("</body></html>"));
    const QByteArray laterPage = gbk(head + filler + laterFields + filler + QStringLiteral("</body></html>"));
    const QString dataFields = QStringLiteral(
        "<script>var g_config = { itemId: '1', startTime: (+new Date()), sellerNickName: '%E5%BA%97' };\n"
        "TShop.Setup({\"detail\": {\"defaultItemPrice\": \"1.00-2.00\"}, \"itemDO\": {\"title\": \"标题\"}});"
        "</script>");
    const QByteArray dataPage = gbk(head + filler + dataFields + filler + QStringLiteral("</body></html>"));
    const QUrl address(QStringLiteral("http://item.example.test/item.htm?id=1"));

    const double exact =
        MedianMicroseconds([&] { return ReadItemFields(exactPage, "text/html", address).itemId.text.size(); });
    const double later =
        MedianMicroseconds([&] { return ReadItemFields(laterPage, "text/html", address).itemId.text.size(); });
    const double data =
        MedianMicroseconds([&] { return ReadItemFields(dataPage, "text/html", address).itemId.text.size(); });
    const double decode = MedianMicroseconds([&] { return TPageText(laterPage, "text/html").text().size(); });
    const double structure = MedianMicroseconds([&] {
        const TPageText page(laterPage, "text/html");
        return ReadPageStructure(page).prices.size();
    });
    const double markersOnly = MedianMicroseconds([&] {
        qsizetype n = 0;
        for (const char* marker : {"name=\"title\" value=\"", "name=\"seller_nickname\" value=\"",
                                   "name=\"current_price\" value= \"", "name=\"item_id_num\" value=\""})
            n += ExtractBetween(exactPage, marker, "\" />").size();
        return n;
    });
    QTextStream(stdout) << "page_bytes=" << exactPage.size() << " exact_page_us=" << qRound(exact)
                        << " markup_page_us=" << qRound(later) << " data_page_us=" << qRound(data)
                        << " markers_only_us=" << qRound(markersOnly) << " decode_us=" << qRound(decode)
                        << " decode_and_structure_us=" << qRound(structure) << '\n';
    return 0;
}
