#include "store/Statement.h"

#include "store/DatabaseError.h"

#include <sqlite3.h>

namespace vantero {

TStatement::TStatement(sqlite3* db, const QString& sql) : m_db(db) {
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &m_statement, nullptr) != SQLITE_OK)
        Raise();
}

TStatement::~TStatement() { sqlite3_finalize(m_statement); }

void TStatement::Raise() const { throw TDatabaseError(QString::fromUtf8(sqlite3_errmsg(m_db))); }

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
