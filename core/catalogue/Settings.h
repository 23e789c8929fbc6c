#pragma once

#include "store/RecordSet.h"

#include <QString>

#include <optional>

namespace vantero {

// Texts of the settings.
namespace SettingTexts {
inline const QString Caption = QStringLiteral("系统设置");
inline const QString IntervalLabel = QStringLiteral("自动更新数据时间间隔");
inline const QString Minutes = QStringLiteral("分钟");
inline const QString OwnAccountLabel = QStringLiteral("我的旺旺");
inline const QString Save = QStringLiteral("保存");
inline const QString Cancel = QStringLiteral("取消");
inline const QString TooShort = QStringLiteral("不能设置时间小于15分钟,请重设.");
inline const QString Saved = QStringLiteral("保存成功");
inline const QString TlsResume = QStringLiteral("复用加密会话");
} // namespace SettingTexts

// Texts of the own shop's fields, kept apart from the interval in a small window of their own.
namespace OwnShopTexts {
inline const QString Caption = QStringLiteral("我的店铺");
inline const QString Command = QStringLiteral("我的店铺…");
inline const QString OwnAccountLabel = QStringLiteral("我的旺旺");
inline const QString ShopNameLabel = QStringLiteral("我的店铺名称");
} // namespace OwnShopTexts

// The Setting row as the settings show it: each column as text, empty when the row is missing.
struct TSettingValues {
    QString updateTimeOut;
    QString ownAccount;
    bool rowExists = false;
};

// Opens qry on the Setting row (it stays there for StoreSettings) and reads it.
TSettingValues LoadSettings(TRecordSet& qry);

// The typed interval in minutes: a decimal integer, blanks around it allowed; anything else is 0,
// numbers beyond the 32-bit range included (they are no 32-bit number, so they are refused).
int ParseUpdateMinutes(const QString& text);

// Whether an interval may be stored (the 15-minute floor).
bool IsAllowedUpdateMinutes(int minutes);

// Writes the given values into the Setting row qry stands on (a new row when there is none).
// Values not given stay as they are. The own account is stored without surrounding blanks.
void StoreSettings(TRecordSet& qry, std::optional<int> minutes, std::optional<QString> ownAccount);

// The own shop as the user edits it: the account (Setting.WW) and the shop's name, which decides
// for own pages that name only their shop.
struct TOwnShopValues {
    QString ownAccount;
    QString shopName;
    bool rowExists = false; // whether the Setting row is there to keep the account in
};

// Opens qry on the Setting row (it stays there for StoreOwnShop) and reads both values.
// accountInUse is what the program works with: shown when the file has no row to hold one.
TOwnShopValues LoadOwnShop(TRecordSet& qry, const QString& accountInUse);

// What saving writes: a value only when the user changed it (blanks around aside), so a value
// another program stored meanwhile is never emptied by a box the user did not touch. Without a
// Setting row the account is always written, so the row keeps the account in use.
struct TOwnShopChange {
    std::optional<QString> ownAccount;
    std::optional<QString> shopName;
};
TOwnShopChange OwnShopChanges(const TOwnShopValues& shown, const QString& typedAccount, const QString& typedShopName);

// Writes the given values trimmed, both in one step; values not given stay as they are.
void StoreOwnShop(TRecordSet& qry, const TOwnShopChange& change);

// Whether https downloads carry TLS sessions and TCP Fast Open cookies from one to the next: faster
// on a slow line, but the readings are no longer independent and a server can link them. Off
// unless the user turned it on.
bool TlsResumeOn(const TConnection& con);
// Stores the choice and applies it to this process's downloads.
void SetTlsResume(const TConnection& con, bool on);
// Applies the stored choice to this process's downloads (at start, before readings).
void ApplyTlsResume(const TConnection& con);

} // namespace vantero
