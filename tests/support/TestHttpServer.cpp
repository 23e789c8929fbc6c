#include "support/TestHttpServer.h"

#include <QMetaObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace vantero::test {

TTestHttpServer::TTestHttpServer(const QHostAddress& address) : m_address(address) {
    m_thread.setObjectName(QStringLiteral("test-http"));
    m_context.moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        &m_context,
        [this] {
            m_server = new QTcpServer;
            if (m_server->listen(m_address, 0))
                m_port = m_server->serverPort();
            QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this] {
                while (QTcpSocket* socket = m_server->nextPendingConnection())
                    serve(socket);
            });
        },
        Qt::BlockingQueuedConnection);
}

TTestHttpServer::~TTestHttpServer() {
    QMetaObject::invokeMethod(
        &m_context,
        [this] {
            const auto sockets = m_server->findChildren<QTcpSocket*>();
            for (QTcpSocket* socket : sockets)
                socket->abort();
            delete m_server;
            m_server = nullptr;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

QString TTestHttpServer::url(const QString& path) const {
    const QString host = m_address.protocol() == QAbstractSocket::IPv6Protocol ? u'[' + m_address.toString() + u']'
                                                                               : m_address.toString();
    return QStringLiteral("http://%1:%2%3").arg(host).arg(m_port).arg(path);
}

void TTestHttpServer::route(const QString& target, const TTestResponse& response) {
    QMutexLocker lock(&m_mutex);
    m_routes.insert(target, response);
}

void TTestHttpServer::route(const QString& target, const QByteArray& body, const QByteArray& contentType) {
    TTestResponse response;
    response.body = body;
    response.headers << qMakePair(QByteArray("Content-Type"), contentType);
    route(target, response);
}

QString TTestHttpServer::redirectChain(const QString& name, int hops, const QString& finalTarget) {
    for (int n = hops; n >= 1; --n) {
        TTestResponse response;
        response.status = 302;
        const QString next = n == 1 ? finalTarget : QStringLiteral("/redirect/%1/%2").arg(name).arg(n - 1);
        response.headers << qMakePair(QByteArray("Location"), next.toUtf8());
        route(QStringLiteral("/redirect/%1/%2").arg(name).arg(n), response);
    }
    return url(QStringLiteral("/redirect/%1/%2").arg(name).arg(hops));
}

QStringList TTestHttpServer::requests() const {
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

QByteArray TTestHttpServer::lastRequestHead(const QString& target) const {
    QMutexLocker lock(&m_mutex);
    return m_heads.value(target);
}

int TTestHttpServer::requestCount(const QString& target) const {
    QMutexLocker lock(&m_mutex);
    return int(m_requests.count(target));
}

void TTestHttpServer::clearRequests() {
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
    m_heads.clear();
}

TTestResponse TTestHttpServer::lookup(const QString& target) const {
    QMutexLocker lock(&m_mutex);
    if (auto it = m_routes.constFind(target); it != m_routes.cend())
        return *it;
    // A proxied request for this server itself falls back to its path.
    const QUrl url(target);
    if (url.isValid() && !url.host().isEmpty()) {
        QString path = url.path(QUrl::FullyEncoded);
        if (url.hasQuery())
            path += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
        if (auto it = m_routes.constFind(path); it != m_routes.cend())
            return *it;
    }
    TTestResponse missing;
    missing.status = 404;
    missing.body = "not found";
    return missing;
}

void TTestHttpServer::serve(QTcpSocket* socket) {
    socket->setParent(m_server);
    auto buffer = std::make_shared<QByteArray>();
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
        buffer->append(socket->readAll());
        const qsizetype end = buffer->indexOf("\r\n\r\n");
        if (end < 0 || socket->property("answered").toBool())
            return;
        socket->setProperty("answered", true);
        const QByteArray head = buffer->left(end);
        const QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
        const QString target = words.size() > 1 ? QString::fromLatin1(words[1]) : QString();
        {
            QMutexLocker lock(&m_mutex);
            m_requests << target;
            m_heads.insert(target, head);
        }
        answer(socket, target, head);
    });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void TTestHttpServer::answer(QTcpSocket* socket, const QString& target, const QByteArray&) {
    const TTestResponse response = lookup(target);
    QPointer<QTcpSocket> guard(socket);
    auto send = [guard, response] {
        if (!guard)
            return;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " " +
                          (response.status < 400 ? "OK" : "Error") + "\r\nConnection: close\r\n";
        bool hasType = false;
        for (const auto& [name, value] : response.headers) {
            head += name + ": " + value + "\r\n";
            hasType = hasType || name.compare("Content-Type", Qt::CaseInsensitive) == 0;
        }
        if (!hasType)
            head += "Content-Type: text/html\r\n";
        if (response.endless) {
            guard->write(head + "\r\n");
            auto* timer = new QTimer(guard);
            QObject::connect(timer, &QTimer::timeout, guard, [guard] {
                if (guard)
                    guard->write("x");
            });
            timer->start(200);
            return;
        }
        const qint64 size = response.generatedSize >= 0 ? response.generatedSize : response.body.size();
        head += "Content-Length: " + QByteArray::number(size) + "\r\n\r\n";
        guard->write(head);
        if (response.generatedSize >= 0) {
            const QByteArray chunk(64 * 1024, 'x');
            for (qint64 sent = 0; sent < size && guard && guard->state() == QAbstractSocket::ConnectedState;) {
                const qint64 n = std::min<qint64>(chunk.size(), size - sent);
                guard->write(chunk.constData(), n);
                sent += n;
                guard->waitForBytesWritten(1000);
            }
        } else {
            guard->write(response.body);
        }
        if (guard)
            guard->disconnectFromHost();
    };
    if (response.delayMs > 0)
        QTimer::singleShot(response.delayMs, socket, send);
    else
        send();
}

} // namespace vantero::test
