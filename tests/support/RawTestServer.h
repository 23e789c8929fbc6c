#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace vantero::test {

// One accepted connection of a TRawTestServer, seen from the server's side.
class TRawConnection {
public:
    TRawConnection(int fd, const std::atomic<bool>& stopping) : m_fd(fd), m_stopping(stopping) {}
    ~TRawConnection();
    TRawConnection(const TRawConnection&) = delete;
    TRawConnection& operator=(const TRawConnection&) = delete;
    // The request head (up to and including the blank line); empty if none came within ms.
    QByteArray readRequest(int ms = 60000);
    // Reads into buffer until complete(buffer) holds (true) or the client goes, ms pass or the
    // server stops (false). For exchanges beyond a request head: a body, a mail dialogue.
    bool readUntil(QByteArray& buffer, const std::function<bool(const QByteArray&)>& complete, int ms = 60000);
    // False once the client has gone (or the server stops).
    bool send(QByteArrayView bytes);
    // Waits until the client closes the connection (true) or ms pass or the server stops (false).
    bool waitUntilClosed(int ms);
    // Ends the connection with a reset instead of an orderly close.
    void reset();
    // Turns the connection into a TLS server's (at once for an implicit-TLS service, after its
    // STARTTLS answer otherwise): every read and send after it goes through TLS. False when the
    // client's handshake failed (a client that does not trust the certificate) or did not come.
    bool startTls(const QString& certFile, const QString& keyFile);
    bool secured() const { return m_ssl != nullptr; }
    bool stopping() const { return m_stopping.load(); }

private:
    // Waits up to ms for something to read (TLS data may already be decrypted and waiting).
    bool waitReadable(int ms);
    // One read from the socket or the TLS layer: the byte count, 0 at the end, negative on error.
    qsizetype receive(char* buffer, qsizetype size);

    int m_fd;
    const std::atomic<bool>& m_stopping;
    void* m_context = nullptr; // SSL_CTX, once secured
    void* m_ssl = nullptr;     // SSL
};

// A TCP server on 127.0.0.1 that plays the same script on every connection it accepts, each on
// a thread of its own: for answers no well-behaved HTTP server gives (malformed, endless, cut,
// reset, silent). The connection closes when the script returns. Plain sockets, no Qt event loop,
// so the fuzz targets can use it too.
class TRawTestServer {
public:
    using TScript = std::function<void(TRawConnection&)>;
    explicit TRawTestServer(TScript script);
    ~TRawTestServer();
    TRawTestServer(const TRawTestServer&) = delete;
    TRawTestServer& operator=(const TRawTestServer&) = delete;

    quint16 port() const { return m_port; }
    QString url(const QString& path) const;
    int connections() const { return m_connections.load(); }
    // Connections whose script has returned and whose socket is closed.
    int finished() const { return m_finished.load(); }

private:
    void acceptLoop();

    TScript m_script;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_finished{0};
    std::thread m_acceptor;
    std::mutex m_mutex;
    struct TWorker {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    std::list<TWorker> m_workers;
};

} // namespace vantero::test
