#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace vantero::test {

// A throw-away PostgreSQL server of the tests' own: a new cluster in a temporary folder that
// listens only on a Unix socket in that folder, started on first use and stopped (its folder
// removed) when the test program ends. The server refuses to run as root, so when the tests run
// as root the folder belongs to an unprivileged user and the server runs as that user.
class TPgServer final {
public:
    // The one server of this test program, started on first call; a failure to start is fatal.
    static TPgServer& Shared();
    ~TPgServer();
    TPgServer(const TPgServer&) = delete;
    TPgServer& operator=(const TPgServer&) = delete;

    // A new, empty database on the server; its libpq connection string.
    QString NewDatabase();
    // The connection string of a database of the server.
    QString Target(const QString& database) const;
    QString SocketFolder() const { return m_dir.path(); }
    // Ends every connection to the database from the server's side, as a restarted or failed
    // server would.
    void DropConnections(const QString& database);
    // Runs a statement through the server's own client (psql), outside the program.
    QString Psql(const QString& database, const QString& sql);

private:
    TPgServer();
    bool Run(const QString& program, const QStringList& args, QString* output = nullptr);
    QString m_bin;
    QString m_user; // the system user the server runs as; empty when not root
    QTemporaryDir m_dir;
    int m_databases = 0;
    bool m_started = false;
};

} // namespace vantero::test
