#pragma once

#include <QByteArray>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

namespace vantero {

// One prepared statement on a raw SQLite connection; every failure raises TDatabaseError with
// the engine's text. Statements are kept per connection once used and handed out again for the
// same text, since readings run the same few statements thousands of times.
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

    // Finalizes the statements kept for a connection; call before closing it.
    static void ForgetConnection(sqlite3* db);

private:
    [[noreturn]] void Raise() const;
    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
    QString m_sql;
};

} // namespace vantero
