#include "reader/HttpGet.h"

#include "reader/UtReadItemThr.h"

#include <QDeadlineTimer>
#include <QNetworkProxy>
#include <QSslSocket>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantero {

namespace {

constexpr int kSliceMs = 50;
constexpr qsizetype kMaxHeaderBytes = 256 * 1024;

QString Seconds(int ms) {
    return ms % 1000 == 0 ? QString::number(ms / 1000) : QString::number(ms / 1000.0, 'g', 3);
}

QString Megabytes(qint64 bytes) {
    return bytes % (1024 * 1024) == 0 ? QString::number(bytes / (1024 * 1024))
                                      : QString::number(double(bytes) / (1024 * 1024), 'g', 3);
}

[[noreturn]] void Fail(const QString& text) {
    throw THttpFailure{text};
}

// The connection a request travels over.
class TStream {
public:
    virtual ~TStream() = default;
    // One wait of at most ms towards being connected (and encrypted); true once there.
    virtual bool connectStep(int ms) = 0;
    virtual void send(const QByteArray& bytes) = 0;
    enum class TRead { Data, Nothing, Closed };
    // Appends to buffer what arrives within ms.
    virtual TRead receive(QByteArray& buffer, int ms) = 0;
};

[[noreturn]] void TransportFailure(const QString& what, const QString& detail) {
    Fail(ReaderTexts::Transport.arg(what, detail));
}

QString ErrnoText(int code) {
    return qt_error_string(code); // thread-safe, unlike strerror
}

// Plain http on a socket of our own: a reading pays for its connection and nothing more.
class TPlainStream final : public TStream {
public:
    TPlainStream(const QString& host, quint16 port) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        const QByteArray service = QByteArray::number(port);
        // An address written as numbers needs no lookup (nor the interface scan a name needs).
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        int rc = getaddrinfo(host.toLatin1().constData(), service.constData(), &hints, &m_addresses);
        if (rc == EAI_NONAME) {
            hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
            const QByteArray ace = QUrl::toAce(host);
            const QByteArray name = ace.isEmpty() ? host.toUtf8() : ace;
            rc = getaddrinfo(name.constData(), service.constData(), &hints, &m_addresses);
        }
        if (rc != 0 || !m_addresses)
            TransportFailure(ReaderTexts::HostNotFound,
                             rc == EAI_SYSTEM ? ErrnoText(errno) : QString::fromLocal8Bit(gai_strerror(rc)));
        m_next = m_addresses;
    }
    ~TPlainStream() override {
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_addresses)
            freeaddrinfo(m_addresses);
    }
    TPlainStream(const TPlainStream&) = delete;
    TPlainStream& operator=(const TPlainStream&) = delete;

    bool connectStep(int ms) override {
        if (m_connected)
            return true;
        if (m_fd < 0)
            startNext();
        pollfd watch{m_fd, POLLOUT, 0};
        const int ready = ::poll(&watch, 1, ms);
        if (ready < 0 && errno != EINTR)
            TransportFailure(ReaderTexts::Network, ErrnoText(errno));
        if (ready <= 0)
            return false;
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error == 0) {
            m_connected = true;
            return true;
        }
        attemptFailed(error);
        return false;
    }

    void send(const QByteArray& bytes) override {
        for (qsizetype sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n > 0) {
                sent += n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                pollfd watch{m_fd, POLLOUT, 0};
                ::poll(&watch, 1, kSliceMs);
                continue;
            }
            failed(n < 0 ? errno : EPIPE);
        }
    }

    TRead receive(QByteArray& buffer, int ms) override {
        for (bool waited = false;; waited = true) {
            const qsizetype old = buffer.size();
            const qsizetype room = 64 * 1024;
            buffer.resize(old + room);
            const ssize_t n = ::recv(m_fd, buffer.data() + old, size_t(room), 0);
            const int error = errno;
            buffer.resize(old + std::max<ssize_t>(n, 0));
            if (n > 0)
                return TRead::Data;
            if (n == 0)
                return TRead::Closed;
            if (error == EINTR)
                continue;
            if (error != EAGAIN && error != EWOULDBLOCK) {
                if (error == ECONNRESET)
                    return TRead::Closed;
                failed(error);
            }
            if (waited)
                return TRead::Nothing;
            pollfd watch{m_fd, POLLIN, 0};
            if (::poll(&watch, 1, ms) < 0 && errno != EINTR)
                failed(errno);
        }
    }

private:
    // Starts connecting to the next address the name gave; the last one's failure is reported.
    void startNext() {
        for (; m_next; m_next = m_next->ai_next) {
            m_fd = ::socket(m_next->ai_family, m_next->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, m_next->ai_protocol);
            if (m_fd < 0) {
                m_lastError = errno;
                continue;
            }
            const int on = 1;
            ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            const addrinfo* address = m_next;
            m_next = m_next->ai_next;
            if (::connect(m_fd, address->ai_addr, address->ai_addrlen) == 0 || errno == EINPROGRESS)
                return;
            attemptFailed(errno);
            if (m_fd >= 0)
                return;
        }
        failed(m_lastError);
    }

    void attemptFailed(int error) {
        ::close(m_fd);
        m_fd = -1;
        m_lastError = error;
        if (m_next)
            startNext();
        else
            failed(error);
    }

    [[noreturn]] static void failed(int error) {
        switch (error) {
        case ECONNREFUSED:
            TransportFailure(ReaderTexts::Refused, ErrnoText(error));
        case EPIPE:
        case ECONNRESET:
            TransportFailure(ReaderTexts::ConnectionClosed, ErrnoText(error));
        default:
            TransportFailure(ReaderTexts::Network, ErrnoText(error));
        }
    }

    addrinfo* m_addresses = nullptr;
    const addrinfo* m_next = nullptr;
    int m_fd = -1;
    int m_lastError = ECONNREFUSED;
    bool m_connected = false;
};

// https through Qt's TLS socket, which also tunnels through the application's proxy.
class TTlsStream final : public TStream {
public:
    TTlsStream(const QString& host, quint16 port) { m_socket.connectToHostEncrypted(host, port); }

    bool connectStep(int ms) override {
        if (m_socket.isEncrypted())
            return true;
        const bool progressed = m_socket.state() == QAbstractSocket::ConnectedState ? m_socket.waitForEncrypted(ms)
                                                                                    : m_socket.waitForConnected(ms);
        if (!progressed && !m_socket.isEncrypted())
            checkError();
        return m_socket.isEncrypted();
    }

    void send(const QByteArray& bytes) override {
        m_socket.write(bytes);
        m_socket.flush();
    }

    TRead receive(QByteArray& buffer, int ms) override {
        if (m_socket.bytesAvailable() > 0) {
            buffer += m_socket.readAll();
            return TRead::Data;
        }
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            return TRead::Closed;
        if (!m_socket.waitForReadyRead(ms)) {
            if (m_socket.bytesAvailable() > 0)
                return receive(buffer, 0);
            if (m_socket.error() == QAbstractSocket::RemoteHostClosedError ||
                m_socket.state() != QAbstractSocket::ConnectedState)
                return TRead::Closed;
            checkError();
            return TRead::Nothing;
        }
        buffer += m_socket.readAll();
        return TRead::Data;
    }

private:
    void checkError() {
        QString what;
        switch (m_socket.error()) {
        case QAbstractSocket::SocketTimeoutError:
        case QAbstractSocket::UnknownSocketError:
            return; // nothing yet, nothing wrong
        case QAbstractSocket::ConnectionRefusedError:
            what = ReaderTexts::Refused;
            break;
        case QAbstractSocket::HostNotFoundError:
            what = ReaderTexts::HostNotFound;
            break;
        case QAbstractSocket::RemoteHostClosedError:
            what = ReaderTexts::ConnectionClosed;
            break;
        default:
            what = ReaderTexts::Network;
            break;
        }
        TransportFailure(what, m_socket.errorString());
    }

    QSslSocket m_socket;
};

// One request on one connection.
class TExchange {
public:
    TExchange(const THttpLimits& limits, const std::function<bool()>& stop, const QString& stoppedText,
              QDeadlineTimer& connectDeadline, QDeadlineTimer& readDeadline, bool& headersSeen)
        : m_limits(limits), m_stop(stop), m_stoppedText(stoppedText), m_connectDeadline(connectDeadline),
          m_readDeadline(readDeadline), m_headersSeen(headersSeen) {}

    int status = 0;
    QByteArray reason;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const char* name) const {
        for (const auto& [key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }

    void run(const QUrl& url) {
        const bool tls = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
        const quint16 port = quint16(url.port(tls ? 443 : 80));
        // Plain http through an HTTP proxy asks the proxy for the whole address; https through a
        // proxy tunnels with CONNECT, which the TLS socket does itself. The proxy is the one the
        // application's proxy settings choose for this address, as for every other request.
        QNetworkProxy proxy(QNetworkProxy::NoProxy);
        if (!tls)
            proxy = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url)).value(0, proxy);
        const bool viaProxy =
            proxy.type() == QNetworkProxy::HttpProxy || proxy.type() == QNetworkProxy::HttpCachingProxy;
        checkStop();
        if (tls)
            m_stream = std::make_unique<TTlsStream>(url.host(), port);
        else if (viaProxy)
            m_stream = std::make_unique<TPlainStream>(proxy.hostName(), proxy.port());
        else
            m_stream = std::make_unique<TPlainStream>(url.host(), port);
        while (!m_stream->connectStep(sliceMs()))
            checkStop();

        QByteArray target = viaProxy ? url.toEncoded(QUrl::RemoveUserInfo | QUrl::RemoveFragment)
                                     : url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
        if (target.isEmpty())
            target = "/";
        QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
        if (url.host().contains(u':'))
            host = '[' + host + ']';
        if (url.port() > 0)
            host += ':' + QByteArray::number(url.port());
        QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: " + host +
                             "\r\nUser-Agent: Mozilla/5.0 (compatible; Vantero)\r\nAccept: */*\r\n"
                             "Connection: close\r\n\r\n";
        m_stream->send(request);

        readHeaders();
        if (status >= 300 && status < 400 && !header("Location").isEmpty())
            return; // the caller follows it; its body does not matter
        if (status >= 400)
            return;
        readBody();
    }

private:
    void checkStop() {
        if (m_stop && m_stop())
            Fail(m_stoppedText);
        if (!m_headersSeen && m_connectDeadline.hasExpired())
            Fail(ReaderTexts::ConnectTimeout.arg(Seconds(m_limits.connectMs)));
        if (m_headersSeen && m_readDeadline.hasExpired())
            Fail(ReaderTexts::ReadTimeout.arg(Seconds(m_limits.readMs)));
    }

    // One wait: short enough to notice a stop request, never past the running deadline.
    int sliceMs() const {
        const QDeadlineTimer& deadline = m_headersSeen ? m_readDeadline : m_connectDeadline;
        const qint64 left = deadline.remainingTime();
        return left < 0 ? kSliceMs : int(std::min<qint64>(left, kSliceMs)) + 1;
    }

    // More bytes into m_buffer; false when the server closed the connection.
    bool more() {
        for (;;) {
            checkStop();
            switch (m_stream->receive(m_buffer, sliceMs())) {
            case TStream::TRead::Data:
                return true;
            case TStream::TRead::Closed:
                return false;
            case TStream::TRead::Nothing:
                break;
            }
        }
    }

    void readHeaders() {
        for (;;) {
            qsizetype end;
            while ((end = m_buffer.indexOf("\r\n\r\n")) < 0) {
                if (m_buffer.size() > kMaxHeaderBytes)
                    Fail(ReaderTexts::Transport.arg(ReaderTexts::Network, QStringLiteral("response headers too long")));
                if (!more())
                    Fail(ReaderTexts::Transport.arg(ReaderTexts::ConnectionClosed,
                                                    QStringLiteral("connection closed before the response")));
            }
            const QList<QByteArray> lines = m_buffer.left(end).split('\n');
            m_buffer.remove(0, end + 4);
            const QByteArray statusLine = lines.value(0).trimmed();
            if (!statusLine.startsWith("HTTP/"))
                Fail(ReaderTexts::Transport.arg(ReaderTexts::Network, QStringLiteral("not an HTTP response")));
            const qsizetype firstSpace = statusLine.indexOf(' ');
            const qsizetype secondSpace = statusLine.indexOf(' ', firstSpace + 1);
            status = statusLine.mid(firstSpace + 1, secondSpace < 0 ? -1 : secondSpace - firstSpace - 1).toInt();
            reason = secondSpace < 0 ? QByteArray() : statusLine.mid(secondSpace + 1);
            headers.clear();
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines[i].trimmed();
                const qsizetype colon = line.indexOf(':');
                if (colon > 0)
                    headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            }
            if (status >= 100 && status < 200)
                continue; // an interim answer; the real one follows
            if (!m_headersSeen) {
                // From here the read limit covers the rest of the download.
                m_headersSeen = true;
                m_readDeadline.setRemainingTime(m_limits.readMs);
            }
            return;
        }
    }

    void append(QByteArrayView bytes) {
        if (body.size() + bytes.size() > m_limits.maxBytes)
            Fail(ReaderTexts::TooLarge.arg(Megabytes(m_limits.maxBytes)));
        body += bytes;
    }

    void readBody() {
        if (status == 204 || status == 304)
            return;
        if (header("Transfer-Encoding").toLower().contains("chunked")) {
            readChunked();
            return;
        }
        const QByteArray lengthText = header("Content-Length");
        if (!lengthText.isEmpty()) {
            bool ok = false;
            const qint64 length = lengthText.toLongLong(&ok);
            if (!ok || length < 0)
                Fail(ReaderTexts::Transport.arg(ReaderTexts::Network, QStringLiteral("bad Content-Length")));
            if (length > m_limits.maxBytes)
                Fail(ReaderTexts::TooLarge.arg(Megabytes(m_limits.maxBytes)));
            body.reserve(length);
            for (;;) {
                const qint64 missing = length - body.size();
                append(QByteArrayView(m_buffer).first(std::min<qint64>(missing, m_buffer.size())));
                m_buffer.clear();
                if (body.size() >= length)
                    return;
                if (!more())
                    Fail(ReaderTexts::Transport.arg(ReaderTexts::ConnectionClosed,
                                                    QStringLiteral("connection closed before the whole page")));
            }
        }
        // No length: the body ends when the server closes the connection.
        do {
            append(m_buffer);
            m_buffer.clear();
        } while (more());
    }

    void readChunked() {
        for (;;) {
            qsizetype lineEnd;
            while ((lineEnd = m_buffer.indexOf("\r\n")) < 0) {
                if (!more())
                    Fail(ReaderTexts::Transport.arg(ReaderTexts::ConnectionClosed,
                                                    QStringLiteral("connection closed inside a chunk")));
            }
            QByteArray sizeText = m_buffer.left(lineEnd);
            if (const qsizetype semicolon = sizeText.indexOf(';'); semicolon >= 0)
                sizeText.truncate(semicolon);
            bool ok = false;
            const qint64 size = sizeText.trimmed().toLongLong(&ok, 16);
            if (!ok || size < 0)
                Fail(ReaderTexts::Transport.arg(ReaderTexts::Network, QStringLiteral("bad chunk size")));
            m_buffer.remove(0, lineEnd + 2);
            if (size == 0)
                return; // trailers, if any, are not needed
            if (body.size() + size > m_limits.maxBytes)
                Fail(ReaderTexts::TooLarge.arg(Megabytes(m_limits.maxBytes)));
            while (m_buffer.size() < size + 2) {
                if (!more())
                    Fail(ReaderTexts::Transport.arg(ReaderTexts::ConnectionClosed,
                                                    QStringLiteral("connection closed inside a chunk")));
            }
            append(QByteArrayView(m_buffer).first(size));
            m_buffer.remove(0, size + 2);
        }
    }

    const THttpLimits& m_limits;
    const std::function<bool()>& m_stop;
    const QString& m_stoppedText;
    QDeadlineTimer& m_connectDeadline;
    QDeadlineTimer& m_readDeadline;
    bool& m_headersSeen;
    std::unique_ptr<TStream> m_stream;
    QByteArray m_buffer;
};

} // namespace

THttpResponse HttpGet(const QUrl& start, const THttpLimits& limits, const std::function<bool()>& stopRequested,
                      const QString& stoppedText) {
    QDeadlineTimer connectDeadline(limits.connectMs);
    QDeadlineTimer readDeadline(QDeadlineTimer::Forever);
    bool headersSeen = false;
    QUrl url = start;
    for (int redirects = 0;; ++redirects) {
        TExchange exchange(limits, stopRequested, stoppedText, connectDeadline, readDeadline, headersSeen);
        exchange.run(url);
        const QByteArray location = exchange.header("Location");
        if (exchange.status >= 300 && exchange.status < 400 && !location.isEmpty()) {
            if (redirects >= limits.maxRedirects)
                Fail(ReaderTexts::Transport.arg(ReaderTexts::TooManyRedirects.arg(limits.maxRedirects),
                                                QStringLiteral("too many redirects")));
            const QUrl next = url.resolved(QUrl::fromEncoded(location, QUrl::TolerantMode));
            const QString scheme = next.scheme().toLower();
            if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
                Fail(ReaderTexts::Transport.arg(ReaderTexts::Insecure, QString::fromUtf8(location)));
            // Never from an encrypted page down to a plain one.
            if (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
                scheme == QLatin1String("http"))
                Fail(ReaderTexts::Transport.arg(ReaderTexts::Insecure, QString::fromUtf8(location)));
            url = next;
            continue;
        }
        if (exchange.status >= 400)
            Fail(ReaderTexts::HttpStatus.arg(exchange.status).arg(QString::fromLatin1(exchange.reason)));
        return {std::move(exchange.body), exchange.header("Content-Type"), url};
    }
}

} // namespace vantero
