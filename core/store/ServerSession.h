#pragma once

#include "store/DatabaseError.h"
#include "store/ServerDialect.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct pg_conn;
struct pg_result;

namespace vantero {

// Whether a database target names a server database (a postgresql:// address or a libpq
// "key=value" connection string) rather than a database file.
bool IsServerTarget(const QString& target);

// "服务器 HOST:PORT 上的数据库 NAME" for a target, read from the target alone (no connection).
QString ServerPlace(const QString& target);

// A folder name for what belongs to one server database on this desk (the browser's profile):
// host, port, database and user of the target, never its other options; empty when the target
// cannot be read.
QString ServerFolderName(const QString& target);

// A value as the server is given it: text, numbers in their shortest exact form; a null
// QByteArray for NULL.
QByteArray ServerValueText(const QVariant& value);

// Cuts a session off from another thread: for a program that must end now although a statement
// of the session waits on a server that does not answer (stopped, stuck behind a lock, or gone
// without a word on the network).
class TServerBreak final {
public:
    TServerBreak();
    ~TServerBreak();
    TServerBreak(const TServerBreak&) = delete;
    TServerBreak& operator=(const TServerBreak&) = delete;

    // From any thread: what the session waits for ends at once as a lost connection (a
    // connection still being made is given up), and the session never connects again.
    void Break();
    bool Broken() const;

    // While one lives, sessions made on its thread use this break, so a connection being made
    // there can be given up before the session exists for anyone to ask for its break.
    class TOnThisThread final {
    public:
        explicit TOnThisThread(std::shared_ptr<TServerBreak> breaker);
        ~TOnThisThread();
        TOnThisThread(const TOnThisThread&) = delete;
        TOnThisThread& operator=(const TOnThisThread&) = delete;

    private:
        std::shared_ptr<TServerBreak> m_previous;
    };

private:
    friend class TServerSession;
    // The session's socket now (-1: none). A duplicate is kept, so shutting it down can never
    // hit a file the number was since given to.
    void Watch(int socket);
    // Readable once broken: a socket still connecting cannot be shut down to wake its waiter.
    int WakeFd() const { return m_wake; }

    mutable std::mutex m_mutex;
    int m_socket = -1;
    int m_wake = -1;
    bool m_broken = false;
};

// One thread's connection to a team database on a PostgreSQL server. Statements are translated
// and prepared once per connection and kept; a result comes whole in one round trip. A lost
// connection is made again once, when no transaction was open on it; otherwise the statement
// fails with a message naming the server and the database. Passwords are never part of the
// target: they come from ~/.pgpass or the server's own authentication.
class TServerSession final {
public:
    // Connects; throws TDatabaseError with a Chinese message naming server and database.
    explicit TServerSession(const QString& target);
    ~TServerSession();
    TServerSession(const TServerSession&) = delete;
    TServerSession& operator=(const TServerSession&) = delete;

    // Runs a statement of the program with its values as text (a null QByteArray is NULL).
    // The caller owns the result (PQclear). translated tells how the statement was rewritten.
    pg_result* Execute(const QString& sql, const std::vector<QByteArray>& values,
                       const TServerStatementText** translated);
    // Runs text as written (no translation, no values), for the session's own statements.
    void Run(const QByteArray& text);
    // Adds rows to table's columns as one stream (COPY ... FROM STDIN) instead of a statement a
    // row; inside the caller's transaction. nextRow fills the values of the next row (as
    // ServerValueText gives them) and returns false when there is none. Gives the rows added.
    qint64 CopyRows(const QString& table, const QStringList& columns,
                    const std::function<bool(std::vector<QByteArray>&)>& nextRow);

    // Serialises writers among every program on the database as the file's engine does, so a
    // read and the write it decides are one step; a reading snapshot agrees with itself. A
    // writer with keys (the rows it reads and writes, named by the caller) waits only for
    // writers of the same keys and for writers without keys.
    void Begin(bool write, const QStringList& keys = {});
    void Commit();
    void Rollback() noexcept;
    // A notification the open transaction sends when it commits, in the commit's round trip;
    // nothing when it is rolled back.
    void NotifyAtCommit(const QString& channel, const QString& payload);
    bool InTransaction() const;

    // "服务器 HOST:PORT 上的数据库 NAME".
    QString Place() const { return m_place; }
    // The table's columns in their order (lower case, as the server spells them).
    QStringList ColumnsOf(const QString& table);
    // Reads every table's columns (kept for ColumnsOf) and gives the indexes' names (lower
    // case), all in one round trip.
    QStringList ReadLayout();
    TDatabaseError Failure(const QString& detail, const QString& state = {}) const;

    // For a listener: the connection's socket, to wait on; and the payloads of the
    // notifications that arrived on it, oldest first. Throws TDatabaseError when the
    // connection is lost (a listener then connects anew; what was announced meanwhile is gone).
    int Socket() const;
    QStringList TakeNotifications();

    // What another thread uses to cut this session off (it may outlive the session).
    std::shared_ptr<TServerBreak> Breaker() const { return m_break; }

    // The key that serialises writers (an advisory lock; other keys stay free for the workers).
    static constexpr long long kWriterLock = 0x56414e5445524f31LL;
    // The first half of every row key's lock (the second is RowLockKey): a key space of its own.
    static constexpr qint32 kRowLocks = 0x56414e54;
    static qint32 RowLockKey(const QString& key);

private:
    [[noreturn]] void RaiseLost(const QString& detail);
    // Connects again after a lost connection; false when that failed or the session was cut off.
    bool Reconnect();
    // Takes libpq's connection steps (a new connection, or a reset) to their end; false when
    // they failed, ran out of time or the break came, with the reason in detail.
    bool FinishConnecting(bool reset, QString* detail);
    pg_conn* m_conn = nullptr;
    std::shared_ptr<TServerBreak> m_break;
    struct TPrepared {
        QByteArray name;
        TServerStatementText text;
    };
    QHash<QString, TPrepared> m_prepared;
    QHash<QString, QStringList> m_columns;
    int m_nextName = 0;
    QByteArray m_atCommit; // the notifications' statements, each followed by "; "
    QString m_place;
};

} // namespace vantero
