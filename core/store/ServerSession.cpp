#include "store/ServerSession.h"

#include "common/StoreTexts.h"
#include "common/TermSignals.h"
#include "common/TextHelpers.h"

#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <libpq-fe.h>
#include <memory>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace vantero {

namespace {

// How long a connection may take to be made before it is given up (as libpq's connect_timeout,
// which its step-by-step connecting leaves to the caller).
constexpr int kConnectSeconds = 15;

// The break that sessions made on this thread use (TServerBreak::TOnThisThread).
thread_local std::shared_ptr<TServerBreak> tThreadBreak;

QString ResultMessage(const PGresult* result, const PGconn* conn) {
    const char* text = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    if (!text || !*text)
        text = PQerrorMessage(conn);
    return QString::fromUtf8(text).trimmed();
}

QString ResultState(const PGresult* result) {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    return state ? QString::fromLatin1(state) : QString();
}

bool ResultOk(const PGresult* result) {
    const ExecStatusType status = PQresultStatus(result);
    return result && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK);
}

// Where a target points, for messages, from the target itself (before any connection).
QString PlaceOf(const QString& host, const QString& port, const QString& database) {
    QString server = host.isEmpty() ? QStringLiteral("localhost") : host;
    if (!port.isEmpty())
        server += u':' + port;
    return StoreTexts::ServerPlace.arg(server, database);
}

// What a target names, read by libpq's own parser (no connection).
struct TTargetParts {
    bool readable = false;
    QString host, hostaddr, port, database, user;
    bool password = false;
    QString problem; // why it could not be read
};

TTargetParts ReadTarget(const QString& target) {
    TTargetParts parts;
    const QByteArray text = target.toUtf8();
    char* parseError = nullptr;
    PQconninfoOption* options = PQconninfoParse(text.constData(), &parseError);
    if (!options) {
        parts.problem = parseError ? QString::fromUtf8(parseError).trimmed() : QString();
        PQfreemem(parseError);
        return parts;
    }
    parts.readable = true;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        const QByteArray keyword(o->keyword);
        const QString value = o->val ? QString::fromUtf8(o->val) : QString();
        if (keyword == "password" && !value.isEmpty())
            parts.password = true;
        else if (keyword == "host")
            parts.host = value;
        else if (keyword == "hostaddr")
            parts.hostaddr = value;
        else if (keyword == "port")
            parts.port = value;
        else if (keyword == "dbname")
            parts.database = value;
        else if (keyword == "user")
            parts.user = value;
    }
    PQconninfoFree(options);
    return parts;
}

} // namespace

QByteArray ServerValueText(const QVariant& value) {
    if (value.isNull())
        return {};
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
        return QByteArray::number(value.toLongLong());
    case QMetaType::Double:
        // Shortest text that reads back as the same number.
        return QByteArray::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    default: {
        QByteArray text = value.toString().toUtf8();
        return text.isNull() ? QByteArray("") : text;
    }
    }
}

bool IsServerTarget(const QString& target) {
    static const QRegularExpression keyValue(QStringLiteral("^\\s*[a-z_]+\\s*="));
    return target.startsWith(QLatin1String("postgresql://")) || target.startsWith(QLatin1String("postgres://")) ||
           keyValue.match(target).hasMatch();
}

QString ServerPlace(const QString& target) {
    const TTargetParts parts = ReadTarget(target);
    return PlaceOf(parts.host, parts.port, parts.database.isEmpty() ? parts.user : parts.database);
}

QString ServerFolderName(const QString& target) {
    const TTargetParts parts = ReadTarget(target);
    if (!parts.readable)
        return {};
    const QString user = parts.user.isEmpty() ? QString::fromLocal8Bit(qgetenv("PGUSER")) : parts.user;
    QString name = QStringLiteral("%1_%2_%3_%4")
                       .arg(parts.host.isEmpty() ? QStringLiteral("localhost") : parts.host,
                            parts.port.isEmpty() ? QStringLiteral("5432") : parts.port, parts.database, user);
    // One plain folder name whatever the host looks like (a socket folder has slashes).
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    return name.replace(unsafe, QStringLiteral("-"));
}

TServerBreak::TServerBreak() : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TServerBreak::~TServerBreak() {
    if (m_socket >= 0)
        ::close(m_socket);
    if (m_wake >= 0)
        ::close(m_wake);
}

void TServerBreak::Break() {
    std::lock_guard lock(m_mutex);
    m_broken = true;
    // The blocked read or write on the session's thread returns with an error; no word to the
    // server is needed, so this works however unresponsive it is.
    if (m_socket >= 0)
        ::shutdown(m_socket, SHUT_RDWR);
    if (m_wake >= 0) {
        const std::uint64_t one = 1;
        if (::write(m_wake, &one, sizeof one) < 0) {
            // Already signalled to the limit: the waiter wakes all the same.
        }
    }
}

bool TServerBreak::Broken() const {
    std::lock_guard lock(m_mutex);
    return m_broken;
}

void TServerBreak::Watch(int socket) {
    std::lock_guard lock(m_mutex);
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = socket >= 0 ? ::fcntl(socket, F_DUPFD_CLOEXEC, 0) : -1;
    if (m_broken && m_socket >= 0)
        ::shutdown(m_socket, SHUT_RDWR);
}

TServerBreak::TOnThisThread::TOnThisThread(std::shared_ptr<TServerBreak> breaker)
    : m_previous(std::exchange(tThreadBreak, std::move(breaker))) {}

TServerBreak::TOnThisThread::~TOnThisThread() {
    tThreadBreak = std::move(m_previous);
}

TServerSession::TServerSession(const QString& target)
    : m_break(tThreadBreak ? tThreadBreak : std::make_shared<TServerBreak>()) {
    const QByteArray text = target.toUtf8();
    const TTargetParts parts = ReadTarget(target);
    if (!parts.readable)
        throw TDatabaseError(StoreTexts::ServerBadTarget.arg(parts.problem));
    if (parts.password)
        throw TDatabaseError(StoreTexts::ServerPassword);
    m_place = PlaceOf(parts.host.isEmpty() ? parts.hostaddr : parts.host, parts.port,
                      parts.database.isEmpty() ? parts.user : parts.database);

    const char* keywords[] = {"dbname", "client_encoding", "application_name", nullptr};
    const char* values[] = {text.constData(), "UTF8", "vantero", nullptr};
    // Step by step, so that a program that must end need not wait for a server that never
    // answers the connection.
    m_conn = PQconnectStartParams(keywords, values, 1);
    QString detail;
    if (!FinishConnecting(false, &detail)) {
        if (m_conn)
            PQfinish(m_conn);
        m_conn = nullptr;
        throw TDatabaseError(StoreTexts::ServerUnreachable.arg(m_place, detail), TDatabaseFault::Other, detail);
    }
    m_place =
        PlaceOf(QString::fromUtf8(PQhost(m_conn)), QString::fromUtf8(PQport(m_conn)), QString::fromUtf8(PQdb(m_conn)));
    m_break->Watch(PQsocket(m_conn));
    // Notices (an index that already exists, say) are the server's business, not the user's.
    PQsetNoticeProcessor(
        m_conn, [](void*, const char*) {}, nullptr);
}

TServerSession::~TServerSession() {
    m_break->Watch(-1);
    if (m_conn)
        PQfinish(m_conn);
}

bool TServerSession::Reconnect() {
    m_prepared.clear();
    if (m_break->Broken())
        return false;
    QString detail;
    const bool made = PQresetStart(m_conn) == 1 && FinishConnecting(true, &detail);
    m_break->Watch(made ? PQsocket(m_conn) : -1);
    return made;
}

bool TServerSession::FinishConnecting(bool reset, QString* detail) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kConnectSeconds);
    if (!m_conn || PQstatus(m_conn) == CONNECTION_BAD) {
        *detail =
            m_conn ? QString::fromUtf8(PQerrorMessage(m_conn)).trimmed() : QString::fromUtf8(std::strerror(ENOMEM));
        return false;
    }
    // Before the first step libpq waits to write (its documented start).
    PostgresPollingStatusType status = PGRES_POLLING_WRITING;
    for (;;) {
        if (status == PGRES_POLLING_OK)
            return true;
        if (status == PGRES_POLLING_FAILED) {
            *detail = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
            return false;
        }
        if (m_break->Broken()) {
            *detail = StoreTexts::ServerCutOff;
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            *detail = StoreTexts::ServerNoAnswer.arg(kConnectSeconds);
            return false;
        }
        // The socket may change between steps (another address of the host, another try). A
        // command told to end by a signal while its main thread waits here gives up too.
        pollfd waits[3] = {{PQsocket(m_conn), short(status == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0},
                           {m_break->WakeFd(), POLLIN, 0},
                           {TTermSignals::PendingFd(), POLLIN, 0}};
        const int ready = ::poll(waits, 3, int(std::min<long long>(left, INT_MAX)));
        if (ready < 0 && errno != EINTR) {
            *detail = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (ready > 0 && waits[2].revents != 0) {
            *detail = StoreTexts::ServerCutOff;
            return false;
        }
        if (ready > 0 && waits[0].revents != 0)
            status = reset ? PQresetPoll(m_conn) : PQconnectPoll(m_conn);
    }
}

TDatabaseError TServerSession::Failure(const QString& detail, const QString& state) const {
    TDatabaseFault fault = TDatabaseFault::Other;
    if (state == QLatin1String("53100"))
        fault = TDatabaseFault::DiskFull;
    else if (state == QLatin1String("25006"))
        fault = TDatabaseFault::ReadOnly;
    else if (state == QLatin1String("55P03") || state == QLatin1String("40P01"))
        fault = TDatabaseFault::Locked;
    return TDatabaseError(StoreTexts::ServerFailed.arg(m_place, detail), fault, detail);
}

void TServerSession::RaiseLost(const QString& detail) {
    // The next statement starts on a fresh connection, or fails again with this message.
    m_atCommit.clear();
    if (!Reconnect() && m_break->Broken()) {
        // libpq's words would blame the server for what this program did.
        const QString cut = StoreTexts::ServerCutOff;
        throw TDatabaseError(StoreTexts::ServerLost.arg(m_place, cut), TDatabaseFault::Other, cut);
    }
    throw TDatabaseError(StoreTexts::ServerLost.arg(m_place, detail), TDatabaseFault::Other, detail);
}

bool TServerSession::InTransaction() const {
    return PQtransactionStatus(m_conn) != PQTRANS_IDLE && PQtransactionStatus(m_conn) != PQTRANS_UNKNOWN;
}

pg_result* TServerSession::Execute(const QString& sql, const std::vector<QByteArray>& values,
                                   const TServerStatementText** translated) {
    for (int attempt = 0;; ++attempt) {
        const bool idle = PQtransactionStatus(m_conn) == PQTRANS_IDLE;
        auto lost = [&](const QString& detail) -> bool {
            // Once, and only outside a transaction: inside one, what ran before is gone with it.
            if (attempt == 0 && idle && !m_break->Broken())
                return Reconnect();
            RaiseLost(detail);
        };
        auto found = m_prepared.find(sql);
        if (found == m_prepared.end()) {
            TPrepared prepared;
            prepared.name = "v" + QByteArray::number(++m_nextName);
            prepared.text = TranslateForServer(sql, [this](const QString& table) { return ColumnsOf(table); });
            if (PQstatus(m_conn) != CONNECTION_OK) {
                if (lost(QString::fromUtf8(PQerrorMessage(m_conn)).trimmed()))
                    continue;
            }
            const QByteArray text = prepared.text.text.toUtf8();
            std::unique_ptr<PGresult, decltype(&PQclear)> result(
                PQprepare(m_conn, prepared.name.constData(), text.constData(), 0, nullptr), &PQclear);
            if (!ResultOk(result.get())) {
                if (PQstatus(m_conn) != CONNECTION_OK) {
                    if (lost(ResultMessage(result.get(), m_conn)))
                        continue;
                }
                throw Failure(ResultMessage(result.get(), m_conn), ResultState(result.get()));
            }
            found = m_prepared.insert(sql, prepared);
        }
        const TPrepared& prepared = *found;
        std::vector<const char*> pointers(values.size());
        std::vector<int> lengths(values.size());
        for (size_t i = 0; i < values.size(); ++i) {
            pointers[i] = values[i].isNull() ? nullptr : values[i].constData();
            lengths[i] = int(values[i].size());
        }
        PGresult* result = PQexecPrepared(m_conn, prepared.name.constData(), int(values.size()), pointers.data(),
                                          lengths.data(), nullptr, 0);
        if (ResultOk(result)) {
            *translated = &prepared.text;
            return result;
        }
        const QString detail = ResultMessage(result, m_conn);
        const QString state = ResultState(result);
        PQclear(result);
        if (PQstatus(m_conn) != CONNECTION_OK) {
            if (lost(detail))
                continue;
        }
        throw Failure(detail, state);
    }
}

void TServerSession::Run(const QByteArray& text) {
    std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(m_conn, text.constData()), &PQclear);
    if (ResultOk(result.get()))
        return;
    const QString detail = ResultMessage(result.get(), m_conn);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        // Nothing was open yet when a transaction is being begun: one fresh try.
        if (text.startsWith("BEGIN") && Reconnect()) {
            result.reset(PQexec(m_conn, text.constData()));
            if (ResultOk(result.get()))
                return;
        }
        RaiseLost(detail);
    }
    throw Failure(detail, ResultState(result.get()));
}

qint64 TServerSession::CopyRows(const QString& table, const QStringList& columns,
                                const std::function<bool(std::vector<QByteArray>&)>& nextRow) {
    const QByteArray start = "COPY " + table.toUtf8() + " (" + columns.join(u", ").toUtf8() + ") FROM STDIN";
    std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(m_conn, start.constData()), &PQclear);
    if (PQresultStatus(result.get()) != PGRES_COPY_IN) {
        const QString detail = ResultMessage(result.get(), m_conn);
        if (PQstatus(m_conn) != CONNECTION_OK)
            RaiseLost(detail);
        throw Failure(detail, ResultState(result.get()));
    }
    // The text form of COPY: a tab between values, a line a row, \N for NULL, and the few
    // characters that would break that escaped with a backslash.
    QByteArray chunk;
    auto send = [this, &chunk] {
        if (PQputCopyData(m_conn, chunk.constData(), int(chunk.size())) != 1)
            RaiseLost(QString::fromUtf8(PQerrorMessage(m_conn)).trimmed());
        chunk.clear();
    };
    std::vector<QByteArray> values;
    qint64 rows = 0;
    while (nextRow(values)) {
        for (size_t i = 0; i < values.size(); ++i) {
            if (i > 0)
                chunk += '\t';
            const QByteArray& value = values[i];
            if (value.isNull()) {
                chunk += "\\N";
                continue;
            }
            for (const char c : value) {
                switch (c) {
                case '\\':
                    chunk += "\\\\";
                    break;
                case '\t':
                    chunk += "\\t";
                    break;
                case '\n':
                    chunk += "\\n";
                    break;
                case '\r':
                    chunk += "\\r";
                    break;
                default:
                    chunk += c;
                }
            }
        }
        chunk += '\n';
        ++rows;
        if (chunk.size() >= 256 * 1024)
            send();
    }
    if (!chunk.isEmpty())
        send();
    if (PQputCopyEnd(m_conn, nullptr) != 1)
        RaiseLost(QString::fromUtf8(PQerrorMessage(m_conn)).trimmed());
    result.reset(PQgetResult(m_conn));
    const bool ok = ResultOk(result.get());
    const QString detail = ok ? QString() : ResultMessage(result.get(), m_conn);
    const QString state = ok ? QString() : ResultState(result.get());
    // The stream's last answer is followed by none.
    while (PGresult* rest = PQgetResult(m_conn))
        PQclear(rest);
    if (!ok) {
        if (PQstatus(m_conn) != CONNECTION_OK)
            RaiseLost(detail);
        throw Failure(detail, state);
    }
    return rows;
}

void TServerSession::Begin(bool write, const QStringList& keys) {
    if (!write) {
        Run("BEGIN ISOLATION LEVEL REPEATABLE READ");
        return;
    }
    const QByteArray writers = QByteArray::number(kWriterLock);
    if (keys.isEmpty()) {
        Run("BEGIN; SELECT pg_advisory_xact_lock(" + writers + ")");
        return;
    }
    // Writers of rows share the writers' lock (a writer of everything waits them out, and they
    // it) and hold their rows' keys alone; in one order, so two of them never wait for each
    // other crosswise. All in the one round trip that begins the transaction.
    std::vector<qint32> rows;
    for (const QString& key : keys)
        rows.push_back(RowLockKey(key));
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QByteArray text = "BEGIN; SELECT pg_advisory_xact_lock_shared(" + writers + ")";
    for (const qint32 row : rows)
        text +=
            "; SELECT pg_advisory_xact_lock(" + QByteArray::number(kRowLocks) + ", " + QByteArray::number(row) + ")";
    Run(text);
}

qint32 TServerSession::RowLockKey(const QString& key) {
    // FNV-1a over the key as the tables compare it (ASCII letters without case): the same on
    // every desk, unlike qHash. Two keys that meet on one number only wait for each other.
    quint32 hash = 2166136261u;
    for (const char byte : LowerAscii(key).toUtf8()) {
        hash ^= quint8(byte);
        hash *= 16777619u;
    }
    return qint32(hash);
}

void TServerSession::NotifyAtCommit(const QString& channel, const QString& payload) {
    // libpq quotes the values for the connection's encoding and settings.
    auto quote = [this](const QString& value) {
        const QByteArray text = value.toUtf8();
        char* quoted = PQescapeLiteral(m_conn, text.constData(), size_t(text.size()));
        if (!quoted)
            throw Failure(QString::fromUtf8(PQerrorMessage(m_conn)).trimmed());
        const QByteArray result(quoted);
        PQfreemem(quoted);
        return result;
    };
    m_atCommit += "SELECT pg_notify(" + quote(channel) + ", " + quote(payload) + "); ";
}

void TServerSession::Commit() {
    const QByteArray text = m_atCommit + "COMMIT";
    m_atCommit.clear();
    Run(text);
}

void TServerSession::Rollback() noexcept {
    m_atCommit.clear();
    if (PQstatus(m_conn) == CONNECTION_OK)
        PQclear(PQexec(m_conn, "ROLLBACK"));
}

int TServerSession::Socket() const {
    return PQsocket(m_conn);
}

QStringList TServerSession::TakeNotifications() {
    if (!PQconsumeInput(m_conn) || PQstatus(m_conn) != CONNECTION_OK)
        throw TDatabaseError(StoreTexts::ServerLost.arg(m_place, QString::fromUtf8(PQerrorMessage(m_conn)).trimmed()));
    QStringList payloads;
    while (PGnotify* notice = PQnotifies(m_conn)) {
        payloads << QString::fromUtf8(notice->extra);
        PQfreemem(notice);
    }
    return payloads;
}

QStringList TServerSession::ColumnsOf(const QString& table) {
    const QString key = table.toLower();
    if (auto it = m_columns.constFind(key); it != m_columns.cend())
        return *it;
    const QByteArray name = key.toUtf8();
    const char* values[] = {name.constData()};
    std::unique_ptr<PGresult, decltype(&PQclear)> result(
        PQexecParams(m_conn,
                     "SELECT column_name FROM information_schema.columns WHERE table_schema = current_schema() "
                     "AND table_name = $1 ORDER BY ordinal_position",
                     1, nullptr, values, nullptr, nullptr, 0),
        &PQclear);
    QStringList columns;
    if (!ResultOk(result.get()))
        return columns;
    for (int row = 0; row < PQntuples(result.get()); ++row)
        columns << QString::fromUtf8(PQgetvalue(result.get(), row, 0));
    if (!columns.isEmpty())
        m_columns.insert(key, columns);
    return columns;
}

QStringList TServerSession::ReadLayout() {
    // Tables and indexes of the schema in one answer: 'c' rows a table's columns in order, 'i'
    // rows an index's name.
    std::unique_ptr<PGresult, decltype(&PQclear)> result(
        PQexec(m_conn, "SELECT 'c', table_name, column_name, ordinal_position FROM information_schema.columns"
                       " WHERE table_schema = current_schema()"
                       " UNION ALL SELECT 'i', tablename, indexname, 0 FROM pg_indexes"
                       " WHERE schemaname = current_schema() ORDER BY 1, 2, 4"),
        &PQclear);
    if (!ResultOk(result.get())) {
        const QString detail = ResultMessage(result.get(), m_conn);
        if (PQstatus(m_conn) != CONNECTION_OK)
            RaiseLost(detail);
        throw Failure(detail, ResultState(result.get()));
    }
    m_columns.clear();
    QStringList indexes;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
        const QString name = QString::fromUtf8(PQgetvalue(result.get(), row, 2));
        if (*PQgetvalue(result.get(), row, 0) == 'i')
            indexes << name.toLower();
        else
            m_columns[QString::fromUtf8(PQgetvalue(result.get(), row, 1)).toLower()] << name;
    }
    return indexes;
}

} // namespace vantero
