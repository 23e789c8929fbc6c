#include "reader/PageFields.h"

#include "common/TextHelpers.h"
#include "reader/PageText.h"

#include <QHash>
#include <QList>
#include <QStringDecoder>
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

bool IsBlank(QChar c) {
    return c.unicode() <= 32;
}

bool IsAsciiLetter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsIdentifierChar(QChar c) {
    return IsAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'_' || c == u'$';
}

bool AllDigits(const QString& text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Runs of blanks (line breaks included) become one space; the ends are trimmed.
QString Simplified(const QString& text) {
    QString result;
    result.reserve(text.size());
    bool blank = false;
    for (QChar c : text) {
        if (IsBlank(c) || c == QChar(0xA0)) {
            blank = true;
            continue;
        }
        if (blank && !result.isEmpty())
            result += u' ';
        blank = false;
        result += c;
    }
    return result;
}

// --- Tags ---

struct TTag {
    QString name; // lower case
    bool closing = false;
    QList<QPair<QString, QString>> attributes; // names lower case, values raw
    qsizetype begin = 0;                       // at '<'
    qsizetype end = 0;                         // after '>'

    QString attribute(const QString& key) const {
        for (const auto& [name, value] : attributes) {
            if (name == key)
                return value;
        }
        return {};
    }
    bool hasAttribute(const QString& key) const {
        return std::any_of(attributes.begin(), attributes.end(), [&](const auto& a) { return a.first == key; });
    }
    bool hasClass(const QString& token) const {
        const QStringList classes = attribute(QStringLiteral("class")).split(u' ', Qt::SkipEmptyParts);
        return std::any_of(classes.begin(), classes.end(),
                           [&](const QString& c) { return c.compare(token, Qt::CaseInsensitive) == 0; });
    }
};

// Start and end tags of a page in order. Comments are skipped, and so is the text of scripts and
// styles: a template inside a script is no input of the page.
QList<TTag> ScanTags(const QString& text) {
    QList<TTag> tags;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype lt = text.indexOf(u'<', i);
        if (lt < 0 || lt + 1 >= n)
            break;
        if (QStringView(text).sliced(lt).startsWith(u"<!--")) {
            const qsizetype close = text.indexOf(QLatin1String("-->"), lt + 4);
            i = close < 0 ? n : close + 3;
            continue;
        }
        qsizetype p = lt + 1;
        const bool closing = text[p] == u'/';
        if (closing)
            ++p;
        if (p >= n || !IsAsciiLetter(text[p])) {
            if (p < n && (text[p] == u'!' || text[p] == u'?')) {
                const qsizetype close = text.indexOf(u'>', p);
                i = close < 0 ? n : close + 1;
            } else {
                i = lt + 1;
            }
            continue;
        }
        TTag tag;
        tag.begin = lt;
        tag.closing = closing;
        const qsizetype nameBegin = p;
        while (p < n && !IsBlank(text[p]) && text[p] != u'>' && text[p] != u'/')
            ++p;
        tag.name = text.mid(nameBegin, p - nameBegin).toLower();
        // Attributes: name, optional blanks, "=", optional blanks, a value in double, single or no
        // quotes. An unquoted value ends at a blank or ">" ("/>" ends the tag, not the value).
        while (p < n) {
            while (p < n && (IsBlank(text[p]) || (text[p] == u'/' && p + 1 < n && text[p + 1] != u'>')))
                ++p;
            if (p >= n)
                break;
            if (text[p] == u'>') {
                ++p;
                break;
            }
            if (text[p] == u'/') {
                p += 2;
                break;
            }
            const qsizetype keyBegin = p;
            while (p < n && !IsBlank(text[p]) && text[p] != u'=' && text[p] != u'>' && text[p] != u'/')
                ++p;
            if (p == keyBegin)
                ++p; // a stray "=": skip it
            QString key = text.mid(keyBegin, p - keyBegin).toLower();
            qsizetype q = p;
            while (q < n && IsBlank(text[q]))
                ++q;
            QString value;
            if (q < n && text[q] == u'=') {
                ++q;
                while (q < n && IsBlank(text[q]))
                    ++q;
                if (q < n && (text[q] == u'"' || text[q] == u'\'')) {
                    const QChar quote = text[q];
                    const qsizetype close = text.indexOf(quote, q + 1);
                    const qsizetype valueEnd = close < 0 ? n : close;
                    value = text.mid(q + 1, valueEnd - q - 1);
                    p = close < 0 ? n : close + 1;
                } else {
                    const qsizetype valueBegin = q;
                    while (q < n && !IsBlank(text[q]) && text[q] != u'>' &&
                           !(text[q] == u'/' && q + 1 < n && text[q + 1] == u'>'))
                        ++q;
                    value = text.mid(valueBegin, q - valueBegin);
                    p = q;
                }
            }
            if (!key.isEmpty())
                tag.attributes.append({key, value});
        }
        tag.end = std::min(p, n);
        i = tag.end;
        if (!closing && (tag.name == u"script" || tag.name == u"style")) {
            const qsizetype close = text.indexOf(QStringLiteral("</") + tag.name, i, Qt::CaseInsensitive);
            i = close < 0 ? n : close;
        }
        tags.append(std::move(tag));
    }
    return tags;
}

// The text of the element that starts at tags[index]: inner tags and comments removed, references
// decoded, blanks simplified.
QString ElementText(const QString& text, const QList<TTag>& tags, qsizetype index) {
    const TTag& open = tags[index];
    qsizetype depth = 0;
    qsizetype innerEnd = -1;
    for (qsizetype k = index + 1; k < tags.size(); ++k) {
        if (tags[k].name != open.name)
            continue;
        if (!tags[k].closing) {
            ++depth;
        } else if (depth-- == 0) {
            innerEnd = tags[k].begin;
            break;
        }
    }
    if (innerEnd < 0)
        innerEnd = index + 1 < tags.size() ? tags[index + 1].begin : text.size();
    QString plain;
    for (qsizetype k = index + 1, at = open.end; at < innerEnd;) {
        while (k < tags.size() && tags[k].begin < at)
            ++k;
        const qsizetype next = k < tags.size() ? std::min(tags[k].begin, innerEnd) : innerEnd;
        QString piece = text.mid(at, next - at);
        // Comments are not in the tag list; leave them out here.
        for (qsizetype c = piece.indexOf(QLatin1String("<!--")); c >= 0; c = piece.indexOf(QLatin1String("<!--"))) {
            const qsizetype e = piece.indexOf(QLatin1String("-->"), c);
            piece.remove(c, e < 0 ? piece.size() - c : e + 3 - c);
        }
        plain += piece;
        plain += u' ';
        at = k < tags.size() ? tags[k].end : innerEnd;
    }
    return Simplified(DecodeCharacterReferences(plain));
}

QString AttributeText(const QString& raw) {
    return TrimBlanks(DecodeCharacterReferences(raw));
}

// --- Scripts ---

QString DecodeScriptString(QStringView s) {
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c != u'\\' || i + 1 >= s.size()) {
            out += c;
            continue;
        }
        const QChar e = s[++i];
        auto hex = [&](qsizetype from, int digits) -> int {
            if (from + digits > s.size())
                return -1;
            bool ok = false;
            const int value = s.sliced(from, digits).toInt(&ok, 16);
            return ok ? value : -1;
        };
        if (e == u'u' && hex(i + 1, 4) >= 0) {
            out += QChar(char16_t(hex(i + 1, 4)));
            i += 4;
        } else if (e == u'x' && hex(i + 1, 2) >= 0) {
            out += QChar(char16_t(hex(i + 1, 2)));
            i += 2;
        } else if (e == u'n' || e == u'r' || e == u't') {
            out += u' ';
        } else {
            out += e;
        }
    }
    return out;
}

// The value given to key in a script ("key : 'v'", "\"key\":\"v\"", "key = 'v'"; digits unquoted
// when allowDigits), first non-empty one.
QString ScriptValue(const QString& text, const QString& key, bool allowDigits) {
    for (qsizetype at = text.indexOf(key); at >= 0; at = text.indexOf(key, at + key.size())) {
        if (at > 0 && IsIdentifierChar(text[at - 1]))
            continue;
        qsizetype p = at + key.size();
        if (p < text.size() && IsIdentifierChar(text[p]))
            continue;
        if (p < text.size() && (text[p] == u'"' || text[p] == u'\''))
            ++p;
        while (p < text.size() && (text[p] == u' ' || text[p] == u'\t'))
            ++p;
        if (p >= text.size() || (text[p] != u':' && text[p] != u'='))
            continue;
        ++p;
        while (p < text.size() && IsBlank(text[p]))
            ++p;
        if (p >= text.size())
            break;
        QString value;
        if (text[p] == u'"' || text[p] == u'\'') {
            const QChar quote = text[p];
            qsizetype q = p + 1;
            while (q < text.size() && text[q] != quote && text[q] != u'\n') {
                if (text[q] == u'\\')
                    ++q;
                ++q;
            }
            if (q >= text.size() || text[q] != quote)
                continue;
            value = TrimBlanks(DecodeScriptString(QStringView(text).sliced(p + 1, q - p - 1)));
        } else if (allowDigits) {
            qsizetype q = p;
            while (q < text.size() && text[q] >= u'0' && text[q] <= u'9')
                ++q;
            value = text.mid(p, q - p);
        }
        if (!value.isEmpty())
            return value;
    }
    return {};
}

// A name written with %XX escapes comes back in UTF-8 when its bytes are UTF-8, else in the page's
// encoding.
QString PercentDecodedName(const QString& value, const TPageText& page) {
    auto isHex = [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    };
    bool escaped = false;
    for (qsizetype i = 0; i + 2 < value.size() && !escaped; ++i)
        escaped = value[i] == u'%' && isHex(value[i + 1]) && isHex(value[i + 2]);
    if (!escaped)
        return value;
    const QByteArray bytes = QByteArray::fromPercentEncoding(page.encode(value));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString asUtf8 = utf8(bytes);
    return utf8.hasError() ? page.decode(bytes) : asUtf8;
}

// --- Titles ---

// "宝贝标题-淘宝网" and the like: the last dash-separated part is dropped when it names the
// marketplace.
QString WithoutMarketSuffix(const QString& title) {
    static const QString dashes = QStringLiteral("-－—–|");
    qsizetype cut = -1;
    for (qsizetype i = title.size() - 1; i > 0; --i) {
        if (dashes.contains(title[i])) {
            cut = i;
            break;
        }
    }
    if (cut < 0)
        return title;
    const QString suffix = title.mid(cut + 1).trimmed().toLower();
    const bool market =
        suffix.size() <= 24 && (suffix.contains(QStringLiteral("淘宝")) || suffix.contains(QStringLiteral("天猫")) ||
                                suffix.contains(QLatin1String("tmall")) || suffix.contains(QLatin1String("taobao")));
    return market ? TrimBlanks(title.left(cut)) : title;
}

// --- Walls ---

bool IsLoginAddress(const QUrl& url, QString* evidence) {
    const QString host = url.host().toLower();
    const QString firstLabel = host.section(u'.', 0, 0);
    if (host.contains(u'.') &&
        (firstLabel == u"login" || firstLabel == u"passport" || firstLabel == u"signin" || firstLabel == u"sso")) {
        *evidence = QStringLiteral("登录网址 ") + url.toDisplayString();
        return true;
    }
    const QStringList segments = url.path().toLower().split(u'/', Qt::SkipEmptyParts);
    for (const QString& segment : segments) {
        if (segment.contains(QLatin1String("login")) || segment.startsWith(QLatin1String("signin"))) {
            *evidence = QStringLiteral("登录网址 ") + url.toDisplayString();
            return true;
        }
    }
    return false;
}

bool IsVerificationAddress(const QUrl& url, QString* evidence) {
    const QString path = url.path().toLower();
    const QString query = url.query().toLower();
    if (path.contains(QLatin1String("punish")) || path.contains(QLatin1String("_____tmd_____")) ||
        path.contains(QLatin1String("captcha")) || query.contains(QLatin1String("x5secdata"))) {
        *evidence = QStringLiteral("验证网址 ") + url.toDisplayString();
        return true;
    }
    return false;
}

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

// A page without an item id of its own that shows a password form, a verification or a refusal.
bool DetectWall(TItemFields& fields, const QString& text, const QList<TTag>& tags) {
    for (const TTag& tag : tags) {
        if (!tag.closing && tag.name == u"input" &&
            tag.attribute(QStringLiteral("type")).compare(QLatin1String("password"), Qt::CaseInsensitive) == 0) {
            Block(fields, TPageKind::Login, QStringLiteral("密码输入框"));
            return true;
        }
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

// What the reading needs beyond the exact markers, made once per page and only when asked.
class TLazyPage {
public:
    explicit TLazyPage(const TPageText& page) : m_page(page) {}
    const QString& text() { return m_page.text(); }
    const QList<TTag>& tags() {
        if (!m_scanned) {
            m_tags = ScanTags(text());
            m_scanned = true;
        }
        return m_tags;
    }
    // The first <input name="..."> with a non-blank value.
    QString input(const QString& name) {
        for (const TTag& tag : tags()) {
            if (!tag.closing && tag.name == u"input" &&
                tag.attribute(QStringLiteral("name")).compare(name, Qt::CaseInsensitive) == 0) {
                const QString value = AttributeText(tag.attribute(QStringLiteral("value")));
                if (!value.isEmpty())
                    return value;
            }
        }
        return {};
    }

private:
    const TPageText& m_page;
    QList<TTag> m_tags;
    bool m_scanned = false;
};

void ReadTitle(TFieldReading& field, TLazyPage& lazy) {
    const QString input = lazy.input(QStringLiteral("title"));
    Take(field, input, TFieldSource::TolerantInput, QStringLiteral("<input name=\"title\">"));
    if (Found(field))
        return;
    const QList<TTag>& tags = lazy.tags();
    const QString& text = lazy.text();
    for (qsizetype k = 0; k < tags.size() && !Found(field); ++k) {
        const TTag& tag = tags[k];
        if (tag.closing || !tag.hasClass(QStringLiteral("tb-main-title")))
            continue;
        Take(field, AttributeText(tag.attribute(QStringLiteral("data-title"))), TFieldSource::MainTitle,
             QStringLiteral("class=\"tb-main-title\" data-title"));
        Take(field, ElementText(text, tags, k), TFieldSource::MainTitle, QStringLiteral("class=\"tb-main-title\""));
    }
    for (qsizetype k = 0; k < tags.size() && !Found(field); ++k) {
        if (tags[k].closing || !tags[k].hasClass(QStringLiteral("tb-detail-hd")))
            continue;
        for (qsizetype h = k + 1; h < tags.size(); ++h) {
            if (!tags[h].closing && tags[h].name == u"h1") {
                Take(field, ElementText(text, tags, h), TFieldSource::MainTitle,
                     QStringLiteral("class=\"tb-detail-hd\" <h1>"));
                break;
            }
        }
    }
    for (qsizetype k = 0; k < tags.size() && !Found(field); ++k) {
        if (tags[k].closing || tags[k].name != u"title")
            continue;
        const qsizetype close = text.indexOf(QLatin1String("</title"), tags[k].end, Qt::CaseInsensitive);
        const QString raw = text.mid(tags[k].end, (close < 0 ? text.size() : close) - tags[k].end);
        Take(field, WithoutMarketSuffix(Simplified(DecodeCharacterReferences(raw))), TFieldSource::DocumentTitle,
             QStringLiteral("<title>"));
        break;
    }
}

void ReadSeller(TFieldReading& field, TLazyPage& lazy, const TPageText& page) {
    Take(field, lazy.input(QStringLiteral("seller_nickname")), TFieldSource::TolerantInput,
         QStringLiteral("<input name=\"seller_nickname\">"));
    for (const QString& key : {QStringLiteral("sellerNick"), QStringLiteral("sellerNickName")}) {
        if (!Found(field))
            Take(field, PercentDecodedName(ScriptValue(lazy.text(), key, false), page), TFieldSource::ConfigScript,
                 key);
    }
    if (Found(field))
        return;
    // The shop's contact ("旺旺") element first; any other element naming a nick after it.
    const QList<TTag>& tags = lazy.tags();
    for (int pass = 0; pass < 2 && !Found(field); ++pass) {
        for (const TTag& tag : tags) {
            if (tag.closing || !tag.hasAttribute(QStringLiteral("data-nick")))
                continue;
            if (pass == 0 && !tag.hasClass(QStringLiteral("J_WangWang")) && !tag.hasClass(QStringLiteral("ww-light")))
                continue;
            const QString nick = PercentDecodedName(AttributeText(tag.attribute(QStringLiteral("data-nick"))), page);
            Take(field, nick, TFieldSource::ShopContact, QStringLiteral("<%1 data-nick>").arg(tag.name));
            if (Found(field))
                break;
        }
    }
}

void ReadItemIdFromPage(TFieldReading& field, TLazyPage& lazy) {
    Take(field, lazy.input(QStringLiteral("item_id_num")), TFieldSource::TolerantInput,
         QStringLiteral("<input name=\"item_id_num\">"));
    Take(field, lazy.input(QStringLiteral("item_id")), TFieldSource::TolerantInput,
         QStringLiteral("<input name=\"item_id\">"));
    const QString configured = ScriptValue(lazy.text(), QStringLiteral("itemId"), true);
    if (AllDigits(configured))
        Take(field, configured, TFieldSource::ConfigScript, QStringLiteral("itemId"));
}

void ReadItemIdFromAddress(TFieldReading& field, const QUrl& address, const QUrl& finalAddress) {
    for (const QUrl& url : {address, finalAddress}) {
        const QUrlQuery query(url);
        const QString id = TrimBlanks(query.queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded));
        if (AllDigits(id)) {
            Take(field, id, TFieldSource::Address, url.toDisplayString());
            return;
        }
    }
}

void ReadPrice(TFieldReading& field, TLazyPage& lazy) {
    Take(field, lazy.input(QStringLiteral("current_price")), TFieldSource::TolerantInput,
         QStringLiteral("<input name=\"current_price\">"));
    if (Found(field))
        return;
    const QList<TTag>& tags = lazy.tags();
    const QString& text = lazy.text();
    auto tryElement = [&](auto matches, const QString& detail) {
        for (qsizetype k = 0; k < tags.size() && !Found(field); ++k) {
            if (tags[k].closing || !matches(tags[k]))
                continue;
            QString shown = ElementText(text, tags, k);
            while (!shown.isEmpty() && (shown[0] == u'¥' || shown[0] == u'￥' || IsBlank(shown[0])))
                shown.remove(0, 1);
            Take(field, shown, TFieldSource::PriceElement, detail);
        }
    };
    tryElement([](const TTag& t) { return t.hasClass(QStringLiteral("tb-rmb-num")); },
               QStringLiteral("class=\"tb-rmb-num\""));
    tryElement([](const TTag& t) { return t.hasClass(QStringLiteral("tm-price")); },
               QStringLiteral("class=\"tm-price\""));
    tryElement([](const TTag& t) { return t.attribute(QStringLiteral("id")) == u"J_StrPrice"; },
               QStringLiteral("id=\"J_StrPrice\""));
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
    case TFieldSource::TolerantInput:
        return QStringLiteral("tolerant-input");
    case TFieldSource::MainTitle:
        return QStringLiteral("main-title");
    case TFieldSource::DocumentTitle:
        return QStringLiteral("document-title");
    case TFieldSource::ConfigScript:
        return QStringLiteral("config-script");
    case TFieldSource::ShopContact:
        return QStringLiteral("shop-contact");
    case TFieldSource::Address:
        return QStringLiteral("address");
    case TFieldSource::PriceElement:
        return QStringLiteral("price-element");
    }
    return QStringLiteral("none");
}

QString FieldSourceText(TFieldSource source) {
    switch (source) {
    case TFieldSource::None:
        return QStringLiteral("页面上没有");
    case TFieldSource::ExactMarker:
        return QStringLiteral("原样的隐藏字段");
    case TFieldSource::TolerantInput:
        return QStringLiteral("隐藏字段（宽松读取）");
    case TFieldSource::MainTitle:
        return QStringLiteral("宝贝主标题");
    case TFieldSource::DocumentTitle:
        return QStringLiteral("网页标题（去掉网站后缀）");
    case TFieldSource::ConfigScript:
        return QStringLiteral("页面配置脚本");
    case TFieldSource::ShopContact:
        return QStringLiteral("店铺信息的旺旺");
    case TFieldSource::Address:
        return QStringLiteral("宝贝地址的 id 参数");
    case TFieldSource::PriceElement:
        return QStringLiteral("页面上显示的价格");
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
                           const QUrl& finalAddress) {
    const TPageText text(page, contentType);
    return ReadItemFields(text, address, finalAddress);
}

TItemFields ReadItemFields(const TPageText& page, const QUrl& address, const QUrl& finalAddress) {
    TItemFields fields;
    fields.encoding = page.encoding();
    fields.declaredCharset = page.declaredCharset();
    fields.declarationOverruled = page.declarationOverruled();

    const QUrl reached = finalAddress.isEmpty() ? address : finalAddress;
    QString evidence;
    if (IsLoginAddress(reached, &evidence)) {
        Block(fields, TPageKind::Login, evidence);
        return fields;
    }
    if (IsVerificationAddress(reached, &evidence)) {
        Block(fields, TPageKind::Verification, evidence);
        return fields;
    }

    TLazyPage lazy(page);
    if (page.bytes().size() <= kParseThreshold) {
        // Too short for an item, not too short for "Access Denied".
        if (page.bytes().isEmpty() || !DetectWall(fields, lazy.text(), lazy.tags()))
            fields.kind = TPageKind::TooShort;
        return fields;
    }
    fields.kind = TPageKind::Read;

    // Exact markers: a value they find stands as found. With nothing else found, an exact text of
    // blanks is kept as it was.
    const QString exactTitle = page.extract(kTitleStart, kInputEnd);
    const QString exactSeller = page.extract(kSellerStart, kInputEnd);
    const QString exactPrice = page.extract(kPriceStart, kInputEnd);
    const QString exactId = page.extract(kItemIdStart, kInputEnd);
    const QString exactDetail = QStringLiteral("<input type=\"hidden\" name=\"%1\" value=\"…\" />");
    Take(fields.itemName, exactTitle, TFieldSource::ExactMarker, exactDetail.arg(QLatin1String("title")));
    Take(fields.sellerNick, exactSeller, TFieldSource::ExactMarker, exactDetail.arg(QLatin1String("seller_nickname")));
    Take(fields.price, exactPrice, TFieldSource::ExactMarker,
         QStringLiteral("<input type=\"hidden\" name=\"current_price\" value= \"…\" />"));
    Take(fields.itemId, exactId, TFieldSource::ExactMarker, exactDetail.arg(QLatin1String("item_id_num")));

    if (!Found(fields.itemName))
        ReadTitle(fields.itemName, lazy);
    if (!Found(fields.sellerNick))
        ReadSeller(fields.sellerNick, lazy, page);
    if (!Found(fields.itemId))
        ReadItemIdFromPage(fields.itemId, lazy);
    if (!Found(fields.itemId)) {
        if (DetectWall(fields, lazy.text(), lazy.tags()))
            return fields;
        // Only a page that names its seller is an item page whose id may come from its address: an
        // error page at an item's address is no reading of it.
        if (Found(fields.sellerNick))
            ReadItemIdFromAddress(fields.itemId, address, finalAddress);
    }
    if (!Found(fields.price))
        ReadPrice(fields.price, lazy);
    if (!Found(fields.itemName))
        fields.itemName.text = exactTitle;
    if (!Found(fields.sellerNick))
        fields.sellerNick.text = exactSeller;
    if (!Found(fields.itemId))
        fields.itemId.text = exactId;
    if (!Found(fields.price))
        fields.price.text = exactPrice;

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
            fields.sellCount = {total, TFieldSource::ExactMarker, QStringLiteral("已 售 出")};
        }
    }

    for (TFieldReading* field :
         {&fields.itemName, &fields.sellerNick, &fields.itemId, &fields.price, &fields.sellCount})
        Sanitize(*field);
    fields.priceValue = ConvertPriceText(fields.price.text);
    return fields;
}

} // namespace vantero
