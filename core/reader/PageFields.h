#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace vantero {

class TPageText;

// Failure texts of pages that are not the item but a wall in front of it.
namespace PageTexts {
inline const QString NeedsLogin = QStringLiteral("需要登录才能查看该宝贝");
inline const QString Verification = QStringLiteral("被网站的访问验证拦截，请稍后再试");
inline const QString AccessDenied = QStringLiteral("网站拒绝访问该宝贝页面，请稍后再试");
} // namespace PageTexts

// Where a field's value came from, in the order they are tried.
enum class TFieldSource {
    None,          // nowhere on the page
    ExactMarker,   // the hidden input exactly as the marketplace wrote it, or the sales markers
    TolerantInput, // the same <input>, attributes in any order and form
    MainTitle,     // the item's main title element
    DocumentTitle, // the document <title> without the marketplace's suffix
    ConfigScript,  // the page's configuration script (sellerNick, itemId)
    ShopContact,   // data-nick of the shop's contact element
    Address,       // the id parameter of the address
    PriceElement,  // the price shown on the page
};

// A short English key ("exact-marker") and a Chinese description of a source.
QString FieldSourceKey(TFieldSource source);
QString FieldSourceText(TFieldSource source);

struct TFieldReading {
    QString text; // as found (references decoded; control characters other than tab dropped)
    TFieldSource source = TFieldSource::None;
    QString detail; // which input, key, element or address
};

enum class TPageKind {
    TooShort,     // 100 bytes or less: not read
    Read,         // read as an item page (which may still lack an item id)
    Login,        // the marketplace's login page
    Verification, // a slider, captcha or other verification wall
    AccessDenied, // an "access denied" page
};

struct TItemFields {
    TPageKind kind = TPageKind::TooShort;
    QString blockText;     // the failure text of a login or block page
    QString blockEvidence; // what gave it away
    QByteArray encoding;   // what the page was read as
    QByteArray declaredCharset;
    bool declarationOverruled = false;

    TFieldReading itemName;
    TFieldReading sellerNick;
    TFieldReading itemId;
    TFieldReading price;
    TFieldReading sellCount;
    double priceValue = 0;
    int sellCountValue = 0;

    bool blocked() const {
        return kind == TPageKind::Login || kind == TPageKind::Verification || kind == TPageKind::AccessDenied;
    }
};

// Every field of an item page: the page's bytes, its Content-Type, the address that was read and
// the address reached after redirects (empty when there were none). Pure; any thread.
// Exact markers first; for a field they leave empty, the tolerant input and then the field's
// fallbacks (see the README, "How item pages are read"). A redirect to a login page, a password
// form, or a verification or access-denied page without an item id is reported as blocked.
TItemFields ReadItemFields(const QByteArray& page, const QByteArray& contentType, const QUrl& address,
                           const QUrl& finalAddress = {});
TItemFields ReadItemFields(const TPageText& page, const QUrl& address, const QUrl& finalAddress = {});

// Conversions of the price and sales texts; 0 when the text is not such a number.
double ConvertPriceText(const QString& text);
int ConvertSalesText(const QString& text);

// HTML character references (numeric ones and the common named ones) decoded; unknown names stay.
QString DecodeCharacterReferences(QStringView text);
// Control characters other than tab (C0, DEL, C1) dropped.
QString WithoutControlCharacters(const QString& text);

} // namespace vantero
