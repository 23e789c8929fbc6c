#include "catalogue/MainData.h"

#include "catalogue/Settings.h"

#include <algorithm>
#include <climits>

namespace vantero {

TMainData::TMainData(TConnection connection)
    : con(connection), qry(connection), qryRival(connection), qryDetail(connection), qrytmp(connection) {
    grid.SetPageStatuses(&statuses);
}

int TMainData::ApplySettings() {
    qrytmp.Reopen(kSelectSetting);
    const qint64 stored = qrytmp.Eof() ? 0 : qrytmp.FieldByName(QStringLiteral("UpdateTimeOut")).AsInteger();
    int minutes = int(std::clamp<qint64>(stored, INT_MIN, INT_MAX));
    if (minutes < kMinimumUpdateMinutes) {
        qrytmp.Edit();
        qrytmp.FieldByName(QStringLiteral("UpdateTimeOut")).SetAsInteger(kDefaultUpdateMinutes);
        qrytmp.Post();
        minutes = kDefaultUpdateMinutes;
    }
    OwnAccount = qrytmp.FieldByName(QStringLiteral("WW")).AsString();
    ApplyTlsResume(con);
    return minutes;
}

void TMainData::LoadRivals() {
    RivalAccounts.clear();
    RivalShopURLs.clear();
    qry.Reopen(kSelectRival);
    for (; !qry.Eof(); qry.Next()) {
        RivalAccounts << qry.FieldByName(QStringLiteral("RivalWW")).AsString();
        RivalShopURLs << qry.FieldByName(QStringLiteral("ShopURL")).AsString();
    }
}

void TMainData::RefreshAllData() {
    LoadRivals();
    grid.BuildGridLayout(RivalAccounts, OwnAccount);
    qryRival.Reopen(kSelectRivalItems);
    qry.Reopen(kSelectItems);
    statuses.Load(con, statusScope);
    grid.FillAllRows(qry, qryRival);
}

void TMainData::ReloadItemRows() {
    // Row refreshes merge only their own item's rival rows, so the rival set is re-read too: a
    // refill shows every reading in the file, as after a refresh cycle.
    qryRival.Reopen(kSelectRivalItems);
    qry.Reopen(kSelectItems);
    statuses.Load(con, statusScope);
    grid.FillAllRows(qry, qryRival);
}

bool TMainData::RefreshRowData(int position) {
    if (position < 0 || position >= grid.rowCount())
        return false;
    const QString id = grid.item(position).ItemID;
    // The rows and the row's number from one state of the file.
    const TReadTransaction snapshot(con);
    // Re-reads only this item's rows into the open sets: the same content a full re-open
    // would give for the row, at a cost that does not grow with the catalogue.
    qry.RefreshByKey(QStringLiteral("ItemID"), id);
    qryRival.RefreshByKey(QStringLiteral("LocalItemID"), id);
    statuses.ReloadItem(con, id);
    if (!qry.Locate(QStringLiteral("ItemID"), {id}))
        return false;
    // The row's number is its place in the table as it stands now, which a re-opened result
    // would give; rows are kept in the order they were appended.
    const QVariant count = con.value(QStringLiteral("select count(*) from Items where rowid<=?"), {qry.RowId()});
    const int number = count.isValid() ? count.toInt() : qry.RecNo() + 1;
    grid.FillRow(position, qry, qryRival, number);
    return true;
}

} // namespace vantero
