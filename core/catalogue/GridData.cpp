#include "catalogue/GridData.h"

#include "common/TextHelpers.h"
#include "store/Statement.h"
#include "store/Values.h"

#include <QHash>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace vantero {

namespace {

// A rival band is 200 pixels and the own band 130; their columns share that width.
constexpr int kPriceWidth = 70;
constexpr int kNarrowWidth = 65;

// Each item with its rivals' readings, both in the file's order (as the grid's two record sets
// read them); the item key compares as the grid's lookup does, ASCII case aside, on its index.
const QString kGridRows = QStringLiteral(
    "SELECT i.rowid, i.ItemID, i.ItemName, i.CustomItemName, i.Price, i.SellCount, r.RivalWW, r.RivalItemID, "
    "r.Price, r.SellCount FROM Items i LEFT JOIN RivalItems r ON r.LocalItemID = i.ItemID COLLATE NOCASE "
    "ORDER BY i.rowid, r.rowid");

QString TextAt(const TStatement& s, int column) {
    return s.Text(column);
}

// A column as the record sets hand it to the grid.
QVariant ValueAt(const TStatement& s, int column) {
    return s.Kind(column) == TCellKind::Blob ? QVariant(TextAt(s, column)) : s.Value(column);
}

// A rival reading's number as the grid reads it from its record set.
double NumberAt(const TStatement& s, int column) {
    switch (s.Kind(column)) {
    case TCellKind::Integer:
        return double(s.Integer(column));
    case TCellKind::Float:
        return s.Float(column);
    case TCellKind::Text: {
        bool ok = false;
        const double value = s.Bytes(column).trimmed().toDouble(&ok);
        return ok ? value : 0;
    }
    default:
        return 0;
    }
}

bool BlankAt(const TStatement& s, int column) {
    if (s.Kind(column) == TCellKind::Null)
        return true;
    for (char c : s.Bytes(column)) {
        if (uchar(c) > 32)
            return false;
    }
    return true;
}

// The rivals' readings in the file's order, only the columns the grid shows.
const QString kGridReadings =
    QStringLiteral("SELECT LocalItemID, RivalWW, RivalItemID, Price, SellCount FROM RivalItems ORDER BY rowid");

// A column's text folded as the record sets' lookups fold a cell (numbers as they print them).
void FoldedAt(const TStatement& s, int column, QByteArray& out) {
    out.resize(0); // keeps the buffer: this runs once per reading
    switch (s.Kind(column)) {
    case TCellKind::Integer:
        out = QByteArray::number(s.Integer(column));
        return;
    case TCellKind::Float:
        out = QString::number(s.Float(column), 'g', 15).toUtf8();
        return;
    case TCellKind::Null:
        return;
    default:
        break;
    }
    const QByteArrayView bytes = s.Bytes(column);
    out.append(bytes.data(), bytes.size());
    char* p = out.data();
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (p[i] >= 'A' && p[i] <= 'Z')
            p[i] = char(p[i] + 32);
    }
}

double SignValue(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok ? value : 0;
}

} // namespace

TCellStyle CellStyleFor(int column, int lastColumn, const QString& text) {
    using enum TCellColor;
    auto sign = [&text] { return SignValue(text) >= 0 ? Purple : Red; };
    if (column == 0)
        return {true, Unchanged, ButtonFace};
    if (column == 1)
        return {false, Green, InfoBackground};
    if (column % 3 == 2)
        return {true, Blue, InactiveCaptionText};
    if (column == lastColumn)
        return {true, sign(), MoneyGreen};
    if (column % 3 == 0 && column >= 3)
        return {true, sign(), InfoBackground};
    if (column % 3 == 1 && column >= 4)
        return {true, Unchanged, MoneyGreen};
    return {};
}

QString FormatPrice(double value) {
    if (!std::isfinite(value) || std::abs(value) >= 1e15)
        return QString::number(value, 'f', 2);
    // Whole cents, rounded half away from zero, printed by hand: this runs for every cell.
    const long long cents = std::llround(value * 100.0);
    const unsigned long long magnitude = cents < 0 ? 0ULL - (unsigned long long)cents : (unsigned long long)cents;
    char buffer[32];
    char* end = buffer + sizeof buffer;
    char* p = end;
    unsigned long long rest = magnitude;
    *--p = char('0' + rest % 10);
    rest /= 10;
    *--p = char('0' + rest % 10);
    rest /= 10;
    *--p = '.';
    do {
        *--p = char('0' + rest % 10);
        rest /= 10;
    } while (rest);
    if (cents < 0)
        *--p = '-';
    return QString::fromLatin1(p, end - p);
}

QString TGridData::DisplayName(const QString& customName, const QString& itemName) {
    return ItemDisplayName(customName, itemName);
}

void TGridData::BuildGridLayout(const QStringList& rivalAccounts, const QString& ownAccount) {
    m_rows.clear();
    m_columns.clear();
    m_bands.clear();
    m_rivalKeys.clear();
    m_rivalIndex.clear();
    m_sameAs.clear();
    auto addBand = [this](const QString& caption, int width, bool right, QList<QPair<QString, int>> columns) {
        TGridBand band{caption, int(m_columns.size()), int(columns.size()), width, right};
        for (const auto& [title, columnWidth] : columns)
            m_columns.append({title, columnWidth, int(m_bands.size())});
        m_bands.append(band);
    };
    addBand(QString(), 440, false, {{QStringLiteral("序号"), 40}, {QStringLiteral("宝贝名称"), 400}});
    for (const QString& account : rivalAccounts) {
        addBand(account, 200, false,
                {{QStringLiteral("价格"), kPriceWidth},
                 {QStringLiteral("差价"), kNarrowWidth},
                 {QStringLiteral("本期售出"), kNarrowWidth}});
        m_rivalKeys << TRecordSet::Folded(TrimBlanks(account));
        const quint64 hash = TRecordSet::FoldedHash(m_rivalKeys.last());
        if (!m_rivalIndex.contains(hash))
            m_rivalIndex.insert(hash, int(m_rivalKeys.size()) - 1);
        m_sameAs.push_back(m_rivalIndex.value(hash));
    }
    addBand(QStringLiteral("自己(") + ownAccount + QStringLiteral(")"), 130, true,
            {{QStringLiteral("价格"), kNarrowWidth}, {QStringLiteral("本期售出"), kNarrowWidth}});
}

void TGridData::FillOwnPart(int row, TRecordSet& qry, int number) {
    const int rivals = rivalCount();
    auto item = std::make_unique<TItem>();
    item->ItemID = qry.FieldByName(QStringLiteral("ItemID")).AsString();
    item->ItemName = qry.FieldByName(QStringLiteral("ItemName")).AsString();
    item->CustomItemName = qry.FieldByName(QStringLiteral("CustomItemName")).AsString();
    item->URL = qry.FieldByName(QStringLiteral("URL")).AsString();
    item->Price = qry.FieldByName(QStringLiteral("Price")).AsFloat();
    item->LastUpdated = qry.FieldByName(QStringLiteral("LastUpdated")).AsDateTime();

    std::vector<std::pair<int, TPageStatus>> statuses;
    if (const QList<TPageStatus>* pages = m_statuses ? m_statuses->ForItem(item->ItemID) : nullptr) {
        for (const TPageStatus& status : *pages) {
            if (TrimBlanks(status.RivalWW).isEmpty()) {
                statuses.emplace_back(0, status);
                continue;
            }
            const QByteArray folded = TPageStatuses::Key(status.RivalWW);
            for (int i = 0; i < rivals; ++i) {
                if (m_rivalKeys[i] == folded)
                    statuses.emplace_back(i + 1, status);
            }
        }
    }

    Row& target = m_rows[size_t(row)];
    target.number = number > 0 ? number : qry.RecNo() + 1;
    target.ownSales = qry.FieldByName(QStringLiteral("SellCount")).AsInteger();
    target.readings.assign(size_t(rivals), Reading{});
    target.shown.assign(size_t(rivals), false);
    target.texts.clear();
    target.statuses = std::move(statuses);
    target.item = std::move(item);
}

void TGridData::CopyRepeatedBands(Row& row) const {
    for (size_t i = 0; i < m_sameAs.size(); ++i) {
        const auto first = size_t(m_sameAs[i]);
        if (first != i) {
            row.readings[i] = row.readings[first];
            row.shown[i] = row.shown[first];
        }
    }
}

void TGridData::FillRow(int row, TRecordSet& qry, TRecordSet& qryRival, int number) {
    FillOwnPart(row, qry, number);
    Row& target = m_rows[size_t(row)];

    // The keyed lookup on (RivalWW, LocalItemID), done per item: the item's readings, each
    // rival's first one in the set's order.
    const int rivalWW = qryRival.ColumnIndex(QStringLiteral("RivalWW"));
    const int rivalItemID = qryRival.ColumnIndex(QStringLiteral("RivalItemID"));
    const int rivalPrice = qryRival.ColumnIndex(QStringLiteral("Price"));
    const int rivalSales = qryRival.ColumnIndex(QStringLiteral("SellCount"));
    std::vector<bool> found(size_t(rivalCount()), false);
    for (int reading : qryRival.RowsWithKey(QStringLiteral("LocalItemID"), target.item->ItemID)) {
        const int rival = m_rivalIndex.value(qryRival.FoldedHash(reading, rivalWW), -1);
        if (rival < 0 || found[size_t(rival)] || !qryRival.FoldedEquals(reading, rivalWW, m_rivalKeys[rival]))
            continue;
        found[size_t(rival)] = true;
        if (!qryRival.IsBlank(reading, rivalItemID)) {
            target.shown[size_t(rival)] = true;
            target.readings[size_t(rival)] = {qryRival.NumberAt(reading, rivalPrice),
                                              qint64(qryRival.NumberAt(reading, rivalSales))};
        }
    }
    CopyRepeatedBands(target);
}

void TGridData::FillAllRows(TRecordSet& qry, const TConnection& con) {
    m_rows.clear();
    const int rivals = rivalCount();
    const int count = qry.RecordCount();
    m_rows.reserve(size_t(count));
    // The rows of each item key, found by its folded hash: the first in rowOfKey, further ones
    // (an id listed twice, or a hash shared) chained through nextRow.
    QHash<quint64, int> rowOfKey;
    rowOfKey.reserve(count);
    std::vector<int> nextRow;
    nextRow.reserve(size_t(count));
    std::vector<QByteArray> keys;
    keys.reserve(size_t(count));
    for (qry.First(); !qry.Eof(); qry.Next()) {
        m_rows.emplace_back();
        const int row = rowCount() - 1;
        FillOwnPart(row, qry, -1);
        keys.push_back(TRecordSet::Folded(m_rows.back().item->ItemID));
        nextRow.push_back(-1);
        const quint64 hash = TRecordSet::FoldedHash(keys.back());
        const auto first = rowOfKey.find(hash);
        if (first == rowOfKey.end()) {
            rowOfKey.insert(hash, row);
        } else {
            int last = *first;
            while (nextRow[size_t(last)] >= 0)
                last = nextRow[size_t(last)];
            nextRow[size_t(last)] = row;
        }
    }
    if (rivals > 0 && count > 0) {
        // Whether a (row, rival) already has its first reading, which is the one that counts.
        std::vector<bool> found(size_t(count) * size_t(rivals), false);
        const TReadTransaction snapshot(con);
        TStatement query(con, kGridReadings);
        const TStatement& s = query;
        QByteArray item;
        QByteArray account;
        while (query.Step()) {
            FoldedAt(s, 1, account);
            const int rival = m_rivalIndex.value(TRecordSet::FoldedHash(account), -1);
            if (rival < 0 || m_rivalKeys[rival] != account)
                continue;
            FoldedAt(s, 0, item);
            const auto first = rowOfKey.constFind(TRecordSet::FoldedHash(item));
            if (first == rowOfKey.cend())
                continue;
            for (int row = *first; row >= 0; row = nextRow[size_t(row)]) {
                const size_t at = size_t(row) * size_t(rivals) + size_t(rival);
                if (found[at] || keys[size_t(row)] != item)
                    continue;
                found[at] = true;
                if (!BlankAt(s, 2)) {
                    Row& target = m_rows[size_t(row)];
                    target.shown[size_t(rival)] = true;
                    target.readings[size_t(rival)] = {NumberAt(s, 3), qint64(NumberAt(s, 4))};
                }
            }
        }
    }
    bool repeated = false;
    for (size_t i = 0; i < m_sameAs.size(); ++i)
        repeated = repeated || size_t(m_sameAs[i]) != i;
    if (repeated) {
        for (Row& row : m_rows)
            CopyRepeatedBands(row);
    }
}

QString TGridData::cell(int row, int column) const {
    const Row& r = m_rows[size_t(row)];
    for (const auto& [at, text] : r.texts) {
        if (at == column)
            return text;
    }
    const int rivals = rivalCount();
    if (column == 0)
        return QString::number(r.number);
    if (column == 1)
        return DisplayName(r.item->CustomItemName, r.item->ItemName);
    if (column == 3 * rivals + 2)
        return FormatPrice(r.item->Price);
    if (column == 3 * rivals + 3)
        return QString::number(r.ownSales);
    if (column < 2 || column > 3 * rivals + 3)
        return {};
    const auto band = size_t((column - 2) / 3);
    if (!r.shown[band])
        return {};
    const Reading& reading = r.readings[band];
    switch ((column - 2) % 3) {
    case 0:
        return FormatPrice(reading.price);
    case 1:
        return FormatPrice(reading.price - r.item->Price);
    default:
        return QString::number(reading.sales);
    }
}

QStringList TGridData::cells(int row) const {
    QStringList texts;
    const int columns = columnCount();
    texts.reserve(columns);
    for (int column = 0; column < columns; ++column)
        texts << cell(row, column);
    return texts;
}

void TGridData::setCell(int row, int column, const QString& text) {
    auto& texts = m_rows[size_t(row)].texts;
    for (auto& [at, written] : texts) {
        if (at == column) {
            written = text;
            return;
        }
    }
    texts.emplace_back(column, text);
}

const TPageStatus* TGridData::PageStatus(int row, int band) const {
    if (row < 0 || row >= rowCount())
        return nullptr;
    const int page = band == rivalCount() + 1 ? 0 : band;
    for (const auto& [at, status] : m_rows[size_t(row)].statuses) {
        if (at == page)
            return &status;
    }
    return nullptr;
}

bool TGridData::IsStale(int row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount() || m_rows[size_t(row)].statuses.empty())
        return false;
    const TPageStatus* status = PageStatus(row, m_columns[column].band);
    return status && status->Stale();
}

void TGridData::RemoveRow(int row) {
    if (row >= 0 && row < rowCount())
        m_rows.erase(m_rows.begin() + row);
}

void TGridData::ClearRows() {
    m_rows.clear();
}

void StreamGridRows(const TConnection& con, const QStringList& rivalAccounts,
                    const std::function<void(const QStringList& cells)>& row) {
    // Bands by folded account; a shop listed twice has two bands showing the same reading.
    const int rivals = int(rivalAccounts.size());
    QHash<QByteArray, int> firstBand;
    std::vector<int> sameAs(static_cast<size_t>(rivals));
    for (int i = 0; i < rivals; ++i) {
        const QByteArray key = TRecordSet::Folded(TrimBlanks(rivalAccounts[i]));
        if (!firstBand.contains(key))
            firstBand.insert(key, i);
        sameAs[size_t(i)] = firstBand.value(key);
    }

    const TReadTransaction snapshot(con); // every row from one state of the file
    TStatement query(con, kGridRows);
    struct TReading {
        bool found = false;
        bool shown = false;
        double price = 0;
        qint64 sales = 0;
    };
    std::vector<TReading> readings(static_cast<size_t>(rivals));
    QStringList cells;
    qint64 number = 0;
    qint64 item = 0;
    QString itemName;
    QString customName;
    QVariant ownPrice;
    QVariant ownSales;
    auto flush = [&] {
        cells.clear();
        cells << QString::number(number) << TGridData::DisplayName(customName, itemName);
        const double own = ValueAsFloat(ownPrice);
        for (int i = 0; i < rivals; ++i) {
            const TReading& reading = readings[size_t(sameAs[size_t(i)])];
            if (reading.shown)
                cells << FormatPrice(reading.price) << FormatPrice(reading.price - own)
                      << QString::number(reading.sales);
            else
                cells << QString() << QString() << QString();
        }
        cells << FormatPrice(own) << QString::number(ValueAsInteger(ownSales));
        row(cells);
    };
    const TStatement& s = query;
    bool any = false;
    QByteArray folded;
    while (query.Step()) {
        const qint64 rowid = s.Integer(0);
        if (!any || rowid != item) {
            if (any)
                flush();
            any = true;
            item = rowid;
            ++number;
            itemName = TextAt(s, 2);
            customName = TextAt(s, 3);
            ownPrice = ValueAt(s, 4);
            ownSales = ValueAt(s, 5);
            std::fill(readings.begin(), readings.end(), TReading{});
        }
        if (s.Kind(6) == TCellKind::Null && s.Kind(7) == TCellKind::Null)
            continue; // no reading (the join's empty side)
        folded = TRecordSet::Folded(TextAt(s, 6));
        const auto band = firstBand.constFind(folded);
        if (band == firstBand.cend())
            continue;
        TReading& reading = readings[size_t(*band)];
        if (reading.found)
            continue; // the rival's first reading counts
        reading.found = true;
        reading.shown = !BlankAt(s, 7);
        reading.price = NumberAt(s, 8);
        reading.sales = qint64(NumberAt(s, 9));
    }
    if (any)
        flush();
}

} // namespace vantero
