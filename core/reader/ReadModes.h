#pragma once

#include <QString>

namespace vantero {

class TConnection;

// How a page is read: directly (the page's bytes as the server sends them) or in the offscreen
// browser, which runs the page's scripts first. A page without a stored choice is read directly.
enum TReadMode { rmDirect = 0, rmBrowser = 1 };

namespace ReadModeTexts {
inline const QString Direct = QStringLiteral("直接读取");
inline const QString Browser = QStringLiteral("浏览器读取");
} // namespace ReadModeTexts

// The stored choice of the page (localItemID, rivalWW); rivalWW '' names the own item's page.
TReadMode PageReadMode(const TConnection& con, const QString& localItemID, const QString& rivalWW);
void SetPageReadMode(const TConnection& con, const QString& localItemID, const QString& rivalWW, TReadMode mode);

// The choice for a reading as the reader knows it: an own page by its address (its item id is
// not known before the reading), a rival's page by the own item and the expected rival account.
TReadMode ReadModeForReading(const TConnection& con, const QString& url, const QString& localItemID,
                             const QString& expectedSeller);

// Whether a direct reading that found no item, or a login or block page, is tried again in the
// browser. On unless switched off.
bool BrowserFallbackOn(const TConnection& con);
void SetBrowserFallback(const TConnection& con, bool on);
// For this process, the retry regardless of the stored option (a command that asks for it).
void ForceBrowserFallback(bool on);

// "我的店铺名称": the own shop's name, for own pages that name only their shop.
QString OwnShopName(const TConnection& con);
void SetOwnShopName(const TConnection& con, const QString& name);
// The shop name stored for the seller a reading expects: the own shop's name for an own page
// (localItemID empty), else the Rival table's ShopName of that account (blanks and ASCII case
// aside, as the seller check compares accounts); trimmed, empty when none is stored.
QString ExpectedShopName(const TConnection& con, const QString& localItemID, const QString& expectedSeller);

} // namespace vantero
