#include "store/Statement.h"

#include "store/Connection.h"
#include "store/DatabaseError.h"

#include <QHash>
#include <QMutex>

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

} // namespace

TStatement::TStatement(sqlite3* db, const QString& sql) : m_db(db), m_sql(sql) {
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

void TStatement::Bind(const QVariantList& values) {
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

bool TStatement::Step() {
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    Raise();
}

} // namespace vantero
