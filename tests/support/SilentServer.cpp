#include "support/SilentServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantero::test {

TSilentServer::TSilentServer() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(m_fd, 4) == 0 &&
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        m_port = ntohs(address.sin_port);
}

TSilentServer::~TSilentServer() {
    if (m_peer >= 0)
        ::close(m_peer);
    if (m_fd >= 0)
        ::close(m_fd);
}

QString TSilentServer::Target() const {
    return QStringLiteral("host=127.0.0.1 port=%1 dbname=shop user=vantero").arg(m_port);
}

int TSilentServer::Accept() {
    pollfd pending{m_fd, POLLIN, 0};
    if (m_peer < 0 && ::poll(&pending, 1, 60000) == 1)
        m_peer = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    return m_peer;
}

bool TSilentServer::AttemptClosed() {
    char bytes[64];
    ssize_t got = 1;
    while (m_peer >= 0 && got > 0) {
        // An attempt still open after a minute fails the check instead of hanging the test.
        pollfd answer{m_peer, POLLIN, 0};
        if (::poll(&answer, 1, 60000) != 1)
            return false;
        got = ::recv(m_peer, bytes, sizeof bytes, 0);
    }
    return m_peer >= 0 && got == 0;
}

} // namespace vantero::test
