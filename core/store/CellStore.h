#pragma once

#include <QString>
#include <QVariant>

#include <string>
#include <vector>

struct sqlite3_stmt;

namespace vantero {

class TStatement;

// The rows of a record set's snapshot, compact: a fixed-size cell per column (number or a slice
// of one shared UTF-8 text buffer). A large table is one allocation for the cells and one for
// the text instead of one per value; texts are decoded when read.
class TCellStore {
public:
    void reset(int width);
    int width() const { return m_width; }
    int rows() const { return m_width == 0 ? 0 : int(m_cells.size() / size_t(m_width)); }

    void appendFromStatement(sqlite3_stmt* statement, int firstColumn);
    void appendFromStatement(const TStatement& statement, int firstColumn);
    void reserveRows(int rows) { m_cells.reserve(size_t(rows) * size_t(m_width)); }
    void reserveText(qint64 bytes) { m_text.reserve(size_t(bytes)); }
    qint64 textSize() const { return qint64(m_text.size()); }
    void appendRow(const std::vector<QVariant>& values);
    void setRow(int row, const std::vector<QVariant>& values);
    void eraseRow(int row);

    QVariant value(int row, int column) const;
    // The cell as text: empty for NULL, numbers printed.
    QString text(int row, int column) const;
    std::vector<QVariant> row(int row) const;
    // Appends the cell's text with ASCII letters lowered, straight from the stored bytes.
    void appendFolded(int row, int column, QByteArray& out) const;
    // Continues a hash over the cell's text with ASCII letters lowered (no copy is made).
    quint64 hashFolded(int row, int column, quint64 hash) const;
    // Whether the cell's folded text equals folded (already folded bytes).
    bool foldedEquals(int row, int column, QByteArrayView folded) const;
    static quint64 HashFolded(QByteArrayView bytes, quint64 hash);
    static constexpr quint64 kHashSeed = 14695981039346656037ULL;
    // True for NULL and for texts made only of bytes up to 32.
    bool isBlank(int row, int column) const;
    double number(int row, int column) const; // 0 unless a number or numeric text

private:
    enum Type : quint8 { Null, Integer, Float, Text, Blob };
    struct Cell {
        Type type = Null;
        quint32 length = 0;
        union {
            qint64 integer;
            double real;
            quint64 offset;
        };
        Cell() : integer(0) {}
    };
    Cell makeCell(const QVariant& value);
    Cell makeText(const char* data, int size, Type type);
    const Cell& cell(int row, int column) const { return m_cells[size_t(row) * size_t(m_width) + size_t(column)]; }

    int m_width = 0;
    std::vector<Cell> m_cells;
    std::string m_text;
};

} // namespace vantero
