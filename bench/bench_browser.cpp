// Rendered readings against direct ones: 50 readings each of one 200 KB item page with script,
// served on 127.0.0.1; time per reading and memory (this process, and the browser's render
// processes), read after the 1st, 10th and 50th rendered reading.
#include "reader/BrowserEngine.h"
#include "reader/ReadModes.h"
#include "reader/UtReadItemThr.h"
#include "store/Connection.h"
#include "support/TestHttpServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace vantero;

namespace {

constexpr int kReadings = 50;
constexpr int kPageSize = 200 * 1024;

// The item's fields sit in a template block (raw text, kept as it is by the browser's document
// writer), so both kinds of reading find them with the same markers; the page's script builds
// a list after the load, as item pages do.
QByteArray Page() {
    QByteArray page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>bench</title></head><body>\n"
                      "<script type=\"text/x-template\" id=\"fields\">\n"
                      "<input type=\"hidden\" name=\"title\" value=\"测速宝贝\" />\n"
                      "<input type=\"hidden\" name=\"seller_nickname\" value=\"shopa\" />\n"
                      "<input type=\"hidden\" name=\"current_price\" value= \"12.50\" />\n"
                      "<input type=\"hidden\" name=\"item_id_num\" value=\"900001\" />\n"
                      "<li><span>30天售出：</span><em>12</em>件</li>\n"
                      "</script>\n<ul id=\"list\"></ul>\n"
                      "<script>window.addEventListener('load', function () { var l = document.getElementById('list');"
                      " for (var i = 0; i < 500; ++i) { var e = document.createElement('li');"
                      " e.textContent = '规格 ' + i; l.appendChild(e); } });</script>\n";
    const QByteArray paragraph = "<p>宝贝描述：纯棉面料，做工精细，尺码齐全，欢迎选购。</p>\n";
    while (page.size() + paragraph.size() + 20 < kPageSize)
        page += paragraph;
    page += "</body></html>\n";
    return page;
}

long RssKb(pid_t pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

long PeakKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

// Resident memory of every process below this one (the browser's helpers), in KB.
long ChildrenRssKb() {
    QHash<pid_t, pid_t> parents;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const pid_t pid = entry.toInt(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            parents.insert(pid, fields.at(1).toInt());
    }
    long total = 0;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
        for (pid_t up = it.value(); up > 1; up = parents.value(up, 0)) {
            if (up == getpid()) {
                total += RssKb(it.key());
                break;
            }
        }
    }
    return total;
}

double Median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(kDatabaseFileName));
    if (!PrepareDatabaseFile(path).isEmpty())
        return 1;
    const TConnection con(path);
    test::TTestHttpServer server;
    const QByteArray page = Page();
    server.route(QStringLiteral("/item?id=900001"), page, "text/html; charset=utf-8");
    const QString url = server.url(QStringLiteral("/item?id=900001"));
    TBrowserEngine::Start();

    auto read = [&](int mode) {
        TReadItem reader(con);
        reader.URL = url;
        reader.ExpectedSeller = QStringLiteral("shopa");
        reader.ReadModeOverride = mode;
        QElapsedTimer timer;
        timer.start();
        reader.start();
        while (!reader.IsFinished())
            QTest::qWait(1);
        const double ms = timer.nsecsElapsed() / 1e6;
        reader.wait();
        if (reader.ResultCode > TReadItem::rcAdded) {
            std::fprintf(stderr, "reading failed: %d %s\n", reader.ResultCode, qPrintable(reader.ErrorText));
            std::exit(3);
        }
        return ms;
    };

    QList<double> direct;
    for (int i = 0; i < kReadings; ++i)
        direct << read(rmDirect);
    QList<double> rendered;
    long rss1 = 0, rss10 = 0, kids1 = 0, kids10 = 0;
    for (int i = 0; i < kReadings; ++i) {
        rendered << read(rmBrowser);
        QTest::qWait(50); // the released page's render process settles
        if (i == 0) {
            rss1 = RssKb(getpid());
            kids1 = ChildrenRssKb();
        } else if (i == 9) {
            rss10 = RssKb(getpid());
            kids10 = ChildrenRssKb();
        }
    }
    const long rss50 = RssKb(getpid());
    const long kids50 = ChildrenRssKb();
    std::printf("page_kb=%lld readings=%d\n", qlonglong(page.size() / 1024), kReadings);
    std::printf("direct_ms median=%.1f max=%.1f\n", Median(direct), *std::max_element(direct.begin(), direct.end()));
    std::printf("rendered_ms median=%.1f max=%.1f first=%.1f\n", Median(rendered),
                *std::max_element(rendered.begin(), rendered.end()), rendered.first());
    std::printf("process_rss_mb after_1=%.0f after_10=%.0f after_50=%.0f peak=%.0f\n", rss1 / 1024.0, rss10 / 1024.0,
                rss50 / 1024.0, PeakKb() / 1024.0);
    std::printf("render_processes_rss_mb after_1=%.0f after_10=%.0f after_50=%.0f\n", kids1 / 1024.0, kids10 / 1024.0,
                kids50 / 1024.0);
    TBrowserEngine::Shutdown();
    TConnection::closeThreadConnections();
    return 0;
}
