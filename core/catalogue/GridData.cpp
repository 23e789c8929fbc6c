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
    }
    addBand(QStringLiteral("自己(") + ownAccount + QStringLiteral(")"), 130, true,
            {{QStringLiteral("价格"), kNarrowWidth}, {QStringLiteral("本期售出"), kNarrowWidth}});
}

void TGridData::FillRow(int row, TRecordSet& qry, TRecordSet& qryRival, int number) {
    const int rivals = rivalCount();
    QStringList cells;
    cells.reserve(3 * rivals + 4);
    cells << QString::number(number > 0 ? number : qry.RecNo() + 1);
    const QString itemName = qry.FieldByName(QStringLiteral("ItemName")).AsString();
    const QString customName = qry.FieldByName(QStringLiteral("CustomItemName")).AsString();
    cells << DisplayName(customName, itemName);
    const double ownPrice = qry.FieldByName(QStringLiteral("Price")).AsFloat();
    const QString key = qry.FieldByName(QStringLiteral("ItemID")).AsString();

    // The keyed lookup on (RivalWW, LocalItemID), done per item: the item's readings, each
    // rival's first one in the set's order.
    const int rivalWW = qryRival.ColumnIndex(QStringLiteral("RivalWW"));
    const int rivalItemID = qryRival.ColumnIndex(QStringLiteral("RivalItemID"));
    const int rivalPrice = qryRival.ColumnIndex(QStringLiteral("Price"));
    const int rivalSales = qryRival.ColumnIndex(QStringLiteral("SellCount"));
    const std::vector<int> readings = qryRival.RowsWithKey(QStringLiteral("LocalItemID"), key);
    std::vector<int> firstReading(size_t(rivals), -1);
    for (int reading : readings) {
        const int rival = m_rivalIndex.value(qryRival.FoldedHash(reading, rivalWW), -1);
        if (rival >= 0 && firstReading[size_t(rival)] < 0 &&
            qryRival.FoldedEquals(reading, rivalWW, m_rivalKeys[rival]))
            firstReading[size_t(rival)] = reading;
    }
    // A shop listed twice has two bands; both show its reading.
    for (int i = 0; i < rivals; ++i) {
        const int reading = firstReading[size_t(m_rivalIndex.value(TRecordSet::FoldedHash(m_rivalKeys[i])))];
        if (reading >= 0 && !qryRival.IsBlank(reading, rivalItemID)) {
            const double price = qryRival.NumberAt(reading, rivalPrice);
            cells << FormatPrice(price) << FormatPrice(price - ownPrice)
                  << QString::number(qint64(qryRival.NumberAt(reading, rivalSales)));
        } else {
            cells << QString() << QString() << QString();
        }
    }
    cells << FormatPrice(ownPrice) << QString::number(qry.FieldByName(QStringLiteral("SellCount")).AsInteger());

    std::vector<std::pair<int, TPageStatus>> statuses;
    if (const QList<TPageStatus>* pages = m_statuses ? m_statuses->ForItem(key) : nullptr) {
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

    auto item = std::make_unique<TItem>();
    item->ItemID = key;
    item->ItemName = itemName;
    item->CustomItemName = customName;
    item->URL = qry.FieldByName(QStringLiteral("URL")).AsString();
    item->Price = ownPrice;
    item->LastUpdated = qry.FieldByName(QStringLiteral("LastUpdated")).AsDateTime();
    Row& target = m_rows[size_t(row)];
    target.cells = std::move(cells);
    target.item = std::move(item);
    target.statuses = std::move(statuses);
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

void TGridData::FillAllRows(TRecordSet& qry, TRecordSet& qryRival) {
    m_rows.clear();
    m_rows.reserve(size_t(qry.RecordCount()));
    for (qry.First(); !qry.Eof(); qry.Next()) {
        m_rows.emplace_back();
        FillRow(rowCount() - 1, qry, qryRival);
    }
}

void TGridData::RemoveRow(int row) {
    if (row >= 0 && row < rowCount())
        m_rows.erase(m_rows.begin() + row);
}

void TGridData::ClearRows() {
    m_rows.clear();
}

namespace {

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

} // namespace

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
