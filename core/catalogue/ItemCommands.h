#pragma once

#include "catalogue/GridData.h"
#include "store/RecordSet.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace vantero {

// Texts of the detail list, the single readings and the item commands.
namespace ItemTexts {
inline const QString Own = QStringLiteral("自己");
inline const QString RivalNotSet = QStringLiteral("(未设置)");
inline const QString OwnNeverRead = QStringLiteral("未曾读取");
inline const QString RivalNotRead = QStringLiteral("(未读取)");
inline const QString MappingNotSet = QStringLiteral("未设置");
inline const QString WrongSeller = QStringLiteral("读到的宝贝不是您所选的卖家的，请输入正确的宝贝地址");
inline const QString ReadFailed = QStringLiteral("读取宝贝失败，请确认宝贝地址是否正确 ");
inline const QString UnknownError = QStringLiteral("未知错误");
inline const QString SelectDetailRow = QStringLiteral("请先选择您需要更新价格的宝贝");
inline const QString RivalItemMissing = QStringLiteral("您还未设置对应 %1 的宝贝");
inline const QString NoAddressToOpen = QStringLiteral("您未设置对应该卖家的宝贝");
inline const QString AskDelete = QStringLiteral("您确定您要删除 %1 吗？");
inline const QString Deleted = QStringLiteral("%1 已被删除");
inline const QString Reading = QStringLiteral("正在读取 %1 的宝贝，请稍候...");
} // namespace ItemTexts

// A reading time as the lists show it: the system's short date, a blank and its long time
// (without a time-zone name); the time is left out at exactly midnight. Empty for the zero
// date-time.
QString FormatReadingTime(const QDateTime& value);

// The message a single reading reports for a result code; empty for a stored reading (0, 1).
QString ReadResultMessage(int code);

// The detail list: row 0 is the own shop, row r >= 1 the rival of entry r-1. A row's texts are
// the caption followed by the five sub-texts (owner, title, price, time, page address).
enum { kDetailCaption, kDetailOwner, kDetailName, kDetailPrice, kDetailTime, kDetailURL, kDetailColumns };

// Rows holding only numbers and owners, as before any item is shown.
QList<QStringList> BlankDetailRows(const QStringList& rivalAccounts);
// Opens qryDetail on the rival readings of an own item (rows with an item id only).
void OpenDetailReadings(TRecordSet& qryDetail, const QString& itemId);
// Sub-texts 1 to 4 of the own row.
QStringList OwnDetailTexts(const TItem& item);
// Sub-texts 1 to 4 of a rival row, from qryDetail as opened for the item.
QStringList RivalDetailTexts(TRecordSet& qryDetail, const QString& owner);
// The page address of the rival's item in qryDetail, trimmed; empty when it has none.
QString RivalItemAddress(TRecordSet& qryDetail, const QString& account);
// Every detail row of an item: opens qryDetail and fills all rows.
QList<QStringList> DetailRows(const QStringList& rivalAccounts, const TItem& item, TRecordSet& qryDetail);

// The own item of that id in an Items record set (keyed lookup; the set's current row is then
// the item's record), or nothing.
std::optional<TItem> LocateItem(TRecordSet& items, const QString& itemId);
// Deletes the current record of items (the item) and every rival reading stored for it.
void DeleteLocatedItem(TRecordSet& items, const TConnection& con, const QString& itemId);
// Stores a display name for the item through an Items record set; false when there is no such
// item. Only that column is written, so readings stored meanwhile survive.
bool StoreCustomName(TRecordSet& items, const QString& itemId, const QString& name);

// The mapping list of one own item: one row per rival (number, account trimmed, address of the
// mapped rival item or "未设置"), mappings being the item's RivalItems rows.
void OpenMappings(TRecordSet& mappings, const QString& itemId);
QList<QStringList> MappingRows(TRecordSet& mappings, const QStringList& rivalAccounts);
// Removes the mapping of the item to the rival's item together with its last reading.
void DeleteMapping(const TConnection& con, const QString& itemId, const QString& account);

} // namespace vantero
