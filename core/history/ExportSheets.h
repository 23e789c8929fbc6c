#pragma once

#include "history/SheetExport.h"
#include "store/Connection.h"

namespace vantero {

// What can be exported.
enum class TExportSource { Grid, Failures, Alerts, History };

namespace ExportTexts {
inline const QString GridSheet = QStringLiteral("比较表格");
inline const QString FailuresSheet = QStringLiteral("读取失败的宝贝");
inline const QString AlertsSheet = QStringLiteral("价格提醒");
inline const QString HistorySheet = QStringLiteral("价格历史");
} // namespace ExportTexts

// The comparison grid as it stands: band captions, column captions, and per row the number,
// the name, and prices and sales as numbers, with the grid's colours.
TSheet GridSheet(const TGridData& grid);
// The same sheet read from the file while it is written (rows are never held): the grid the
// window would show for these shops and this own account.
TSheet GridSheetFromFile(const TConnection& con, const QStringList& rivalAccounts, const QString& ownAccount);
// Every page whose last attempt failed or was refused.
TSheet FailuresSheet(const TConnection& con);
// Every alert, newest first.
TSheet AlertsSheet(const TConnection& con);
// The price history of an own item's pages, oldest first; shops by account, "自己" for the own.
TSheet HistorySheet(const TConnection& con, const QString& itemId);

} // namespace vantero
