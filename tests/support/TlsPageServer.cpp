#include "support/TlsPageServer.h"

#include "support/Compression.h"

#include <QFile>
#include <QHash>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantero::test {

namespace {

SSL_CTX* Context(void* p) {
    return static_cast<SSL_CTX*>(p);
}

QString OpenSslError(const char* what) {
    const unsigned long code = ERR_get_error();
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLatin1(text));
}

} // namespace

TTlsPageServer::TTlsPageServer(Options options) : m_options(std::move(options)) {
    // OpenSSL writes to sockets the client may have closed (a refused certificate).
    ::signal(SIGPIPE, SIG_IGN);
    if (m_options.tls) {
        SSL_CTX* context = SSL_CTX_new(TLS_server_method());
        m_context = context;
        const int version = m_options.tlsVersion == 12 ? TLS1_2_VERSION : TLS1_3_VERSION;
        SSL_CTX_set_min_proto_version(context, version);
        SSL_CTX_set_max_proto_version(context, version);
        // Resumption as a common web server offers it: a session cache and tickets.
        static const unsigned char idContext[] = "vantero-page-server";
        SSL_CTX_set_session_id_context(context, idContext, sizeof idContext - 1);
        SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_SERVER);
        if (SSL_CTX_use_certificate_chain_file(context, QFile::encodeName(m_options.certFile).constData()) != 1) {
            m_error = OpenSslError("certificate");
            return;
        }
        if (SSL_CTX_use_PrivateKey_file(context, QFile::encodeName(m_options.keyFile).constData(), SSL_FILETYPE_PEM) !=
            1) {
            m_error = OpenSslError("key");
            return;
        }
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (m_options.fastOpen) {
        const int queue = 64;
        ::setsockopt(fd, IPPROTO_TCP, TCP_FASTOPEN, &queue, sizeof queue);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_options.port);
    ::inet_pton(AF_INET, m_options.address.constData(), &address.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0) {
        m_error = QStringLiteral("bind %1:%2 failed").arg(QString::fromLatin1(m_options.address)).arg(m_options.port);
        ::close(fd);
        return;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_listen = fd;
    m_thread = std::thread([this] { serve(); });
}

TTlsPageServer::~TTlsPageServer() {
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listen >= 0)
        ::close(m_listen);
    if (m_context)
        SSL_CTX_free(Context(m_context));
}

TTlsPageServer::Counts TTlsPageServer::counts() const {
    return {m_connections.load(), m_full.load(), m_resumed.load(), m_fastOpened.load(), m_bytesSent.load()};
}

void TTlsPageServer::serve() {
    while (!m_stopping) {
        pollfd waiting{m_listen, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        timeval limit{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ++m_connections;
        tcp_info info{};
        socklen_t size = sizeof info;
        if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 && (info.tcpi_options & TCPI_OPT_SYN_DATA))
            ++m_fastOpened;
        serveOne(fd);
        ::close(fd);
    }
}

void TTlsPageServer::serveOne(int fd) {
    SSL* ssl = nullptr;
    if (m_context) {
        ssl = SSL_new(Context(m_context));
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
            SSL_free(ssl);
            return;
        }
        ++(SSL_session_reused(ssl) ? m_resumed : m_full);
    }
    auto receive = [&](char* buffer, int size) {
        return ssl ? SSL_read(ssl, buffer, size) : int(::recv(fd, buffer, size_t(size), 0));
    };
    auto send = [&](const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const int chunk = int(std::min<qsizetype>(bytes.size() - done, 64 * 1024));
            const int sent = ssl ? SSL_write(ssl, bytes.constData() + done, chunk)
                                 : int(::send(fd, bytes.constData() + done, size_t(chunk), MSG_NOSIGNAL));
            if (sent <= 0)
                return;
            done += sent;
        }
    };
    QByteArray head;
    char buffer[4096];
    while (!head.contains("\r\n\r\n") && head.size() < 64 * 1024) {
        const int got = receive(buffer, sizeof buffer);
        if (got <= 0)
            break;
        head.append(buffer, got);
    }
    if (head.contains("\r\n\r\n")) {
        const qsizetype lineEnd = head.indexOf("\r\n");
        const QList<QByteArray> requestLine = head.left(lineEnd).split(' ');
        const QByteArray path = requestLine.size() >= 2 ? requestLine.at(1) : QByteArray("/");
        bool gzip = false;
        for (const QByteArray& line : head.split('\n')) {
            if (line.toLower().startsWith("accept-encoding:") && line.toLower().contains("gzip"))
                gzip = true;
        }
        QByteArray body = m_options.page ? m_options.page(path) : QByteArray();
        QByteArray answer;
        if (body.isEmpty()) {
            answer = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        } else {
            if (gzip)
                body = Gzip(body);
            answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=GBK\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\n" + (gzip ? "Content-Encoding: gzip\r\n" : "") +
                     "Connection: close\r\n\r\n";
            answer += body;
        }
        send(answer);
        m_bytesSent += answer.size();
    }
    if (ssl) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
    ::shutdown(fd, SHUT_WR);
    // Let the client read to the end before the socket goes, so nothing is reset under it.
    pollfd closing{fd, POLLIN, 0};
    for (int i = 0; i < 20 && ::poll(&closing, 1, 50) > 0; ++i) {
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0)
            break;
    }
}

} // namespace vantero::test
