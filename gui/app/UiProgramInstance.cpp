#include "app/UiProgramInstance.h"

#include "app/UtMain.h"
#include "store/Connection.h"
#include "store/ServerSession.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWidget>

#include <unistd.h>

namespace vantero {

TProgramInstance::TProgramInstance(const QString& databasePath, QObject* parent)
    : QObject(parent), m_name(ServerName(databasePath)) {}

TProgramInstance::~TProgramInstance() = default;

QString TProgramInstance::ServerName(const QString& databasePath) {
    // A team database has no file on this desk: it is known by its place in the user's data
    // folder, one per host, port, database and user, so every spelling of the target agrees.
    const QString path =
        IsServerTarget(databasePath)
            ? QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
                  .filePath(QStringLiteral("servers/%1/%2")
                                .arg(ServerFolderName(databasePath), QString::fromLatin1(kDatabaseFileName)))
            : databasePath;
    // The file may not exist yet: its folder's real path and its name identify it.
    const QFileInfo file(QDir::current().absoluteFilePath(path));
    QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        folder = file.absolutePath();
    const QByteArray hash =
        QCryptographicHash::hash((folder + u'/' + file.fileName()).toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("vantero-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash.left(24)));
}

bool TProgramInstance::HandOverToRunning() {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(2000))
        return false; // nobody there, or a socket left by a program that died
    socket.write(kRaiseRequest);
    socket.flush();
    socket.waitForBytesWritten(2000);
    socket.disconnectFromServer();
    return true;
}

void TProgramInstance::Serve(QWidget* window) {
    m_window = window;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A name left behind by a program that died would refuse the listen.
    QLocalServer::removeServer(m_name);
    if (!m_server->listen(m_name))
        return; // then later starts open windows of their own, as before
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            const auto take = [this, socket] {
                while (socket->canReadLine()) {
                    if (socket->readLine() == kRaiseRequest)
                        BringToFront();
                }
            };
            connect(socket, &QLocalSocket::readyRead, this, take);
            connect(socket, &QLocalSocket::disconnected, this, take);
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            take(); // what came with the connection
        }
    });
}

void TProgramInstance::BringToFront() {
    if (!m_window)
        return;
    if (auto* main = qobject_cast<TFmMain*>(m_window.data()); main && (main->isMinimized() || main->isHidden())) {
        main->RestoreFromTray();
        return;
    }
    if (m_window->isMinimized() || m_window->isHidden())
        m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}

} // namespace vantero
