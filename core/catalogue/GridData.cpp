#include "catalogue/GridData.h"

#include "common/TextHelpers.h"

#include <QHash>
#include <QLocale>

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

} // namespace vantero
