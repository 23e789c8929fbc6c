#include "store/CellStore.h"

#include "store/Statement.h"

#include <sqlite3.h>

namespace vantero {

void TCellStore::reset(int width) {
    m_width = width;
    std::vector<Cell>().swap(m_cells);
    std::string().swap(m_text);
}

TCellStore::Cell TCellStore::makeText(const char* data, int size, Type type) {
    Cell cell;
    cell.type = type;
    cell.offset = m_text.size();
    cell.length = quint32(size);
    m_text.append(data, size_t(size));
    return cell;
}

TCellStore::Cell TCellStore::makeCell(const QVariant& value) {
    Cell cell;
    if (value.isNull())
        return cell;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::Bool:
        cell.type = Integer;
        cell.integer = value.toLongLong();
        return cell;
    case QMetaType::Double:
        cell.type = Float;
        cell.real = value.toDouble();
        return cell;
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return makeText(bytes.constData(), int(bytes.size()), Blob);
    }
    default: {
        const QByteArray bytes = value.toString().toUtf8();
        return makeText(bytes.constData(), int(bytes.size()), Text);
    }
    }
}

void TCellStore::appendFromStatement(sqlite3_stmt* statement, int firstColumn) {
    for (int i = 0; i < m_width; ++i) {
        const int column = i + firstColumn;
        Cell cell;
        switch (sqlite3_column_type(statement, column)) {
        case SQLITE_INTEGER:
            cell.type = Integer;
            cell.integer = sqlite3_column_int64(statement, column);
            break;
        case SQLITE_FLOAT:
            cell.type = Float;
            cell.real = sqlite3_column_double(statement, column);
            break;
        case SQLITE_TEXT: {
            const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
            cell = makeText(text, sqlite3_column_bytes(statement, column), Text);
            break;
        }
        case SQLITE_BLOB: {
            const char* blob = static_cast<const char*>(sqlite3_column_blob(statement, column));
            cell = makeText(blob, sqlite3_column_bytes(statement, column), Blob);
            break;
        }
        default:
            break;
        }
        m_cells.push_back(cell);
    }
}

void TCellStore::appendFromStatement(const TStatement& statement, int firstColumn) {
    for (int i = 0; i < m_width; ++i) {
        const int column = i + firstColumn;
        Cell cell;
        switch (statement.Kind(column)) {
        case TCellKind::Integer:
            cell.type = Integer;
            cell.integer = statement.Integer(column);
            break;
        case TCellKind::Float:
            cell.type = Float;
            cell.real = statement.Float(column);
            break;
        case TCellKind::Text:
        case TCellKind::Blob: {
            const QByteArrayView bytes = statement.Bytes(column);
            cell = makeText(bytes.data(), int(bytes.size()), statement.Kind(column) == TCellKind::Text ? Text : Blob);
            break;
        }
        case TCellKind::Null:
            break;
        }
        m_cells.push_back(cell);
    }
}

void TCellStore::appendRow(const std::vector<QVariant>& values) {
    for (int i = 0; i < m_width; ++i)
        m_cells.push_back(makeCell(values[size_t(i)]));
}

void TCellStore::setRow(int row, const std::vector<QVariant>& values) {
    for (int i = 0; i < m_width; ++i)
        m_cells[size_t(row) * size_t(m_width) + size_t(i)] = makeCell(values[size_t(i)]);
}

void TCellStore::eraseRow(int row) {
    const auto begin = m_cells.begin() + ptrdiff_t(size_t(row) * size_t(m_width));
    m_cells.erase(begin, begin + m_width);
}

QVariant TCellStore::value(int row, int column) const {
    const Cell& c = cell(row, column);
    switch (c.type) {
    case Integer:
        return QVariant(qlonglong(c.integer));
    case Float:
        return QVariant(c.real);
    case Text:
        return QVariant(QString::fromUtf8(m_text.data() + c.offset, c.length));
    case Blob:
        return QVariant(QByteArray(m_text.data() + c.offset, c.length));
    case Null:
        break;
    }
    return QVariant();
}

QString TCellStore::text(int row, int column) const {
    const Cell& c = cell(row, column);
    switch (c.type) {
    case Integer:
        return QString::number(c.integer);
    case Float:
        return QString::number(c.real, 'g', 15);
    case Text:
    case Blob:
        return QString::fromUtf8(m_text.data() + c.offset, c.length);
    case Null:
        break;
    }
    return {};
}

void TCellStore::appendFolded(int row, int column, QByteArray& out) const {
    const Cell& c = cell(row, column);
    if (c.type != Text && c.type != Blob) {
        out += text(row, column).toUtf8();
        return;
    }
    const char* data = m_text.data() + c.offset;
    const qsizetype start = out.size();
    out.append(data, c.length);
    char* p = out.data() + start;
    for (quint32 i = 0; i < c.length; ++i) {
        if (p[i] >= 'A' && p[i] <= 'Z')
            p[i] = char(p[i] + 32);
    }
}

quint64 TCellStore::HashFolded(QByteArrayView bytes, quint64 hash) {
    // FNV-1a over the folded bytes, then a separator so that column boundaries count.
    for (char c : bytes) {
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
        hash = (hash ^ uchar(c)) * 1099511628211ULL;
    }
    return (hash ^ 0x1fU) * 1099511628211ULL;
}

quint64 TCellStore::hashFolded(int row, int column, quint64 hash) const {
    const Cell& c = cell(row, column);
    if (c.type == Text || c.type == Blob)
        return HashFolded(QByteArrayView(m_text.data() + c.offset, c.length), hash);
    return HashFolded(text(row, column).toUtf8(), hash);
}

bool TCellStore::foldedEquals(int row, int column, QByteArrayView folded) const {
    const Cell& c = cell(row, column);
    if (c.type != Text && c.type != Blob) {
        QByteArray own;
        appendFolded(row, column, own);
        return own == folded;
    }
    if (c.length != quint32(folded.size()))
        return false;
    const char* data = m_text.data() + c.offset;
    for (quint32 i = 0; i < c.length; ++i) {
        char ch = data[i];
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch + 32);
        if (ch != folded[i])
            return false;
    }
    return true;
}

bool TCellStore::isBlank(int row, int column) const {
    const Cell& c = cell(row, column);
    if (c.type == Null)
        return true;
    if (c.type != Text && c.type != Blob)
        return false;
    const char* data = m_text.data() + c.offset;
    for (quint32 i = 0; i < c.length; ++i) {
        if (uchar(data[i]) > 32)
            return false;
    }
    return true;
}

double TCellStore::number(int row, int column) const {
    const Cell& c = cell(row, column);
    switch (c.type) {
    case Integer:
        return double(c.integer);
    case Float:
        return c.real;
    case Text: {
        bool ok = false;
        const double value = QByteArray(m_text.data() + c.offset, c.length).trimmed().toDouble(&ok);
        return ok ? value : 0;
    }
    default:
        return 0;
    }
}

std::vector<QVariant> TCellStore::row(int row) const {
    std::vector<QVariant> values(static_cast<size_t>(m_width));
    for (int i = 0; i < m_width; ++i)
        values[size_t(i)] = value(row, i);
    return values;
}

} // namespace vantero
