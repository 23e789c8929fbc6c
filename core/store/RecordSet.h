#pragma once

#include "store/CellStore.h"
#include "store/Connection.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <vector>

namespace vantero {

class TRecordSet;

// One column of a record set's current row, read or written at a type. Empty columns read
// as empty text, 0 or the zero date-time (an invalid QDateTime).
class TField {
public:
    QString AsString() const;
    qint64 AsInteger() const;
    double AsFloat() const;
    QDateTime AsDateTime() const;
    bool IsNull() const;

    void SetAsString(const QString& value);
    void SetAsInteger(qint64 value);
    void SetAsFloat(double value);
    void SetAsDateTime(const QDateTime& value);
    void SetNull();

private:
    friend class TRecordSet;
    TField(TRecordSet* set, int column) : m_set(set), m_column(column) {}
    QVariant value() const;
    void setValue(const QVariant& value);

    TRecordSet* m_set;
    int m_column;
};

// A record set over one select statement: a snapshot of the selected rows taken at Open,
// plus the changes made through this set. Rows written through another set show only after
// Close and Open. Statements take their values as bound parameters ("?"), never pasted in.
// Writable sets are those whose statement reads "select * from Table ...".
class TRecordSet {
public:
    enum class State { Inactive, Browse, Edit, Insert };

    explicit TRecordSet(TConnection con = {}) : m_con(std::move(con)) {}

    void SetConnection(TConnection con);
    TConnection Connection() const { return m_con; }

    void Close();
    void SetSQL(const QString& sql, const QVariantList& params = {});
    QString SQL() const { return m_sql; }
    void Open();
    // Convenience: Close, SetSQL, Open.
    void Reopen(const QString& sql, const QVariantList& params = {});
    // Runs a statement that selects nothing (delete, update) with the set's parameters.
    void ExecSQL();

    bool Active() const { return m_state != State::Inactive; }
    State CurrentState() const { return m_state; }
    bool Eof() const;
    void Next();
    void First();
    int RecordCount() const;
    // Position of the current row counted from 0; RecordCount() when past the last row.
    int RecNo() const { return m_current; }
    void MoveTo(int position);
    // The file's row id of the current row (writable sets only).
    qint64 RowId() const { return m_current < RecordCount() ? m_rowIds[size_t(m_current)] : -1; }

    TField FieldByName(const QString& name);
    // A column's number, for loops that read many rows by number.
    int ColumnIndex(const QString& name) const { return columnIndex(name); }
    // Every row whose column equals value (whole value, case ignored), in the set's order;
    // hashed like Locate.
    std::vector<int> RowsWithKey(const QString& column, const QString& value);
    // Text folded as lookups compare it (ASCII letters lowered, like the database's own text
    // comparison), and cells hashed or compared in that form, for callers that match many rows.
    static QByteArray Folded(const QString& text);
    quint64 FoldedHash(int row, int column) const { return m_values.hashFolded(row, column, TCellStore::kHashSeed); }
    static quint64 FoldedHash(const QByteArray& folded) {
        return TCellStore::HashFolded(folded, TCellStore::kHashSeed);
    }
    bool FoldedEquals(int row, int column, const QByteArray& folded) const {
        return m_values.foldedEquals(row, column, folded);
    }
    bool IsBlank(int row, int column) const { return m_values.isBlank(row, column); }
    double NumberAt(int row, int column) const { return m_values.number(row, column); }
    QString AsString(const QString& name) const;

    // Keyed lookup on one or several ";"-separated columns: whole values, letter case ignored,
    // first match in the set's order becomes current. Hashed: building the key index costs one
    // pass over the set, each lookup after that is constant time.
    bool Locate(const QString& columns, const QStringList& values);

    // Re-reads from the file the rows whose column equals value (letter case ignored) and merges
    // them into the snapshot: changed rows are updated in place, new ones appended, vanished ones
    // dropped. Other rows stay as they were. Costs an indexed query, not a re-read of the set.
    void RefreshByKey(const QString& column, const QString& value);

    void Edit();
    void Append();
    void Post();
    void Cancel();
    void Delete();

private:
    friend class TField;
    // Every row of each key, in the set's order: the first inline (the common unique case
    // allocates nothing), further ones in rest.
    struct KeyRows {
        int first = -1;
        std::vector<int> rest;
    };
    struct Index {
        QList<int> columns;
        QHash<quint64, KeyRows> rows; // by the hash of the folded key; matches are verified
        void add(quint64 key, int row);
        void remove(quint64 key, int row);
    };

    int columnIndex(const QString& name) const;
    int requireColumn(const QString& name) const;
    void requireRow() const;
    QVariant cell(int row, int column) const { return m_values.value(row, column); }
    quint64 keyOf(int row, const QList<int>& columns) const;
    // The rows under the values' key that really hold those values, in order.
    std::vector<int> matches(const Index& index, const QStringList& values) const;
    static void foldKey(const QString& text, QByteArray& key);
    void dropIndexes() {
        m_indexes.clear();
        m_posByRowId.clear();
    }
    Index& indexFor(const QString& columns);
    QList<quint64> keysOf(int row) const;
    void rekey(int row, const QList<quint64>& oldKeys);
    void appendRow(qint64 rowId, const std::vector<QVariant>& values);
    void eraseRow(int row);

    TConnection m_con;
    QString m_sql;
    QVariantList m_params;
    QString m_table;
    // Where the "*" of "select * from <table>" stands; -1 for statements that cannot write back.
    qsizetype m_starAt = -1;
    bool writable() const { return m_starAt >= 0; }

    State m_state = State::Inactive;
    QStringList m_columns;
    QHash<QString, int> m_columnByName;
    TCellStore m_values;
    std::vector<qint64> m_rowIds;
    int m_current = 0;

    std::vector<QVariant> m_buffer; // the row being edited or appended
    std::vector<bool> m_changed;

    QHash<QString, Index> m_indexes;
    QHash<qint64, int> m_posByRowId; // built on demand by RefreshByKey
};

} // namespace vantero
