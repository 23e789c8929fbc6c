#pragma once

#include "catalogue/GridData.h"
#include "store/RecordSet.h"

#include <QStringList>

namespace vantero {

// Statements of the main window's record sets.
inline const QString kSelectItems = QStringLiteral("select * from Items");
inline const QString kSelectRival = QStringLiteral("select * from Rival");
inline const QString kSelectRivalItems = QStringLiteral("select * from RivalItems");
// One own item's rival readings, in the file's order, matched as the grid's lookups match.
inline const QString kSelectItemReadings =
    QStringLiteral("select * from RivalItems where LocalItemID=? collate nocase order by rowid");
inline const QString kSelectSetting = QStringLiteral("select * from Setting limit 1");

inline constexpr int kMinimumUpdateMinutes = 15;
inline constexpr int kDefaultUpdateMinutes = 60;

// What the main window holds that is not a window: the connection, its record sets, the rival
// lists, the own account and the grid's content, with the data steps of the refresh cycle.
// The window and the command-line tool share it.
class TMainData {
public:
    explicit TMainData(TConnection connection);

    // Reads the settings row, storing 60 minutes when the interval is below 15 or the row is
    // missing; sets OwnAccount. Returns the interval in minutes.
    int ApplySettings();
    void LoadRivals();
    // The refresh cycle's data steps: rivals, layout, record sets, rows.
    void RefreshAllData();
    // Re-opens Items and RivalItems and refills the row at position from them. False when the
    // position is not a row or its item is gone (the row then stays as it was).
    bool RefreshRowData(int position);
    // Re-opens qry on Items and refills all rows.
    void ReloadItemRows();
    // Refills all rows from qry as it stands and the rivals' readings in the file.
    void FillAllRows();

    TConnection con;
    TRecordSet qry;
    // The rival readings of the row last refreshed (RefreshRowData); the grid's rows are filled
    // from the file, so this never holds every reading.
    TRecordSet qryRival;
    TRecordSet qryDetail;
    TRecordSet qrytmp;
    QStringList RivalAccounts;
    QStringList RivalShopURLs;
    QString OwnAccount;
    TGridData grid;
    // The grid's page statuses; the window needs only the failing pages, the CLI all of them.
    TPageStatuses statuses;
    TPageStatuses::Scope statusScope = TPageStatuses::Scope::Failing;
};

} // namespace vantero
