#pragma once

#include "store/DatabaseError.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

struct sqlite3;

namespace vantero {

class TServerSession;

inline constexpr auto kDatabaseFileName = "vanteroData.mdb";

// The program's database: a file, or a team database on a server when the target is a
// postgresql:// address or a libpq connection string. Copies are cheap and may be handed to
// worker threads: every thread that uses it gets its own connection (to a file: SQLite in WAL
// mode with a busy timeout), opened on first use and closed when the thread ends.
class TConnection {
public:
    TConnection() = default;
    explicit TConnection(QString path);

    // The file's path or the server's connection string.
    QString path() const { return m_path; }
    bool isNull() const { return m_path.isEmpty(); }
    bool isServer() const { return m_server; }
    // This thread's connection to the server database; throws TDatabaseError when it cannot be
    // made. Only for a server target.
    TServerSession* server() const;
    // For messages: the file's path, or the server and database (read from the target, without
    // connecting).
    QString place() const;

    // This thread's connection to the file; throws TDatabaseError when it cannot be opened, or
    // when the database is on a server (what uses this runs on files only).
    QSqlDatabase database() const;

    // This thread's own SQLite connection to the file, through which the record sets work. It
    // comes from a pool of idle ones and goes back when the thread ends, so a short-lived
    // worker does not pay for opening the file.
    sqlite3* handle() const;

    // Runs one statement that selects nothing, values bound in order.
    void exec(const QString& sql, const QVariantList& values = {}) const;
    // The first column of the first row a query selects (null when none).
    QVariant value(const QString& sql, const QVariantList& values = {}) const;
    // Runs an INSERT and gives the row id of the row it added.
    qint64 insert(const QString& sql, const QVariantList& values) const;

    // Closes this thread's connections (the pooled ones go back to the pool).
    static void closeThreadConnections();
    // At a clean end of the program: closes this thread's connections and every idle pooled one
    // with its kept statements. The last connection to a file to close checkpoints its
    // write-ahead log into it, so the file alone holds everything (a copy of it is whole).
    // Other threads must have ended their use first.
    static void closeAll();

    // How long a statement waits for another program's lock on the file before it fails with
    // a message naming the file; 15 seconds (long enough for any write of this program, short
    // enough that a program holding the file is named soon). Connections opened later use the
    // new time.
    static void setBusyTimeout(int ms);

private:
    QString m_path;
    bool m_server = false;
};

// Several reads on this thread's connection as one snapshot of the file: they agree with each
// other, and the engine takes its read lock once instead of once per statement. Does nothing
// inside a transaction already open on the connection.
class TReadTransaction {
public:
    explicit TReadTransaction(const TConnection& con);
    ~TReadTransaction();
    TReadTransaction(const TReadTransaction&) = delete;
    TReadTransaction& operator=(const TReadTransaction&) = delete;

private:
    sqlite3* m_handle = nullptr;
    TServerSession* m_server = nullptr;
};

// A read followed by the write it decides, as one step: nobody writes in between (so two
// writers cannot both find no row and both add one), and the file's locks are taken once.
// Rolled back unless Commit() was called. Does nothing inside a transaction already open.
class TWriteTransaction {
public:
    explicit TWriteTransaction(const TConnection& con);
    // A step that reads and writes only the rows these keys name (an item's id, a page's item
    // and seller; ASCII case does not count): on a team database steps of other keys go on at
    // the same time, and every step without keys still waits for it and it for them. On a
    // file, as without keys.
    TWriteTransaction(const TConnection& con, const QStringList& keys);
    ~TWriteTransaction();
    TWriteTransaction(const TWriteTransaction&) = delete;
    TWriteTransaction& operator=(const TWriteTransaction&) = delete;
    void Commit();

private:
    sqlite3* m_handle = nullptr;
    TServerSession* m_server = nullptr;
};

// Checks or creates the database file at start-up. When the file does not exist it is written
// with the four empty tables and one settings row. Returns an empty string when the file is
// usable, otherwise a Chinese message naming the file and the reason; a refused file is left
// exactly as it was. A server target is connected to and given whatever tables it lacks.
QString PrepareDatabaseFile(const QString& path);

// Whether the file at path is a database of this program's layout; on failure reason says why.
// Only real tables pass (no views, virtual tables or temporary objects of those names). With
// checkIntegrity the file's structure is checked as well (SQLite's quick check). Opens the file
// read-only and changes nothing.
bool CheckDatabaseLayout(const QString& path, QString* reason, bool checkIntegrity = false);

// Whether the file at path can be an import's source: an SQLite file whose Items, Rival and
// RivalItems, where present, are real tables. Tables and columns the import does not read are
// not asked for; what it reads and lacks fails the import's step. Changes nothing.
bool CheckImportSource(const QString& path, QString* reason);

// The connection's last error as the user reads it: a Chinese sentence naming the problem
// (full disk, read-only, locked by another program, damaged) and the file, then the engine's
// text in brackets.
TDatabaseError EngineError(sqlite3* db);
QString EngineErrorText(sqlite3* db);

// Every connection to a file, ours or an import's source, is opened with this: functions with
// side effects may not run from the file's own schema (views, indexes, defaults), only from
// the program's statements.
void DistrustSchema(QSqlDatabase& db);

// Writes a fresh database of this layout (the delivered file) to path.
void CreateDatabaseFile(const QString& path);

// "2026-01-31 08:05:00" in local time; the zero date-time (invalid) is the empty text.
QString DateTimeToColumn(const QDateTime& value);
// DateTimeToColumn of the current local time, cheaply.
QString CurrentDateTimeColumn();
// The stored form of wallSeconds (since the epoch) in the local zone. The zone is read again at
// the first call and whenever a minute of steadySeconds (a monotonic clock) has passed.
QString LocalDateTimeColumn(qint64 wallSeconds, qint64 steadySeconds);
QDateTime DateTimeFromColumn(const QString& text);

} // namespace vantero
