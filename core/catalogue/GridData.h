#pragma once

#include "store/PageOutcomes.h"
#include "store/RecordSet.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace vantero {

// The own item behind one grid row.
struct TItem {
    QString ItemID;
    QString ItemName;
    QString CustomItemName;
    QString URL;
    double Price = 0;
    QDateTime LastUpdated; // invalid: never read
};

struct TGridBand {
    QString caption;
    int firstColumn = 0;
    int columnCount = 0;
    int width = 0;
    bool fixedRight = false;
};

struct TGridColumn {
    QString caption;
    int width = 0;
    int band = 0;
};

// Colours of the cell rules, named by purpose; the window maps them to palette roles.
enum class TCellColor {
    Unchanged,
    ButtonFace,
    Green,
    InfoBackground,
    Blue,
    InactiveCaptionText,
    Purple,
    Red,
    MoneyGreen
};

struct TCellStyle {
    bool bold = false;
    TCellColor font = TCellColor::Unchanged;
    TCellColor background = TCellColor::Unchanged;
    bool operator==(const TCellStyle&) const = default;
};

// The colour rule of a cell in column k of a grid whose last column is lastColumn.
TCellStyle CellStyleFor(int column, int lastColumn, const QString& text);

// "0.00": two decimals, minus sign for negatives, no grouping.
QString FormatPrice(double value);

// The comparison grid's content: bands, columns, and one row per own item. A row keeps its
// values as numbers (the own item's in its TItem, each rival band's price and sales); a cell's
// text is made when it is asked for, so a large catalogue's grid holds no texts but the items'.
class TGridData {
public:
    void BuildGridLayout(const QStringList& rivalAccounts, const QString& ownAccount);
    // Fills row from the current record of qry (Items) and the readings in qryRival (RivalItems;
    // the item's own readings are enough). Cell 0 is the record's position in qry counted from 1,
    // or number when given.
    void FillRow(int row, TRecordSet& qry, TRecordSet& qryRival, int number = -1);
    // One row per record of qry, in its order, with the rivals' readings read from the file in
    // one pass over RivalItems; nothing of the readings is kept beyond what the rows show.
    void FillAllRows(TRecordSet& qry, const TConnection& con);
    void RemoveRow(int row);
    // The page statuses rows are filled with (the stale marks); null: none. Not owned.
    void SetPageStatuses(const TPageStatuses* statuses) { m_statuses = statuses; }
    // The status of the page behind a cell's band: the own item's for band 0 and the own band,
    // the rival's for a rival band; null when none was loaded for it.
    const TPageStatus* PageStatus(int row, int band) const;
    // Whether the cell shows values older than its page's last attempt, which failed.
    bool IsStale(int row, int column) const;
    void ClearRows();

    int rowCount() const { return int(m_rows.size()); }
    int columnCount() const { return int(m_columns.size()); }
    int rivalCount() const { return int(m_bands.size()) - 2; }
    const QList<TGridBand>& bands() const { return m_bands; }
    const QList<TGridColumn>& columns() const { return m_columns; }
    // A row's cell texts as the grid shows them; empty text for a column that does not exist.
    QStringList cells(int row) const;
    QString cell(int row, int column) const;
    // Shows text in the cell until the row is filled again. Cell 1 follows the row's TItem
    // (custom name, else title) unless a text was written into it.
    void setCell(int row, int column, const QString& text);
    const TItem& item(int row) const { return *m_rows[size_t(row)].item; }
    TItem& item(int row) { return *m_rows[size_t(row)].item; }

    // The name shown for an item: the custom name unless it is blank, else the page title.
    static QString DisplayName(const QString& customName, const QString& itemName);

private:
    // A rival band's reading as the row shows it.
    struct Reading {
        double price = 0;
        qint64 sales = 0;
    };
    struct Row {
        int number = 0;
        qint64 ownSales = 0;
        std::vector<Reading> readings; // per rival band
        std::vector<bool> shown;       // per rival band: whether it has a reading to show
        // Texts written into cells (column, text); usually none.
        std::vector<std::pair<int, QString>> texts;
        // (band, status) of the row's pages that have a loaded status; band 0 is the own page.
        std::vector<std::pair<int, TPageStatus>> statuses;
        std::unique_ptr<TItem> item = std::make_unique<TItem>();
    };
    // The own item's part of row from qry's current record; the rival bands are left empty.
    void FillOwnPart(int row, TRecordSet& qry, int number);
    // A shop listed twice has two bands; both show the reading found for the first.
    void CopyRepeatedBands(Row& row) const;

    QList<TGridBand> m_bands;
    QList<TGridColumn> m_columns;
    QList<QByteArray> m_rivalKeys;    // the rival accounts, trimmed and folded, for the lookups
    QHash<quint64, int> m_rivalIndex; // hash of a key -> its first band's rival number
    std::vector<int> m_sameAs;        // per rival band: the first band of the same shop
    std::vector<Row> m_rows;
    const TPageStatuses* m_statuses = nullptr;
};

// The grid's rows, cell texts as the grid shows them, handed to row one by one in the grid's order,
// from one query that reads each item with its rivals' readings: nothing is kept from one row to
// the next, so printing or exporting the grid needs the same memory for any catalogue. The rival
// bands are those of rivalAccounts (as BuildGridLayout takes them).
void StreamGridRows(const TConnection& con, const QStringList& rivalAccounts,
                    const std::function<void(const QStringList& cells)>& row);

} // namespace vantero
