#include "history/AlertStore.h"

#include "catalogue/GridData.h"
#include "reader/PageFields.h"
#include "store/AddedTables.h"
#include "store/PageOutcomes.h"
#include "store/Statement.h"

#include <algorithm>
#include <limits>
#include <map>

namespace vantero {

namespace {

const QString kAlertsOn = QStringLiteral("AlertsOn");
const QString kAlertPercent = QStringLiteral("AlertPercent");
const QString kCheckedRow = QStringLiteral("AlertsCheckedRow");

QString TextAt(const TStatement& s, int column) {
    return s.Text(column);
}

std::optional<double> NumberAt(const TStatement& s, int column) {
    if (s.Kind(column) == TCellKind::Null)
        return std::nullopt;
    return s.Float(column);
}

QVariant Stored(const std::optional<double>& value) {
    return value ? QVariant(*value) : QVariant();
}

// The own items as the evaluation needs them: current price and shown name, looked up once.
struct TOwnItem {
    std::optional<double> price;
    QString name;
};

class TEvaluation {
public:
    explicit TEvaluation(const TConnection& con) : m_con(con) {}

    // The item, or nothing when it is no longer in the catalogue.
    const TOwnItem* Item(const QString& itemId) {
        auto it = m_items.find(itemId);
        if (it == m_items.end()) {
            std::optional<TOwnItem> found;
            TStatement statement(
                m_con, QStringLiteral("SELECT Price, ItemName, CustomItemName FROM Items WHERE ItemID=? LIMIT 1"));
            statement.Bind({itemId});
            if (statement.Step()) {
                const TStatement& s = statement;
                found = TOwnItem{HistoryPrice(s.Kind(0) == TCellKind::Null ? QVariant() : QVariant(s.Float(0))),
                                 TGridData::DisplayName(TextAt(s, 2), TextAt(s, 1))};
            }
            it = m_items.emplace(itemId, found).first;
        }
        return it->second ? &*it->second : nullptr;
    }

    // The own price as it stood when the history row rowId was written: the own page's last
    // priced row up to it, or the item's stored price when its page has no history yet.
    std::optional<double> OwnPriceAt(const QString& itemId, qint64 rowId) {
        if (const std::optional<THistoryRow> own = PricedRowBefore(m_con, itemId, QString(), rowId + 1))
            return own->price;
        const TOwnItem* item = Item(itemId);
        return item ? item->price : std::nullopt;
    }

    TAlert Store(TAlertKind kind, const QString& createdAt, const QString& itemId, const QString& rivalWW,
                 const std::optional<double>& oldPrice, const std::optional<double>& newPrice,
                 const std::optional<double>& ownPrice) {
        const qint64 id = m_con.insert(
            QStringLiteral("INSERT INTO Alerts (CreatedAt, Kind, LocalItemID, RivalWW, OldPrice, NewPrice, "
                           "OwnPrice, IsRead) VALUES (?, ?, ?, ?, ?, ?, ?, 0)"),
            {createdAt, int(kind), itemId, rivalWW, Stored(oldPrice), Stored(newPrice), Stored(ownPrice)});
        TAlert alert;
        alert.id = id;
        alert.createdAt = createdAt;
        alert.kind = kind;
        alert.localItemID = itemId;
        const TOwnItem* item = Item(itemId);
        alert.itemName = item ? item->name : QString();
        alert.rivalWW = rivalWW;
        alert.oldPrice = oldPrice;
        alert.newPrice = newPrice;
        alert.ownPrice = ownPrice;
        return alert;
    }

private:
    const TConnection& m_con;
    std::map<QString, std::optional<TOwnItem>> m_items; // keeps handed-out pointers valid
};

} // namespace

TAlertSettings ReadAlertSettings(const TConnection& con) {
    TAlertSettings settings;
    settings.on = ReadOption(con, kAlertsOn, 1).toInt() != 0;
    bool ok = false;
    const double percent = ReadOption(con, kAlertPercent, kDefaultAlertPercent).toDouble(&ok);
    settings.percent =
        ok && percent >= kMinAlertPercent && percent <= kMaxAlertPercent ? percent : kDefaultAlertPercent;
    return settings;
}

void WriteAlertSettings(const TConnection& con, const TAlertSettings& settings) {
    TWriteTransaction transaction(con);
    WriteOption(con, kAlertsOn, settings.on ? 1 : 0);
    WriteOption(con, kAlertPercent, std::clamp(settings.percent, kMinAlertPercent, kMaxAlertPercent));
    transaction.Commit();
}

QList<TAlert> CheckAlerts(const TConnection& con) {
    TWriteTransaction transaction(con);
    const TAlertSettings settings = ReadAlertSettings(con);
    const qint64 last = LastHistoryRowId(con);
    // A mark beyond the newest row means rows were deleted since: look from the newest on, or
    // rows that take the freed numbers would be passed over.
    const qint64 mark = std::min(ReadOption(con, kCheckedRow, 0).toLongLong(), last);
    QList<TAlert> alerts;
    if (settings.on) {
        TEvaluation evaluation(con);
        const QList<THistoryRow> rows = HistoryRowsAfter(con, mark);
        for (const THistoryRow& row : rows) {
            if (row.isOwn() || !evaluation.Item(row.localItemID))
                continue;
            // A reading without a price, or a page's first, alerts nothing: no more lookups.
            if (!row.price)
                continue;
            const std::optional<THistoryRow> previous = PricedRowBefore(con, row.localItemID, row.rivalWW, row.rowId);
            if (!previous)
                continue;
            TRivalStep step;
            step.newPrice = row.price;
            step.ownPrice = evaluation.OwnPriceAt(row.localItemID, row.rowId);
            step.oldPrice = previous->price;
            step.oldOwnPrice = evaluation.OwnPriceAt(row.localItemID, previous->rowId);
            if (const std::optional<TAlertKind> kind = RivalAlertKind(step, settings.percent))
                alerts << evaluation.Store(*kind, row.readAt, row.localItemID, row.rivalWW, step.oldPrice,
                                           step.newPrice, step.ownPrice);
        }

        QList<QString> due;
        for (const TPageStatus& page : OwnPagesFailing(con, kFailuresBeforeAlert)) {
            // An alert made since the page's last success belongs to the present run of failures.
            const bool reported =
                con.value(QStringLiteral("SELECT EXISTS (SELECT 1 FROM Alerts WHERE Kind=? AND LocalItemID=? AND "
                                         "RivalWW='' AND CreatedAt>=?)"),
                          {int(TAlertKind::OwnPageFailing), page.LocalItemID, DateTimeToColumn(page.LastSuccess)})
                    .toInt() != 0;
            if (OwnFailureAlertDue(page.FailedInRow, reported))
                due << page.LocalItemID;
        }
        const QString now = CurrentDateTimeColumn();
        for (const QString& itemId : std::as_const(due)) {
            if (const TOwnItem* item = evaluation.Item(itemId))
                alerts << evaluation.Store(TAlertKind::OwnPageFailing, now, itemId, QString(), std::nullopt,
                                           std::nullopt, item->price);
        }

        // A rival's item that has gone, once after its last good reading (a page never read well
        // says nothing of a rival's item that was there).
        for (const TPageStatus& page : RivalPagesFailingWith(con, PageTexts::Gone)) {
            if (!page.LastSuccess.isValid() || !evaluation.Item(page.LocalItemID))
                continue;
            const bool reported =
                con.value(QStringLiteral("SELECT EXISTS (SELECT 1 FROM Alerts WHERE Kind=? AND LocalItemID=? AND "
                                         "RivalWW=? AND CreatedAt>=?)"),
                          {int(TAlertKind::RivalItemGone), page.LocalItemID, page.RivalWW,
                           DateTimeToColumn(page.LastSuccess)})
                    .toInt() != 0;
            if (reported)
                continue;
            const std::optional<THistoryRow> last =
                PricedRowBefore(con, page.LocalItemID, page.RivalWW, std::numeric_limits<qint64>::max());
            alerts << evaluation.Store(TAlertKind::RivalItemGone, now, page.LocalItemID, page.RivalWW,
                                       last ? last->price : std::nullopt, std::nullopt,
                                       evaluation.Item(page.LocalItemID)->price);
        }
    }
    WriteOption(con, kCheckedRow, last);
    transaction.Commit();
    return alerts;
}

QList<TAlert> ListAlerts(const TConnection& con, const TAlertFilter& filter) {
    const QString order = filter.newestFirst ? QStringLiteral("DESC") : QStringLiteral("ASC");
    TStatement statement(
        con, QStringLiteral("SELECT a.AlertID, a.CreatedAt, a.Kind, a.LocalItemID, a.RivalWW, a.OldPrice, a.NewPrice,"
                            " a.OwnPrice, a.IsRead,"
                            " (SELECT ItemName FROM Items WHERE ItemID=a.LocalItemID LIMIT 1),"
                            " (SELECT CustomItemName FROM Items WHERE ItemID=a.LocalItemID LIMIT 1),"
                            " (SELECT group_concat(Channel || '：' || ErrorText, '；') FROM AlertSends"
                            "  WHERE AlertID=a.AlertID AND Ok=0)"
                            " FROM Alerts a WHERE a.CreatedAt>=? AND (?=0 OR a.IsRead=0)"
                            " ORDER BY a.CreatedAt %1, a.AlertID %1")
                 .arg(order));
    statement.Bind({filter.since.isValid() ? DateTimeToColumn(filter.since) : QString(), filter.unreadOnly ? 1 : 0});
    QList<TAlert> alerts;
    while (statement.Step()) {
        const TStatement& s = statement;
        TAlert alert;
        alert.id = s.Integer(0);
        alert.createdAt = TextAt(s, 1);
        alert.kind = TAlertKind(s.Integer(2));
        alert.localItemID = TextAt(s, 3);
        alert.rivalWW = TextAt(s, 4);
        alert.oldPrice = NumberAt(s, 5);
        alert.newPrice = NumberAt(s, 6);
        alert.ownPrice = NumberAt(s, 7);
        alert.isRead = s.Integer(8) != 0;
        alert.itemName = TGridData::DisplayName(TextAt(s, 10), TextAt(s, 9));
        alert.sendFailures = TextAt(s, 11);
        alerts << alert;
    }
    return alerts;
}

int UnreadAlertCount(const TConnection& con) {
    return con.value(QStringLiteral("SELECT count(*) FROM Alerts WHERE IsRead=0")).toInt();
}

void MarkAlertsRead(const TConnection& con, const QList<qint64>& ids) {
    TWriteTransaction transaction(con);
    for (qint64 id : ids)
        con.exec(QStringLiteral("UPDATE Alerts SET IsRead=1 WHERE AlertID=?"), {id});
    transaction.Commit();
}

void MarkAllAlertsRead(const TConnection& con) {
    con.exec(QStringLiteral("UPDATE Alerts SET IsRead=1 WHERE IsRead=0"));
}

} // namespace vantero
