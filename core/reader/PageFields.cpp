#include "reader/PageFields.h"

#include "common/TextHelpers.h"
#include "reader/PageStructure.h"
#include "reader/PageText.h"

#include <QHash>
#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QUrlQuery>

#include <climits>

namespace vantero {

namespace {

// The exact markers, written in Unicode; they are encoded into each page's own encoding.
const QString kTitleStart = QStringLiteral("<input type=\"hidden\" name=\"title\" value=\"");
const QString kSellerStart = QStringLiteral("<input type=\"hidden\" name=\"seller_nickname\" value=\"");
const QString kPriceStart = QStringLiteral("<input type=\"hidden\" name=\"current_price\" value= \"");
const QString kItemIdStart = QStringLiteral("<input type=\"hidden\" name=\"item_id_num\" value=\"");
const QString kInputEnd = QStringLiteral("\" />");
const QString kSales30Start = QStringLiteral("30天售出：</span><em>");
const QString kSalesTotalStart = QStringLiteral("<span>已 售 出：</span><em>");
const QString kSalesEnd = QStringLiteral("</em>件");

constexpr int kParseThreshold = 100;

bool IsAsciiLetter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsIdentifierChar(QChar c) {
    return IsAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'_' || c == u'$';
}

bool AllDigits(const QString& text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

QString Money(double value) {
    return QString::number(value, 'f', 2);
}

// --- Walls ---

const QStringList& VerificationMarkers() {
    static const QStringList markers = {
        QStringLiteral("滑块"),     QStringLiteral("滑动验证"),      QStringLiteral("拖动到最右边"),
        QStringLiteral("验证码"),   QStringLiteral("安全验证"),      QStringLiteral("访问验证"),
        QStringLiteral("人机验证"), QStringLiteral("captcha"),       QStringLiteral("nocaptcha"),
        QStringLiteral("x5sec"),    QStringLiteral("_____tmd_____"), QStringLiteral("punish"),
    };
    return markers;
}

const QStringList& DeniedMarkers() {
    static const QStringList markers = {
        QStringLiteral("access denied"), QStringLiteral("access is denied"), QStringLiteral("访问被拒绝"),
        QStringLiteral("拒绝访问"),      QStringLiteral("禁止访问"),
    };
    return markers;
}

bool Contains(const QString& text, const QStringList& markers, QString* found) {
    for (const QString& marker : markers) {
        if (text.contains(marker, Qt::CaseInsensitive)) {
            *found = marker;
            return true;
        }
    }
    return false;
}

void Block(TItemFields& fields, TPageKind kind, const QString& evidence) {
    fields.kind = kind;
    fields.blockEvidence = evidence;
    fields.blockText = kind == TPageKind::Login          ? PageTexts::NeedsLogin
                       : kind == TPageKind::Verification ? PageTexts::Verification
                                                         : PageTexts::AccessDenied;
}

// A page without an item id of its own that shows a password form, a verification or a refusal:
// told by its content only, never by its address.
bool DetectWall(TItemFields& fields, const QString& text, const TPageStructure& structure) {
    if (structure.passwordForm) {
        Block(fields, TPageKind::Login, QStringLiteral("密码输入框"));
        return true;
    }
    QString marker;
    if (Contains(text, VerificationMarkers(), &marker)) {
        Block(fields, TPageKind::Verification, QStringLiteral("页面含“%1”").arg(marker));
        return true;
    }
    if (Contains(text, DeniedMarkers(), &marker)) {
        Block(fields, TPageKind::AccessDenied, QStringLiteral("页面含“%1”").arg(marker));
        return true;
    }
    return false;
}

// --- Fields ---

bool Found(const TFieldReading& field) {
    return field.source != TFieldSource::None;
}

void Take(TFieldReading& field, const QString& text, TFieldSource source, const QString& detail) {
    if (Found(field) || TrimBlanks(text).isEmpty())
        return;
    field.text = text;
    field.source = source;
    field.detail = detail;
}

// Whether the page's bytes hold any of the words a gone page uses; a cheap look before parsing.
bool MayBeGone(const TPageText& page) {
    // The words in the two encodings item pages come in are made once: making an encoder is
    // dearer than the search.
    static const auto encoded = [](const char* encoding) {
        QList<QByteArray> words;
        QStringEncoder encoder(encoding);
        for (const QString& word : GoneWords())
            words << QByteArray(encoder(word));
        return words;
    };
    static const QList<QByteArray> utf8 = encoded("UTF-8");
    static const QList<QByteArray> gb18030 = encoded("GB18030");
    const QByteArray encoding = page.encoding();
    QList<QByteArray> words;
    if (encoding == "UTF-8")
        words = utf8;
    else if (encoding == "GB18030" || encoding == "GBK" || encoding == "GB2312")
        words = gb18030;
    else
        for (const QString& word : GoneWords())
            words << page.encode(word);
    return std::any_of(words.cbegin(), words.cend(), [&](const QByteArray& w) { return page.bytes().contains(w); });
}

QString Candidate(const QString& detail, const QString& text) {
    return detail + QStringLiteral(" = ") + text;
}

// The first of the candidates (in their order of trust) for a field the exact markers left
// empty; the others are noted as passed over. sourceOf tells a markup candidate's kind.
template <typename SourceOf>
void TakeFirst(TFieldReading& field, const QList<TCandidate>& candidates, SourceOf sourceOf) {
    for (const TCandidate& candidate : candidates) {
        if (!Found(field) && !TrimBlanks(candidate.text).isEmpty()) {
            Take(field, candidate.text, candidate.fromData ? TFieldSource::EmbeddedData : sourceOf(candidate),
                 candidate.detail);
        } else if (field.passedOver.size() < 12 && candidate.text != field.text) {
            field.passedOver << Candidate(candidate.detail, candidate.text);
        }
    }
}

TFieldSource MarkupTitleSource(const TCandidate& c) {
    if (c.detail.startsWith(QLatin1String("<input")))
        return TFieldSource::TolerantInput;
    return c.detail == u"<title>" ? TFieldSource::DocumentTitle : TFieldSource::MainTitle;
}

TFieldSource MarkupSellerSource(const TCandidate& c) {
    return c.detail.startsWith(QLatin1String("<input")) ? TFieldSource::TolerantInput : TFieldSource::ShopContact;
}

// The item id among the page's own candidates: the one the address names when the page names it
// too (a page lists other items' ids as well), else the first in order of trust.
void TakeItemId(TFieldReading& field, const QList<TCandidate>& candidates, const QString& addressId) {
    if (!addressId.isEmpty()) {
        for (const TCandidate& candidate : candidates) {
            if (candidate.text == addressId) {
                Take(field, candidate.text,
                     candidate.fromData ? TFieldSource::EmbeddedData : TFieldSource::TolerantInput, candidate.detail);
                break;
            }
        }
    }
    TakeFirst(field, candidates, [](const TCandidate&) { return TFieldSource::TolerantInput; });
}

QString AddressId(const QUrl& address, const QUrl& finalAddress, QUrl* from) {
    for (const QUrl& url : {address, finalAddress}) {
        const QUrlQuery query(url);
        const QString id = TrimBlanks(query.queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded));
        if (AllDigits(id) && id.size() <= 24) {
            *from = url;
            return id;
        }
    }
    return {};
}

QString PriceDetail(const TPriceCandidate& price) {
    QString detail = price.detail;
    if (price.promotion)
        detail += QStringLiteral("（促销价）");
    if (price.high > price.low)
        detail += QStringLiteral("（区间 %1-%2，取低端）").arg(Money(price.low), Money(price.high));
    return detail;
}

// The price a buyer pays for the cheapest variant now: a running promotion beats the listed
// price; among listed prices the most trusted kind decides, its lowest variant; a range counts by
// its low end. Embedded data before markup.
void DecidePrice(TItemFields& fields, const TPageStructure& structure) {
    const TPriceCandidate* best = nullptr;
    auto better = [](const TPriceCandidate& a, const TPriceCandidate* b) {
        if (!b)
            return true;
        if (a.fromData != b->fromData)
            return a.fromData;
        if (a.promotion != b->promotion)
            return a.promotion;
        if (a.rank != b->rank)
            return a.rank < b->rank;
        return a.low < b->low;
    };
    for (const TPriceCandidate& price : structure.prices) {
        if (better(price, best))
            best = &price;
    }
    for (const TPriceCandidate& price : structure.prices) {
        if (&price != best && fields.price.passedOver.size() < 12)
            fields.price.passedOver << Candidate(price.detail, price.text);
    }
    for (const TPriceCandidate& price : structure.passedOverPrices) {
        if (fields.price.passedOver.size() < 12)
            fields.price.passedOver << Candidate(price.detail, price.text) + (price.low <= 0
                                                                                  ? QStringLiteral("（不大于 0）")
                                                                                  : QStringLiteral("（促销未开始）"));
    }
    if (!best)
        return;
    fields.price.text = best->text;
    fields.price.source = best->fromData                                     ? TFieldSource::EmbeddedData
                          : best->detail.startsWith(QLatin1String("<input")) ? TFieldSource::TolerantInput
                                                                             : TFieldSource::PriceElement;
    fields.price.detail = PriceDetail(*best);
    fields.priceValue = best->low;
    fields.priceHigh = best->high;
    fields.promotionPrice = best->promotion;
    fields.priceState = TPriceState::Found;
}

// The sales figure in data: a number, or a number with words around it ("月销 2247", "100+").
int DataSales(const QString& text) {
    qsizetype at = 0;
    while (at < text.size() && !text[at].isDigit())
        ++at;
    qsizetype end = at;
    while (end < text.size() && (text[end].isDigit() || text[end] == u','))
        ++end;
    QString digits = text.mid(at, end - at);
    digits.remove(u',');
    bool ok = false;
    qint64 value = digits.toLongLong(&ok);
    if (!ok)
        return 0;
    if (end < text.size() && text[end] == u'万')
        value *= 10000;
    return value > INT_MAX ? 0 : int(value);
}

void Sanitize(TFieldReading& field) {
    field.text = WithoutControlCharacters(field.text);
}

} // namespace

QString FieldSourceKey(TFieldSource source) {
    switch (source) {
    case TFieldSource::None:
        return QStringLiteral("none");
    case TFieldSource::ExactMarker:
        return QStringLiteral("exact-marker");
    case TFieldSource::EmbeddedData:
        return QStringLiteral("data");
    case TFieldSource::TolerantInput:
        return QStringLiteral("tolerant-input");
    case TFieldSource::MainTitle:
        return QStringLiteral("main-title");
    case TFieldSource::DocumentTitle:
        return QStringLiteral("document-title");
    case TFieldSource::ShopContact:
        return QStringLiteral("shop-contact");
    case TFieldSource::Address:
        return QStringLiteral("address");
    case TFieldSource::PriceElement:
        return QStringLiteral("price-element");
    case TFieldSource::ShopName:
        return QStringLiteral("shop-name");
    }
    return QStringLiteral("none");
}

QString FieldSourceText(TFieldSource source) {
    switch (source) {
    case TFieldSource::None:
        return QStringLiteral("页面上没有");
    case TFieldSource::ExactMarker:
        return QStringLiteral("原样的隐藏字段");
    case TFieldSource::EmbeddedData:
        return QStringLiteral("页面内嵌数据");
    case TFieldSource::TolerantInput:
        return QStringLiteral("隐藏字段（宽松读取）");
    case TFieldSource::MainTitle:
        return QStringLiteral("宝贝主标题");
    case TFieldSource::DocumentTitle:
        return QStringLiteral("网页标题（去掉网站后缀）");
    case TFieldSource::ShopContact:
        return QStringLiteral("店铺信息的旺旺");
    case TFieldSource::Address:
        return QStringLiteral("宝贝地址的 id 参数（页面相符）");
    case TFieldSource::PriceElement:
        return QStringLiteral("页面上显示的价格");
    case TFieldSource::ShopName:
        return QStringLiteral("店铺名称");
    }
    return {};
}

QString WithoutControlCharacters(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t') || (u >= 0x7F && u <= 0x9F))
            continue;
        result += c;
    }
    return result;
}

QString DecodeCharacterReferences(QStringView text) {
    // The named references item pages use; every other one can be written as a number.
    static const QHash<QString, char16_t> named = {
        {QStringLiteral("amp"), u'&'},      {QStringLiteral("lt"), u'<'},      {QStringLiteral("gt"), u'>'},
        {QStringLiteral("quot"), u'"'},     {QStringLiteral("apos"), u'\''},   {QStringLiteral("nbsp"), 0xA0},
        {QStringLiteral("yen"), 0xA5},      {QStringLiteral("copy"), 0xA9},    {QStringLiteral("reg"), 0xAE},
        {QStringLiteral("deg"), 0xB0},      {QStringLiteral("plusmn"), 0xB1},  {QStringLiteral("middot"), 0xB7},
        {QStringLiteral("times"), 0xD7},    {QStringLiteral("divide"), 0xF7},  {QStringLiteral("ndash"), 0x2013},
        {QStringLiteral("mdash"), 0x2014},  {QStringLiteral("lsquo"), 0x2018}, {QStringLiteral("rsquo"), 0x2019},
        {QStringLiteral("ldquo"), 0x201C},  {QStringLiteral("rdquo"), 0x201D}, {QStringLiteral("bull"), 0x2022},
        {QStringLiteral("hellip"), 0x2026}, {QStringLiteral("euro"), 0x20AC},  {QStringLiteral("trade"), 0x2122},
        {QStringLiteral("laquo"), 0xAB},    {QStringLiteral("raquo"), 0xBB},   {QStringLiteral("sect"), 0xA7},
    };
    if (!text.contains(u'&'))
        return text.toString();
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (text[i] != u'&') {
            out += text[i];
            continue;
        }
        qsizetype p = i + 1;
        if (p < n && text[p] == u'#') {
            ++p;
            const bool hex = p < n && (text[p] == u'x' || text[p] == u'X');
            if (hex)
                ++p;
            const qsizetype digitsBegin = p;
            while (p < n && p - digitsBegin < 8 &&
                   ((text[p] >= u'0' && text[p] <= u'9') ||
                    (hex && ((text[p] >= u'a' && text[p] <= u'f') || (text[p] >= u'A' && text[p] <= u'F')))))
                ++p;
            if (p == digitsBegin) {
                out += text[i];
                continue;
            }
            bool ok = false;
            uint code = text.sliced(digitsBegin, p - digitsBegin).toUInt(&ok, hex ? 16 : 10);
            if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                code = 0xFFFD;
            const char32_t ucs4 = code;
            out += QString::fromUcs4(&ucs4, 1);
            i = (p < n && text[p] == u';') ? p : p - 1;
            continue;
        }
        const qsizetype nameBegin = p;
        while (p < n && p - nameBegin < 10 && IsIdentifierChar(text[p]))
            ++p;
        const auto it = named.constFind(text.sliced(nameBegin, p - nameBegin).toString());
        if (p < n && text[p] == u';' && it != named.cend()) {
            out += QChar(*it);
            i = p;
        } else {
            out += text[i];
        }
    }
    return out;
}

double ConvertPriceText(const QString& text) {
    // A plain decimal number, blanks around it allowed: digits with an optional point (or a
    // point and digits), an optional exponent. Checked by hand: it runs for every page.
    const QStringView s(text);
    qsizetype at = 0;
    auto digits = [&] {
        const qsizetype from = at;
        while (at < s.size() && s[at] >= u'0' && s[at] <= u'9')
            ++at;
        return at - from;
    };
    while (at < s.size() && s[at] == u' ')
        ++at;
    const qsizetype start = at;
    if (at < s.size() && (s[at] == u'+' || s[at] == u'-'))
        ++at;
    const qsizetype whole = digits();
    qsizetype fraction = 0;
    if (at < s.size() && s[at] == u'.') {
        ++at;
        fraction = digits();
    }
    if (whole == 0 && fraction == 0)
        return 0;
    if (at < s.size() && (s[at] == u'e' || s[at] == u'E')) {
        ++at;
        if (at < s.size() && (s[at] == u'+' || s[at] == u'-'))
            ++at;
        if (digits() == 0)
            return 0;
    }
    const qsizetype end = at;
    while (at < s.size() && s[at] == u' ')
        ++at;
    if (at != s.size())
        return 0;
    bool ok = false;
    const double value = s.sliced(start, end - start).toDouble(&ok);
    return ok ? value : 0;
}

int ConvertSalesText(const QString& text) {
    QString s = TrimBlanks(text);
    bool negative = false;
    if (s.startsWith(u'-') || s.startsWith(u'+')) {
        negative = s.startsWith(u'-');
        s.remove(0, 1);
    }
    int base = 10;
    if (s.startsWith(u'$') || s.startsWith(u'x') || s.startsWith(u'X')) {
        base = 16;
        s.remove(0, 1);
    } else if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        s.remove(0, 2);
    }
    if (s.isEmpty())
        return 0;
    for (QChar c : std::as_const(s)) {
        const bool digit = c >= u'0' && c <= u'9';
        const bool hex = (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (!(digit || (base == 16 && hex)))
            return 0;
    }
    bool ok = false;
    const qint64 magnitude = s.toLongLong(&ok, base);
    if (!ok)
        return 0;
    const qint64 value = negative ? -magnitude : magnitude;
    if (value < INT_MIN || value > INT_MAX)
        return 0;
    return int(value);
}

TItemFields ReadItemFields(const QByteArray& page, const QByteArray& contentType, const QUrl& address,
                           const QUrl& finalAddress, bool rendered) {
    const TPageText text(page, contentType);
    return ReadItemFields(text, address, finalAddress, rendered);
}

TItemFields ReadItemFields(const TPageText& page, const QUrl& address, const QUrl& finalAddress, bool rendered) {
    TItemFields fields;
    fields.encoding = page.encoding();
    fields.declaredCharset = page.declaredCharset();
    fields.declarationOverruled = page.declarationOverruled();
    fields.rendered = rendered;

    if (page.bytes().size() <= kParseThreshold) {
        // Too short for an item, not too short for "Access Denied".
        if (page.bytes().isEmpty() || !DetectWall(fields, page.text(), ReadPageStructure(page)))
            fields.kind = TPageKind::TooShort;
        return fields;
    }
    fields.kind = TPageKind::Read;

    // Exact markers: a value they find stands as found. A rendered document is the browser's
    // serialisation, whose inputs do not end as the server's did: it is read by its structure.
    QString exactTitle, exactSeller, exactPrice, exactId;
    if (!rendered) {
        exactTitle = page.extract(kTitleStart, kInputEnd);
        exactSeller = page.extract(kSellerStart, kInputEnd);
        exactPrice = page.extract(kPriceStart, kInputEnd);
        exactId = page.extract(kItemIdStart, kInputEnd);
        const QString exactDetail = QStringLiteral("<input type=\"hidden\" name=\"%1\" value=\"…\" />");
        Take(fields.itemName, exactTitle, TFieldSource::ExactMarker, exactDetail.arg(QLatin1String("title")));
        Take(fields.sellerNick, exactSeller, TFieldSource::ExactMarker,
             exactDetail.arg(QLatin1String("seller_nickname")));
        Take(fields.itemId, exactId, TFieldSource::ExactMarker, exactDetail.arg(QLatin1String("item_id_num")));
    }
    // The exact price wins when it is a number (or a range) above 0; a range counts by its low end.
    double exactLow = 0, exactHigh = 0;
    const bool exactNumber = ParsePriceRange(WithoutControlCharacters(exactPrice), &exactLow, &exactHigh);
    if (exactNumber && exactLow > 0) {
        fields.price = {exactPrice,
                        TFieldSource::ExactMarker,
                        QStringLiteral("<input type=\"hidden\" name=\"current_price\" value= \"…\" />"),
                        {}};
        if (exactHigh > exactLow)
            fields.price.detail += QStringLiteral("（区间 %1-%2，取低端）").arg(Money(exactLow), Money(exactHigh));
        fields.priceValue = exactLow;
        fields.priceHigh = exactHigh;
        fields.priceState = TPriceState::Found;
    }

    // The sales markers hold no attributes: a browser writes them back as the server sent them.
    const QString sales30 = page.extract(kSales30Start, kSalesEnd);
    fields.sellCountValue = ConvertSalesText(WithoutControlCharacters(sales30));
    fields.sellCount.text = sales30;
    if (!sales30.isEmpty()) {
        fields.sellCount.source = TFieldSource::ExactMarker;
        fields.sellCount.detail = QStringLiteral("30天售出");
    }
    if (fields.sellCountValue == 0) {
        const QString total = page.extract(kSalesTotalStart, kSalesEnd);
        if (!total.isEmpty()) {
            fields.sellCountValue = ConvertSalesText(WithoutControlCharacters(total));
            fields.sellCount = {total, TFieldSource::ExactMarker, QStringLiteral("已 售 出"), {}};
        }
    }

    // A page the exact markers read whole is read as they read it, without parsing it further.
    const bool exactWhole = Found(fields.itemName) && Found(fields.sellerNick) && Found(fields.itemId) &&
                            fields.priceState == TPriceState::Found;
    // Unless it may say its item is gone (a sold-out page keeps its old fields): then its
    // structure tells whether the words are shown.
    if (exactWhole && MayBeGone(page)) {
        const TPageStructure structure = ReadPageStructure(page);
        fields.gone = structure.gone;
        fields.goneEvidence = structure.goneEvidence;
    } else if (!exactWhole) {
        const TPageStructure structure = ReadPageStructure(page);
        QUrl idAddress;
        const QString addressId = AddressId(address, finalAddress, &idAddress);
        if (!Found(fields.itemId))
            TakeItemId(fields.itemId, structure.itemIds, addressId);
        if (!Found(fields.itemName))
            TakeFirst(fields.itemName, structure.titles, MarkupTitleSource);
        if (!Found(fields.sellerNick))
            TakeFirst(fields.sellerNick, structure.sellers, MarkupSellerSource);
        TakeFirst(fields.shopName, structure.shopNames, [](const TCandidate&) { return TFieldSource::ShopName; });
        if (fields.priceState != TPriceState::Found) {
            DecidePrice(fields, structure);
            if (fields.priceState != TPriceState::Found && (exactNumber || structure.anyPriceText))
                fields.priceState = TPriceState::Invalid;
        }
        if (fields.sellCountValue == 0) {
            for (const TCandidate& sales : structure.sales) {
                const int value = DataSales(sales.text);
                if (value > 0) {
                    fields.sellCountValue = value;
                    fields.sellCount = {sales.text, TFieldSource::EmbeddedData, sales.detail, {}};
                    break;
                }
            }
        }
        fields.gone = structure.gone;
        fields.goneEvidence = structure.goneEvidence;
        if (!Found(fields.itemId)) {
            if (DetectWall(fields, page.text(), structure))
                return fields;
            // The address's id only where the page agrees: it names that id somewhere, or it is an
            // item page (a title and a seller or shop of its own). Never on a page that says the
            // item is gone.
            const bool namesId = !addressId.isEmpty() && page.text().contains(addressId);
            const bool itemPage = (Found(fields.sellerNick) || Found(fields.shopName)) && Found(fields.itemName) &&
                                  fields.itemName.source != TFieldSource::DocumentTitle;
            if (!addressId.isEmpty() && !fields.gone && (namesId || itemPage))
                Take(fields.itemId, addressId, TFieldSource::Address,
                     idAddress.toDisplayString() + (namesId ? QStringLiteral("（页面中也有此 id）")
                                                            : QStringLiteral("（页面是该卖家的宝贝页面）")));
        }
    } else if (!exactNumber) {
        fields.priceState = TPriceState::Missing;
    }

    // Fields nothing else found keep what the exact markers gave (blanks included).
    if (!Found(fields.itemName))
        fields.itemName.text = exactTitle;
    if (!Found(fields.sellerNick))
        fields.sellerNick.text = exactSeller;
    if (!Found(fields.itemId))
        fields.itemId.text = exactId;
    if (!Found(fields.price))
        fields.price.text = exactPrice;

    for (TFieldReading* field :
         {&fields.itemName, &fields.sellerNick, &fields.itemId, &fields.price, &fields.sellCount, &fields.shopName})
        Sanitize(*field);
    return fields;
}

} // namespace vantero
