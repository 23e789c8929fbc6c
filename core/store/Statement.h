#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QVariant>

#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct pg_result;

namespace vantero {

class TConnection;
class TServerSession;
struct TServerStatementText;

// What a selected cell holds.
enum class TCellKind : quint8 { Null, Integer, Float, Text, Blob };

// One statement of the program on this thread's connection, on either engine; every failure
// raises TDatabaseError with the engine's text. On a database file the statement is prepared
// once per connection and handed out again for the same text (readings run the same few
// statements thousands of times); on a server it is translated and prepared once per
// connection, and its result arrives whole on the first Step.
class TStatement {
public:
    TStatement(const TConnection& con, const QString& sql);
    TStatement(sqlite3* db, const QString& sql);
    ~TStatement();
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    void Bind(const QVariantList& values);
    // Ready to run again with new values (one statement for many rows).
    void Reset();
    // True while rows come; false when done.
    bool Step();

    int ColumnCount();
    // The rows of a server's result (known once it came); 0 on a file.
    int RowCount() const { return m_rows; }
    QString ColumnName(int column);
    TCellKind Kind(int column) const;
    qint64 Integer(int column) const;
    double Float(int column) const;
    // A text's UTF-8 bytes (a number's printed form); valid until the next Step.
    QByteArrayView Bytes(int column) const;
    QString Text(int column) const;
    QVariant Value(int column) const;
    // Rows the statement changed, and the row id an INSERT made.
    qint64 Changes() const;
    qint64 InsertedRowId() const;

    // The file engine's statement, for the loops that read a large table straight from it;
    // null on a server.
    sqlite3_stmt* Handle() const { return m_statement; }

    // Finalizes the statements kept for a connection; call before closing it.
    static void ForgetConnection(sqlite3* db);

private:
    [[noreturn]] void Raise() const;
    void prepare(sqlite3* db);
    void execute();
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_statement = nullptr;
    QString m_sql;

    TServerSession* m_server = nullptr;
    pg_result* m_result = nullptr;
    const TServerStatementText* m_translated = nullptr;
    std::vector<QByteArray> m_values;
    std::vector<TCellKind> m_kinds;
    int m_row = -1;
    int m_rows = 0;
    qint64 m_changes = 0;
    qint64 m_insertedRowId = 0;
};

} // namespace vantero
