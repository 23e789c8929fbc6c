#pragma once

#include "store/Connection.h"

#include <QTemporaryDir>

namespace vantero::test {

enum class TTestEngine { File, Server };

// A fresh database of the program's layout in a temporary folder, removed afterwards; or, for
// the server engine, a new database on the tests' own PostgreSQL server (support/PgServer.h).
class TTestDatabase {
public:
    TTestDatabase();
    explicit TTestDatabase(TTestEngine engine);
    ~TTestDatabase();
    // The file's path or the server database's connection string.
    QString path() const { return m_path; }
    bool onServer() const { return m_onServer; }
    QString dir() const { return m_dir.path(); }
    TConnection connection() const { return TConnection(m_path); }
    // Runs a statement directly (set-up of test data), values bound in order.
    void exec(const QString& sql, const QVariantList& values = {}) const;
    // The single value the query selects (checks).
    QVariant value(const QString& sql, const QVariantList& values = {}) const;

private:
    QTemporaryDir m_dir;
    QString m_path;
    bool m_onServer = false;
};

} // namespace vantero::test
