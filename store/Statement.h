#pragma once

#include <QByteArray>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

namespace vantero {

// One prepared statement on a raw SQLite connection, finalized when it goes; every failure
// raises TDatabaseError with the engine's text.
class TStatement {
public:
    TStatement(sqlite3* db, const QString& sql);
    ~TStatement();
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    void Bind(const QVariantList& values);
    // True while rows come; false when done.
    bool Step();
    sqlite3_stmt* Handle() const { return m_statement; }
    sqlite3* Database() const { return m_db; }

private:
    [[noreturn]] void Raise() const;
    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
};

} // namespace vantero
