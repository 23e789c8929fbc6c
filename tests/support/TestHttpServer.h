#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QString>
#include <QThread>

class QTcpServer;
class QTcpSocket;

namespace vantero::test {

struct TTestResponse {
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // e.g. {"Content-Type", "text/html; charset=utf-8"}
    int delayMs = 0;                              // wait before answering
    bool endless = false;                         // headers, then one byte every 200 ms until the client gives up
    qint64 generatedSize = -1;                    // a body of this many 'x' bytes, sent in chunks (large pages)
};

// An HTTP server on 127.0.0.1 for tests, running on a thread of its own so that code under test
// may block the test's thread. Answers by route: a full address "http://host/path" (requests
// that come through it as a proxy) or a path ("/item?id=1"). Unknown routes get 404.
class TTestHttpServer final : public QObject {
    Q_OBJECT
public:
    // Listens on 127.0.0.1, or on another loopback address such as ::1.
    explicit TTestHttpServer(const QHostAddress& address = QHostAddress(QHostAddress::LocalHost));
    ~TTestHttpServer() override;

    // Whether it listens (an address this machine lacks gives no server).
    bool listening() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QString url(const QString& path) const;

    void route(const QString& target, const TTestResponse& response);
    void route(const QString& target, const QByteArray& body, const QByteArray& contentType = "text/html");
    // /redirect/<name>/<n> answers 302 to .../<n-1>, .../0 redirects to finalTarget.
    QString redirectChain(const QString& name, int hops, const QString& finalTarget);

    // What arrived, in order: the request target ("/path" or "http://host/path") of each request.
    QStringList requests() const;
    // Header lines of the last request to target.
    QByteArray lastRequestHead(const QString& target) const;
    int requestCount(const QString& target) const;
    void clearRequests();

private:
    void serve(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QString& target, const QByteArray& head);
    TTestResponse lookup(const QString& target) const;

    QThread m_thread;
    QObject m_context; // lives in m_thread: the receiver of the calls made there
    QTcpServer* m_server = nullptr;
    quint16 m_port = 0;
    QHostAddress m_address;
    mutable QMutex m_mutex;
    QHash<QString, TTestResponse> m_routes;
    QStringList m_requests;
    QHash<QString, QByteArray> m_heads;
};

} // namespace vantero::test
