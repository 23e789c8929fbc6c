#include "support/RawTestServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantero::test {

namespace {

constexpr int kSliceMs = 20;

using TClock = std::chrono::steady_clock;

} // namespace

TRawConnection::~TRawConnection() {
    if (m_ssl) {
        if (m_fd >= 0)
            SSL_shutdown(static_cast<SSL*>(m_ssl));
        SSL_free(static_cast<SSL*>(m_ssl));
    }
    if (m_context)
        SSL_CTX_free(static_cast<SSL_CTX*>(m_context));
    if (m_fd >= 0)
        ::close(m_fd);
}

bool TRawConnection::startTls(const QString& certFile, const QString& keyFile) {
    // OpenSSL writes to a socket the client may have closed (a refused certificate).
    ::signal(SIGPIPE, SIG_IGN);
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    m_context = context;
    if (SSL_CTX_use_certificate_chain_file(context, certFile.toLocal8Bit().constData()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, keyFile.toLocal8Bit().constData(), SSL_FILETYPE_PEM) != 1)
        return false;
    SSL* ssl = SSL_new(context);
    SSL_set_fd(ssl, m_fd);
    // The handshake blocks: a client that never starts it must not hold the server's end.
    timeval limit{5, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (SSL_accept(ssl) != 1) {
        SSL_free(ssl);
        return false;
    }
    m_ssl = ssl;
    return true;
}

bool TRawConnection::waitReadable(int ms) {
    if (m_ssl && SSL_has_pending(static_cast<SSL*>(m_ssl)))
        return true;
    pollfd watch{m_fd, POLLIN, 0};
    return ::poll(&watch, 1, ms) > 0;
}

qsizetype TRawConnection::receive(char* buffer, qsizetype size) {
    if (m_ssl)
        return SSL_read(static_cast<SSL*>(m_ssl), buffer, int(size));
    return ::recv(m_fd, buffer, size_t(size), 0);
}

QByteArray TRawConnection::readRequest(int ms) {
    QByteArray head;
    const auto until = TClock::now() + std::chrono::milliseconds(ms);
    while (m_fd >= 0 && !stopping() && TClock::now() < until && !head.contains("\r\n\r\n")) {
        if (!waitReadable(kSliceMs))
            continue;
        char buffer[4096];
        const qsizetype n = receive(buffer, sizeof buffer);
        if (n <= 0)
            break;
        head.append(buffer, qsizetype(n));
    }
    return head.contains("\r\n\r\n") ? head : QByteArray();
}

bool TRawConnection::readUntil(QByteArray& buffer, const std::function<bool(const QByteArray&)>& complete, int ms) {
    const auto until = TClock::now() + std::chrono::milliseconds(ms);
    while (!complete(buffer)) {
        if (m_fd < 0 || stopping() || TClock::now() >= until)
            return false;
        if (!waitReadable(kSliceMs))
            continue;
        char chunk[4096];
        const qsizetype n = receive(chunk, sizeof chunk);
        if (n <= 0)
            return false;
        buffer.append(chunk, qsizetype(n));
    }
    return true;
}

bool TRawConnection::send(QByteArrayView bytes) {
    if (m_fd < 0)
        return false;
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        if (stopping())
            return false;
        pollfd watch{m_fd, POLLOUT, 0};
        if (::poll(&watch, 1, kSliceMs) <= 0)
            continue;
        const qsizetype n = m_ssl ? SSL_write(static_cast<SSL*>(m_ssl), bytes.data() + sent, int(bytes.size() - sent))
                                  : ::send(m_fd, bytes.data() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

bool TRawConnection::waitUntilClosed(int ms) {
    const auto until = TClock::now() + std::chrono::milliseconds(ms);
    while (m_fd >= 0 && !stopping() && TClock::now() < until) {
        if (!waitReadable(kSliceMs))
            continue;
        char buffer[4096];
        if (receive(buffer, sizeof buffer) <= 0)
            return true;
    }
    return false;
}

void TRawConnection::reset() {
    const linger abort{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::shutdown(m_fd, SHUT_RD);
    ::close(m_fd);
    m_fd = -1;
}

TRawTestServer::TRawTestServer(TScript script) : m_script(std::move(script)) {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(m_listenFd, 64) == 0) {
        socklen_t length = sizeof address;
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    m_acceptor = std::thread([this] { acceptLoop(); });
}

TRawTestServer::~TRawTestServer() {
    m_stopping = true;
    m_acceptor.join();
    ::close(m_listenFd);
    std::lock_guard lock(m_mutex);
    for (TWorker& worker : m_workers)
        worker.thread.join();
}

QString TRawTestServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

void TRawTestServer::acceptLoop() {
    while (!m_stopping) {
        pollfd watch{m_listenFd, POLLIN, 0};
        if (::poll(&watch, 1, kSliceMs) <= 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++m_connections;
        std::lock_guard lock(m_mutex);
        // Threads that have ended are joined as new ones start, so a long run keeps few.
        m_workers.remove_if([](TWorker& worker) {
            if (!worker.done)
                return false;
            worker.thread.join();
            return true;
        });
        TWorker& worker = m_workers.emplace_back();
        worker.thread = std::thread([this, fd, &worker] {
            {
                TRawConnection connection(fd, m_stopping);
                m_script(connection);
            }
            ++m_finished;
            worker.done = true;
        });
    }
}

} // namespace vantero::test
