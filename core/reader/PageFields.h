#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace vantero {

class TPageText;

// Failure texts of pages that are not the item but a wall in front of it.
namespace PageTexts {
inline const QString NeedsLogin = QStringLiteral("需要登录才能查看该宝贝");
inline const QString Verification = QStringLiteral("被网站的访问验证拦截，请稍后再试");
inline const QString AccessDenied = QStringLiteral("网站拒绝访问该宝贝页面，请稍后再试");
// Item pages that cannot be a good reading.
inline const QString NoPrice = QStringLiteral("页面中没有价格");
inline const QString InvalidPrice = QStringLiteral("页面中的价格无效");
inline const QString Gone = QStringLiteral("宝贝已下架或不存在");
} // namespace PageTexts

// Where a field's value came from, in the order they are tried.
enum class TFieldSource {
    None,          // nowhere on the page
    ExactMarker,   // the hidden input exactly as the marketplace wrote it, or the sales markers
    EmbeddedData,  // data in the page's scripts, JSON-LD, Open Graph, or a data answer
    TolerantInput, // the same <input>, attributes in any order and form
    MainTitle,     // the item's main title element
    DocumentTitle, // the document <title> without the marketplace's suffix
    ShopContact,   // data-nick of the shop's contact element
    Address,       // the id parameter of the address, where the page agrees
    PriceElement,  // the price shown on the page
    ShopName,      // the shop's name (a page that names no seller account)
};

// A short English key ("exact-marker") and a Chinese description of a source.
QString FieldSourceKey(TFieldSource source);
QString FieldSourceText(TFieldSource source);

struct TFieldReading {
    QString text; // as found (references decoded; control characters other than tab dropped)
    TFieldSource source = TFieldSource::None;
    QString detail;         // which input, key, element or address
    QStringList passedOver; // other candidates, "where = value", in the order they were passed over
};

// Whether the page gave a price: a number above 0, a number of 0 or less, or none at all.
enum class TPriceState { Found, Invalid, Missing };

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
    TFieldReading shopName; // the shop's name as the page gives it
    double priceValue = 0;  // the low end of a range
    double priceHigh = 0;   // the high end of a range (= priceValue for a single price)
    TPriceState priceState = TPriceState::Missing;
    bool promotionPrice = false; // the price is a running promotion's
    int sellCountValue = 0;
    bool gone = false; // the page says the item is gone
    QString goneEvidence;
    bool rendered = false; // read from a browser's document

    bool blocked() const {
        return kind == TPageKind::Login || kind == TPageKind::Verification || kind == TPageKind::AccessDenied;
    }
};

// Every field of an item page: the page's bytes, its Content-Type, the address that was read and
// the address reached after redirects (empty when there were none). Pure; any thread.
// Exact markers first (not on a rendered document, whose serialiser writes inputs differently);
// for a field they leave empty, the page's embedded data, then its markup, then the address's id
// where the page agrees (see the README, "What the reader reads"). A page that shows a login or
// verification wall or a refusal, by its content, and has no item id of its own is reported as
// blocked.
TItemFields ReadItemFields(const QByteArray& page, const QByteArray& contentType, const QUrl& address,
                           const QUrl& finalAddress = {}, bool rendered = false);
TItemFields ReadItemFields(const TPageText& page, const QUrl& address, const QUrl& finalAddress = {},
                           bool rendered = false);

// Conversions of the price and sales texts; 0 when the text is not such a number.
double ConvertPriceText(const QString& text);
int ConvertSalesText(const QString& text);

// HTML character references (numeric ones and the common named ones) decoded; unknown names stay.
QString DecodeCharacterReferences(QStringView text);
// Control characters other than tab (C0, DEL, C1) dropped.
QString WithoutControlCharacters(const QString& text);

} // namespace vantero
