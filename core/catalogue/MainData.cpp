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
    ReloadItemRows();
}

void TMainData::ReloadItemRows() {
    const TReadTransaction snapshot(con); // the items and their readings from one state of the file
    qry.Reopen(kSelectItems);
    statuses.Load(con, statusScope);
    FillAllRows();
}

void TMainData::FillAllRows() {
    // The rows read the rivals' readings straight from the file, so nothing holds every reading
    // once the grid is filled; a refill shows every reading in the file, as a refresh cycle does.
    qryRival.Close();
    grid.FillAllRows(qry, con);
}

bool TMainData::RefreshRowData(int position) {
    if (position < 0 || position >= grid.rowCount())
        return false;
    const QString id = grid.item(position).ItemID;
    // The rows and the row's number from one state of the file.
    const TReadTransaction snapshot(con);
    // Re-reads only this item's rows: the same content a full re-open would give for the row,
    // at a cost that does not grow with the catalogue. qryRival holds this item's readings only.
    qry.RefreshByKey(QStringLiteral("ItemID"), id);
    qryRival.Reopen(kSelectItemReadings, {id});
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
