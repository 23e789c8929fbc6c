#include "store/Statement.h"

#include "store/Connection.h"
#include "store/DatabaseError.h"
#include "store/ServerDialect.h"
#include "store/ServerSession.h"

#include <QHash>
#include <QMutex>

#include <libpq-fe.h>
#include <sqlite3.h>

namespace vantero {

namespace {

constexpr int kKeptPerConnection = 32;

struct TKept {
    QMutex mutex;
    QHash<sqlite3*, QMultiHash<QString, sqlite3_stmt*>> statements;
};

TKept& kept() {
    static TKept instance;
    return instance;
}

// The server's type numbers of the columns the program's tables use.
constexpr Oid kInt8 = 20, kInt2 = 21, kInt4 = 23, kBool = 16, kFloat4 = 700, kFloat8 = 701, kNumeric = 1700,
              kBytea = 17;

TCellKind ServerKind(Oid type) {
    switch (type) {
    case kInt8:
    case kInt2:
    case kInt4:
    case kBool:
        return TCellKind::Integer;
    case kFloat4:
    case kFloat8:
    case kNumeric:
        return TCellKind::Float;
    case kBytea:
        return TCellKind::Blob;
    default:
        return TCellKind::Text;
    }
}

} // namespace

TStatement::TStatement(const TConnection& con, const QString& sql) : m_sql(sql) {
    if (con.isServer()) {
        m_server = con.server();
        return;
    }
    prepare(con.handle());
}

TStatement::TStatement(sqlite3* db, const QString& sql) : m_sql(sql) {
    prepare(db);
}

void TStatement::prepare(sqlite3* db) {
    m_db = db;
    const QString& sql = m_sql;
    {
        TKept& k = kept();
        QMutexLocker lock(&k.mutex);
        auto connection = k.statements.find(db);
        if (connection != k.statements.end()) {
            auto it = connection->find(sql);
            if (it != connection->end()) {
                m_statement = *it;
                connection->erase(it);
                return;
            }
        }
    }
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v3(db, text.constData(), int(text.size()), SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr) !=
        SQLITE_OK)
        Raise();
}

TStatement::~TStatement() {
    if (m_result)
        PQclear(m_result);
    if (!m_statement)
        return;
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    {
        TKept& k = kept();
        QMutexLocker lock(&k.mutex);
        QMultiHash<QString, sqlite3_stmt*>& connection = k.statements[m_db];
        if (connection.size() < kKeptPerConnection) {
            connection.insert(m_sql, m_statement);
            return;
        }
    }
    sqlite3_finalize(m_statement);
}

void TStatement::ForgetConnection(sqlite3* db) {
    QMultiHash<QString, sqlite3_stmt*> statements;
    {
        TKept& k = kept();
        QMutexLocker lock(&k.mutex);
        statements = k.statements.take(db);
    }
    for (sqlite3_stmt* statement : std::as_const(statements))
        sqlite3_finalize(statement);
}

void TStatement::Raise() const {
    throw EngineError(m_db);
}

void TStatement::Reset() {
    if (m_statement)
        sqlite3_reset(m_statement);
    if (m_result) {
        PQclear(m_result);
        m_result = nullptr;
    }
}

void TStatement::Bind(const QVariantList& values) {
    if (m_server) {
        if (m_result) {
            PQclear(m_result);
            m_result = nullptr;
        }
        m_values.clear();
        for (const QVariant& value : values)
            m_values.push_back(ServerValueText(value));
        return;
    }
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& value = values[i];
        int rc = SQLITE_OK;
        if (value.isNull()) {
            rc = sqlite3_bind_null(m_statement, i + 1);
        } else {
            switch (value.typeId()) {
            case QMetaType::Int:
            case QMetaType::LongLong:
            case QMetaType::UInt:
            case QMetaType::ULongLong:
            case QMetaType::Bool:
                rc = sqlite3_bind_int64(m_statement, i + 1, value.toLongLong());
                break;
            case QMetaType::Double:
                rc = sqlite3_bind_double(m_statement, i + 1, value.toDouble());
                break;
            default: {
                const QByteArray text = value.toString().toUtf8();
                rc = sqlite3_bind_text(m_statement, i + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            }
            }
        }
        if (rc != SQLITE_OK)
            Raise();
    }
}

void TStatement::execute() {
    if (m_result)
        return;
    m_result = m_server->Execute(m_sql, m_values, &m_translated);
    m_row = -1;
    m_rows = PQntuples(m_result);
    const char* changed = PQcmdTuples(m_result);
    m_changes = changed && *changed ? QByteArray(changed).toLongLong() : 0;
    if (m_translated->returnsRowId) {
        // The id the insert handed back is no row of the statement's own.
        if (m_rows > 0)
            m_insertedRowId = QByteArray(PQgetvalue(m_result, 0, 0)).toLongLong();
        m_rows = 0;
    }
    const int columns = PQnfields(m_result);
    m_kinds.resize(size_t(columns));
    for (int i = 0; i < columns; ++i)
        m_kinds[size_t(i)] = ServerKind(PQftype(m_result, i));
}

bool TStatement::Step() {
    if (m_server) {
        execute();
        if (m_row < m_rows)
            ++m_row;
        return m_row < m_rows;
    }
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    Raise();
}

int TStatement::ColumnCount() {
    if (m_server) {
        execute();
        return int(m_kinds.size());
    }
    return sqlite3_column_count(m_statement);
}

QString TStatement::ColumnName(int column) {
    if (m_server) {
        execute();
        return CanonicalColumnName(QString::fromUtf8(PQfname(m_result, column)));
    }
    return QString::fromUtf8(sqlite3_column_name(m_statement, column));
}

TCellKind TStatement::Kind(int column) const {
    if (m_server)
        return PQgetisnull(m_result, m_row, column) ? TCellKind::Null : m_kinds[size_t(column)];
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER:
        return TCellKind::Integer;
    case SQLITE_FLOAT:
        return TCellKind::Float;
    case SQLITE_TEXT:
        return TCellKind::Text;
    case SQLITE_BLOB:
        return TCellKind::Blob;
    default:
        return TCellKind::Null;
    }
}

qint64 TStatement::Integer(int column) const {
    if (m_server) {
        const char* text = PQgetvalue(m_result, m_row, column);
        if (m_kinds[size_t(column)] == TCellKind::Integer)
            return text[0] == 't' ? 1 : QByteArray(text).toLongLong();
        return qint64(QByteArray(text).toDouble());
    }
    return sqlite3_column_int64(m_statement, column);
}

double TStatement::Float(int column) const {
    if (m_server)
        return QByteArray(PQgetvalue(m_result, m_row, column)).toDouble();
    return sqlite3_column_double(m_statement, column);
}

QByteArrayView TStatement::Bytes(int column) const {
    if (m_server)
        return QByteArrayView(PQgetvalue(m_result, m_row, column), PQgetlength(m_result, m_row, column));
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return QByteArrayView(text, sqlite3_column_bytes(m_statement, column));
}

QString TStatement::Text(int column) const {
    const QByteArrayView bytes = Bytes(column);
    return bytes.data() ? QString::fromUtf8(bytes) : QString();
}

QVariant TStatement::Value(int column) const {
    switch (Kind(column)) {
    case TCellKind::Integer:
        return QVariant(qlonglong(Integer(column)));
    case TCellKind::Float:
        return QVariant(Float(column));
    case TCellKind::Text:
        return QVariant(Text(column));
    case TCellKind::Blob:
        return QVariant(Bytes(column).toByteArray());
    case TCellKind::Null:
        break;
    }
    return QVariant();
}

qint64 TStatement::Changes() const {
    return m_server ? m_changes : sqlite3_changes64(m_db);
}

qint64 TStatement::InsertedRowId() const {
    return m_server ? m_insertedRowId : sqlite3_last_insert_rowid(m_db);
}

} // namespace vantero
