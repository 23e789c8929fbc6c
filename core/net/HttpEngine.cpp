#include "net/HttpEngine.h"

#include "net/FailureTexts.h"
#include "net/WebAddress.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QMutex>

#include <algorithm>
#include <atomic>
#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <vector>

namespace vantero {

namespace {

// Longest wait inside a transfer: a stop request is seen within it.
constexpr int kSliceMs = 50;
// Bytes libcurl hands over at once; a page of some 100 KB arrives in a few pieces.
constexpr long kReceiveBufferBytes = 128 * 1024;
// Every header and trailer line of one transfer, redirects included; real answers use a few KiB.
constexpr qint64 kMaxHeaderBytes = 256 * 1024;

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TSettings {
    QMutex mutex;
    QUrl proxy;
    QString caFile;
};

TSettings& Settings() {
    static TSettings settings;
    return settings;
}

// Host names looked up once serve the following readings too. With session reuse on, the TLS
// sessions the servers hand out are kept here as well, and the next connection resumes one.
class TShare {
public:
    static CURLSH* get(bool sessions) {
        // Never freed: a reading may still run while the program's statics go.
        static TShare* plain = new TShare(false);
        static TShare* resuming = new TShare(true);
        return (sessions ? resuming : plain)->m_share;
    }

private:
    explicit TShare(bool sessions) : m_share(curl_share_init()) {
        curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, &TShare::lock);
        curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, &TShare::unlock);
        curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        if (sessions)
            curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<TShare*>(self)->m_locks[data % CURL_LOCK_DATA_LAST].lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<TShare*>(self)->m_locks[data % CURL_LOCK_DATA_LAST].unlock();
    }

    CURLSH* m_share;
    std::mutex m_locks[CURL_LOCK_DATA_LAST];
};

std::atomic<bool> gSessionReuse{false};

// The certificates trusted for https, loaded once per process and handed to every connection.
// Loading and parsing the system's bundle costs tens of milliseconds of CPU, which every reading
// paid again. libcurl 7.88 keeps its own copy only per transfer driver and never while a
// certificate folder is configured, as Debian's build has, so the store is kept here. It is the
// same trust as libcurl's own: the same bundle, the same folder, the same verification flags.
class TCaStore {
public:
    // The store for the given bundle (the system's when empty), or null when it cannot be read.
    static std::shared_ptr<X509_STORE> get(const QString& caFile) {
        static TCaStore* stores = new TCaStore; // never freed, as the shares
        return stores->lookup(caFile);
    }

private:
    struct TEntry {
        QString file;
        QDateTime modified;
        qint64 size = -1;
        std::shared_ptr<X509_STORE> store;
    };

    TCaStore() {
        GlobalInit();
        // What libcurl would load by itself: its built-in bundle and folder.
        std::unique_ptr<CURL, void (*)(CURL*)> easy(curl_easy_init(), &curl_easy_cleanup);
        const char* file = nullptr;
        const char* folder = nullptr;
        if (easy && curl_easy_getinfo(easy.get(), CURLINFO_CAINFO, &file) == CURLE_OK && file)
            m_systemFile = QString::fromLocal8Bit(file);
        if (easy && curl_easy_getinfo(easy.get(), CURLINFO_CAPATH, &folder) == CURLE_OK && folder)
            m_systemFolder = QByteArray(folder);
    }

    std::shared_ptr<X509_STORE> lookup(const QString& caFile) {
        const QString file = caFile.isEmpty() ? m_systemFile : caFile;
        const QFileInfo info(file);
        const QDateTime modified = info.lastModified();
        const qint64 size = info.size();
        std::lock_guard lock(m_mutex);
        for (const TEntry& entry : m_entries) {
            // A bundle replaced on disk (the system's certificates updated) is loaded again.
            if (entry.file == file && entry.modified == modified && entry.size == size)
                return entry.store;
        }
        std::shared_ptr<X509_STORE> store = load(file);
        if (!store)
            return nullptr;
        m_entries.erase(
            std::remove_if(m_entries.begin(), m_entries.end(), [&](const TEntry& entry) { return entry.file == file; }),
            m_entries.end());
        m_entries.push_back({file, modified, size, store});
        return store;
    }

    std::shared_ptr<X509_STORE> load(const QString& file) const {
        std::shared_ptr<X509_STORE> store(X509_STORE_new(), &X509_STORE_free);
        if (!store)
            return nullptr;
        if (!file.isEmpty() && X509_STORE_load_file(store.get(), QFile::encodeName(file).constData()) != 1)
            return nullptr;
        if (!m_systemFolder.isEmpty() && X509_STORE_load_path(store.get(), m_systemFolder.constData()) != 1)
            return nullptr;
        // libcurl's flags for a verifying connection: trusted issuers first, and a trusted
        // intermediate ends the chain.
        X509_STORE_set_flags(store.get(), X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
        return store;
    }

    std::mutex m_mutex;
    QString m_systemFile;
    QByteArray m_systemFolder;
    std::vector<TEntry> m_entries;
};

QString Seconds(int ms) {
    return ms % 1000 == 0 ? QString::number(ms / 1000) : QString::number(ms / 1000.0, 'g', 3);
}

QString Megabytes(qint64 bytes) {
    return bytes % (1024 * 1024) == 0 ? QString::number(bytes / (1024 * 1024))
                                      : QString::number(double(bytes) / (1024 * 1024), 'g', 3);
}

[[noreturn]] void Fail(const QString& text) {
    throw THttpFailure{text, 0, {}, {}};
}

[[noreturn]] void Fail(const QString& what, const QString& detail) {
    throw THttpFailure{NetTexts::Transport.arg(what, detail), 0, {}, {}};
}

bool IsWebScheme(const QString& scheme) {
    return scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ||
           scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

bool SystemProxySet() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    }
    return false;
}

bool IsLoopback(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
        host.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive))
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

// The status line of an answer: "HTTP/" version, one blank, three digits, then a blank and the
// reason or nothing. Anything else is no status at all.
bool ParseStatusLine(QByteArrayView line, int* status, QByteArray* reason) {
    line = line.trimmed();
    if (!line.startsWith("HTTP/"))
        return false;
    const qsizetype space = line.indexOf(' ');
    if (space < 6)
        return false;
    const QByteArrayView rest = line.sliced(space + 1);
    if (rest.size() < 3 || (rest.size() > 3 && rest[3] != ' '))
        return false;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        if (rest[i] < '0' || rest[i] > '9')
            return false;
        code = code * 10 + (rest[i] - '0');
    }
    *status = code;
    *reason = rest.size() > 4 ? rest.sliced(4).trimmed().toByteArray() : QByteArray();
    return true;
}

// CURL and CURLM are both void in the library's headers, so each deleter has its own name.
struct TEasyFree {
    void operator()(CURL* p) const { curl_easy_cleanup(p); }
};
struct TMultiFree {
    void operator()(CURLM* p) const { curl_multi_cleanup(p); }
};
struct TListFree {
    void operator()(curl_slist* p) const { curl_slist_free_all(p); }
};

// The driver of this thread's transfers, one at a time. It keeps no connection: every transfer
// forbids reuse, so its connection closes when it ends. Making one costs a socket pair, which a
// reading need not pay each time.
CURLM* ThreadMulti() {
    thread_local std::unique_ptr<CURLM, TMultiFree> multi(curl_multi_init());
    return multi.get();
}

// One GET with everything it receives.
class TTransfer {
public:
    explicit TTransfer(const THttpRequest& request) : m_request(request) { m_clock.start(); }

    THttpResponse run();
    // Where the time went so far (the hops before the last one counted as redirects).
    THttpTiming timing() const;

private:
    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        return static_cast<TTransfer*>(self)->header(QByteArrayView(data, qsizetype(size * count)));
    }
    static int onConnected(void* self, char* primaryIp, char*, int, int) {
        auto* transfer = static_cast<TTransfer*>(self);
        // The address a name led to is known only now, before anything is sent to it.
        if (transfer->m_refuseLocal && transfer->m_direct && IsLocalNetworkHost(QString::fromLatin1(primaryIp))) {
            transfer->m_localRefused = QString::fromLatin1(primaryIp);
            return CURL_PREREQFUNC_ABORT;
        }
        return CURL_PREREQFUNC_OK;
    }
    static size_t onBody(char* data, size_t size, size_t count, void* self) {
        return static_cast<TTransfer*>(self)->bodyBytes(data, size * count);
    }

    size_t header(QByteArrayView line) {
        // Header and trailer lines of one transfer together: a server that never ends them
        // would otherwise fill the memory line by line.
        m_headerBytes += line.size();
        if (m_headerBytes > kMaxHeaderBytes) {
            m_headersTooLarge = true;
            return 0;
        }
        if (line.startsWith("HTTP/")) {
            // A new answer (an interim one, or the next hop's): its own headers from here.
            m_statusValid = ParseStatusLine(line, &m_status, &m_reason);
            m_contentLength.clear();
            m_contentType.clear();
            return size_t(line.size());
        }
        if (line == "\r\n" || line == "\n") {
            if (m_statusValid && m_status >= 200 && m_readStartMs < 0)
                m_readStartMs = m_clock.elapsed(); // from here the read limit runs
            return size_t(line.size());
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return size_t(line.size());
        const QByteArrayView name = line.first(colon).trimmed();
        const QByteArrayView value = line.sliced(colon + 1).trimmed();
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            // Two lengths that disagree leave the body's end unknown.
            if (!m_contentLength.isEmpty() && m_contentLength != value) {
                m_lengthConflict = true;
                return 0;
            }
            m_contentLength = value.toByteArray();
        } else if (name.compare("Content-Type", Qt::CaseInsensitive) == 0) {
            m_contentType = value.toByteArray();
        }
        return size_t(line.size());
    }

    size_t bodyBytes(const char* data, size_t size) {
        if (m_body.size() + qint64(size) > m_request.limits.maxBytes) {
            m_tooLarge = true;
            return 0;
        }
        if (m_body.isEmpty()) {
            curl_off_t length = -1;
            if (curl_easy_getinfo(m_easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
                length > 0 && length <= m_request.limits.maxBytes)
                m_body.reserve(qsizetype(length));
        }
        m_body.append(data, qsizetype(size));
        return size;
    }

    void checkStop() const {
        if (m_request.stopRequested && m_request.stopRequested())
            Fail(m_request.stoppedText);
        const qint64 now = m_clock.elapsed();
        if (m_readStartMs < 0 && now > m_request.limits.connectMs)
            Fail(NetTexts::ConnectTimeout.arg(Seconds(m_request.limits.connectMs)));
        if (m_readStartMs >= 0 && now - m_readStartMs > m_request.limits.readMs)
            Fail(NetTexts::ReadTimeout.arg(Seconds(m_request.limits.readMs)));
    }

    // One wait: short enough to notice a stop request, never much past the running limit.
    int sliceMs() const {
        const qint64 now = m_clock.elapsed();
        const qint64 left =
            m_readStartMs < 0 ? m_request.limits.connectMs - now : m_request.limits.readMs - (now - m_readStartMs);
        return int(std::clamp<qint64>(left + 1, 1, kSliceMs));
    }

    void setup(const QUrl& url);
    void useSharedCaStore(const QString& caFile);
    void carryStateBetweenDownloads();
    static CURLcode onSslContext(CURL* easy, void* sslContext, void* self);
    void target(const QUrl& url);
    CURLcode perform();
    [[noreturn]] void failed(CURLcode code) const;
    [[noreturn]] void statusFailed() const {
        throw THttpFailure{NetTexts::HttpStatus(m_status, QString::fromLatin1(m_reason)), m_status, m_reason, {}};
    }

    const THttpRequest& m_request;
    QElapsedTimer m_clock;
    qint64 m_readStartMs = -1;
    std::unique_ptr<CURL, TEasyFree> m_easy;
    CURLM* m_multi = nullptr;
    std::unique_ptr<curl_slist, TListFree> m_headers;
    QByteArray m_urlText;
    QByteArray m_proxyText;
    char m_error[CURL_ERROR_SIZE] = {};
    QString m_caFile;
    qint64 m_earlierHopsUs = 0;

    QByteArray m_body;
    qint64 m_headerBytes = 0;
    bool m_headersTooLarge = false;
    bool m_refuseLocal = false; // after a redirect away from a site that is not this machine
    bool m_direct = false;      // no proxy between: the connection's address is the site's
    QString m_localRefused;
    bool m_tooLarge = false;
    bool m_lengthConflict = false;
    bool m_statusValid = false;
    int m_status = 0;
    QByteArray m_reason;
    QByteArray m_contentLength;
    QByteArray m_contentType;
};

void TTransfer::setup(const QUrl& url) {
    GlobalInit();
    m_easy.reset(curl_easy_init());
    m_multi = ThreadMulti();
    if (!m_easy || !m_multi)
        Fail(NetTexts::Network, QStringLiteral("libcurl could not start a transfer"));
    CURL* easy = m_easy.get();
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L); // no connection outlives the call
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_error);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_request.limits.maxBytes));
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &TTransfer::onHeader);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &TTransfer::onConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &TTransfer::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, m_request.userAgent.constData());
    if (m_request.compressed) {
        static const QByteArray encodings = HttpDecodedEncodings();
        if (!encodings.isEmpty())
            curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, encodings.constData());
    }
    curl_slist* headers = nullptr;
    for (const auto& [name, value] : m_request.headers) {
        const QByteArray line = name + ": " + value;
        headers = curl_slist_append(headers, line.constData());
    }
    m_headers.reset(headers);
    if (headers)
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    QString caFile;
    {
        TSettings& settings = Settings();
        QMutexLocker lock(&settings.mutex);
        caFile = settings.caFile;
        if (!settings.proxy.isEmpty())
            m_proxyText = settings.proxy.toEncoded();
    }
    useSharedCaStore(caFile);
    carryStateBetweenDownloads();
    if (m_request.cookies) {
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, ""); // cookies on, from memory only
        for (const QByteArray& line : std::as_const(m_request.cookies->lines))
            curl_easy_setopt(easy, CURLOPT_COOKIELIST, line.constData());
    }
    target(url);
}

void TTransfer::useSharedCaStore(const QString& caFile) {
    CURL* easy = m_easy.get();
    m_caFile = caFile;
    // libcurl loads nothing itself; the connection gets the process's store when it is made.
    curl_easy_setopt(easy, CURLOPT_CAINFO, static_cast<const char*>(nullptr));
    curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &TTransfer::onSslContext);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
}

CURLcode TTransfer::onSslContext(CURL*, void* sslContext, void* self) {
    const std::shared_ptr<X509_STORE> store = TCaStore::get(static_cast<TTransfer*>(self)->m_caFile);
    if (!store)
        return CURLE_SSL_CACERT_BADFILE;
    // The context takes a reference of its own; verification (peer and host name) stays libcurl's.
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), store.get());
    return CURLE_OK;
}

void TTransfer::carryStateBetweenDownloads() {
    CURL* easy = m_easy.get();
    const bool reuse = gSessionReuse.load(std::memory_order_relaxed);
    curl_easy_setopt(easy, CURLOPT_SHARE, TShare::get(reuse));
    // Without a cookie from an earlier connection the kernel makes a plain connection.
    curl_easy_setopt(easy, CURLOPT_TCP_FASTOPEN, reuse ? 1L : 0L);
}

THttpTiming TTransfer::timing() const {
    THttpTiming timing;
    CURL* easy = m_easy.get();
    if (!easy)
        return timing;
    curl_off_t lookup = 0, connect = 0, tls = 0, start = 0, total = 0;
    curl_easy_getinfo(easy, CURLINFO_NAMELOOKUP_TIME_T, &lookup);
    curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connect);
    curl_easy_getinfo(easy, CURLINFO_APPCONNECT_TIME_T, &tls);
    curl_easy_getinfo(easy, CURLINFO_STARTTRANSFER_TIME_T, &start);
    curl_easy_getinfo(easy, CURLINFO_TOTAL_TIME_T, &total);
    // Each figure is libcurl's time from the start to that point; a phase not reached reads 0.
    auto span = [](curl_off_t from, curl_off_t to) { return to > from ? qint64(to - from) : qint64(0); };
    timing.measured = total > 0 || m_earlierHopsUs > 0;
    timing.dnsUs = lookup;
    timing.connectUs = span(lookup, connect);
    timing.tlsUs = tls > 0 ? span(connect, tls) : 0;
    const curl_off_t ready = tls > 0 ? tls : connect;
    timing.firstByteUs = start > 0 ? span(ready, start) : 0;
    timing.bodyUs = start > 0 ? span(start, total) : 0;
    timing.redirectsUs = m_earlierHopsUs;
    timing.totalUs = m_earlierHopsUs + total;
    return timing;
}

void TTransfer::target(const QUrl& url) {
    CURL* easy = m_easy.get();
    m_urlText = url.toEncoded(QUrl::RemoveFragment);
    curl_easy_setopt(easy, CURLOPT_URL, m_urlText.constData());
    // Addresses on this machine never go through a proxy; others through ours, else the system's.
    if (IsLoopback(url.host())) {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        m_direct = true;
    } else if (!m_proxyText.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_PROXY, m_proxyText.constData());
        m_direct = false;
    } else {
        curl_easy_setopt(easy, CURLOPT_PROXY, static_cast<const char*>(nullptr));
        m_direct = !SystemProxySet();
    }
}

CURLcode TTransfer::perform() {
    CURLM* multi = m_multi;
    CURL* easy = m_easy.get();
    m_error[0] = '\0';
    curl_multi_add_handle(multi, easy);
    struct TMember {
        CURLM* multi;
        CURL* easy;
        ~TMember() { curl_multi_remove_handle(multi, easy); }
    } member{multi, easy};
    for (;;) {
        int running = 0;
        const CURLMcode code = curl_multi_perform(multi, &running);
        if (code != CURLM_OK)
            Fail(NetTexts::Network, QString::fromUtf8(curl_multi_strerror(code)));
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE)
                return message->data.result;
        }
        checkStop();
        curl_multi_poll(multi, nullptr, 0, sliceMs(), nullptr);
    }
}

void TTransfer::failed(CURLcode code) const {
    if (!m_localRefused.isEmpty())
        Fail(AddressTexts::LocalRedirect.arg(m_localRefused));
    if (m_headersTooLarge)
        Fail(NetTexts::BadResponse, QStringLiteral("headers and trailers over %1 KiB").arg(kMaxHeaderBytes / 1024));
    if (m_tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        Fail(NetTexts::TooLarge.arg(Megabytes(m_request.limits.maxBytes)));
    if (m_lengthConflict)
        Fail(NetTexts::BadResponse, QStringLiteral("conflicting Content-Length headers"));
    QString what;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        what = NetTexts::HostNotFound;
        break;
    case CURLE_COULDNT_CONNECT:
        what = NetTexts::Refused;
        break;
    case CURLE_RECV_ERROR: // a reset, or a body the library cannot frame (bad chunks)
        what = NetTexts::Receive;
        break;
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
        what = NetTexts::ConnectionClosed;
        break;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
        what = NetTexts::BadResponse;
        break;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
        what = NetTexts::Tls;
        break;
    case CURLE_OUT_OF_MEMORY:
        // What libcurl reports for a header line over its limit (100 KB).
        if (m_readStartMs < 0)
            Fail(NetTexts::BadResponse, QStringLiteral("response header line too long"));
        what = NetTexts::Network;
        break;
    case CURLE_OPERATION_TIMEDOUT:
        Fail(NetTexts::ConnectTimeout.arg(Seconds(m_request.limits.connectMs)));
    default:
        what = NetTexts::Network;
        break;
    }
    Fail(what, m_error[0] ? QString::fromUtf8(m_error).trimmed() : QString::fromUtf8(curl_easy_strerror(code)));
}

THttpResponse TTransfer::run() {
    QUrl url = m_request.url;
    if (!url.isValid() || !IsWebScheme(url.scheme()) || url.host().isEmpty())
        Fail(NetTexts::BadAddress);
    if (!url.userInfo().isEmpty())
        Fail(AddressTexts::UserInfo.arg(ShownAddress(url.toDisplayString(QUrl::RemovePassword))));
    const bool fromThisMachine = IsLoopback(url.host());
    checkStop();
    setup(url);
    for (int redirects = 0;; ++redirects) {
        m_body.clear();
        m_statusValid = false;
        const CURLcode code = perform();
        if (code != CURLE_OK)
            failed(code);
        if (!m_statusValid)
            Fail(NetTexts::BadResponse, QStringLiteral("no valid status line"));
        if (m_status >= 300 && m_status < 400 && m_request.followRedirects) {
            const char* location = nullptr;
            curl_easy_getinfo(m_easy.get(), CURLINFO_REDIRECT_URL, &location);
            if (!location || !*location)
                Fail(
                    NetTexts::BadResponse,
                    QStringLiteral("HTTP/1.1 %1 %2 without Location").arg(m_status).arg(QString::fromLatin1(m_reason)));
            if (redirects >= m_request.limits.maxRedirects)
                Fail(NetTexts::TooManyRedirects.arg(m_request.limits.maxRedirects),
                     QStringLiteral("too many redirects"));
            const QUrl next = QUrl::fromEncoded(location, QUrl::TolerantMode);
            // Never from an encrypted page down to a plain one, never to another kind of address.
            if (!IsWebScheme(next.scheme()) ||
                (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
                 next.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0))
                Fail(NetTexts::Insecure, QString::fromUtf8(location));
            curl_off_t hop = 0;
            curl_easy_getinfo(m_easy.get(), CURLINFO_TOTAL_TIME_T, &hop);
            m_earlierHopsUs += hop;
            if (!next.userInfo().isEmpty())
                Fail(AddressTexts::UserInfo.arg(ShownAddress(next.toDisplayString(QUrl::RemovePassword))));
            // A page on the internet must never make the program fetch a service on the
            // seller's machine or network.
            if (!fromThisMachine) {
                if (IsLocalNetworkHost(next.host()))
                    Fail(AddressTexts::LocalRedirect.arg(ShownAddress(next.toDisplayString())));
                m_refuseLocal = true;
            }
            url = next;
            target(url);
            continue;
        }
        if (m_status < 200 || m_status >= 300)
            statusFailed();
        break;
    }
    THttpResponse response;
    response.body = std::move(m_body);
    response.contentType = m_contentType;
    response.status = m_status;
    const char* effective = nullptr;
    curl_easy_getinfo(m_easy.get(), CURLINFO_EFFECTIVE_URL, &effective);
    response.finalUrl = effective ? QUrl::fromEncoded(effective) : url;
    curl_off_t wire = 0;
    curl_easy_getinfo(m_easy.get(), CURLINFO_SIZE_DOWNLOAD_T, &wire);
    response.wireBytes = wire;
    response.timing = timing();
    if (m_request.cookies) {
        curl_slist* list = nullptr;
        curl_easy_getinfo(m_easy.get(), CURLINFO_COOKIELIST, &list);
        m_request.cookies->lines.clear();
        for (curl_slist* at = list; at; at = at->next)
            m_request.cookies->lines.append(QByteArray(at->data));
        curl_slist_free_all(list);
    }
    return response;
}

} // namespace

THttpResponse HttpGet(const THttpRequest& request) {
    TTransfer transfer(request);
    try {
        return transfer.run();
    } catch (THttpFailure& failure) {
        failure.timing = transfer.timing();
        throw;
    }
}

THttpResponse HttpGet(const QUrl& url, const THttpLimits& limits, const std::function<bool()>& stopRequested,
                      const QString& stoppedText) {
    THttpRequest request;
    request.url = url;
    request.limits = limits;
    request.stopRequested = stopRequested;
    request.stoppedText = stoppedText;
    return HttpGet(request);
}

void SetHttpProxy(const QUrl& proxy) {
    QMutexLocker lock(&Settings().mutex);
    Settings().proxy = proxy;
}

QUrl HttpProxy() {
    QMutexLocker lock(&Settings().mutex);
    return Settings().proxy;
}

void SetHttpCaFile(const QString& path) {
    QMutexLocker lock(&Settings().mutex);
    Settings().caFile = path;
}

void SetHttpSessionReuse(bool on) {
    gSessionReuse.store(on, std::memory_order_relaxed);
}

bool HttpSessionReuse() {
    return gSessionReuse.load(std::memory_order_relaxed);
}

namespace {

QString Milliseconds(qint64 us) {
    return QString::number(double(us) / 1000.0, 'f', 1);
}

} // namespace

QString THttpTiming::storedText() const {
    if (!measured)
        return {};
    QString text = QStringLiteral("dns=%1 connect=%2 tls=%3 first_byte=%4 body=%5")
                       .arg(Milliseconds(dnsUs), Milliseconds(connectUs), Milliseconds(tlsUs),
                            Milliseconds(firstByteUs), Milliseconds(bodyUs));
    if (redirectsUs > 0)
        text += QStringLiteral(" redirects=%1").arg(Milliseconds(redirectsUs));
    return text + QStringLiteral(" total=%1").arg(Milliseconds(totalUs));
}

QString THttpTiming::displayText() const {
    return DisplayFromStored(storedText());
}

QString THttpTiming::DisplayFromStored(const QString& stored) {
    static const QList<QPair<QString, QString>> names = {{QStringLiteral("dns"), QStringLiteral("域名解析")},
                                                         {QStringLiteral("connect"), QStringLiteral("建立连接")},
                                                         {QStringLiteral("tls"), QStringLiteral("加密握手")},
                                                         {QStringLiteral("first_byte"), QStringLiteral("等待首字节")},
                                                         {QStringLiteral("body"), QStringLiteral("接收正文")},
                                                         {QStringLiteral("redirects"), QStringLiteral("重定向")},
                                                         {QStringLiteral("total"), QStringLiteral("合计")}};
    QStringList parts;
    for (const QString& pair : stored.split(u' ', Qt::SkipEmptyParts)) {
        const qsizetype equals = pair.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QString key = pair.left(equals);
        for (const auto& [name, words] : names) {
            if (name == key)
                parts << QStringLiteral("%1 %2 毫秒").arg(words, pair.mid(equals + 1));
        }
    }
    return parts.join(QStringLiteral("，"));
}

QByteArray HttpDecodedEncodings() {
    GlobalInit();
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    QList<QByteArray> names;
    if (info->features & CURL_VERSION_LIBZ)
        names << "gzip"
              << "deflate";
    if (info->features & CURL_VERSION_BROTLI)
        names << "br";
    return names.join(", ");
}

} // namespace vantero
