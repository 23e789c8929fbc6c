// A round of readings over a line like the seller's: latency and a rate limit, http and https.
//
// Run as root. It makes two network namespaces joined by a veth pair with netem delay and rate on
// both ends, a throw-away CA (the system's bundle plus its own certificate, bind-mounted over the
// bundle's path in a private mount namespace of each client run: the machine's store is never
// touched), and a page server in the server namespace. Each round runs in the client namespace:
// `vantero-cli update-all` on a seeded database, and as references curl (a new connection per
// page, compressed) and minimal libcurl loops. It prints each round's time, CPU time, connections,
// full and resumed handshakes and Fast Open connections (counted at the server), bytes on the
// wire per page, and the ratios; the last line is
//   realline http_ratio=X https_ratio=Y cpu_ms_per_reading=Z
//
//   bench_realline [PAGES]      (default 200; BENCH_DELAY_MS=20 BENCH_RATE=20mbit BENCH_TLS12=1)
// Command lines and ip/tc words are plain ASCII here; the program's own sources keep the rule.
#undef QT_NO_CAST_FROM_ASCII
#include "store/Connection.h"
#include "support/MeasuredChild.h"
#include "support/TlsPageServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <memory>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <optional>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vantero;
using namespace vantero::test;

namespace {

constexpr int kRivalsPerItem = 3;
const char* const kClientAddress = "10.231.77.1";
const char* const kServerAddress = "10.231.77.2";
const char* const kBundlePath = "/etc/ssl/certs/ca-certificates.crt";

// ---- pages ----------------------------------------------------------------------------------

// An item page of about 150 KB in GBK, different for every path "/p/SELLER/ID.htm".
QByteArray ItemPage(const QByteArray& path) {
    const QList<QByteArray> parts = path.split('/');
    if (parts.size() != 4 || parts.at(1) != "p" || !parts.at(3).endsWith(".htm"))
        return {};
    const QString seller = QString::fromLatin1(parts.at(2));
    const QString id = QString::fromLatin1(parts.at(3).chopped(4));
    QString html = QStringLiteral("<html><head><meta charset=\"gbk\"><title>宝贝 %1</title></head><body>\n").arg(id);
    html += QStringLiteral("<input type=\"hidden\" name=\"title\" value=\"测试宝贝 %1 纯棉短袖\" />\n").arg(id);
    html += QStringLiteral("<input type=\"hidden\" name=\"seller_nickname\" value=\"%1\" />\n").arg(seller);
    html += QStringLiteral("<input type=\"hidden\" name=\"current_price\" value= \"%1.90\" />\n").arg(id.toInt() % 300);
    html += QStringLiteral("<input type=\"hidden\" name=\"item_id_num\" value=\"%1\" />\n").arg(id);
    html += QStringLiteral("<span>30天售出：</span><em>%1</em>件\n").arg(id.toInt() % 97);
    quint32 seed = id.toUInt();
    for (int line = 0; html.size() < 138000; ++line) {
        seed = seed * 1103515245u + 12345u;
        html += QStringLiteral("<li class=\"sku\" data-sku=\"%1\"><a href=\"//detail.example.invalid/item.htm?id=%2&"
                               "sku=%3\">颜色分类：%4 尺码：%5 库存 %6 件 月销 %7 笔</a></li>\n")
                    .arg(seed % 100000)
                    .arg(id)
                    .arg(line)
                    .arg(QStringLiteral("黑色 白色 藏青 灰色 卡其").section(u' ', int(seed % 5), int(seed % 5)))
                    .arg(QStringLiteral("S M L XL XXL").section(u' ', int(seed >> 8) % 5, int(seed >> 8) % 5))
                    .arg(seed % 997)
                    .arg(seed % 311);
    }
    html += QStringLiteral("</body></html>\n");
    QStringEncoder gbk("GBK");
    return gbk.encode(html);
}

// ---- the reference loops (run in the client namespace as a child of this program) -----------

std::shared_ptr<X509_STORE> gStore;

CURLcode UseKeptStore(CURL*, void* context, void*) {
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(context), gStore.get());
    return CURLE_OK;
}

size_t Discard(char*, size_t size, size_t count, void* total) {
    *static_cast<qint64*>(total) += qint64(size * count);
    return size * count;
}

void SharedLock(CURL*, curl_lock_data, curl_lock_access, void*) {}
void SharedUnlock(CURL*, curl_lock_data, void*) {}

// mode: "new" (a new handle per page, libcurl's defaults: the CA bundle read per connection),
// "cache" (libcurl's own CA cache: one transfer driver, no certificate folder), "kept" (a store
// loaded once, given to every connection), "resume" (kept, plus TLS sessions and Fast Open).
int RunLoop(const QString& mode, const QString& urlFile) {
    QFile file(urlFile);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QList<QByteArray> urls = file.readAll().split('\n');
    curl_global_init(CURL_GLOBAL_DEFAULT);
    if (mode == QLatin1String("kept") || mode == QLatin1String("resume")) {
        gStore.reset(X509_STORE_new(), &X509_STORE_free);
        X509_STORE_load_file(gStore.get(), kBundlePath);
        X509_STORE_load_path(gStore.get(), "/etc/ssl/certs");
        X509_STORE_set_flags(gStore.get(), X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    }
    CURLSH* share = curl_share_init();
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &SharedLock);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &SharedUnlock);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    if (mode == QLatin1String("resume"))
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    CURLM* multi = curl_multi_init();
    qint64 total = 0;
    int failures = 0;
    for (const QByteArray& url : urls) {
        if (url.isEmpty())
            continue;
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, url.constData());
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip");
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Discard);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &total);
        curl_easy_setopt(easy, CURLOPT_SHARE, share);
        if (gStore) {
            curl_easy_setopt(easy, CURLOPT_CAINFO, static_cast<const char*>(nullptr));
            curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
            curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
            curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &UseKeptStore);
        }
        if (mode == QLatin1String("cache"))
            curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
        if (mode == QLatin1String("resume"))
            curl_easy_setopt(easy, CURLOPT_TCP_FASTOPEN, 1L);
        CURLcode result = CURLE_OK;
        if (mode == QLatin1String("cache")) {
            // The cache lives in the transfer driver: every page goes through the same one.
            curl_multi_add_handle(multi, easy);
            for (int running = 1; running;) {
                curl_multi_perform(multi, &running);
                if (running)
                    curl_multi_poll(multi, nullptr, 0, 100, nullptr);
            }
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left))
                result = message->data.result;
            curl_multi_remove_handle(multi, easy);
        } else {
            result = curl_easy_perform(easy);
        }
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        if (result != CURLE_OK || status != 200)
            ++failures;
        curl_easy_cleanup(easy);
    }
    curl_multi_cleanup(multi);
    curl_share_cleanup(share);
    printf("loop bytes=%lld failures=%d\n", static_cast<long long>(total), failures);
    return failures == 0 ? 0 : 3;
}

// ---- the server (run in the server namespace as a child of this program) --------------------

int RunServer(const QStringList& args) {
    TTlsPageServer::Options options;
    options.address = kServerAddress;
    options.port = quint16(args.value(0).toUInt());
    const int tls = args.value(1).toInt();
    options.tls = tls != 0;
    options.tlsVersion = tls;
    options.certFile = args.value(2);
    options.keyFile = args.value(3);
    options.fastOpen = true; // as a server that offers it; the client decides
    options.page = &ItemPage;
    TTlsPageServer server(options);
    if (!server.ok()) {
        printf("error %s\n", qPrintable(server.error()));
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    char line[16];
    while (fgets(line, sizeof line, stdin)) {
    }
    const TTlsPageServer::Counts counts = server.counts();
    printf("counts %d %d %d %d %lld\n", counts.connections, counts.fullHandshakes, counts.resumedHandshakes,
           counts.fastOpened, static_cast<long long>(counts.bytesSent));
    fflush(stdout);
    return 0;
}

// ---- the line -------------------------------------------------------------------------------

QString Run(const QString& program, const QStringList& args, bool* ok = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    const bool done =
        process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (ok)
        *ok = done;
    return QString::fromLocal8Bit(process.readAll()).trimmed();
}

// Where the kernel has no netem: the same line made by this program, packet by packet, between a
// tun device in each namespace. Each direction sends its packets one after another at the rate and
// holds each for the delay before it comes out at the other end, as netem's delay and rate do.
class TUserLine {
public:
    TUserLine(int clientFd, int serverFd, int delayMs, double bitsPerSecond)
        : m_delayNs(qint64(delayMs) * 1000000), m_bitsPerSecond(bitsPerSecond) {
        m_threads.emplace_back([=, this] { forward(clientFd, serverFd); });
        m_threads.emplace_back([=, this] { forward(serverFd, clientFd); });
    }
    ~TUserLine() {
        m_stop = true;
        for (std::thread& thread : m_threads)
            thread.join();
    }

private:
    static qint64 Now() {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    }

    void forward(int from, int to) {
        struct TPacket {
            qint64 due;
            QByteArray bytes;
        };
        std::deque<TPacket> line;
        qint64 wireFree = 0; // when the sending end is free again
        char buffer[65536];
        while (!m_stop) {
            const qint64 now = Now();
            while (!line.empty() && line.front().due <= now) {
                // A packet the other end cannot take is lost, as on a cable.
                [[maybe_unused]] const ssize_t written =
                    ::write(to, line.front().bytes.constData(), size_t(line.front().bytes.size()));
                line.pop_front();
            }
            const int waitMs = line.empty() ? 20 : int(std::clamp<qint64>((line.front().due - now) / 1000000, 0, 20));
            pollfd readable{from, POLLIN, 0};
            if (::poll(&readable, 1, waitMs) <= 0)
                continue;
            const ssize_t got = ::read(from, buffer, sizeof buffer);
            if (got <= 0 || line.size() >= 10000)
                continue;
            const qint64 arrived = Now();
            wireFree = std::max(wireFree, arrived) + qint64(double(got) * 8 * 1e9 / m_bitsPerSecond);
            line.push_back({wireFree + m_delayNs, QByteArray(buffer, qsizetype(got))});
            m_bytes += got;
        }
    }

public:
    qint64 bytes() const { return m_bytes.load(); }

private:
    std::atomic<qint64> m_bytes{0};
    const qint64 m_delayNs;
    const double m_bitsPerSecond;
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_threads;
};

// A tun device attached inside its namespace (a thread may change its own network namespace).
int OpenTun(const QString& ns, const QString& name) {
    int fd = -1;
    std::thread([&] {
        const int nsFd = open(QFile::encodeName("/var/run/netns/" + ns).constData(), O_RDONLY);
        if (nsFd < 0 || setns(nsFd, CLONE_NEWNET) != 0)
            return;
        close(nsFd);
        fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
        ifreq request{};
        request.ifr_flags = IFF_TUN | IFF_NO_PI;
        strncpy(request.ifr_name, name.toLatin1().constData(), IFNAMSIZ - 1);
        if (fd >= 0 && ioctl(fd, TUNSETIFF, &request) != 0) {
            close(fd);
            fd = -1;
        }
    }).join();
    return fd;
}

// "20mbit", "512kbit" or bits per second.
double RateBits(QString rate) {
    rate = rate.toLower();
    double factor = 1;
    if (rate.endsWith(QLatin1String("mbit")))
        factor = 1e6;
    else if (rate.endsWith(QLatin1String("kbit")))
        factor = 1e3;
    if (factor > 1)
        rate.chop(4);
    return rate.toDouble() * factor;
}

class TLine {
public:
    TLine() {
        const QString id = QString::number(getpid());
        m_client = QStringLiteral("vtr%1c").arg(id);
        m_server = QStringLiteral("vtr%1s").arg(id);
    }
    ~TLine() {
        m_userLine.reset();
        for (const int fd : m_tunFds)
            close(fd);
        // The devices go with their namespaces.
        Run(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("del"), m_client});
        Run(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("del"), m_server});
    }

    // How the line is made: by netem, or by this program where the kernel has no netem.
    QString how() const { return m_how; }

    // '' when the line stands, else why not.
    QString make(int delayMs, const QString& rate) {
        if (const QString why = runSteps({{"netns", "add", m_client}, {"netns", "add", m_server}}); !why.isEmpty())
            return why;
        return hasNetem() ? makeNetem(delayMs, rate) : makeUserLine(delayMs, rate);
    }

    QString client() const { return m_client; }
    QString server() const { return m_server; }

    // Bytes through the server's end of the line so far, both ways.
    qint64 wireBytes() const {
        if (m_userLine)
            return m_userLine->bytes();
        const QString json = Run(QStringLiteral("ip"), {"-n", m_server, "-j", "-s", "link", "show", "dev", m_server});
        const QJsonObject stats =
            QJsonDocument::fromJson(json.toUtf8()).array().at(0).toObject().value("stats64").toObject();
        return qint64(stats.value("rx").toObject().value("bytes").toDouble() +
                      stats.value("tx").toObject().value("bytes").toDouble());
    }

private:
    bool hasNetem() const {
        bool ok = false;
        Run(QStringLiteral("ip"),
            {"netns", "exec", m_client, "tc", "qdisc", "add", "dev", "lo", "root", "netem", "delay", "1ms"}, &ok);
        if (ok)
            Run(QStringLiteral("ip"), {"netns", "exec", m_client, "tc", "qdisc", "del", "dev", "lo", "root"});
        return ok;
    }

    QString makeNetem(int delayMs, const QString& rate) {
        const QString delay = QStringLiteral("%1ms").arg(delayMs);
        const QList<QStringList> steps = {
            {"link", "add", m_client, "netns", m_client, "type", "veth", "peer", "name", m_server, "netns", m_server},
            {"-n", m_client, "addr", "add", QString::fromLatin1(kClientAddress) + "/24", "dev", m_client},
            {"-n", m_server, "addr", "add", QString::fromLatin1(kServerAddress) + "/24", "dev", m_server},
        };
        if (const QString why = runSteps(steps); !why.isEmpty())
            return why;
        for (const QString& ns : {m_client, m_server}) {
            bool ok = false;
            const QString output = Run(QStringLiteral("ip"),
                                       {"netns", "exec", ns, "tc", "qdisc", "add", "dev", ns, "root", "netem", "delay",
                                        delay, "rate", rate, "limit", "10000"},
                                       &ok);
            if (!ok)
                return QStringLiteral("tc netem: %1").arg(output);
        }
        m_how = QStringLiteral("a veth pair with tc netem on both ends");
        return finish();
    }

    QString makeUserLine(int delayMs, const QString& rate) {
        const QList<QStringList> steps = {
            {"-n", m_client, "tuntap", "add", "dev", m_client, "mode", "tun"},
            {"-n", m_server, "tuntap", "add", "dev", m_server, "mode", "tun"},
            {"-n", m_client, "addr", "add", kClientAddress, "peer", kServerAddress, "dev", m_client},
            {"-n", m_server, "addr", "add", kServerAddress, "peer", kClientAddress, "dev", m_server},
        };
        if (const QString why = runSteps(steps); !why.isEmpty())
            return why;
        const int clientFd = OpenTun(m_client, m_client);
        const int serverFd = OpenTun(m_server, m_server);
        if (clientFd < 0 || serverFd < 0)
            return QStringLiteral("cannot open the tun devices");
        m_tunFds = {clientFd, serverFd};
        m_userLine = std::make_unique<TUserLine>(clientFd, serverFd, delayMs, RateBits(rate));
        m_how = QStringLiteral("this kernel has no netem: the same delay and rate made by this program, packet by "
                               "packet, between a tun device in each namespace");
        return finish();
    }

    static QString runSteps(const QList<QStringList>& steps) {
        for (const QStringList& step : steps) {
            bool ok = false;
            const QString output = Run(QStringLiteral("ip"), step, &ok);
            if (!ok)
                return QStringLiteral("ip %1: %2").arg(step.join(u' '), output);
        }
        return {};
    }

    // Devices up; Fast Open allowed for client and server inside the namespaces only.
    QString finish() {
        const QList<QStringList> steps = {
            {"-n", m_client, "link", "set", m_client, "up"},
            {"-n", m_server, "link", "set", m_server, "up"},
            {"-n", m_client, "link", "set", "lo", "up"},
            {"-n", m_server, "link", "set", "lo", "up"},
        };
        if (const QString why = runSteps(steps); !why.isEmpty())
            return why;
        for (const QString& ns : {m_client, m_server}) {
            bool ok = false;
            Run(QStringLiteral("ip"), {"netns", "exec", ns, "sysctl", "-q", "-w", "net.ipv4.tcp_fastopen=3"}, &ok);
            if (!ok)
                return QStringLiteral("sysctl tcp_fastopen in the namespace failed");
        }
        return {};
    }

    QString m_client;
    QString m_server;
    QString m_how;
    std::vector<int> m_tunFds;
    std::unique_ptr<TUserLine> m_userLine;
};

struct TRound {
    double seconds = 0;
    double cpuSeconds = 0;
    int exitCode = -1;
    QString output;
    TTlsPageServer::Counts counts;
    qint64 wireBytes = 0;
};

// Runs argv in the client namespace with the throw-away bundle over the system's, in a mount
// namespace of its own, and measures its wall and CPU time (its own and its children's).
TRound RunInClient(const TLine& line, const QString& bundle, const QStringList& argv, const QString& workDir) {
    TRound round;
    const QString outPath = workDir + QStringLiteral("/round.out");
    const QByteArray nsPath = QFile::encodeName("/var/run/netns/" + line.client());
    const QByteArray bundleFile = QFile::encodeName(bundle);
    const QByteArray outFile = QFile::encodeName(outPath);
    const QByteArray folder = QFile::encodeName(workDir);
    const TChildCost cost = RunMeasuredChild(argv, [&] {
        const int ns = open(nsPath.constData(), O_RDONLY);
        if (ns < 0 || setns(ns, CLONE_NEWNET) != 0 || unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(bundleFile.constData(), kBundlePath, nullptr, MS_BIND, nullptr) != 0)
            return false;
        const int out = open(outFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(out, 2);
        return chdir(folder.constData()) == 0;
    });
    round.seconds = cost.seconds;
    round.cpuSeconds = cost.cpuSeconds;
    round.exitCode = cost.exitCode;
    QFile out(outPath);
    if (out.open(QIODevice::ReadOnly))
        round.output = QString::fromLocal8Bit(out.readAll()).trimmed();
    return round;
}

// A page server in the server namespace for one round.
class TServerProcess {
public:
    TServerProcess(const TLine& line, quint16 port, int tls, const QString& cert, const QString& key) {
        m_process.start(QStringLiteral("ip"), {"netns", "exec", line.server(), QCoreApplication::applicationFilePath(),
                                               "--serve", QString::number(port), QString::number(tls), cert, key});
        // Slow to start on a loaded machine: the program and its libraries load first.
        m_process.waitForReadyRead(120000);
        m_ready = m_process.readLine().startsWith("ready");
    }
    bool ready() const { return m_ready; }
    TTlsPageServer::Counts stop() {
        m_process.closeWriteChannel();
        m_process.waitForFinished(10000);
        const QList<QByteArray> parts = m_process.readAll().trimmed().split(' ');
        TTlsPageServer::Counts counts;
        if (parts.size() == 6 && parts.at(0) == "counts")
            counts = {parts[1].toInt(), parts[2].toInt(), parts[3].toInt(), parts[4].toInt(), parts[5].toLongLong()};
        return counts;
    }

private:
    QProcess m_process;
    bool m_ready = false;
};

QString MakeCa(const QString& dir, QString* problem) {
    const QString ext = dir + "/server.ext";
    QFile file(ext);
    file.open(QIODevice::WriteOnly);
    file.write("subjectAltName=IP:" + QByteArray(kServerAddress) + "\n");
    file.close();
    const QList<QStringList> steps = {
        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", dir + "/ca.key", "-out", dir + "/ca.pem", "-days",
         "2", "-subj", "/CN=Vantero throw-away bench CA"},
        {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", dir + "/server.key", "-out", dir + "/server.csr", "-subj",
         QStringLiteral("/CN=%1").arg(QLatin1String(kServerAddress))},
        {"x509", "-req", "-in", dir + "/server.csr", "-CA", dir + "/ca.pem", "-CAkey", dir + "/ca.key",
         "-CAcreateserial", "-out", dir + "/server.pem", "-days", "2", "-extfile", ext},
    };
    for (const QStringList& step : steps) {
        bool ok = false;
        const QString output = Run(QStringLiteral("openssl"), step, &ok);
        if (!ok) {
            *problem = QStringLiteral("openssl %1: %2").arg(step.first(), output);
            return {};
        }
    }
    // The system's bundle with the bench's CA: as large as the real one, so loading costs the same.
    QFile system(QString::fromLatin1(kBundlePath));
    QFile ca(dir + "/ca.pem");
    QFile bundle(dir + "/bundle.crt");
    if (!system.open(QIODevice::ReadOnly) || !ca.open(QIODevice::ReadOnly) || !bundle.open(QIODevice::WriteOnly)) {
        *problem = QStringLiteral("cannot build the bundle from %1").arg(QLatin1String(kBundlePath));
        return {};
    }
    bundle.write(system.readAll() + "\n" + ca.readAll());
    return bundle.fileName();
}

QString SeedDatabase(const QString& dir, const QString& base, int pages, QString* urls) {
    const QString path = dir + QStringLiteral("/vanteroData.mdb");
    QFile::remove(path);
    if (const QString problem = PrepareDatabaseFile(path); !problem.isEmpty())
        return problem;
    {
        TConnection con(path);
        con.exec(QStringLiteral("begin"));
        con.exec(QStringLiteral("update Setting set WW='myshop'"));
        for (int r = 0; r < kRivalsPerItem; ++r)
            con.exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values (?, ?)"),
                     {QStringLiteral("rival%1").arg(r), QStringLiteral("http://shop%1.example.invalid/").arg(r)});
        urls->clear();
        for (int i = 0; i < pages / (1 + kRivalsPerItem); ++i) {
            const QString id = QString::number(100000 + i);
            const QString url = base + QStringLiteral("/p/myshop/%1.htm").arg(id);
            *urls += url + u'\n';
            con.exec(
                QStringLiteral("insert into Items (ItemID, ItemName, URL, Price, SellCount) values (?, ?, ?, 0, 0)"),
                {id, QStringLiteral("宝贝 ") + id, url});
            for (int r = 0; r < kRivalsPerItem; ++r) {
                const QString ww = QStringLiteral("rival%1").arg(r);
                const QString rivalId = QString::number(500000 + i * kRivalsPerItem + r);
                const QString rivalUrl = base + QStringLiteral("/p/%1/%2.htm").arg(ww, rivalId);
                *urls += rivalUrl + u'\n';
                con.exec(
                    QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                                   "SellCount) values (?, ?, ?, ?, ?, 0, 0)"),
                    {ww, id, rivalId, QStringLiteral("同行宝贝"), rivalUrl});
            }
        }
        con.exec(QStringLiteral("commit"));
    }
    // The program under test opens the file next: nothing of ours stays open on it.
    TConnection::closeAll();
    return {};
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && strcmp(argv[1], "--loop") == 0 && argc == 4)
        return RunLoop(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args.first() == QLatin1String("--serve"))
        return RunServer(args.mid(1));

    QTextStream out(stdout);
    const int pages = std::max(1 + kRivalsPerItem, args.value(0, QStringLiteral("200")).toInt());
    const int delayMs =
        qEnvironmentVariableIntValue("BENCH_DELAY_MS") > 0 ? qEnvironmentVariableIntValue("BENCH_DELAY_MS") : 20;
    const QString rate = qEnvironmentVariable("BENCH_RATE", QStringLiteral("20mbit"));
    const bool tls12 = qEnvironmentVariable("BENCH_TLS12", QStringLiteral("1")) != QLatin1String("0");
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../vantero-cli");

    auto skip = [&out](const QString& why) {
        out << "realline skipped: " << why << '\n';
        return 0;
    };
    if (geteuid() != 0)
        return skip(QStringLiteral("needs root (network namespaces, netem, a private mount namespace)"));
    if (!QFile::exists(cli))
        return skip(QStringLiteral("vantero-cli not built beside the benchmarks (%1)").arg(cli));
    QTemporaryDir dir;
    QString problem;
    const QString bundle = MakeCa(dir.path(), &problem);
    if (bundle.isEmpty())
        return skip(problem);
    TLine line;
    if (const QString why = line.make(delayMs, rate); !why.isEmpty())
        return skip(QStringLiteral("no network namespace here: %1").arg(why));
    out << "line made by: " << line.how() << '\n';

    out << QStringLiteral("line: %1 ms each way, %2, %3 pages of about %4 KB (GBK), gzip when asked\n")
               .arg(delayMs)
               .arg(rate)
               .arg(pages / (1 + kRivalsPerItem) * (1 + kRivalsPerItem))
               .arg(ItemPage("/p/myshop/100000.htm").size() / 1024);
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9\n")
               .arg(QStringLiteral("round"), -38)
               .arg(QStringLiteral("time_s"), 8)
               .arg(QStringLiteral("cpu_s"), 7)
               .arg(QStringLiteral("cpu_ms/page"), 11)
               .arg(QStringLiteral("conns"), 6)
               .arg(QStringLiteral("full"), 5)
               .arg(QStringLiteral("resumed"), 8)
               .arg(QStringLiteral("tfo"), 4)
               .arg(QStringLiteral("wire_kb/page"), 12);
    out.flush();

    QHash<QString, TRound> results;
    quint16 port = 8400;
    auto round = [&](const QString& name, int tls, const std::function<QStringList(const QString& base)>& command,
                     const std::function<void(const QString& base)>& prepare = {}) {
        const QString base = QStringLiteral("%1://%2:%3").arg(tls ? "https" : "http").arg(kServerAddress).arg(++port);
        QString urls;
        if (const QString why = SeedDatabase(dir.path(), base, pages, &urls); !why.isEmpty()) {
            out << name << ": seeding failed: " << why << '\n';
            return;
        }
        QFile list(dir.path() + "/urls.txt");
        list.open(QIODevice::WriteOnly);
        list.write(urls.toUtf8());
        list.close();
        QFile config(dir.path() + "/curl.cfg");
        config.open(QIODevice::WriteOnly);
        for (const QString& url : urls.split(u'\n', Qt::SkipEmptyParts))
            config.write("url = \"" + url.toUtf8() + "\"\noutput = \"/dev/null\"\n");
        config.close();
        if (prepare)
            prepare(base);
        TServerProcess server(line, port, tls, dir.path() + "/server.pem", dir.path() + "/server.key");
        if (!server.ready()) {
            out << name << ": the page server did not start\n";
            return;
        }
        const qint64 wireBefore = line.wireBytes();
        TRound result = RunInClient(line, bundle, command(base), dir.path());
        result.counts = server.stop();
        result.wireBytes = line.wireBytes() - wireBefore;
        const int n = std::max(1, result.counts.connections);
        out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9\n")
                   .arg(name, -38)
                   .arg(result.seconds, 8, 'f', 2)
                   .arg(result.cpuSeconds, 7, 'f', 2)
                   .arg(result.cpuSeconds * 1000 / n, 11, 'f', 1)
                   .arg(result.counts.connections, 6)
                   .arg(result.counts.fullHandshakes, 5)
                   .arg(result.counts.resumedHandshakes, 8)
                   .arg(result.counts.fastOpened, 4)
                   .arg(double(result.wireBytes) / n / 1024, 12, 'f', 1);
        if (result.exitCode != 0)
            out << "  (exit " << result.exitCode << "): " << result.output.right(300) << '\n';
        else if (result.output.contains(QLatin1String("readings=")))
            out << "  " << result.output.section(u'\n', -1) << '\n';
        out.flush();
        results.insert(name, result);
    };
    const QString self = QCoreApplication::applicationFilePath();
    auto updateAll = [&cli](const QString&) { return QStringList{cli, "update-all"}; };
    auto resumeOn = [&cli, &dir](const QString&) {
        Run(cli, {"--db", dir.path() + "/vanteroData.mdb", "settings", "--tls-resume", "on"});
    };
    auto curl = [&dir](const QString&) {
        return QStringList{"curl", "-s", "--compressed", "-K", dir.path() + "/curl.cfg"};
    };
    auto loop = [&self, &dir](const char* mode) {
        return [&self, &dir, mode](const QString&) {
            return QStringList{self, "--loop", QString::fromLatin1(mode), dir.path() + "/urls.txt"};
        };
    };

    round("http  update-all", 0, updateAll);
    round("http  update-all, resume on", 0, updateAll, resumeOn);
    round("http  curl, new connection", 0, curl);
    round("http  libcurl loop, Fast Open", 0, loop("resume"));
    QList<int> versions{13};
    if (tls12)
        versions << 12;
    for (const int version : versions) {
        const QString p = QStringLiteral("tls1.%1 ").arg(version - 10);
        round(p + "update-all", version, updateAll);
        round(p + "update-all, resume on", version, updateAll, resumeOn);
        round(p + "curl, new connection", version, curl);
        round(p + "libcurl loop, CA per connection", version, loop("new"));
        round(p + "libcurl loop, libcurl CA cache", version, loop("cache"));
        round(p + "libcurl loop, CA store kept", version, loop("kept"));
        round(p + "libcurl loop, + resume + TFO", version, loop("resume"));
    }

    auto seconds = [&results](const QString& name) { return results.value(name).seconds; };
    const double httpRatio = seconds("http  update-all") / seconds("http  curl, new connection");
    const double httpsRatio = seconds("tls1.3 update-all") / seconds("tls1.3 libcurl loop, CA store kept");
    const double resumeRatio = seconds("tls1.3 update-all, resume on") / seconds("tls1.3 libcurl loop, + resume + TFO");
    const TRound& https = results.value("tls1.3 update-all");
    const double cpuPerReading = https.cpuSeconds * 1000 / std::max(1, https.counts.connections);
    out << QStringLiteral("ratios: http update-all / curl %1; https update-all / loop with CA kept %2; "
                          "https resume on / loop with resume + TFO %3\n")
               .arg(httpRatio, 0, 'f', 3)
               .arg(httpsRatio, 0, 'f', 3)
               .arg(resumeRatio, 0, 'f', 3);
    if (tls12)
        out << QStringLiteral("tls1.2: update-all / loop with CA kept %1; resume on / loop with resume + TFO %2\n")
                   .arg(seconds("tls1.2 update-all") / seconds("tls1.2 libcurl loop, CA store kept"), 0, 'f', 3)
                   .arg(seconds("tls1.2 update-all, resume on") / seconds("tls1.2 libcurl loop, + resume + TFO"), 0,
                        'f', 3);
    out << QStringLiteral("realline http_ratio=%1 https_ratio=%2 cpu_ms_per_reading=%3\n")
               .arg(httpRatio, 0, 'f', 3)
               .arg(httpsRatio, 0, 'f', 3)
               .arg(cpuPerReading, 0, 'f', 2);
    return 0;
}
