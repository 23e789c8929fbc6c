#include "reader/HttpGet.h"

#include "reader/UtReadItemThr.h"

#include <QDeadlineTimer>
#include <QNetworkProxy>
#include <QSslSocket>
#include <QTcpSocket>

#include <memory>

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
        const QNetworkProxy proxy = QNetworkProxy::applicationProxy();
        // Plain http through an HTTP proxy asks the proxy for the whole address; everything else
        // connects to the host (https through a proxy tunnels with CONNECT, done by the socket).
        const bool viaProxy = !tls && proxy.type() == QNetworkProxy::HttpProxy;
        if (tls) {
            auto socket = std::make_unique<QSslSocket>();
            socket->connectToHostEncrypted(url.host(), port);
            m_socket = std::move(socket);
        } else {
            m_socket = std::make_unique<QTcpSocket>();
            if (viaProxy) {
                m_socket->setProxy(QNetworkProxy::NoProxy);
                m_socket->connectToHost(proxy.hostName(), proxy.port());
            } else {
                m_socket->setProxy(QNetworkProxy::NoProxy);
                m_socket->connectToHost(url.host(), port);
            }
        }
        waitUntil([this] { return m_socket->state() == QAbstractSocket::ConnectedState; },
                  [this] { return m_socket->waitForConnected(kSliceMs); });
        if (tls) {
            auto* ssl = static_cast<QSslSocket*>(m_socket.get());
            waitUntil([ssl] { return ssl->isEncrypted(); }, [ssl] { return ssl->waitForEncrypted(kSliceMs); });
        }

        QByteArray target = viaProxy ? url.toEncoded(QUrl::RemoveUserInfo | QUrl::RemoveFragment)
                                     : url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
        if (target.isEmpty())
            target = "/";
        QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
        if (url.port() > 0)
            host += ':' + QByteArray::number(url.port());
        QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: " + host +
                             "\r\nUser-Agent: Mozilla/5.0 (compatible; Vantero)\r\nAccept: */*\r\n"
                             "Connection: close\r\n\r\n";
        m_socket->write(request);

        readHeaders();
        if (status >= 300 && status < 400 && !header("Location").isEmpty())
            return; // the caller follows it; its body does not matter
        if (status >= 400)
            return;
        readBody();
    }

private:
    // Waits for done() in slices, watching the stop request, the deadline and socket errors.
    template <typename Done, typename Step> void waitUntil(Done done, Step step) {
        while (!done()) {
            if (m_stop && m_stop())
                Fail(m_stoppedText);
            checkDeadline();
            if (!step()) {
                if (done())
                    break;
                if (m_socket->error() != QAbstractSocket::SocketTimeoutError &&
                    m_socket->error() != QAbstractSocket::UnknownSocketError)
                    socketFailure();
            }
        }
    }

    void checkDeadline() {
        if (!m_headersSeen && m_connectDeadline.hasExpired())
            Fail(ReaderTexts::ConnectTimeout.arg(Seconds(m_limits.connectMs)));
        if (m_headersSeen && m_readDeadline.hasExpired())
            Fail(ReaderTexts::ReadTimeout.arg(Seconds(m_limits.readMs)));
    }

    [[noreturn]] void socketFailure() {
        QString what;
        switch (m_socket->error()) {
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
        Fail(ReaderTexts::Transport.arg(what, m_socket->errorString()));
    }

    // More bytes into m_buffer; false when the server closed the connection.
    bool more() {
        for (;;) {
            if (m_socket->bytesAvailable() > 0) {
                m_buffer += m_socket->readAll();
                return true;
            }
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                return false;
            if (m_stop && m_stop())
                Fail(m_stoppedText);
            checkDeadline();
            if (!m_socket->waitForReadyRead(kSliceMs)) {
                if (m_socket->bytesAvailable() > 0)
                    continue;
                if (m_socket->error() == QAbstractSocket::RemoteHostClosedError ||
                    m_socket->state() != QAbstractSocket::ConnectedState)
                    return false;
                if (m_socket->error() != QAbstractSocket::SocketTimeoutError &&
                    m_socket->error() != QAbstractSocket::UnknownSocketError)
                    socketFailure();
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
    std::unique_ptr<QTcpSocket> m_socket;
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
        return {std::move(exchange.body), exchange.header("Content-Type")};
    }
}

} // namespace vantero
