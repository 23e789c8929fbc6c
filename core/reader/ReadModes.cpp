#include "reader/ReadModes.h"

#include "common/TextHelpers.h"
#include "store/AddedTables.h"
#include "store/Connection.h"
#include "store/Statement.h"

#include <atomic>

namespace vantero {

namespace {

const QString kFallbackOption = QStringLiteral("BrowserFallback");
const QString kOwnShopOption = QStringLiteral("OwnShopName");
std::atomic<bool> gFallbackForced{false};

TReadMode ToMode(const QVariant& value) {
    return !value.isNull() && value.toInt() == rmBrowser ? rmBrowser : rmDirect;
}

} // namespace

TReadMode PageReadMode(const TConnection& con, const QString& localItemID, const QString& rivalWW) {
    return ToMode(con.value(QStringLiteral("select Mode from ReadModes where LocalItemID=? and RivalWW=?"),
                            {localItemID, rivalWW}));
}

void SetPageReadMode(const TConnection& con, const QString& localItemID, const QString& rivalWW, TReadMode mode) {
    con.exec(QStringLiteral("insert into ReadModes (LocalItemID, RivalWW, Mode) values (?, ?, ?) "
                            "on conflict (LocalItemID, RivalWW) do update set Mode=excluded.Mode"),
             {localItemID, rivalWW, int(mode)});
}

TReadMode ReadModeForReading(const TConnection& con, const QString& url, const QString& localItemID,
                             const QString& expectedSeller) {
    const QString own = TrimBlanks(localItemID);
    if (own.isEmpty()) {
        return ToMode(con.value(QStringLiteral("select r.Mode from ReadModes r join Items i on i.ItemID=r.LocalItemID "
                                               "where r.RivalWW='' and i.URL=? order by r.Mode desc limit 1"),
                                {url}));
    }
    // Accounts compare as the seller check compares them: blanks and ASCII case aside.
    return ToMode(con.value(QStringLiteral("select Mode from ReadModes where LocalItemID=? and RivalWW<>'' and "
                                           "lower(trim(RivalWW))=? order by Mode desc limit 1"),
                            {own, LowerAscii(TrimBlanks(expectedSeller))}));
}

bool BrowserFallbackOn(const TConnection& con) {
    if (gFallbackForced.load(std::memory_order_relaxed))
        return true;
    return ReadOption(con, kFallbackOption, 1).toInt() != 0;
}

void SetBrowserFallback(const TConnection& con, bool on) {
    WriteOption(con, kFallbackOption, on ? 1 : 0);
}

} // namespace vantero

namespace vantero {

void ForceBrowserFallback(bool on) {
    gFallbackForced.store(on, std::memory_order_relaxed);
}

} // namespace vantero

namespace vantero {

QString OwnShopName(const TConnection& con) {
    return ReadOption(con, kOwnShopOption, QString()).toString();
}

void SetOwnShopName(const TConnection& con, const QString& name) {
    WriteOption(con, kOwnShopOption, name);
}

QString ExpectedShopName(const TConnection& con, const QString& localItemID, const QString& expectedSeller) {
    if (TrimBlanks(localItemID).isEmpty())
        return TrimBlanks(OwnShopName(con));
    TStatement rivals(con, QStringLiteral("select RivalWW, ShopName from Rival"));
    const QString wanted = LowerAscii(TrimBlanks(expectedSeller));
    while (rivals.Step()) {
        const QString account = rivals.Text(0);
        if (LowerAscii(TrimBlanks(account)) == wanted)
            return TrimBlanks(rivals.Text(1));
    }
    return {};
}

} // namespace vantero
