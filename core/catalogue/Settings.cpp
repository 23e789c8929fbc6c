#include "catalogue/Settings.h"

#include "catalogue/MainData.h"
#include "common/TextHelpers.h"
#include "net/HttpEngine.h"
#include "reader/ReadModes.h"
#include "store/AddedTables.h"
#include "store/Connection.h"

#include <climits>

namespace vantero {

TSettingValues LoadSettings(TRecordSet& qry) {
    qry.Reopen(kSelectSetting);
    if (qry.Eof())
        return {};
    return {qry.FieldByName(QStringLiteral("UpdateTimeOut")).AsString(),
            qry.FieldByName(QStringLiteral("WW")).AsString(), true};
}

int ParseUpdateMinutes(const QString& text) {
    const QString s = TrimBlanks(text);
    qsizetype at = 0;
    bool negative = false;
    if (at < s.size() && (s[at] == u'-' || s[at] == u'+')) {
        negative = s[at] == u'-';
        ++at;
    }
    if (at == s.size())
        return 0;
    qint64 value = 0;
    for (; at < s.size(); ++at) {
        const QChar c = s[at];
        if (c < u'0' || c > u'9')
            return 0;
        value = value * 10 + (c.unicode() - u'0');
        // Beyond 32 bits the text is no 32-bit number, and a value the user did not type must
        // not be stored in its place.
        if (value > qint64(INT_MAX) + 1)
            return 0;
    }
    if (negative)
        value = -value;
    if (value < INT_MIN || value > INT_MAX)
        return 0;
    return int(value);
}

bool IsAllowedUpdateMinutes(int minutes) {
    return minutes >= kMinimumUpdateMinutes;
}

void StoreSettings(TRecordSet& qry, std::optional<int> minutes, std::optional<QString> ownAccount) {
    if (!qry.Active())
        qry.Reopen(kSelectSetting);
    if (!qry.Eof())
        qry.First();
    qry.Edit(); // begins a new row when the table has none
    if (minutes)
        qry.FieldByName(QStringLiteral("UpdateTimeOut")).SetAsInteger(*minutes);
    if (ownAccount)
        qry.FieldByName(QStringLiteral("WW")).SetAsString(TrimBlanks(*ownAccount));
    qry.Post();
}

TOwnShopValues LoadOwnShop(TRecordSet& qry, const QString& accountInUse) {
    const TSettingValues row = LoadSettings(qry);
    return {row.rowExists ? row.ownAccount : accountInUse, OwnShopName(qry.Connection()), row.rowExists};
}

TOwnShopChange OwnShopChanges(const TOwnShopValues& shown, const QString& typedAccount, const QString& typedShopName) {
    TOwnShopChange change;
    const QString account = TrimBlanks(typedAccount);
    if (!shown.rowExists || account != TrimBlanks(shown.ownAccount))
        change.ownAccount = account;
    const QString shop = TrimBlanks(typedShopName);
    if (shop != TrimBlanks(shown.shopName))
        change.shopName = shop;
    return change;
}

void StoreOwnShop(TRecordSet& qry, const TOwnShopChange& change) {
    TWriteTransaction step(qry.Connection());
    if (change.ownAccount)
        StoreSettings(qry, std::nullopt, *change.ownAccount);
    if (change.shopName)
        SetOwnShopName(qry.Connection(), TrimBlanks(*change.shopName));
    step.Commit();
}

namespace {
const QString kTlsResumeOption = QStringLiteral("TlsResume");
} // namespace

bool TlsResumeOn(const TConnection& con) {
    return ReadOption(con, kTlsResumeOption, 0).toInt() != 0;
}

void SetTlsResume(const TConnection& con, bool on) {
    WriteOption(con, kTlsResumeOption, on ? 1 : 0);
    SetHttpSessionReuse(on);
}

void ApplyTlsResume(const TConnection& con) {
    SetHttpSessionReuse(TlsResumeOn(con));
}

} // namespace vantero
