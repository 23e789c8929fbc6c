#include "support/PgServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace vantero::test {

namespace {

constexpr auto kRole = "vantero";
constexpr auto kPort = "5432"; // the socket's name only: the folder is the server's alone

QString ServerBinaries() {
    for (const QString& version : {QStringLiteral("17"), QStringLiteral("16"), QStringLiteral("15")}) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(version);
        if (QFile::exists(bin + QStringLiteral("/initdb")))
            return bin;
    }
    return {};
}

} // namespace

TPgServer& TPgServer::Shared() {
    static TPgServer server;
    return server;
}

TPgServer::TPgServer() : m_bin(ServerBinaries()), m_dir(QDir::tempPath() + QStringLiteral("/vantero-pg-XXXXXX")) {
    if (m_bin.isEmpty())
        qFatal("PostgreSQL server: initdb not found under /usr/lib/postgresql (package postgresql-15)");
    if (!m_dir.isValid())
        qFatal("PostgreSQL server: no temporary folder");
    if (::geteuid() == 0) {
        // Any user without a login does; its name only has to exist.
        m_user = QStringLiteral("nobody");
        const passwd* user = ::getpwnam("nobody");
        if (!user)
            qFatal("PostgreSQL server: no user 'nobody' to run the server as");
        if (::chown(QFile::encodeName(m_dir.path()).constData(), user->pw_uid, user->pw_gid) != 0)
            qFatal("PostgreSQL server: cannot hand the folder to 'nobody'");
    }
    const QString data = m_dir.filePath(QStringLiteral("data"));
    QString output;
    if (!Run(m_bin + QStringLiteral("/initdb"),
             {QStringLiteral("-D"), data, QStringLiteral("-U"), QString::fromLatin1(kRole), QStringLiteral("-A"),
              QStringLiteral("trust"), QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"),
              QStringLiteral("--no-sync")},
             &output))
        qFatal("PostgreSQL server: initdb failed: %s", qPrintable(output));
    const QString options = QStringLiteral("-k %1 -c listen_addresses= -p %2 -c fsync=off -c full_page_writes=off")
                                .arg(m_dir.path(), QString::fromLatin1(kPort));
    if (!Run(m_bin + QStringLiteral("/pg_ctl"),
             {QStringLiteral("-D"), data, QStringLiteral("-o"), options, QStringLiteral("-l"),
              m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-w"), QStringLiteral("-t"),
              QStringLiteral("120"), QStringLiteral("start")},
             &output)) {
        QFile log(m_dir.filePath(QStringLiteral("server.log")));
        log.open(QIODevice::ReadOnly);
        qFatal("PostgreSQL server: pg_ctl start failed: %s %s", qPrintable(output), log.readAll().constData());
    }
    m_started = true;
}

TPgServer::~TPgServer() {
    if (m_started) {
        Run(m_bin + QStringLiteral("/pg_ctl"),
            {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-m"),
             QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
    }
}

bool TPgServer::Run(const QString& program, const QStringList& args, QString* output) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_dir.path());
    if (m_user.isEmpty()) {
        process.start(program, args);
    } else {
        process.start(QStringLiteral("runuser"),
                      QStringList{QStringLiteral("-u"), m_user, QStringLiteral("--"), program} + args);
    }
    // Generous: a loaded machine may take long to write a cluster.
    const bool finished = process.waitForFinished(300'000);
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString TPgServer::Target(const QString& database) const {
    return QStringLiteral("host=%1 port=%2 user=%3 dbname=%4")
        .arg(m_dir.path(), QString::fromLatin1(kPort), QString::fromLatin1(kRole), database);
}

QString TPgServer::NewDatabase() {
    const QString name = QStringLiteral("test%1").arg(++m_databases);
    QString output;
    if (!Run(m_bin + QStringLiteral("/createdb"),
             {QStringLiteral("-h"), m_dir.path(), QStringLiteral("-p"), QString::fromLatin1(kPort),
              QStringLiteral("-U"), QString::fromLatin1(kRole), name},
             &output))
        qFatal("PostgreSQL server: createdb failed: %s", qPrintable(output));
    return Target(name);
}

QString TPgServer::Psql(const QString& database, const QString& sql) {
    QString output;
    Run(m_bin + QStringLiteral("/psql"),
        {QStringLiteral("-h"), m_dir.path(), QStringLiteral("-p"), QString::fromLatin1(kPort), QStringLiteral("-U"),
         QString::fromLatin1(kRole), QStringLiteral("-d"), database, QStringLiteral("-XAtq"), QStringLiteral("-c"),
         sql},
        &output);
    return output.trimmed();
}

void TPgServer::DropConnections(const QString& database) {
    Psql(QStringLiteral("postgres"),
         QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '%1' AND pid <> "
                        "pg_backend_pid()")
             .arg(database));
}

} // namespace vantero::test
