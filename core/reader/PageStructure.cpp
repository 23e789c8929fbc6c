#include "reader/PageStructure.h"

#include "common/TextHelpers.h"
#include "reader/PageFields.h"
#include "reader/PageText.h"
#include "reader/ScriptLiteral.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <gumbo.h>
#include <memory>
#include <vector>

namespace vantero {

namespace {} // namespace

const QStringList& GoneWords() {
    static const QStringList words = {
        QStringLiteral("宝贝不存在"),   QStringLiteral("商品不存在"), QStringLiteral("宝贝已不存在"),
        QStringLiteral("商品已不存在"), QStringLiteral("已下架"),     QStringLiteral("已下柜"),
        QStringLiteral("已删除"),       QStringLiteral("宝贝已失效"), QStringLiteral("商品已失效"),
    };
    return words;
}

namespace {

QString GoneWordIn(const QString& text) {
    for (const QString& word : GoneWords()) {
        if (text.contains(word))
            return word;
    }
    return {};
}

bool ContainsNoCase(const QString& text, QLatin1String part) {
    return text.contains(part, Qt::CaseInsensitive);
}

bool IsDigits(const QString& text) {
    return !text.isEmpty() && text.size() <= 24 &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Scalars as text; objects and arrays as nothing.
QString ScalarText(const QJsonValue& value) {
    if (value.isString())
        return TrimBlanks(value.toString());
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (d == double(qint64(d)) && d < 1e18 && d > -1e18)
            return QString::number(qint64(d));
        return QString::number(d, 'f', 2);
    }
    return {};
}

// Budgets that keep a hostile page's data from costing more than its size.
constexpr int kMaxNestedJson = 64;
constexpr int kMaxCandidates = 400;

class TDataWalker {
public:
    explicit TDataWalker(TPageStructure& out) : m_out(out) {}

    void Walk(const QString& blockName, const QJsonValue& value) {
        m_path.clear();
        m_path << (blockName.isEmpty() ? QStringLiteral("(data)") : blockName);
        Visit(value, 0);
    }

private:
    QString Path(const QString& key) const { return (m_path + QStringList{key}).join(QStringLiteral(" › ")); }

    bool PathHas(QLatin1String part) const {
        return std::any_of(m_path.begin(), m_path.end(), [&](const QString& s) { return ContainsNoCase(s, part); });
    }

    static bool NotStarted(const QJsonObject& object) {
        const QJsonValue start = object.value(QLatin1String("start"));
        if (start.isBool() && !start.toBool())
            return true;
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (it->isString()) {
                const QString s = it->toString();
                if (s.contains(QStringLiteral("未开始")) || s.contains(QStringLiteral("即将开始")) ||
                    s.contains(QStringLiteral("预热")))
                    return true;
            }
        }
        return false;
    }

    void AddPrice(const QString& key, const QJsonValue& value, const QJsonObject& owner) {
        const QString text = ScalarText(value);
        if (text.isEmpty())
            return;
        TPriceCandidate price;
        if (!ParsePriceRange(text, &price.low, &price.high))
            return;
        m_out.anyPriceText = true;
        price.text = text;
        price.detail = Path(key);
        price.promotion = PathHas(QLatin1String("prom")) || ContainsNoCase(key, QLatin1String("prom"));
        if (key == u"defaultItemPrice")
            price.rank = 0;
        else if (PathHas(QLatin1String("sku")) || PathHas(QLatin1String("priceInfo")))
            price.rank = 1;
        else if (key == u"priceText")
            price.rank = 2;
        else if (key == u"reservePrice")
            price.rank = 4;
        else
            price.rank = 3;
        if (price.low <= 0 || (price.promotion && NotStarted(owner)))
            m_out.passedOverPrices << price;
        else if (m_out.prices.size() < kMaxCandidates)
            m_out.prices << price;
    }

    void Add(QList<TCandidate>& list, const QString& text, const QString& key) {
        if (!text.isEmpty() && list.size() < kMaxCandidates)
            list << TCandidate{text, Path(key), true};
    }

    void VisitObject(const QJsonObject& object, int depth) {
        const bool product = object.value(QLatin1String("@type")).toString() == u"Product";
        for (auto it = object.begin(); it != object.end(); ++it) {
            const QString key = it.key();
            const QJsonValue value = it.value();
            if (key == u"itemId" || key == u"itemNumId" || key == u"item_id" || key == u"itemIdStr" ||
                (key == u"id" && m_path.size() > 1 &&
                 m_path.last().compare(QLatin1String("item"), Qt::CaseInsensitive) == 0)) {
                const QString id = ScalarText(value);
                if (IsDigits(id))
                    Add(m_out.itemIds, id, key);
            } else if ((key == u"title" && (PathHas(QLatin1String("item")) || m_path.size() == 1)) ||
                       key == u"itemTitle" || (key == u"name" && product)) {
                Add(m_out.titles, ScalarText(value), key);
            } else if (key == u"sellerNick" || key == u"sellerNickName" ||
                       (key == u"nick" && PathHas(QLatin1String("seller")))) {
                Add(m_out.sellers, PercentDecodedName(ScalarText(value)), key);
            } else if (key == u"shopName") {
                Add(m_out.shopNames, ScalarText(value), key);
            } else if (key == u"sellCount" || key == u"soldCount" || key == u"totalSoldQuantity") {
                Add(m_out.sales, ScalarText(value), key);
            } else if (key == u"defaultItemPrice" || key == u"reservePrice" || key == u"priceText" ||
                       key == u"promotionPrice" || key == u"promoPrice" || key == u"lowPrice" ||
                       (key == u"price" && (m_path.size() <= 2 || PathHas(QLatin1String("price")) ||
                                            PathHas(QLatin1String("sku")) || PathHas(QLatin1String("item")) ||
                                            PathHas(QLatin1String("offers")) || PathHas(QLatin1String("prom"))))) {
                AddPrice(key, value, object);
            } else if (key == u"isDownShelf" && value.toBool()) {
                MarkGone(Path(key) + QStringLiteral(" = true"));
            } else if (key == u"ret" || key == u"msg" || key == u"message" || key == u"errorMessage" ||
                       key == u"errorMsg" || key == u"tips" || key == u"itemStatus") {
                QStringList texts;
                if (value.isArray()) {
                    for (const QJsonValue& v : value.toArray())
                        texts << v.toString();
                } else {
                    texts << value.toString();
                }
                for (const QString& text : std::as_const(texts)) {
                    const QString word = GoneWordIn(text);
                    if (!word.isEmpty())
                        MarkGone(Path(key) + QStringLiteral("：“%1”").arg(word));
                }
            }
            if (value.isObject() || value.isArray()) {
                m_path << key;
                Visit(value, depth + 1);
                m_path.removeLast();
            } else if (value.isString() && m_nested < kMaxNestedJson) {
                // A data answer may carry JSON as a string (the detail answer's apiStack value).
                const QString s = value.toString();
                if (s.size() > 2 && s.startsWith(u'{') && s.endsWith(u'}')) {
                    ++m_nested;
                    const QJsonDocument nested = QJsonDocument::fromJson(s.toUtf8());
                    if (nested.isObject()) {
                        m_path << key;
                        Visit(nested.object(), depth + 1);
                        m_path.removeLast();
                    }
                }
            }
        }
    }

    void Visit(const QJsonValue& value, int depth) {
        if (depth > TScriptLiteralReader::kMaxDepth + 8)
            return;
        if (value.isObject()) {
            VisitObject(value.toObject(), depth);
        } else if (value.isArray()) {
            const QJsonArray array = value.toArray();
            for (qsizetype i = 0; i < array.size(); ++i) {
                m_path << QStringLiteral("[%1]").arg(i);
                Visit(array.at(i), depth + 1);
                m_path.removeLast();
            }
        }
    }

    void MarkGone(const QString& evidence) {
        if (!m_out.gone) {
            m_out.gone = true;
            m_out.goneEvidence = evidence;
        }
    }

    TPageStructure& m_out;
    QStringList m_path;
    int m_nested = 0;
};

// --- Markup ---

const char* Attribute(const GumboElement& element, const char* name) {
    const GumboAttribute* attribute = gumbo_get_attribute(&element.attributes, name);
    return attribute ? attribute->value : nullptr;
}

bool HasClassPart(const GumboElement& element, const char* part) {
    const char* classes = Attribute(element, "class");
    return classes && std::strstr(classes, part);
}

bool HasClassToken(const GumboElement& element, QLatin1String token) {
    // Byte by byte: this runs for every element of the page.
    const char* classes = Attribute(element, "class");
    if (!classes)
        return false;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; };
    for (const char* p = classes; *p;) {
        while (*p && blank(*p))
            ++p;
        const char* begin = p;
        while (*p && !blank(*p))
            ++p;
        if (size_t(p - begin) == size_t(token.size()) && !std::memcmp(begin, token.data(), size_t(token.size())))
            return true;
    }
    return false;
}

// Runs of blanks become one space; the ends are trimmed.
QString Simplified(const QString& text) {
    QString result;
    result.reserve(text.size());
    bool blank = false;
    for (QChar c : text) {
        if (c.unicode() <= 32 || c == QChar(0xA0)) {
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

void AppendText(const GumboNode* node, QByteArray& out, int depth = 0) {
    if (depth > 64)
        return;
    if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE || node->type == GUMBO_NODE_CDATA) {
        out += node->v.text.text;
        return;
    }
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
        return;
    const GumboTag tag = node->v.element.tag;
    if (tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_STYLE)
        return;
    const GumboVector& children = node->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        out += ' ';
        AppendText(static_cast<const GumboNode*>(children.data[i]), out, depth + 1);
    }
}

QString ElementText(const GumboNode* node) {
    QByteArray bytes;
    AppendText(node, bytes);
    return Simplified(QString::fromUtf8(bytes));
}

QString ElementDetail(const GumboNode* node) {
    const GumboElement& element = node->v.element;
    QString detail = QStringLiteral("<") + QString::fromUtf8(gumbo_normalized_tagname(element.tag));
    if (const char* id = Attribute(element, "id"))
        detail += QStringLiteral(" id=\"%1\"").arg(QString::fromUtf8(id));
    if (const char* classes = Attribute(element, "class"))
        detail += QStringLiteral(" class=\"%1\"").arg(Simplified(QString::fromUtf8(classes)));
    return detail + u'>';
}

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

class TMarkupWalker {
public:
    TMarkupWalker(TPageStructure& out, TDataWalker& data) : m_out(out), m_data(data) {}

    void Walk(const GumboNode* root) {
        Visit(root, 0, false, false, false);
        // Markup candidates in their order of trust.
        m_out.itemIds << m_ids << m_otherIds;
        m_out.titles << m_inputTitles << m_mainTitles << m_metaTitles << m_documentTitles;
        m_out.sellers << m_inputSellers << m_contactNicks << m_otherNicks;
        m_out.shopNames << m_shopNames;
        m_out.prices << m_prices;
        // The shown text is searched once, as UTF-8 bytes.
        static const QList<QByteArray> utf8Words = [] {
            QList<QByteArray> words;
            for (const QString& word : GoneWords())
                words << word.toUtf8();
            return words;
        }();
        for (qsizetype i = 0; i < utf8Words.size() && m_goneWord.isEmpty(); ++i) {
            if (m_visibleText.contains(utf8Words[i]))
                m_goneWord = GoneWords().at(i);
        }
        if (!m_out.gone && !m_goneWord.isEmpty()) {
            m_out.gone = true;
            m_out.goneEvidence = QStringLiteral("页面文字“%1”").arg(m_goneWord);
        }
    }

private:
    static TCandidate Markup(const QString& text, const QString& detail) { return {text, detail, false}; }

    void AddPriceElement(const GumboNode* node, bool inPromotion) {
        QString shown = ElementText(node);
        TPriceCandidate price;
        if (!ParsePriceRange(shown, &price.low, &price.high))
            return;
        m_out.anyPriceText = true;
        price.text = shown;
        price.detail = ElementDetail(node);
        price.fromData = false;
        price.promotion = inPromotion;
        price.rank = 5;
        if (price.low <= 0)
            m_out.passedOverPrices << price;
        else if (m_prices.size() < kMaxCandidates)
            m_prices << price;
    }

    void Visit(const GumboNode* node, int depth, bool inPromotion, bool hidden, bool inTitleBlock) {
        if (depth > 400 || node->type != GUMBO_NODE_ELEMENT) {
            if (!hidden && node->type == GUMBO_NODE_TEXT)
                m_visibleText += node->v.text.text;
            return;
        }
        const GumboElement& element = node->v.element;
        const GumboTag tag = element.tag;
        const char* classes = Attribute(element, "class");
        const char* id = Attribute(element, "id");
        if (const char* style = Attribute(element, "style")) {
            QByteArray s(style);
            s.replace(' ', "");
            if (s.toLower().contains("display:none"))
                hidden = true;
        }
        if (Attribute(element, "hidden"))
            hidden = true;
        if ((classes && (strcasestr(classes, "promo"))) || (id && strcasestr(id, "promo")))
            inPromotion = true;
        if (tag == GUMBO_TAG_SCRIPT) {
            ReadScript(node);
            return;
        }
        if (tag == GUMBO_TAG_STYLE)
            return;
        if (tag == GUMBO_TAG_INPUT) {
            ReadInput(element);
        } else if (tag == GUMBO_TAG_TITLE && m_documentTitles.isEmpty()) {
            const QString title = WithoutMarketSuffix(ElementText(node));
            if (!title.isEmpty())
                m_documentTitles << Markup(title, QStringLiteral("<title>"));
        } else if (tag == GUMBO_TAG_META) {
            ReadMeta(element);
        }
        if (classes) {
            if (HasClassToken(element, QLatin1String("tb-main-title"))) {
                if (const char* dataTitle = Attribute(element, "data-title"); dataTitle && *dataTitle)
                    m_mainTitles << Markup(Simplified(QString::fromUtf8(dataTitle)),
                                           ElementDetail(node) + QStringLiteral(" data-title"));
                else
                    AddMainTitle(node);
            } else if (strcasestr(classes, "mainTitle") || strcasestr(classes, "main-title")) {
                AddMainTitle(node);
            }
            if (HasClassToken(element, QLatin1String("tb-detail-hd")))
                inTitleBlock = true;
            if (HasClassToken(element, QLatin1String("tm-price")) ||
                HasClassToken(element, QLatin1String("tb-rmb-num")) ||
                HasClassToken(element, QLatin1String("mui-price-integer")) ||
                HasClassPart(element, "Price--priceText") || HasClassPart(element, "priceText"))
                AddPriceElement(node, inPromotion);
            if (strcasestr(classes, "shopName") || strcasestr(classes, "shop-name")) {
                const QString name = ElementText(node);
                if (!name.isEmpty() && name.size() <= 64 && m_shopNames.size() < kMaxCandidates)
                    m_shopNames << Markup(name, ElementDetail(node));
            }
        }
        if (id) {
            if (!std::strcmp(id, "J_StrPrice") || !std::strcmp(id, "J_PromoPriceNum"))
                AddPriceElement(node, inPromotion);
            if (!std::strcmp(id, "s-title"))
                inTitleBlock = true;
        }
        if (tag == GUMBO_TAG_H1 && inTitleBlock)
            AddMainTitle(node);
        if (const char* nick = Attribute(element, "data-nick"); nick && *nick) {
            const QString name = PercentDecodedName(TrimBlanks(QString::fromUtf8(nick)));
            const bool contact = HasClassToken(element, QLatin1String("J_WangWang")) ||
                                 HasClassToken(element, QLatin1String("ww-light"));
            if (!name.isEmpty())
                (contact ? m_contactNicks : m_otherNicks)
                    << Markup(name, ElementDetail(node) + QStringLiteral(" data-nick"));
        }
        const GumboVector& children = element.children;
        for (unsigned i = 0; i < children.length; ++i)
            Visit(static_cast<const GumboNode*>(children.data[i]), depth + 1, inPromotion, hidden, inTitleBlock);
    }

    void AddMainTitle(const GumboNode* node) {
        const QString title = ElementText(node);
        if (!title.isEmpty() && m_mainTitles.size() < kMaxCandidates)
            m_mainTitles << Markup(title, ElementDetail(node));
    }

    void ReadInput(const GumboElement& element) {
        const char* type = Attribute(element, "type");
        if (type && !strcasecmp(type, "password"))
            m_out.passwordForm = true;
        const char* name = Attribute(element, "name");
        const char* value = Attribute(element, "value");
        if (!name || !value)
            return;
        const QString text = TrimBlanks(QString::fromUtf8(value));
        if (text.isEmpty())
            return;
        const QString detail = QStringLiteral("<input name=\"%1\">").arg(QString::fromUtf8(name));
        if (!strcasecmp(name, "title")) {
            m_inputTitles << Markup(text, detail);
        } else if (!strcasecmp(name, "seller_nickname")) {
            m_inputSellers << Markup(text, detail);
        } else if (!strcasecmp(name, "item_id_num")) {
            if (IsDigits(text))
                m_ids << Markup(text, detail);
        } else if (!strcasecmp(name, "item_id")) {
            if (IsDigits(text))
                m_otherIds << Markup(text, detail);
        } else if (!strcasecmp(name, "current_price")) {
            TPriceCandidate price;
            if (ParsePriceRange(text, &price.low, &price.high)) {
                m_out.anyPriceText = true;
                price.text = text;
                price.detail = detail;
                price.fromData = false;
                price.rank = 4;
                (price.low > 0 ? m_prices : m_out.passedOverPrices) << price;
            }
        }
    }

    void ReadMeta(const GumboElement& element) {
        const char* property = Attribute(element, "property");
        const char* content = Attribute(element, "content");
        if (!property || !content)
            return;
        const QString text = TrimBlanks(QString::fromUtf8(content));
        const QString detail = QStringLiteral("<meta property=\"%1\">").arg(QString::fromUtf8(property));
        if (!std::strcmp(property, "og:title") && !text.isEmpty()) {
            m_metaTitles << Markup(WithoutMarketSuffix(text), detail);
        } else if (!std::strcmp(property, "product:price:amount") || !std::strcmp(property, "og:price:amount")) {
            // Open Graph is data the page gives about itself: trusted as embedded data.
            TPriceCandidate price;
            if (ParsePriceRange(text, &price.low, &price.high)) {
                m_out.anyPriceText = true;
                price.text = text;
                price.detail = detail;
                price.rank = 3;
                (price.low > 0 ? m_out.prices : m_out.passedOverPrices) << price;
            }
        }
    }

    void ReadScript(const GumboNode* node) {
        if (Attribute(node->v.element, "src"))
            return;
        QByteArray bytes;
        const GumboVector& children = node->v.element.children;
        for (unsigned i = 0; i < children.length; ++i) {
            const GumboNode* child = static_cast<const GumboNode*>(children.data[i]);
            if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE ||
                child->type == GUMBO_NODE_CDATA)
                bytes += child->v.text.text;
        }
        if (bytes.trimmed().isEmpty())
            return;
        const char* type = Attribute(node->v.element, "type");
        const QByteArray kind = type ? QByteArray(type).toLower() : QByteArray();
        if (kind.contains("json")) {
            const QJsonDocument document = QJsonDocument::fromJson(bytes);
            if (!document.isNull())
                m_data.Walk(kind.contains("ld+json") ? QStringLiteral("JSON-LD") : QStringLiteral("JSON"),
                            document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array()));
            return;
        }
        if (!kind.isEmpty() && !kind.contains("javascript") && !kind.contains("ecmascript") && kind != "module")
            return; // templates and other non-scripts
        const QString script = QString::fromUtf8(bytes);
        for (const TScriptBlock& block : ScriptBlocks(script))
            m_data.Walk(block.name, block.value);
    }

    TPageStructure& m_out;
    TDataWalker& m_data;
    QList<TCandidate> m_ids, m_otherIds, m_inputTitles, m_mainTitles, m_metaTitles, m_documentTitles;
    QList<TCandidate> m_inputSellers, m_contactNicks, m_otherNicks, m_shopNames;
    QList<TPriceCandidate> m_prices;
    QString m_goneWord;
    QByteArray m_visibleText;
};

// gumbo's allocations for one parse, taken from a few large blocks and given back all at once when
// the parse's tree is no longer needed. gumbo makes and frees many small objects per node and per
// token; through malloc and free that was a fifth of a page's reading, and freeing the tree node
// by node another share. Small pieces gumbo frees are kept by size and handed out again, so the
// memory stays near what the tree needs; blocks grow with the page, so a small page stays small.
class TGumboArena final {
public:
    TGumboArena() = default;
    TGumboArena(const TGumboArena&) = delete;
    TGumboArena& operator=(const TGumboArena&) = delete;

    static void* Allocate(void* arena, size_t size) { return static_cast<TGumboArena*>(arena)->Take(size); }
    static void Release(void* arena, void* piece) { static_cast<TGumboArena*>(arena)->Give(piece); }
    size_t Reserved() const { return m_reserved; }

private:
    // Each piece is preceded by one aligned unit holding its size class (0: not reused).
    static constexpr size_t kAlign = alignof(std::max_align_t);
    static constexpr size_t kClasses = 64; // pieces up to 64 units are reused
    static constexpr size_t kFirstBlock = size_t(64) * 1024;
    static constexpr size_t kLargestBlock = size_t(1) * 1024 * 1024;

    struct TFree {
        TFree* next;
    };

    void* Take(size_t size) {
        const size_t units = (std::max<size_t>(size, 1) + kAlign - 1) / kAlign;
        if (units < kClasses && m_free[units]) {
            TFree* piece = m_free[units];
            m_free[units] = piece->next;
            return piece;
        }
        const size_t bytes = (units + 1) * kAlign;
        char* at = nullptr;
        if (bytes > m_left) {
            // A large piece gets a block of its own, so the current block's rest is not lost.
            if (bytes > m_nextBlock / 4) {
                at = static_cast<char*>(NewBlock(bytes));
            } else {
                m_at = static_cast<char*>(NewBlock(m_nextBlock));
                m_left = m_nextBlock;
                m_nextBlock = std::min(m_nextBlock * 2, kLargestBlock);
            }
        }
        if (!at) {
            at = m_at;
            m_at += bytes;
            m_left -= bytes;
        }
        *reinterpret_cast<size_t*>(at) = units < kClasses ? units : 0;
        return at + kAlign;
    }

    void Give(void* piece) {
        if (!piece)
            return;
        const size_t units = *reinterpret_cast<const size_t*>(static_cast<char*>(piece) - kAlign);
        if (units == 0)
            return;
        auto* freed = static_cast<TFree*>(piece);
        freed->next = m_free[units];
        m_free[units] = freed;
    }

    void* NewBlock(size_t size) {
        m_blocks.push_back(std::make_unique_for_overwrite<std::max_align_t[]>((size + kAlign - 1) / kAlign));
        m_reserved += size;
        return m_blocks.back().get();
    }

    std::vector<std::unique_ptr<std::max_align_t[]>> m_blocks;
    std::array<TFree*, kClasses> m_free{};
    char* m_at = nullptr;
    size_t m_left = 0;
    size_t m_nextBlock = kFirstBlock;
    size_t m_reserved = 0;
};

bool IsControlByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f') || u == 0x7F;
}

bool LooksLikeData(const QString& text, const QByteArray& contentType) {
    const QByteArray type = contentType.toLower();
    if (type.contains("json") || type.contains("javascript"))
        return true;
    for (QChar c : text) {
        if (c.unicode() <= 32 || c == QChar(0xFEFF))
            continue;
        return c == u'{' || c == u'[';
    }
    return false;
}

} // namespace

bool ParsePriceRange(const QString& text, double* low, double* high) {
    QString s = TrimBlanks(text);
    while (!s.isEmpty() && (s[0] == u'¥' || s[0] == u'￥' || s[0].unicode() <= 32))
        s.remove(0, 1);
    if (s.isEmpty() || s.size() > 64)
        return false;
    // A range: two numbers around a dash, a tilde or 至.
    for (const QString& separator :
         {QStringLiteral("-"), QStringLiteral("~"), QStringLiteral("～"), QStringLiteral("－"), QStringLiteral("至")}) {
        const qsizetype at = s.indexOf(separator, 1);
        if (at <= 0)
            continue;
        QString second = TrimBlanks(s.mid(at + separator.size()));
        while (!second.isEmpty() && (second[0] == u'¥' || second[0] == u'￥'))
            second.remove(0, 1);
        const QString first = TrimBlanks(s.left(at));
        const double a = ConvertPriceText(first);
        const double b = ConvertPriceText(second);
        if (a > 0 && b > 0) {
            *low = std::min(a, b);
            *high = std::max(a, b);
            return true;
        }
        return false;
    }
    // "0", "0.00" and "-5" are numbers (of no use as a price); "abc" and "1,234" are none.
    if (!(s[0].isDigit() || s[0] == u'-' || s[0] == u'+' || s[0] == u'.'))
        return false;
    bool ok = false;
    const double value = s.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return false;
    *low = *high = value;
    return true;
}

QString PercentDecodedName(const QString& value) {
    auto isHex = [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    };
    bool escaped = false;
    for (qsizetype i = 0; i + 2 < value.size() && !escaped; ++i)
        escaped = value[i] == u'%' && isHex(value[i + 1]) && isHex(value[i + 2]);
    if (!escaped)
        return value;
    const QByteArray bytes = QByteArray::fromPercentEncoding(value.toUtf8());
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString asUtf8 = utf8(bytes);
    if (!utf8.hasError())
        return asUtf8;
    QStringDecoder gbk("GB18030");
    return gbk.isValid() ? QString(gbk(bytes)) : asUtf8;
}

TPageStructure ReadPageStructure(const TPageText& page) {
    TPageStructure out;
    TDataWalker data(out);
    const QString& text = page.text();
    if (LooksLikeData(text, page.contentType())) {
        // A data answer: JSON, JSONP or a script.
        out.dataAnswer = true;
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
        if (document.isObject())
            data.Walk(QStringLiteral("(answer)"), document.object());
        else if (document.isArray())
            data.Walk(QStringLiteral("(answer)"), document.array());
        else
            for (const TScriptBlock& block : ScriptBlocks(text))
                data.Walk(block.name, block.value);
        return out;
    }
    // gumbo reads UTF-8 only: the page as decoded from its own encoding.
    QByteArray utf8 = page.encoding() == "UTF-8" ? page.bytes() : text.toUtf8();
    // Control characters other than blanks are no text of the page; gumbo would make each one a
    // replacement character in the values.
    if (std::any_of(utf8.cbegin(), utf8.cend(), [](char c) { return IsControlByte(c); }))
        utf8.removeIf([](char c) { return IsControlByte(c); });
    TGumboArena arena;
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;
    options.allocator = &TGumboArena::Allocate;
    options.deallocator = &TGumboArena::Release;
    options.userdata = &arena;
    // The tree lives in the arena: it goes when the arena does, without a walk to free it.
    const GumboOutput* output = gumbo_parse_with_options(&options, utf8.constData(), size_t(utf8.size()));
    if (!output)
        return out;
    TMarkupWalker markup(out, data);
    markup.Walk(output->root);
    return out;
}

} // namespace vantero
