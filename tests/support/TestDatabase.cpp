#include "support/TestDatabase.h"

#include "store/DatabaseError.h"
#include "support/PgServer.h"

#include <QSqlError>
#include <QSqlQuery>

namespace vantero::test {

TTestDatabase::TTestDatabase() : m_path(m_dir.filePath(QString::fromLatin1(kDatabaseFileName))) {
    const QString problem = PrepareDatabaseFile(m_path);
    if (!problem.isEmpty())
        qFatal("test database: %s", qPrintable(problem));
}

TTestDatabase::TTestDatabase(TTestEngine engine) {
    m_onServer = engine == TTestEngine::Server;
    m_path = m_onServer ? TPgServer::Shared().NewDatabase() : m_dir.filePath(QString::fromLatin1(kDatabaseFileName));
    const QString problem = PrepareDatabaseFile(m_path);
    if (!problem.isEmpty())
        qFatal("test database: %s", qPrintable(problem));
}

TTestDatabase::~TTestDatabase() {
    TConnection::closeAll();
}

void TTestDatabase::exec(const QString& sql, const QVariantList& values) const {
    connection().exec(sql, values);
}

QVariant TTestDatabase::value(const QString& sql, const QVariantList& values) const {
    if (m_onServer)
        return connection().value(sql, values);
    QSqlQuery query(connection().database());
    query.prepare(sql);
    for (const QVariant& v : values)
        query.addBindValue(v);
    if (!query.exec())
        throw TDatabaseError(query.lastError().text());
    return query.next() ? query.value(0) : QVariant();
}

} // namespace vantero::test
