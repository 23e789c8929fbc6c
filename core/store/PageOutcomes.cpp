#include "store/PageOutcomes.h"

#include "common/TextHelpers.h"
#include "store/RecordSet.h"
#include "store/Statement.h"

#include <algorithm>

namespace vantero {

namespace {

// LastCode holds the reader's result codes: 0 updated and 1 added are successes, 3 is a page
// that gave no item id.
constexpr int kCodeUpdated = 0;
constexpr int kCodeAdded = 1;
constexpr int kCodeNoItem = 3;

const QString kStatusColumns = QStringLiteral("SELECT LocalItemID, RivalWW, RivalItemID, URL, LastAttempt, LastCode,"
                                              " LastText, LastSuccess, FailedInRow FROM ReadingStatus");

QString TextAt(const TStatement& s, int column) {
    return s.Kind(column) == TCellKind::Null ? QString() : s.Text(column);
}

TPageStatus StatusAt(const TStatement& s) {
    TPageStatus status;
    status.LocalItemID = TextAt(s, 0);
    status.RivalWW = TextAt(s, 1);
    status.RivalItemID = TextAt(s, 2);
    status.URL = TextAt(s, 3);
    status.LastAttempt = DateTimeFromColumn(TextAt(s, 4));
    status.LastCode = s.Kind(5) == TCellKind::Null ? -1 : int(s.Integer(5));
    status.LastText = TextAt(s, 6);
    status.LastSuccess = DateTimeFromColumn(TextAt(s, 7));
    status.FailedInRow = int(s.Integer(8));
    return status;
}

QList<TPageStatus> QueryStatuses(const TConnection& con, const QString& sql, const QVariantList& values) {
    QList<TPageStatus> statuses;
    TStatement statement(con, sql);
    statement.Bind(values);
    while (statement.Step())
        statuses << StatusAt(statement);
    return statuses;
}

std::optional<double> PriceAt(const TStatement& s, int column) {
    const TCellKind kind = s.Kind(column);
    if (kind == TCellKind::Null)
        return std::nullopt;
    if (kind == TCellKind::Text)
        return HistoryPrice(TextAt(s, column));
    return HistoryPrice(s.Float(column));
}

const QString kHistoryColumns =
    QStringLiteral("SELECT rowid, LocalItemID, RivalWW, RivalItemID, ReadAt, Price, SellCount FROM PriceHistory");

THistoryRow HistoryRowAt(const TStatement& s) {
    THistoryRow row;
    row.rowId = s.Integer(0);
    row.localItemID = TextAt(s, 1);
    row.rivalWW = TextAt(s, 2);
    row.rivalItemID = TextAt(s, 3);
    row.readAt = TextAt(s, 4);
    row.price = PriceAt(s, 5);
    row.sellCount = s.Integer(6);
    return row;
}

QList<THistoryRow> QueryHistory(const TConnection& con, const QString& sql, const QVariantList& values) {
    TStatement statement(con, sql);
    statement.Bind(values);
    QList<THistoryRow> rows;
    while (statement.Step())
        rows.append(HistoryRowAt(statement));
    return rows;
}

QString WhenText(const QDateTime& value) {
    return value.isValid() ? FormatDateTime(value) : QString();
}

QByteArray PageKey(const QString& localItemID, const QString& rivalWW) {
    return TPageStatuses::Key(localItemID) + '\x1f' + TPageStatuses::Key(rivalWW);
}

} // namespace

QString TPageStatus::Reason() const {
    if (LastCode == kCodeUpdated || LastCode == kCodeAdded)
        return {};
    if (!LastText.isEmpty())
        return LastText;
    return LastCode == kCodeNoItem ? OutcomeTexts::NoItemId : OutcomeTexts::UnknownFailure;
}

QString TPageStatus::ResultText() const {
    if (LastCode < 0)
        return {};
    if (!Stale())
        return OutcomeTexts::Succeeded.arg(WhenText(LastAttempt));
    return OutcomeTexts::Failed.arg(WhenText(LastAttempt), Reason());
}

QString TPageStatus::StaleText() const {
    const QString success = LastSuccess.isValid() ? OutcomeTexts::LastSuccess.arg(FormatDateTime(LastSuccess))
                                                  : OutcomeTexts::NeverSucceeded;
    return success + u'\n' + OutcomeTexts::LastFailure.arg(WhenText(LastAttempt), Reason());
}

QByteArray TPageStatuses::Key(const QString& text) {
    return TRecordSet::Folded(TrimBlanks(text));
}

void TPageStatuses::Load(const TConnection& con, Scope scope) {
    m_scope = scope;
    m_byItem.clear();
    const QString sql =
        scope == Scope::Failing ? kStatusColumns + QStringLiteral(" WHERE FailedInRow>0") : kStatusColumns;
    for (TPageStatus& status : QueryStatuses(con, sql, {})) {
        const QByteArray key = Key(status.LocalItemID);
        m_byItem[key].append(std::move(status));
    }
}

void TPageStatuses::ReloadItem(const TConnection& con, const QString& localItemID) {
    const QByteArray key = Key(localItemID);
    QString sql = kStatusColumns + QStringLiteral(" WHERE LocalItemID=?");
    if (m_scope == Scope::Failing)
        sql += QStringLiteral(" AND FailedInRow>0");
    QList<TPageStatus> statuses = QueryStatuses(con, sql, {TrimBlanks(localItemID)});
    if (statuses.isEmpty())
        m_byItem.remove(key);
    else
        m_byItem.insert(key, std::move(statuses));
}

const QList<TPageStatus>* TPageStatuses::ForItem(const QString& localItemID) const {
    if (m_byItem.isEmpty())
        return nullptr;
    const auto found = m_byItem.constFind(Key(localItemID));
    return found == m_byItem.cend() ? nullptr : &found.value();
}

QList<TPageStatus> ItemPageStatuses(const TConnection& con, const QString& localItemID) {
    return QueryStatuses(con, kStatusColumns + QStringLiteral(" WHERE LocalItemID=? ORDER BY RivalWW<>'', rowid"),
                         {TrimBlanks(localItemID)});
}

QList<TPageStatus> OwnPagesFailing(const TConnection& con, int minimumInRow) {
    return QueryStatuses(con,
                         kStatusColumns + QStringLiteral(" WHERE RivalWW='' AND FailedInRow>=? ORDER BY LocalItemID"),
                         {minimumInRow});
}

QList<TPageStatus> RivalPagesFailingWith(const TConnection& con, const QString& text) {
    return QueryStatuses(con,
                         kStatusColumns +
                             QStringLiteral(" WHERE RivalWW<>'' AND FailedInRow>0 AND LastText=? ORDER BY LocalItemID"),
                         {text});
}

QString ItemDisplayName(const QString& customName, const QString& itemName) {
    return TrimBlanks(customName).isEmpty() ? itemName : customName;
}

QList<TFailedPage> LoadFailedPages(const TConnection& con) {
    const TReadTransaction snapshot(con);
    struct TOwn {
        int order;
        QString name;
        QString url;
    };
    QHash<QByteArray, TOwn> items;
    {
        TStatement s(con, QStringLiteral("SELECT ItemID, ItemName, CustomItemName, URL FROM Items ORDER BY rowid"));
        s.Bind({});
        while (s.Step()) {
            const QByteArray key = TPageStatuses::Key(TextAt(s, 0));
            if (!items.contains(key))
                items.insert(key, {int(items.size()), ItemDisplayName(TextAt(s, 2), TextAt(s, 1)), TextAt(s, 3)});
        }
    }
    QHash<QByteArray, int> shops;
    {
        TStatement s(con, QStringLiteral("SELECT RivalWW FROM Rival ORDER BY rowid"));
        s.Bind({});
        while (s.Step()) {
            const QByteArray key = TPageStatuses::Key(TextAt(s, 0));
            if (!shops.contains(key))
                shops.insert(key, int(shops.size()) + 1);
        }
    }
    QHash<QByteArray, QString> mappings; // the first mapping of an item and shop, as the grid takes it
    {
        TStatement s(con, QStringLiteral("SELECT LocalItemID, RivalWW, URL FROM RivalItems ORDER BY rowid"));
        s.Bind({});
        while (s.Step()) {
            const QByteArray key = PageKey(TextAt(s, 0), TextAt(s, 1));
            if (!mappings.contains(key))
                mappings.insert(key, TextAt(s, 2));
        }
    }
    struct TSorted {
        int item;
        int shop;
        TFailedPage page;
    };
    QList<TSorted> sorted;
    for (TPageStatus& status : QueryStatuses(con, kStatusColumns + QStringLiteral(" WHERE FailedInRow>0"), {})) {
        const auto item = items.constFind(TPageStatuses::Key(status.LocalItemID));
        if (item == items.cend())
            continue;
        TFailedPage page;
        int shop = 0;
        if (TrimBlanks(status.RivalWW).isEmpty()) {
            page.Shop = OutcomeTexts::OwnShop;
            page.ReadAddress = item->url;
        } else {
            const auto known = shops.constFind(TPageStatuses::Key(status.RivalWW));
            const auto mapping = mappings.constFind(PageKey(status.LocalItemID, status.RivalWW));
            if (known == shops.cend() || mapping == mappings.cend())
                continue;
            shop = known.value();
            page.Shop = status.RivalWW;
            page.ReadAddress = mapping.value();
        }
        page.ItemName = item->name;
        page.Status = std::move(status);
        sorted.append({item->order, shop, std::move(page)});
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const TSorted& a, const TSorted& b) {
        return a.item != b.item ? a.item < b.item : a.shop < b.shop;
    });
    QList<TFailedPage> pages;
    pages.reserve(sorted.size());
    for (TSorted& entry : sorted)
        pages.append(std::move(entry.page));
    return pages;
}

std::optional<double> HistoryPrice(const QVariant& stored) {
    if (stored.isNull())
        return std::nullopt;
    bool ok = false;
    const double price = stored.toDouble(&ok);
    if (!ok || !(price > 0))
        return std::nullopt;
    return price;
}

QList<THistoryRow> ItemHistory(const TConnection& con, const QString& localItemID) {
    return QueryHistory(con, kHistoryColumns + QStringLiteral(" WHERE LocalItemID=? ORDER BY ReadAt, rowid"),
                        {TrimBlanks(localItemID)});
}

QList<THistoryRow> HistoryRowsAfter(const TConnection& con, qint64 rowId) {
    return QueryHistory(con, kHistoryColumns + QStringLiteral(" WHERE rowid>? ORDER BY rowid"), {rowId});
}

qint64 LastHistoryRowId(const TConnection& con) {
    return con.value(QStringLiteral("SELECT max(rowid) FROM PriceHistory")).toLongLong();
}

std::optional<THistoryRow> PricedRowBefore(const TConnection& con, const QString& localItemID, const QString& rivalWW,
                                           qint64 rowId) {
    const QList<THistoryRow> rows = QueryHistory(
        con,
        kHistoryColumns +
            QStringLiteral(" WHERE LocalItemID=? AND RivalWW=? AND rowid<? AND Price>0 ORDER BY rowid DESC LIMIT 1"),
        {localItemID, rivalWW, rowId});
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first();
}

QStringList StoredAccountSpellings(const TConnection& con, const QString& table, const QString& account,
                                   const QString& localItemID) {
    // Found here rather than with "=" in the statement: only files this program created compare
    // the column without regard to case, and a foreign file must lose its rows all the same.
    QString sql = QStringLiteral("SELECT DISTINCT RivalWW FROM %1").arg(table);
    QVariantList values;
    if (!localItemID.isNull()) {
        sql += QStringLiteral(" WHERE LocalItemID=?");
        values << localItemID;
    }
    TStatement statement(con, sql);
    statement.Bind(values);
    QStringList spellings;
    while (statement.Step()) {
        const QString stored = TextAt(statement, 0);
        if (!account.isEmpty() && stored.compare(account, Qt::CaseInsensitive) == 0 && !spellings.contains(stored))
            spellings << stored;
    }
    return spellings;
}

void DeleteItemOutcomes(const TConnection& con, const QString& localItemID) {
    const QString id = TrimBlanks(localItemID);
    con.exec(QStringLiteral("DELETE FROM ReadingStatus WHERE LocalItemID=?"), {id});
    con.exec(QStringLiteral("DELETE FROM PriceHistory WHERE LocalItemID=?"), {id});
}

void DeleteShopOutcomes(const TConnection& con, const QString& rivalWW) {
    const QString account = TrimBlanks(rivalWW);
    if (account.isEmpty())
        return; // '' is the own pages' key, never a shop
    for (const QString& table : {QStringLiteral("ReadingStatus"), QStringLiteral("PriceHistory")}) {
        for (const QString& spelling : StoredAccountSpellings(con, table, account))
            con.exec(QStringLiteral("DELETE FROM %1 WHERE RivalWW=?").arg(table), {spelling});
    }
}

void DeleteMappingOutcomes(const TConnection& con, const QString& localItemID, const QString& rivalWW) {
    const QString account = TrimBlanks(rivalWW);
    if (account.isEmpty())
        return;
    // The page's price history stays: it is found again by item and account when the same rival
    // is mapped again, and a mapping is often set anew to a moved page.
    const QString id = TrimBlanks(localItemID);
    for (const QString& spelling : StoredAccountSpellings(con, QStringLiteral("ReadingStatus"), account, id))
        con.exec(QStringLiteral("DELETE FROM ReadingStatus WHERE LocalItemID=? AND RivalWW=?"), {id, spelling});
}

} // namespace vantero
