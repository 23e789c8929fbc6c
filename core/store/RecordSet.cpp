#include "store/RecordSet.h"

#include "store/Connection.h"
#include "store/DatabaseError.h"
#include "store/Statement.h"
#include "store/Values.h"

#include <QSet>

#include <algorithm>
#include <memory>
#include <sqlite3.h>

namespace vantero {

namespace {

// Exactly the same stored value: same type and equal; 1 and 1.0 or "a" and "A" are different.
bool sameValue(const QVariant& stored, const QVariant& value) {
    return stored.isNull() == value.isNull() && stored.metaType() == value.metaType() && stored == value;
}

} // namespace

// ---- TField ---------------------------------------------------------------------------------

QVariant TField::value() const {
    m_set->requireRow();
    if (m_set->m_state == TRecordSet::State::Edit || m_set->m_state == TRecordSet::State::Insert)
        return m_set->m_buffer[size_t(m_column)];
    return m_set->cell(m_set->m_current, m_column);
}

void TField::setValue(const QVariant& value) {
    if (m_set->m_state != TRecordSet::State::Edit && m_set->m_state != TRecordSet::State::Insert)
        throw TDatabaseError(QStringLiteral("记录集不在编辑状态"));
    m_set->m_buffer[size_t(m_column)] = value;
    m_set->m_changed[size_t(m_column)] = true;
}

QString TField::AsString() const {
    return ValueAsString(value());
}

qint64 TField::AsInteger() const {
    return ValueAsInteger(value());
}

double TField::AsFloat() const {
    return ValueAsFloat(value());
}

QDateTime TField::AsDateTime() const {
    return DateTimeFromColumn(AsString());
}

bool TField::IsNull() const {
    return value().isNull();
}

void TField::SetAsString(const QString& value) {
    setValue(value.isNull() ? QStringLiteral("") : value);
}
void TField::SetAsInteger(qint64 value) {
    setValue(value);
}
void TField::SetAsFloat(double value) {
    setValue(value);
}

void TField::SetAsDateTime(const QDateTime& value) {
    setValue(value.isValid() ? QVariant(DateTimeToColumn(value)) : QVariant());
}

void TField::SetNull() {
    setValue(QVariant());
}

// ---- TRecordSet -----------------------------------------------------------------------------

void TRecordSet::SetConnection(TConnection con) {
    Close();
    m_con = std::move(con);
}

void TRecordSet::Close() {
    m_state = State::Inactive;
    m_columns.clear();
    m_columnByName.clear();
    m_values.reset(0);
    m_rowIds.clear();
    m_buffer.clear();
    m_changed.clear();
    m_current = 0;
    dropIndexes();
}

namespace {

bool IsWordChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

qsizetype SkipBlanks(QStringView text, qsizetype at) {
    while (at < text.size() && text[at].isSpace())
        ++at;
    return at;
}

// Whether text at `at` holds the keyword as a whole word (ASCII case ignored).
bool KeywordAt(QStringView text, qsizetype at, QLatin1StringView keyword) {
    return at + keyword.size() <= text.size() &&
           text.sliced(at, keyword.size()).compare(keyword, Qt::CaseInsensitive) == 0 &&
           (at == 0 || !IsWordChar(text[at - 1])) &&
           (at + keyword.size() == text.size() || !IsWordChar(text[at + keyword.size()]));
}

} // namespace

void TRecordSet::SetSQL(const QString& sql, const QVariantList& params) {
    m_sql = sql;
    m_params = params;
    // Read by hand: a reading re-opens a set for every page, and patterns cost more than the
    // lookup the set is opened for.
    m_table.clear();
    m_starAt = -1;
    const QStringView text(sql);
    for (qsizetype at = 0; (at = text.indexOf(QLatin1String("from"), at, Qt::CaseInsensitive)) >= 0; at += 4) {
        if (!KeywordAt(text, at, QLatin1String("from")))
            continue;
        const qsizetype nameStart = SkipBlanks(text, at + 4);
        if (nameStart == at + 4 || nameStart >= text.size())
            continue;
        const QChar c = text[nameStart];
        if (!(c.isLetter() && c.unicode() < 128) && c != u'_')
            continue;
        qsizetype nameEnd = nameStart;
        while (nameEnd < text.size() && text[nameEnd].unicode() < 128 && IsWordChar(text[nameEnd]))
            ++nameEnd;
        m_table = sql.mid(nameStart, nameEnd - nameStart);
        break;
    }
    // Only "select * from <table> ..." can be written back: its rows are whole table rows.
    const qsizetype select = SkipBlanks(text, 0);
    if (!m_table.isEmpty() && KeywordAt(text, select, QLatin1String("select"))) {
        const qsizetype star = SkipBlanks(text, select + 6);
        if (star > select + 6 && star < text.size() && text[star] == u'*' &&
            KeywordAt(text, SkipBlanks(text, star + 1), QLatin1String("from")))
            m_starAt = star;
    }
}

void TRecordSet::Reopen(const QString& sql, const QVariantList& params) {
    Close();
    SetSQL(sql, params);
    Open();
}

void TRecordSet::Open() {
    Close();
    // A writable set also reads each row's rowid, to write it back by.
    const QString sql = writable() ? QString(m_sql).insert(m_starAt, QLatin1String("rowid, ")) : m_sql;
    TStatement query(m_con, sql);
    query.Bind(m_params);
    const int first = writable() ? 1 : 0;
    const int count = query.ColumnCount() - first;
    for (int i = 0; i < count; ++i) {
        const QString name = query.ColumnName(i + first);
        m_columns << name;
        m_columnByName.insert(name.toLower(), i);
    }
    m_values.reset(count);
    if (m_con.isServer()) {
        // The whole result came in one round trip; its size is known.
        while (query.Step()) {
            if (m_rowIds.empty())
                m_rowIds.reserve(size_t(query.RowCount()));
            m_rowIds.push_back(writable() ? query.Integer(0) : -1);
            m_values.appendFromStatement(query, first);
        }
        m_state = State::Browse;
        m_current = 0;
        return;
    }
    // Straight through SQLite's own interface: a snapshot of a large table is read once per
    // refresh cycle, and the generic result layer costs several times the engine's own work.
    sqlite3* handle = m_con.handle();
    sqlite3_stmt* statement = query.Handle();
    int status;
    // A whole table's size is known up front from its last row id: reserve once instead of
    // growing (and copying) a large snapshot step by step.
    qint64 expected = 0;
    if (writable() && m_params.isEmpty() && !sql.contains(QLatin1String(" where "), Qt::CaseInsensitive)) {
        sqlite3_stmt* probe = nullptr;
        const QByteArray last = "select max(rowid) from " + m_table.toUtf8();
        if (sqlite3_prepare_v2(handle, last.constData(), int(last.size()), &probe, nullptr) == SQLITE_OK &&
            sqlite3_step(probe) == SQLITE_ROW)
            expected = std::clamp<qint64>(sqlite3_column_int64(probe, 0), 0, 50'000'000);
        sqlite3_finalize(probe);
        m_rowIds.reserve(size_t(expected));
        m_values.reserveRows(int(expected));
    }
    while ((status = sqlite3_step(statement)) == SQLITE_ROW) {
        m_rowIds.push_back(writable() ? sqlite3_column_int64(statement, 0) : -1);
        m_values.appendFromStatement(statement, first);
        if (expected > 256 && m_rowIds.size() == 256)
            m_values.reserveText(m_values.textSize() / 256 * expected * 11 / 10);
    }
    if (status != SQLITE_DONE)
        throw EngineError(handle);
    m_state = State::Browse;
    m_current = 0;
}

void TRecordSet::ExecSQL() {
    m_con.exec(m_sql, m_params);
}

bool TRecordSet::Eof() const {
    return m_state == State::Inactive || m_current >= RecordCount();
}

void TRecordSet::Next() {
    if (m_current < RecordCount())
        ++m_current;
}

void TRecordSet::First() {
    m_current = 0;
}

int TRecordSet::RecordCount() const {
    return int(m_rowIds.size());
}

void TRecordSet::MoveTo(int position) {
    m_current = qBound(0, position, RecordCount());
}

int TRecordSet::columnIndex(const QString& name) const {
    return m_columnByName.value(name.toLower(), -1);
}

int TRecordSet::requireColumn(const QString& name) const {
    const int index = columnIndex(name);
    if (index < 0)
        throw TDatabaseError(QStringLiteral("找不到字段 %1").arg(name));
    return index;
}

void TRecordSet::requireRow() const {
    if (m_state == State::Inactive)
        throw TDatabaseError(QStringLiteral("记录集未打开"));
    if (m_state == State::Browse && m_current >= RecordCount())
        throw TDatabaseError(QStringLiteral("没有当前记录"));
}

TField TRecordSet::FieldByName(const QString& name) {
    return TField(this, requireColumn(name));
}

QString TRecordSet::AsString(const QString& name) const {
    return const_cast<TRecordSet*>(this)->FieldByName(name).AsString();
}

void TRecordSet::foldKey(const QString& text, QByteArray& key) {
    const qsizetype start = key.size();
    key += text.toUtf8();
    char* p = key.data();
    for (qsizetype i = start; i < key.size(); ++i) {
        if (p[i] >= 'A' && p[i] <= 'Z')
            p[i] = char(p[i] + 32);
    }
}

QByteArray TRecordSet::Folded(const QString& text) {
    QByteArray key;
    foldKey(text, key);
    return key;
}

quint64 TRecordSet::keyOf(int row, const QList<int>& columns) const {
    quint64 key = TCellStore::kHashSeed;
    for (int column : columns)
        key = m_values.hashFolded(row, column, key);
    return key;
}

std::vector<int> TRecordSet::matches(const Index& index, const QStringList& values) const {
    if (values.size() != index.columns.size())
        throw TDatabaseError(QStringLiteral("查找的值与字段数目不符"));
    QList<QByteArray> folded;
    quint64 key = TCellStore::kHashSeed;
    for (const QString& value : values) {
        folded << Folded(value);
        key = TCellStore::HashFolded(folded.last(), key);
    }
    std::vector<int> rows;
    const auto found = index.rows.constFind(key);
    if (found == index.rows.cend())
        return rows;
    auto holds = [&](int row) {
        for (int i = 0; i < folded.size(); ++i) {
            if (!m_values.foldedEquals(row, index.columns[i], folded[i]))
                return false;
        }
        return true;
    };
    if (holds(found->first))
        rows.push_back(found->first);
    for (int row : found->rest) {
        if (holds(row))
            rows.push_back(row);
    }
    return rows;
}

void TRecordSet::Index::add(quint64 key, int row) {
    KeyRows& entry = rows[key];
    if (entry.first < 0) {
        entry.first = row;
    } else if (row < entry.first) {
        entry.rest.insert(entry.rest.begin(), entry.first);
        entry.first = row;
    } else {
        entry.rest.insert(std::upper_bound(entry.rest.begin(), entry.rest.end(), row), row);
    }
}

void TRecordSet::Index::remove(quint64 key, int row) {
    auto it = rows.find(key);
    if (it == rows.end())
        return;
    if (it->first == row) {
        if (it->rest.empty()) {
            rows.erase(it);
        } else {
            it->first = it->rest.front();
            it->rest.erase(it->rest.begin());
        }
    } else {
        auto pos = std::lower_bound(it->rest.begin(), it->rest.end(), row);
        if (pos != it->rest.end() && *pos == row)
            it->rest.erase(pos);
    }
}

TRecordSet::Index& TRecordSet::indexFor(const QString& columns) {
    auto it = m_indexes.find(columns);
    if (it == m_indexes.end()) {
        Index index;
        for (const QString& name : columns.split(u';', Qt::SkipEmptyParts))
            index.columns << requireColumn(name.trimmed());
        index.rows.reserve(RecordCount());
        for (int row = 0; row < RecordCount(); ++row) {
            KeyRows& entry = index.rows[keyOf(row, index.columns)];
            if (entry.first < 0)
                entry.first = row;
            else
                entry.rest.push_back(row);
        }
        it = m_indexes.insert(columns, std::move(index));
    }
    return *it;
}

QList<quint64> TRecordSet::keysOf(int row) const {
    QList<quint64> keys;
    for (auto it = m_indexes.cbegin(); it != m_indexes.cend(); ++it)
        keys << keyOf(row, it->columns);
    return keys;
}

void TRecordSet::rekey(int row, const QList<quint64>& oldKeys) {
    int i = 0;
    for (auto it = m_indexes.begin(); it != m_indexes.end(); ++it, ++i) {
        const quint64 newKey = keyOf(row, it->columns);
        if (newKey != oldKeys[i]) {
            it->remove(oldKeys[i], row);
            it->add(newKey, row);
        }
    }
}

void TRecordSet::appendRow(qint64 rowId, const std::vector<QVariant>& values) {
    m_rowIds.push_back(rowId);
    m_values.appendRow(values);
    const int row = RecordCount() - 1;
    for (auto it = m_indexes.begin(); it != m_indexes.end(); ++it)
        it->add(keyOf(row, it->columns), row);
    if (!m_posByRowId.isEmpty())
        m_posByRowId.insert(rowId, row);
}

void TRecordSet::eraseRow(int row) {
    m_values.eraseRow(row);
    m_rowIds.erase(m_rowIds.begin() + row);
    // Positions behind the row shift; rebuilt on the next lookup.
    dropIndexes();
}

bool TRecordSet::Locate(const QString& columns, const QStringList& values) {
    if (m_state == State::Inactive)
        throw TDatabaseError(QStringLiteral("记录集未打开"));
    const std::vector<int> rows = matches(indexFor(columns), values);
    if (rows.empty())
        return false;
    m_current = rows.front();
    return true;
}

std::vector<int> TRecordSet::RowsWithKey(const QString& column, const QString& value) {
    if (m_state == State::Inactive)
        throw TDatabaseError(QStringLiteral("记录集未打开"));
    return matches(indexFor(column), {value});
}

void TRecordSet::RefreshByKey(const QString& column, const QString& value) {
    if (m_state == State::Inactive)
        throw TDatabaseError(QStringLiteral("记录集未打开"));
    Cancel();
    if (!writable())
        throw TDatabaseError(QStringLiteral("记录集只读"));
    const int keyColumn = requireColumn(column);
    TStatement query(m_con, QStringLiteral("select rowid, * from %1 where %2=?").arg(m_table, m_columns[keyColumn]));
    query.Bind({value});
    const int width = m_columns.size();
    std::vector<std::pair<qint64, std::vector<QVariant>>> fresh;
    while (query.Step()) {
        std::vector<QVariant> values(static_cast<size_t>(width));
        for (int i = 0; i < width; ++i)
            values[size_t(i)] = query.Value(i + 1);
        fresh.emplace_back(query.Integer(0), std::move(values));
    }

    const int current = m_current;
    // Rows the snapshot held under this key, to drop those the file no longer has.
    QSet<qint64> stale;
    for (int row : matches(indexFor(m_columns[keyColumn]), {value}))
        stale.insert(m_rowIds[size_t(row)]);
    if (m_posByRowId.isEmpty()) {
        m_posByRowId.reserve(RecordCount());
        for (int row = 0; row < RecordCount(); ++row)
            m_posByRowId.insert(m_rowIds[size_t(row)], row);
    }
    for (auto& [rowId, values] : fresh) {
        stale.remove(rowId);
        const int row = m_posByRowId.value(rowId, -1);
        if (row < 0) {
            appendRow(rowId, values);
            continue;
        }
        const QList<quint64> oldKeys = keysOf(row);
        m_values.setRow(row, values);
        rekey(row, oldKeys);
    }
    if (!stale.isEmpty()) {
        for (int row = RecordCount() - 1; row >= 0; --row) {
            if (stale.contains(m_rowIds[size_t(row)]))
                eraseRow(row);
        }
    }
    m_current = qBound(0, current, RecordCount());
}

void TRecordSet::Edit() {
    if (m_state == State::Inactive)
        throw TDatabaseError(QStringLiteral("记录集未打开"));
    if (m_state != State::Browse)
        return;
    if (RecordCount() == 0) {
        Append();
        return;
    }
    if (m_current >= RecordCount())
        throw TDatabaseError(QStringLiteral("没有当前记录"));
    m_buffer = m_values.row(m_current);
    m_changed.assign(m_columns.size(), false);
    m_state = State::Edit;
}

void TRecordSet::Append() {
    if (m_state == State::Inactive)
        throw TDatabaseError(QStringLiteral("记录集未打开"));
    if (!writable())
        throw TDatabaseError(QStringLiteral("记录集只读"));
    m_buffer.assign(m_columns.size(), QVariant());
    m_changed.assign(m_columns.size(), false);
    m_state = State::Insert;
}

void TRecordSet::Cancel() {
    if (m_state == State::Edit || m_state == State::Insert) {
        m_buffer.clear();
        m_changed.clear();
        m_state = State::Browse;
    }
}

void TRecordSet::Post() {
    if (m_state != State::Edit && m_state != State::Insert)
        return;
    if (!writable())
        throw TDatabaseError(QStringLiteral("记录集只读"));
    QStringList names;
    QVariantList values;
    for (int i = 0; i < m_columns.size(); ++i) {
        // A value set to exactly what the row holds is not written again: rewriting an indexed
        // column costs its index pages in every commit, which a reading pays each time.
        if (m_changed[size_t(i)] && !(m_state == State::Edit && sameValue(cell(m_current, i), m_buffer[size_t(i)]))) {
            names << m_columns[i];
            values << m_buffer[size_t(i)];
        }
    }
    if (m_state == State::Insert) {
        QString sql;
        if (names.isEmpty()) {
            sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(m_table);
        } else {
            QStringList marks(names.size(), QStringLiteral("?"));
            sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(m_table, names.join(u", "), marks.join(u", "));
        }
        qint64 rowId = 0;
        try {
            rowId = m_con.insert(sql, values);
        } catch (...) {
            Cancel();
            throw;
        }
        appendRow(rowId, m_buffer);
        m_current = RecordCount() - 1;
    } else {
        if (!names.isEmpty()) {
            QStringList sets;
            for (const QString& name : std::as_const(names))
                sets << name + QStringLiteral("=?");
            values << m_rowIds[size_t(m_current)];
            qint64 changed = 0;
            try {
                TStatement update(m_con,
                                  QStringLiteral("UPDATE %1 SET %2 WHERE rowid=?").arg(m_table, sets.join(u", ")));
                update.Bind(values);
                update.Step();
                changed = update.Changes();
            } catch (...) {
                Cancel();
                throw;
            }
            if (changed == 0) {
                Cancel();
                throw TDatabaseError(QStringLiteral("要修改的记录已不存在"));
            }
            const QList<quint64> oldKeys = keysOf(m_current);
            m_values.setRow(m_current, m_buffer);
            rekey(m_current, oldKeys);
        }
    }
    m_buffer.clear();
    m_changed.clear();
    m_state = State::Browse;
}

void TRecordSet::Delete() {
    Cancel();
    requireRow();
    if (!writable())
        throw TDatabaseError(QStringLiteral("记录集只读"));
    TStatement remove(m_con, QStringLiteral("DELETE FROM %1 WHERE rowid=?").arg(m_table));
    remove.Bind({m_rowIds[size_t(m_current)]});
    remove.Step();
    eraseRow(m_current);
    if (m_current >= RecordCount() && m_current > 0)
        m_current = RecordCount() - 1;
}

} // namespace vantero
