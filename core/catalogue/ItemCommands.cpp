#include "catalogue/ItemCommands.h"

#include "common/TextHelpers.h"
#include "reader/UtReadItemThr.h"
#include "store/PageOutcomes.h"

#include <QLocale>

namespace vantero {

namespace {

const QString kRivalWW = QStringLiteral("RivalWW");

} // namespace

QString FormatReadingTime(const QDateTime& value) {
    if (!value.isValid())
        return {};
    // At exactly midnight only the date is shown.
    if (value.time() == QTime(0, 0))
        return DisplayLocale().toString(value.date(), QLocale::ShortFormat);
    return FormatDateTime(value);
}

QString ReadResultMessage(int code) {
    switch (code) {
    case TReadItem::rcUpdated:
    case TReadItem::rcAdded:
        return {};
    case TReadItem::rcWrongSeller:
        return ItemTexts::WrongSeller;
    case TReadItem::rcNoItem:
    case TReadItem::rcFailed:
        return ItemTexts::ReadFailed;
    default:
        return ItemTexts::UnknownError;
    }
}

QList<QStringList> BlankDetailRows(const QStringList& rivalAccounts) {
    QList<QStringList> rows;
    rows.reserve(rivalAccounts.size() + 1);
    rows << QStringList{QStringLiteral("1"), ItemTexts::Own, {}, {}, {}, {}};
    for (int r = 0; r < rivalAccounts.size(); ++r)
        rows << QStringList{QString::number(r + 2), rivalAccounts[r], {}, {}, {}, {}};
    return rows;
}

void OpenDetailReadings(TRecordSet& qryDetail, const QString& itemId) {
    qryDetail.Reopen(QStringLiteral("select * from RivalItems where LocalItemID=? and RivalItemID<>''"), {itemId});
}

QStringList OwnDetailTexts(const TItem& item) {
    const QString time = item.LastUpdated.isValid() ? FormatReadingTime(item.LastUpdated) : ItemTexts::OwnNeverRead;
    return {item.ItemName, FormatPrice(item.Price), time, item.URL};
}

QStringList RivalDetailTexts(TRecordSet& qryDetail, const QString& owner) {
    if (!qryDetail.Locate(kRivalWW, {TrimBlanks(owner)}))
        return {ItemTexts::RivalNotSet, {}, {}, {}};
    const QString name = qryDetail.FieldByName(QStringLiteral("ItemName")).AsString();
    const QString url = qryDetail.FieldByName(QStringLiteral("URL")).AsString();
    const QDateTime updated = qryDetail.FieldByName(QStringLiteral("LastUpdated")).AsDateTime();
    if (!updated.isValid())
        return {name, {}, ItemTexts::RivalNotRead, url};
    return {name, FormatPrice(qryDetail.FieldByName(QStringLiteral("Price")).AsFloat()), FormatReadingTime(updated),
            url};
}

QString RivalItemAddress(TRecordSet& qryDetail, const QString& account) {
    if (!qryDetail.Active() || !qryDetail.Locate(kRivalWW, {account}))
        return {};
    return TrimBlanks(qryDetail.FieldByName(QStringLiteral("URL")).AsString());
}

QList<QStringList> DetailRows(const QStringList& rivalAccounts, const TItem& item, TRecordSet& qryDetail) {
    QList<QStringList> rows = BlankDetailRows(rivalAccounts);
    OpenDetailReadings(qryDetail, item.ItemID);
    for (int r = 0; r < rows.size(); ++r) {
        const QStringList texts = r == 0 ? OwnDetailTexts(item) : RivalDetailTexts(qryDetail, rows[r][kDetailOwner]);
        for (int i = 0; i < texts.size(); ++i)
            rows[r][kDetailName + i] = texts[i];
    }
    return rows;
}

std::optional<TItem> LocateItem(TRecordSet& items, const QString& itemId) {
    if (!items.Locate(QStringLiteral("ItemID"), {itemId}))
        return std::nullopt;
    TItem item;
    item.ItemID = items.FieldByName(QStringLiteral("ItemID")).AsString();
    item.ItemName = items.FieldByName(QStringLiteral("ItemName")).AsString();
    item.CustomItemName = items.FieldByName(QStringLiteral("CustomItemName")).AsString();
    item.URL = items.FieldByName(QStringLiteral("URL")).AsString();
    item.Price = items.FieldByName(QStringLiteral("Price")).AsFloat();
    item.LastUpdated = items.FieldByName(QStringLiteral("LastUpdated")).AsDateTime();
    return item;
}

void DeleteLocatedItem(TRecordSet& items, const TConnection& con, const QString& itemId) {
    items.Delete();
    con.exec(QStringLiteral("delete from RivalItems where LocalItemID=?"), {TrimBlanks(itemId)});
    DeleteItemOutcomes(con, itemId);
}

bool StoreCustomName(TRecordSet& items, const QString& itemId, const QString& name) {
    static const QString key = QStringLiteral("ItemID");
    if (!items.Locate(key, {itemId})) {
        // The item may have been stored after the set was opened.
        items.RefreshByKey(key, itemId);
        if (!items.Locate(key, {itemId}))
            return false;
    }
    items.Edit();
    items.FieldByName(QStringLiteral("CustomItemName")).SetAsString(name);
    items.Post();
    return true;
}

void OpenMappings(TRecordSet& mappings, const QString& itemId) {
    mappings.Reopen(QStringLiteral("select * from RivalItems where LocalItemID=?"), {itemId});
}

QList<QStringList> MappingRows(TRecordSet& mappings, const QStringList& rivalAccounts) {
    QList<QStringList> rows;
    rows.reserve(rivalAccounts.size());
    for (int n = 0; n < rivalAccounts.size(); ++n) {
        const QString account = TrimBlanks(rivalAccounts[n]);
        const QString address = mappings.Locate(kRivalWW, {account})
                                    ? mappings.FieldByName(QStringLiteral("URL")).AsString()
                                    : ItemTexts::MappingNotSet;
        rows << QStringList{QString::number(n + 1), account, address};
    }
    return rows;
}

void DeleteMapping(const TConnection& con, const QString& itemId, const QString& account) {
    // Every row of that rival for the item goes: a mapping set again to another rival item is
    // stored as a second row, and leaving one behind would keep the mapping alive.
    for (const QString& spelling : StoredAccountSpellings(con, QStringLiteral("RivalItems"), account, itemId))
        con.exec(QStringLiteral("delete from RivalItems where LocalItemID=? and RivalWW=?"), {itemId, spelling});
    DeleteMappingOutcomes(con, itemId, account);
}

} // namespace vantero
