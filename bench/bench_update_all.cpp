// update-all over 1,000 own items with 3 mapped rival items each (4,000 pages of 30 KB, GBK),
// served on 127.0.0.1 by a lean server that answers at once; compared, in the same run, with one
// curl process fetching the same 4,000 addresses in the same order; five rounds of each in turn,
// the summary line giving the medians. Then a round of each with compressed pages (the server
// gzips when asked), and the bytes on the wire per page with and without compression.
#include "catalogue/HeadlessUpdate.h"
#include "catalogue/MainData.h"
#include "net/HttpEngine.h"
#include "reader/PageFields.h"
#include "reader/PageText.h"
#include "reader/UtReadAllItemThr.h"
#include "reader/UtReadItemThr.h"
#include "store/Connection.h"
#include "support/Compression.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUrl>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>

using namespace vantero;

namespace {

int kItems = 1000; // an argument may lower it for a quick look
constexpr int kRivals = 3;
constexpr int kRounds = 5;
constexpr int kCompressedRounds = 3;
constexpr int kPageSize = 30 * 1024;

QByteArray Gbk(const QString& text) {
    QStringEncoder encoder("GBK");
    return encoder(text);
}

// /p/<seller>/<item id>: an item page of kPageSize bytes for that seller and id.
QByteArray PageFor(const QByteArray& target, const QByteArray& padding) {
    const QList<QByteArray> parts = target.split('/');
    if (parts.size() != 4 || parts[1] != "p")
        return {};
    QByteArray page = "<html><head><meta charset=\"gbk\"></head><body>\n"
                      "<input type=\"hidden\" name=\"title\" value=\"" +
                      Gbk(QStringLiteral("宝贝 ")) + parts[3] +
                      "\" />\n"
                      "<input type=\"hidden\" name=\"seller_nickname\" value=\"" +
                      parts[2] +
                      "\" />\n"
                      "<input type=\"hidden\" name=\"current_price\" value= \"12.50\" />\n"
                      "<input type=\"hidden\" name=\"item_id_num\" value=\"" +
                      parts[3] + "\" />\n" + Gbk(QStringLiteral("<span>30天售出：</span><em>12</em>件")) + "\n";
    page += padding.left(kPageSize - page.size() - 15);
    page += "</body></html>\n";
    return page;
}

// Keep-alive HTTP/1.1 on 127.0.0.1, one thread per connection, every answer ready at once.
class TLeanServer {
public:
    TLeanServer() {
        const QString filler = QStringLiteral("<p>宝贝详情，规格参数，售后服务。</p>\n");
        while (m_padding.size() < kPageSize)
            m_padding += Gbk(filler);
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        int on = 1;
        setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(m_listener, 128) != 0)
            qFatal("bench server: cannot listen on 127.0.0.1");
        socklen_t length = sizeof address;
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { Accept(); });
    }
    ~TLeanServer() {
        m_stopping = true;
        shutdown(m_listener, SHUT_RDWR);
        close(m_listener);
        m_acceptor.join();
    }
    quint16 port() const { return m_port; }
    long requests() const { return m_requests.load(); }
    long connections() const { return m_connections.load(); }
    qint64 bodyBytes() const { return m_bodyBytes.load(); }
    // From now on pages go gzipped to requests that accept gzip; each page is compressed here,
    // once, so the rounds measure the readers, not the server's compressor.
    void compressFor(const QList<QByteArray>& targets) {
        for (const QByteArray& target : targets)
            m_gzipped.insert(target, test::Gzip(PageFor(target, m_padding)));
        m_compress = true;
    }

private:
    void Accept() {
        while (!m_stopping) {
            const int client = accept(m_listener, nullptr, nullptr);
            if (client < 0)
                return;
            ++m_connections;
            std::thread([this, client] { Serve(client); }).detach();
        }
    }
    void Serve(int client) {
        int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        QByteArray buffer;
        char chunk[8192];
        for (;;) {
            qsizetype end;
            while ((end = buffer.indexOf("\r\n\r\n")) < 0) {
                const ssize_t n = read(client, chunk, sizeof chunk);
                if (n <= 0) {
                    close(client);
                    return;
                }
                buffer.append(chunk, n);
            }
            const QByteArray head = buffer.left(end);
            buffer.remove(0, end + 4);
            const QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
            const QByteArray target = words.value(1);
            const bool gzip = m_compress && head.toLower().contains("\r\naccept-encoding:") &&
                              head.toLower().contains("gzip") && m_gzipped.contains(target);
            const QByteArray body = gzip ? m_gzipped.value(target) : PageFor(target, m_padding);
            ++m_requests;
            m_bodyBytes += body.size();
            QByteArray answer = (body.isEmpty() ? "HTTP/1.1 404 Not Found\r\n" : "HTTP/1.1 200 OK\r\n");
            answer += "Content-Type: text/html; charset=gbk\r\n";
            if (gzip)
                answer += "Content-Encoding: gzip\r\n";
            answer += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
            // A client that asks to close gets a connection per request, as HTTP/1.1 says.
            const bool closing = head.toLower().contains("\r\nconnection: close");
            if (closing)
                answer.insert(answer.indexOf("\r\n") + 2, "Connection: close\r\n");
            for (qsizetype sent = 0; sent < answer.size();) {
                const ssize_t n = write(client, answer.constData() + sent, size_t(answer.size() - sent));
                if (n <= 0) {
                    close(client);
                    return;
                }
                sent += n;
            }
            if (closing) {
                close(client);
                return;
            }
        }
    }

    int m_listener = -1;
    quint16 m_port = 0;
    QByteArray m_padding;
    std::thread m_acceptor;
    std::atomic<bool> m_stopping{false};
    std::atomic<long> m_requests{0};
    std::atomic<long> m_connections{0};
    std::atomic<qint64> m_bodyBytes{0};
    std::atomic<bool> m_compress{false};
    QHash<QByteArray, QByteArray> m_gzipped; // filled before m_compress is set, read-only after
};

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc > 1)
        kItems = std::max(1, atoi(argv[1]));
    QTextStream out(stdout);
    TLeanServer server;
    const QString base = QStringLiteral("http://127.0.0.1:%1/p/").arg(server.port());

    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(kDatabaseFileName));
    if (const QString problem = PrepareDatabaseFile(path); !problem.isEmpty())
        qFatal("%s", qPrintable(problem));
    TConnection con(path);
    QStringList order; // every address in the order the updater visits them
    con.exec(QStringLiteral("begin"));
    con.exec(QStringLiteral("update Setting set WW='myshop'"));
    for (int r = 0; r < kRivals; ++r)
        con.exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values (?, ?)"),
                 {QStringLiteral("rival%1").arg(r), QStringLiteral("http://127.0.0.1/shop%1").arg(r)});
    for (int i = 0; i < kItems; ++i) {
        const QString id = QString::number(100000 + i);
        const QString url = base + QStringLiteral("myshop/") + id;
        order << url;
        con.exec(QStringLiteral("insert into Items (ItemID, ItemName, URL, Price, SellCount) values (?, ?, ?, 0, 0)"),
                 {id, QStringLiteral("宝贝 ") + id, url});
        for (int r = 0; r < kRivals; ++r) {
            const QString ww = QStringLiteral("rival%1").arg(r);
            const QString rivalId = QString::number(500000 + i * kRivals + r);
            const QString rivalUrl = base + ww + u'/' + rivalId;
            order << rivalUrl;
            con.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                                    "SellCount) values (?, ?, ?, ?, ?, 0, 0)"),
                     {ww, id, rivalId, QStringLiteral("同行宝贝"), rivalUrl});
        }
    }
    con.exec(QStringLiteral("commit"));

    QFile config(dir.filePath(QStringLiteral("curl.cfg")));
    if (!config.open(QIODevice::WriteOnly))
        qFatal("cannot write the curl configuration");
    for (const QString& url : std::as_const(order))
        config.write("url = \"" + url.toUtf8() + "\"\noutput = \"/dev/null\"\n");
    config.close();
    auto runCurl = [&config](const QStringList& extra) {
        QElapsedTimer clock;
        clock.start();
        QProcess curl;
        curl.start(QStringLiteral("curl"),
                   QStringList{QStringLiteral("-s")} + extra + QStringList{QStringLiteral("-K"), config.fileName()});
        if (!curl.waitForFinished(-1) || curl.exitCode() != 0)
            qFatal("curl failed: %s", curl.readAllStandardError().constData());
        return double(clock.nsecsElapsed()) / 1e9;
    };

    // update-all, in process: the same updater and headless host as the command; its time goes to
    // times, the number of status texts it showed to texts.
    auto runUpdate = [&con](QList<double>& times, int* texts) {
        QElapsedTimer clock;
        clock.start();
        TMainData data(con);
        data.ApplySettings();
        data.RefreshAllData();
        const TReadAllItemThr::Tally tally = RunHeadlessUpdate(data, [texts](const QString&) { ++*texts; });
        times << double(clock.nsecsElapsed()) / 1e9;
        return tally;
    };

    // Rounds of update-all and curl in turn: a shared machine's hiccups hit single runs, so the
    // summary takes the median of each.
    QList<double> updateTimes;
    QList<double> curlTimes;
    int readings = 0;
    double updateBytesPerPage = 0;
    for (int round = 1; round <= kRounds; ++round) {
        const qint64 bytesBefore = server.bodyBytes();
        int texts = 0;
        const TReadAllItemThr::Tally tally = runUpdate(updateTimes, &texts);
        readings = tally.readings;
        updateBytesPerPage = double(server.bodyBytes() - bytesBefore) / double(order.size());
        if (tally.readings != int(order.size()) || tally.stored != int(order.size()))
            qWarning("not every reading was stored");

        // One curl process, the same addresses in the same order.
        const long before = server.requests();
        curlTimes << runCurl({});
        out << QStringLiteral("round %1: update-all %2 s (readings=%3 stored=%4 refused=%5 failed=%6 texts=%7), "
                              "curl %8 s (requests=%9)\n")
                   .arg(round)
                   .arg(updateTimes.last(), 0, 'f', 3)
                   .arg(tally.readings)
                   .arg(tally.stored)
                   .arg(tally.refused)
                   .arg(tally.failed)
                   .arg(texts)
                   .arg(curlTimes.last(), 0, 'f', 3)
                   .arg(server.requests() - before);
        out.flush();
    }

    // For the record: curl with a new connection per page, as every reading makes one.
    const long connectionsBefore = server.connections();
    const double curlCloseSeconds = runCurl({QStringLiteral("-H"), QStringLiteral("Connection: close")});
    out << QStringLiteral("curl with a new connection per page: %1 s (connections=%2)\n")
               .arg(curlCloseSeconds, 0, 'f', 3)
               .arg(server.connections() - connectionsBefore);

    auto median = [](QList<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    const double updateSeconds = median(updateTimes);
    const double curlSeconds = median(curlTimes);

    // Where a reading's time goes: the same 4,000 pages downloaded alone by the engine, then
    // downloaded and read into fields, then read whole (download, fields, store) on this thread,
    // without the updater's hand-overs. Wall time, and this thread's own processor time, which a
    // busy machine disturbs far less than the wall clock.
    {
        struct TStage {
            QList<double> wall;
            QList<double> cpu;
        } download, fields, whole;
        auto measure = [&order](TStage& stage, const auto& one) {
            const double cpu0 = ThreadCpuSeconds();
            QElapsedTimer clock;
            clock.start();
            for (qsizetype i = 0; i < order.size(); ++i)
                one(i);
            stage.wall << double(clock.nsecsElapsed()) / 1e9;
            stage.cpu << ThreadCpuSeconds() - cpu0;
        };
        for (int round = 1; round <= 3; ++round) {
            measure(download, [&](qsizetype i) { HttpGet(QUrl(order[i]), {}, {}, {}); });
            measure(fields, [&](qsizetype i) {
                const QUrl url(order[i]);
                THttpResponse response = HttpGet(url, {}, {}, {});
                const TPageText page(std::move(response.body), response.contentType);
                if (ReadItemFields(page, url, response.finalUrl).itemId.text.isEmpty())
                    qWarning("a page without item id");
            });
            measure(whole, [&](qsizetype i) {
                TReadItem reader(con);
                reader.URL = order[i];
                const bool own = i % (kRivals + 1) == 0;
                const QList<QString> parts = order[i].split(u'/');
                reader.ExpectedSeller = parts.value(parts.size() - 2);
                reader.LocalItemID = own ? QString() : QString::number(100000 + i / (kRivals + 1));
                reader.ReadHere();
            });
        }
        const double perPage = 1e6 / double(order.size());
        out << QStringLiteral("per_page_us: curl=%1 curl_new_connection=%2 engine_download=%3 whole_reading=%4 "
                              "update_all=%5\n")
                   .arg(curlSeconds * perPage, 0, 'f', 1)
                   .arg(curlCloseSeconds * perPage, 0, 'f', 1)
                   .arg(median(download.wall) * perPage, 0, 'f', 1)
                   .arg(median(whole.wall) * perPage, 0, 'f', 1)
                   .arg(updateSeconds * perPage, 0, 'f', 1);
        // The reading thread's own processor time by stage; the server's and the kernel's work on
        // the other side of the loopback is not in it.
        const double cpuDownload = median(download.cpu) * perPage;
        const double cpuFields = median(fields.cpu) * perPage;
        const double cpuWhole = median(whole.cpu) * perPage;
        out << QStringLiteral("cpu_per_page_us: download=%1 encoding_and_fields=%2 store=%3 whole_reading=%4\n")
                   .arg(cpuDownload, 0, 'f', 1)
                   .arg(cpuFields - cpuDownload, 0, 'f', 1)
                   .arg(cpuWhole - cpuFields, 0, 'f', 1)
                   .arg(cpuWhole, 0, 'f', 1);
        out.flush();
    }

    // Compressed pages: the readers ask for them by themselves, curl with --compressed.
    QList<QByteArray> targets;
    for (const QString& url : std::as_const(order))
        targets << QUrl(url).path(QUrl::FullyEncoded).toUtf8();
    server.compressFor(targets);
    QList<double> gzipUpdateTimes;
    QList<double> gzipCurlTimes;
    double gzipBytesPerPage = 0;
    for (int round = 1; round <= kCompressedRounds; ++round) {
        const qint64 bytesBefore = server.bodyBytes();
        int texts = 0;
        const TReadAllItemThr::Tally tally = runUpdate(gzipUpdateTimes, &texts);
        gzipBytesPerPage = double(server.bodyBytes() - bytesBefore) / double(order.size());
        if (tally.readings != int(order.size()) || tally.stored != int(order.size()))
            qWarning("not every compressed reading was stored");
        gzipCurlTimes << runCurl({QStringLiteral("--compressed")});
        out << QStringLiteral("compressed round %1: update-all %2 s, curl --compressed %3 s\n")
                   .arg(round)
                   .arg(gzipUpdateTimes.last(), 0, 'f', 3)
                   .arg(gzipCurlTimes.last(), 0, 'f', 3);
        out.flush();
    }
    out << QStringLiteral("wire_bytes_per_page plain=%1 gzip=%2 (body bytes the server sent per reading)\n")
               .arg(updateBytesPerPage, 0, 'f', 0)
               .arg(gzipBytesPerPage, 0, 'f', 0);
    out << QStringLiteral("compressed: update_all_s=%1 curl_s=%2 ratio=%3\n")
               .arg(median(gzipUpdateTimes), 0, 'f', 3)
               .arg(median(gzipCurlTimes), 0, 'f', 3)
               .arg(median(gzipUpdateTimes) / median(gzipCurlTimes), 0, 'f', 2);
    out << QStringLiteral("update_all_s=%1 curl_s=%2 ratio=%3 readings_per_s=%4\n")
               .arg(updateSeconds, 0, 'f', 3)
               .arg(curlSeconds, 0, 'f', 3)
               .arg(updateSeconds / curlSeconds, 0, 'f', 2)
               .arg(readings / updateSeconds, 0, 'f', 1);
    TConnection::closeAll();
    return 0;
}
