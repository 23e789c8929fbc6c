#pragma once

#include "store/Connection.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

namespace vantero {

// What the program reads back of its readings: each page's last outcome (ReadingStatus) and the
// price history (PriceHistory), for the grid, the detail list, the failure list, the chart, the
// alerts, the exports and the CLI. The readings themselves write both (reader/ReadingLog).

// Texts of the reading outcomes, shared by the grid, the detail list, the failure list and the CLI.
namespace OutcomeTexts {
inline const QString NoItemId = QStringLiteral("页面中没有宝贝编号");
inline const QString UnknownFailure = QStringLiteral("未知原因");
inline const QString NeverSucceeded = QStringLiteral("从未成功读取");
inline const QString LastSuccess = QStringLiteral("最后成功读取：%1");
inline const QString LastFailure = QStringLiteral("最后一次读取（%1）失败：%2");
inline const QString Succeeded = QStringLiteral("成功 %1");
inline const QString Failed = QStringLiteral("失败 %1：%2");
inline const QString OwnShop = QStringLiteral("自己");
inline const QString RunSummary = QStringLiteral("本次更新：成功 %1，失败 %2");
} // namespace OutcomeTexts

// One page's row of ReadingStatus.
struct TPageStatus {
    QString LocalItemID;
    QString RivalWW; // '' for the own item's page
    QString RivalItemID;
    QString URL;
    QDateTime LastAttempt;
    int LastCode = -1;
    QString LastText;
    QDateTime LastSuccess; // invalid: never read successfully
    int FailedInRow = 0;

    // The last attempt was refused or failed: what the catalogue shows is older than that.
    bool Stale() const { return FailedInRow > 0; }
    // Why the last attempt failed, in words ('' after a success).
    QString Reason() const;
    // The last attempt's result and time, for the detail list ("成功 …" / "失败 …：reason").
    QString ResultText() const;
    // The tooltip lines of a stale cell: the last success and why the last attempt failed.
    QString StaleText() const;
};

// Page statuses loaded at once, by own item, for the grid's rows. The key folding is the one the
// catalogue's lookups use (ASCII case, surrounding blanks ignored).
class TPageStatuses {
public:
    // Only the pages whose last attempt failed (the grid needs no more), or every page.
    enum class Scope { Failing, All };

    void Load(const TConnection& con, Scope scope);
    // Re-reads one item's pages, as Load would give them now.
    void ReloadItem(const TConnection& con, const QString& localItemID);
    void Clear() { m_byItem.clear(); }

    // The item's pages (own and rivals), or null when it has none loaded.
    const QList<TPageStatus>* ForItem(const QString& localItemID) const;
    static QByteArray Key(const QString& text);

private:
    Scope m_scope = Scope::Failing;
    QHash<QByteArray, QList<TPageStatus>> m_byItem;
};

// The statuses of one own item's pages, own page first.
QList<TPageStatus> ItemPageStatuses(const TConnection& con, const QString& localItemID);

// The own items' pages that failed at least minimumInRow times in a row, by own item id.
QList<TPageStatus> OwnPagesFailing(const TConnection& con, int minimumInRow);

// The rivals' pages whose last attempt failed with the given text, by own item id.
QList<TPageStatus> RivalPagesFailingWith(const TConnection& con, const QString& text);

// An own item's name as the windows show it: the custom name unless that is blank.
QString ItemDisplayName(const QString& customName, const QString& itemName);

// One line of the failure list: a page of the catalogue whose last attempt failed.
struct TFailedPage {
    TPageStatus Status;
    QString ItemName;    // the own item's name as the grid shows it
    QString Shop;        // "自己" or the rival account
    QString ReadAddress; // the address the catalogue reads the page from
};

// Every page of the catalogue whose last attempt failed, by own item then shop. Rows of pages
// that are no longer in the catalogue (deleted item, shop or mapping) are left out.
QList<TFailedPage> LoadFailedPages(const TConnection& con);

// One PriceHistory row: a page's price and sales as a successful reading found them.
struct THistoryRow {
    qint64 rowId = 0;
    QString localItemID;
    QString rivalWW; // empty for the own item's page
    QString rivalItemID;
    QString readAt;              // stored date-time form
    std::optional<double> price; // nothing: the page showed no price (stored NULL, or 0)
    qint64 sellCount = 0;

    bool isOwn() const { return rivalWW.isEmpty(); }
    QDateTime readAtTime() const { return DateTimeFromColumn(readAt); }
};

// A price as the history means it: a stored NULL or a price of 0 or less is no price at all.
std::optional<double> HistoryPrice(const QVariant& stored);

// Every history row of an own item's pages (its own and its rivals'), oldest reading first; rows
// of one time in the order they were written.
QList<THistoryRow> ItemHistory(const TConnection& con, const QString& localItemID);
// The history rows written after rowId, in the order they were written.
QList<THistoryRow> HistoryRowsAfter(const TConnection& con, qint64 rowId);
// The rowid of the newest history row; 0 when there is none.
qint64 LastHistoryRowId(const TConnection& con);
// The page's last price before the row rowId (exclusive), skipping rows without a price.
std::optional<THistoryRow> PricedRowBefore(const TConnection& con, const QString& localItemID, const QString& rivalWW,
                                           qint64 rowId);

// The spellings of account stored in table's RivalWW (of one own item's rows when localItemID is
// not null) that equal it as a whole with letter case ignored.
QStringList StoredAccountSpellings(const TConnection& con, const QString& table, const QString& account,
                                   const QString& localItemID = QString());

// What a deletion of the catalogue takes along: the outcome and history rows of its pages. A
// deleted mapping takes only its outcome row; its price history stays.
void DeleteItemOutcomes(const TConnection& con, const QString& localItemID);
void DeleteShopOutcomes(const TConnection& con, const QString& rivalWW);
void DeleteMappingOutcomes(const TConnection& con, const QString& localItemID, const QString& rivalWW);

} // namespace vantero
