// Time to read the fields of one item page of about 230 KB (GBK): a page the exact markers read,
// pages the exact markers cannot read (fields in markup; fields in a script's data), and, for
// comparison, the exact markers alone on the same bytes and the two steps of the structured
// reading on their own: decoding the page to Unicode, and decoding plus parsing its structure;
// and the HTML5 parse alone (gumbo with its own allocation, tree built and freed), the floor of a
// structured reading of markup. Median of 5 rounds of 200 readings each, as elapsed time and as
// this thread's CPU time (the second is what a loaded machine distorts least).
#include "reader/Extract.h"
#include "reader/PageFields.h"
#include "reader/PageStructure.h"
#include "reader/PageText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringEncoder>
#include <QTextStream>

#include <algorithm>
#include <ctime>
#include <functional>
#include <gumbo.h>

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

double ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e9 + double(now.tv_nsec);
}

struct TFigure {
    double wallUs = 0;
    double cpuUs = 0;
};

TFigure Median(const std::function<qsizetype()>& once) {
    constexpr int kRounds = 5;
    constexpr int kPerRound = 200;
    QList<double> walls;
    QList<double> cpus;
    qsizetype sink = 0;
    for (int r = 0; r < kRounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = ThreadCpuNs();
        for (int i = 0; i < kPerRound; ++i)
            sink += once();
        cpus.append((ThreadCpuNs() - cpuStart) / 1000.0 / kPerRound);
        walls.append(timer.nsecsElapsed() / 1000.0 / kPerRound);
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    return sink >= 0 ? TFigure{walls[kRounds / 2], cpus[kRounds / 2]} : TFigure{};
}

QTextStream& operator<<(QTextStream& out, const std::pair<const char*, TFigure>& named) {
    return out << ' ' << named.first << "_us=" << qRound(named.second.wallUs) << ' ' << named.first
               << "_cpu_us=" << qRound(named.second.cpuUs);
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

    const TFigure exact = Median([&] { return ReadItemFields(exactPage, "text/html", address).itemId.text.size(); });
    const TFigure later = Median([&] { return ReadItemFields(laterPage, "text/html", address).itemId.text.size(); });
    const TFigure data = Median([&] { return ReadItemFields(dataPage, "text/html", address).itemId.text.size(); });
    const TFigure decode = Median([&] { return TPageText(laterPage, "text/html").text().size(); });
    const TFigure structure = Median([&] {
        const TPageText page(laterPage, "text/html");
        return ReadPageStructure(page).prices.size();
    });
    const QByteArray laterUtf8 = TPageText(laterPage, "text/html").text().toUtf8();
    const TFigure parse = Median([&] {
        GumboOutput* output =
            gumbo_parse_with_options(&kGumboDefaultOptions, laterUtf8.constData(), size_t(laterUtf8.size()));
        const qsizetype children = qsizetype(output->root->v.element.children.length);
        gumbo_destroy_output(&kGumboDefaultOptions, output);
        return children;
    });
    const TFigure markersOnly = Median([&] {
        qsizetype n = 0;
        for (const char* marker : {"name=\"title\" value=\"", "name=\"seller_nickname\" value=\"",
                                   "name=\"current_price\" value= \"", "name=\"item_id_num\" value=\""})
            n += ExtractBetween(exactPage, marker, "\" />").size();
        return n;
    });
    QTextStream out(stdout);
    out << "page_bytes=" << exactPage.size() << std::pair{"exact_page", exact} << std::pair{"markup_page", later}
        << std::pair{"data_page", data} << std::pair{"markers_only", markersOnly} << std::pair{"decode", decode}
        << std::pair{"decode_and_structure", structure} << std::pair{"gumbo_parse_only", parse} << '\n';
    return 0;
}
