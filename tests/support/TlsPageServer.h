#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <thread>

namespace vantero::test {

// A page server for measuring what crosses the line: http or https (TLS 1.2 or 1.3 only), one
// request per connection, gzip when the request asks for it, TCP Fast Open when asked. It counts,
// at the server, connections, full and resumed TLS handshakes, connections whose first data came
// with the SYN, and the bytes it sent. Plain sockets and OpenSSL on one thread of its own; the
// connections are served one after another (the program reads pages one after another).
class TTlsPageServer {
public:
    struct Options {
        QByteArray address = "127.0.0.1";
        quint16 port = 0; // 0: any free port
        bool tls = true;
        int tlsVersion = 13; // 12 or 13
        QString certFile;    // PEM; the server's certificate (chain) and key
        QString keyFile;
        bool fastOpen = false;
        // The page for a request path; the server compresses it when the request accepts gzip.
        std::function<QByteArray(const QByteArray& path)> page;
    };

    struct Counts {
        int connections = 0;
        int fullHandshakes = 0;
        int resumedHandshakes = 0;
        int fastOpened = 0; // the request arrived with the SYN
        qint64 bytesSent = 0;
    };

    explicit TTlsPageServer(Options options);
    ~TTlsPageServer();
    TTlsPageServer(const TTlsPageServer&) = delete;
    TTlsPageServer& operator=(const TTlsPageServer&) = delete;

    // False when the address could not be bound or the certificate not loaded (see error()).
    bool ok() const { return m_listen >= 0; }
    QString error() const { return m_error; }
    quint16 port() const { return m_port; }
    Counts counts() const;

private:
    void serve();
    void serveOne(int fd);

    Options m_options;
    QString m_error;
    int m_listen = -1;
    quint16 m_port = 0;
    void* m_context = nullptr; // SSL_CTX
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_full{0};
    std::atomic<int> m_resumed{0};
    std::atomic<int> m_fastOpened{0};
    std::atomic<qint64> m_bytesSent{0};
    std::thread m_thread;
};

} // namespace vantero::test
