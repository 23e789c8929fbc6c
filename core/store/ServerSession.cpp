#include "store/ServerSession.h"

#include "common/StoreTexts.h"

#include <QRegularExpression>

#include <libpq-fe.h>
#include <memory>

namespace vantero {

namespace {

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

} // namespace

bool IsServerTarget(const QString& target) {
    static const QRegularExpression keyValue(QStringLiteral("^\\s*[a-z_]+\\s*="));
    return target.startsWith(QLatin1String("postgresql://")) || target.startsWith(QLatin1String("postgres://")) ||
           keyValue.match(target).hasMatch();
}

QString ServerPlace(const QString& target) {
    const QByteArray text = target.toUtf8();
    PQconninfoOption* options = PQconninfoParse(text.constData(), nullptr);
    QString host, port, database, user;
    for (PQconninfoOption* o = options; o && o->keyword; ++o) {
        const QByteArray keyword(o->keyword);
        const QString value = o->val ? QString::fromUtf8(o->val) : QString();
        if (keyword == "host")
            host = value;
        else if (keyword == "port")
            port = value;
        else if (keyword == "dbname")
            database = value;
        else if (keyword == "user")
            user = value;
    }
    if (options)
        PQconninfoFree(options);
    return PlaceOf(host, port, database.isEmpty() ? user : database);
}

QString ServerFolderName(const QString& target) {
    const QByteArray text = target.toUtf8();
    PQconninfoOption* options = PQconninfoParse(text.constData(), nullptr);
    if (!options)
        return {};
    QString host, port, database, user;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        const QByteArray keyword(o->keyword);
        const QString value = o->val ? QString::fromUtf8(o->val) : QString();
        if (keyword == "host")
            host = value;
        else if (keyword == "port")
            port = value;
        else if (keyword == "dbname")
            database = value;
        else if (keyword == "user")
            user = value;
    }
    PQconninfoFree(options);
    if (user.isEmpty())
        user = QString::fromLocal8Bit(qgetenv("PGUSER"));
    QString name = QStringLiteral("%1_%2_%3_%4")
                       .arg(host.isEmpty() ? QStringLiteral("localhost") : host,
                            port.isEmpty() ? QStringLiteral("5432") : port, database, user);
    // One plain folder name whatever the host looks like (a socket folder has slashes).
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    return name.replace(unsafe, QStringLiteral("-"));
}

TServerSession::TServerSession(const QString& target) {
    const QByteArray text = target.toUtf8();
    char* parseError = nullptr;
    PQconninfoOption* options = PQconninfoParse(text.constData(), &parseError);
    if (!options) {
        const QString detail = parseError ? QString::fromUtf8(parseError).trimmed() : QString();
        PQfreemem(parseError);
        throw TDatabaseError(StoreTexts::ServerBadTarget.arg(detail));
    }
    QString host, port, database, user;
    bool password = false;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        const QByteArray keyword(o->keyword);
        const QString value = o->val ? QString::fromUtf8(o->val) : QString();
        if (keyword == "password" && !value.isEmpty())
            password = true;
        else if (keyword == "host" || (keyword == "hostaddr" && host.isEmpty()))
            host = value;
        else if (keyword == "port")
            port = value;
        else if (keyword == "dbname")
            database = value;
        else if (keyword == "user")
            user = value;
    }
    PQconninfoFree(options);
    if (password)
        throw TDatabaseError(StoreTexts::ServerPassword);
    m_place = PlaceOf(host, port, database.isEmpty() ? user : database);

    const char* keywords[] = {"dbname", "client_encoding", "application_name", "connect_timeout", nullptr};
    const char* values[] = {text.constData(), "UTF8", "vantero", "15", nullptr};
    m_conn = PQconnectdbParams(keywords, values, 1);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const QString detail = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
        PQfinish(m_conn);
        m_conn = nullptr;
        throw TDatabaseError(StoreTexts::ServerUnreachable.arg(m_place, detail), TDatabaseFault::Other, detail);
    }
    m_place =
        PlaceOf(QString::fromUtf8(PQhost(m_conn)), QString::fromUtf8(PQport(m_conn)), QString::fromUtf8(PQdb(m_conn)));
    // Notices (an index that already exists, say) are the server's business, not the user's.
    PQsetNoticeProcessor(
        m_conn, [](void*, const char*) {}, nullptr);
}

TServerSession::~TServerSession() {
    if (m_conn)
        PQfinish(m_conn);
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
    m_prepared.clear();
    PQreset(m_conn);
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
            if (attempt == 0 && idle) {
                m_prepared.clear();
                PQreset(m_conn);
                return PQstatus(m_conn) == CONNECTION_OK;
            }
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
        if (text.startsWith("BEGIN")) {
            m_prepared.clear();
            PQreset(m_conn);
            result.reset(PQexec(m_conn, text.constData()));
            if (ResultOk(result.get()))
                return;
        }
        RaiseLost(detail);
    }
    throw Failure(detail, ResultState(result.get()));
}

void TServerSession::Begin(bool write) {
    if (write)
        Run("BEGIN; SELECT pg_advisory_xact_lock(" + QByteArray::number(kWriterLock) + ")");
    else
        Run("BEGIN ISOLATION LEVEL REPEATABLE READ");
}

void TServerSession::Commit() {
    Run("COMMIT");
}

void TServerSession::Rollback() noexcept {
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

} // namespace vantero
