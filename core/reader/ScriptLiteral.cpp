#include "reader/ScriptLiteral.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vantero {

namespace {

bool IsIdentifierStart(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u'$';
}

bool IsIdentifierPart(QChar c) {
    return IsIdentifierStart(c) || (c >= u'0' && c <= u'9');
}

bool IsBlank(QChar c) {
    return c.unicode() <= 32 || c == QChar(0xA0) || c == QChar(0xFEFF);
}

} // namespace

void TScriptLiteralReader::SkipBlanks(qsizetype& pos) const {
    const qsizetype n = m_text.size();
    while (pos < n) {
        if (IsBlank(m_text[pos])) {
            ++pos;
        } else if (m_text[pos] == u'/' && pos + 1 < n && m_text[pos + 1] == u'/') {
            while (pos < n && m_text[pos] != u'\n')
                ++pos;
        } else if (m_text[pos] == u'/' && pos + 1 < n && m_text[pos + 1] == u'*') {
            const qsizetype close = m_text.indexOf(u"*/", pos + 2);
            pos = close < 0 ? n : close + 2;
        } else {
            break;
        }
    }
}

void TScriptLiteralReader::SkipExpression(qsizetype& pos) const {
    // Brackets are balanced and strings passed over whole, so a comma inside a call or a string
    // does not end the expression. Regular expressions are not told apart: a bracket or quote in
    // one may end it early, which only makes the value null, never reads past the text.
    const qsizetype n = m_text.size();
    int level = 0;
    while (pos < n) {
        const QChar c = m_text[pos];
        if (c == u'"' || c == u'\'' || c == u'`') {
            ++pos;
            while (pos < n && m_text[pos] != c && m_text[pos] != u'\n') {
                if (m_text[pos] == u'\\')
                    ++pos;
                ++pos;
            }
            ++pos;
            continue;
        }
        if (c == u'(' || c == u'[' || c == u'{') {
            ++level;
        } else if (c == u')' || c == u']' || c == u'}') {
            if (level == 0)
                return;
            --level;
        } else if ((c == u',' || c == u';') && level == 0) {
            return;
        }
        ++pos;
    }
}

bool TScriptLiteralReader::ReadString(qsizetype& pos, QString* out) {
    const qsizetype n = m_text.size();
    const QChar quote = m_text[pos];
    qsizetype p = pos + 1;
    QString value;
    while (p < n && m_text[p] != quote) {
        QChar c = m_text[p];
        if (c == u'\n' && quote != u'`')
            return false;
        if (c == u'$' && quote == u'`' && p + 1 < n && m_text[p + 1] == u'{')
            return false; // a template with a substitution is an expression
        if (c != u'\\') {
            value += c;
            ++p;
            continue;
        }
        if (++p >= n)
            return false;
        const QChar e = m_text[p++];
        auto hex = [&](int digits) -> int {
            if (p + digits > n)
                return -1;
            bool ok = false;
            const int v = m_text.sliced(p, digits).toInt(&ok, 16);
            if (!ok)
                return -1;
            p += digits;
            return v;
        };
        switch (e.unicode()) {
        case u'n':
            value += u'\n';
            break;
        case u'r':
            value += u'\r';
            break;
        case u't':
            value += u'\t';
            break;
        case u'b':
        case u'f':
        case u'v':
            value += u' ';
            break;
        case u'0':
            value += QChar(0);
            break;
        case u'u': {
            const int v = hex(4);
            value += v < 0 ? QChar(u'u') : QChar(char16_t(v));
            break;
        }
        case u'x': {
            const int v = hex(2);
            value += v < 0 ? QChar(u'x') : QChar(char16_t(v));
            break;
        }
        case u'\n':
            break; // a line continued
        default:
            value += e;
        }
    }
    if (p >= n)
        return false;
    pos = p + 1;
    *out = std::move(value);
    return true;
}

bool TScriptLiteralReader::ReadNumber(qsizetype& pos, double* out) {
    const qsizetype n = m_text.size();
    qsizetype p = pos;
    if (p < n && (m_text[p] == u'-' || m_text[p] == u'+'))
        ++p;
    if (p + 1 < n && m_text[p] == u'0' && (m_text[p + 1] == u'x' || m_text[p + 1] == u'X')) {
        const qsizetype from = p + 2;
        p = from;
        while (p < n && ((m_text[p] >= u'0' && m_text[p] <= u'9') || (m_text[p] >= u'a' && m_text[p] <= u'f') ||
                         (m_text[p] >= u'A' && m_text[p] <= u'F')))
            ++p;
        bool ok = false;
        const qlonglong v = m_text.sliced(from, p - from).toLongLong(&ok, 16);
        if (!ok)
            return false;
        *out = m_text[pos] == u'-' ? -double(v) : double(v);
        pos = p;
        return true;
    }
    const qsizetype digitsFrom = p;
    while (p < n && m_text[p] >= u'0' && m_text[p] <= u'9')
        ++p;
    if (p < n && m_text[p] == u'.') {
        ++p;
        while (p < n && m_text[p] >= u'0' && m_text[p] <= u'9')
            ++p;
    }
    if (p == digitsFrom || (p == digitsFrom + 1 && m_text[digitsFrom] == u'.'))
        return false;
    if (p < n && (m_text[p] == u'e' || m_text[p] == u'E')) {
        qsizetype q = p + 1;
        if (q < n && (m_text[q] == u'-' || m_text[q] == u'+'))
            ++q;
        const qsizetype expFrom = q;
        while (q < n && m_text[q] >= u'0' && m_text[q] <= u'9')
            ++q;
        if (q > expFrom)
            p = q;
    }
    if (p < n && IsIdentifierPart(m_text[p]))
        return false;
    bool ok = false;
    const double v = m_text.sliced(pos, p - pos).toDouble(&ok);
    if (!ok)
        return false;
    *out = v;
    pos = p;
    return true;
}

QJsonValue TScriptLiteralReader::ReadObject(qsizetype& pos, int depth) {
    const qsizetype n = m_text.size();
    QJsonObject object;
    ++pos; // '{'
    while (m_budget > 0) {
        SkipBlanks(pos);
        if (pos >= n)
            break;
        const QChar c = m_text[pos];
        if (c == u'}') {
            ++pos;
            return object;
        }
        if (c == u',') {
            ++pos;
            continue;
        }
        QString key;
        if (c == u'"' || c == u'\'') {
            if (!ReadString(pos, &key)) {
                SkipExpression(pos);
                continue;
            }
        } else if (IsIdentifierStart(c) || (c >= u'0' && c <= u'9')) {
            const qsizetype from = pos;
            while (pos < n && IsIdentifierPart(m_text[pos]))
                ++pos;
            key = m_text.sliced(from, pos - from).toString();
        } else {
            // A computed key, a spread or a stray character: passed over.
            const qsizetype from = pos;
            SkipExpression(pos);
            if (pos == from)
                ++pos; // a stray ")", "]" or ";"
            continue;
        }
        SkipBlanks(pos);
        if (pos >= n || m_text[pos] != u':') {
            // A shorthand member or a method: no data of its own.
            SkipExpression(pos);
            continue;
        }
        ++pos;
        QJsonValue value = ReadValue(pos, depth + 1);
        if (!object.contains(key))
            object.insert(key, value);
    }
    pos = n; // out of budget or text: the object ends here
    return object;
}

QJsonValue TScriptLiteralReader::ReadArray(qsizetype& pos, int depth) {
    const qsizetype n = m_text.size();
    QJsonArray array;
    ++pos; // '['
    while (m_budget > 0) {
        SkipBlanks(pos);
        if (pos >= n)
            break;
        const QChar c = m_text[pos];
        if (c == u']') {
            ++pos;
            return array;
        }
        if (c == u',') {
            ++pos;
            continue;
        }
        if (c == u'}' || c == u')') {
            ++pos; // a stray closing bracket of another kind
            continue;
        }
        array.append(ReadValue(pos, depth + 1));
    }
    pos = n;
    return array;
}

QJsonValue TScriptLiteralReader::ReadValue(qsizetype& pos, int depth) {
    SkipBlanks(pos);
    const qsizetype n = m_text.size();
    if (pos >= n || --m_budget <= 0) {
        pos = std::min(pos, n);
        return QJsonValue::Null;
    }
    const qsizetype start = pos;
    QJsonValue value = QJsonValue::Null;
    bool complete = false;
    const QChar c = m_text[pos];
    if (c == u'{' && depth < kMaxDepth) {
        value = ReadObject(pos, depth);
        complete = true;
    } else if (c == u'[' && depth < kMaxDepth) {
        value = ReadArray(pos, depth);
        complete = true;
    } else if (c == u'"' || c == u'\'' || c == u'`') {
        QString s;
        complete = ReadString(pos, &s);
        if (complete)
            value = s;
    } else if ((c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == u'+') {
        double d = 0;
        complete = ReadNumber(pos, &d);
        if (complete)
            value = d;
    } else if (IsIdentifierStart(c)) {
        qsizetype p = pos;
        while (p < n && IsIdentifierPart(m_text[p]))
            ++p;
        const QStringView word = m_text.sliced(pos, p - pos);
        if (word == u"true" || word == u"false" || word == u"null" || word == u"undefined") {
            value = word == u"true" ? QJsonValue(true) : word == u"false" ? QJsonValue(false) : QJsonValue::Null;
            pos = p;
            complete = true;
        }
    }
    if (complete) {
        // A value that goes on ("a" + b, x ? y : z, 1 || 2) is an expression after all.
        qsizetype p = pos;
        SkipBlanks(p);
        if (p >= n || m_text[p] == u',' || m_text[p] == u'}' || m_text[p] == u']' || m_text[p] == u')' ||
            m_text[p] == u';') {
            pos = p;
            return value;
        }
        if (value.isObject() || value.isArray())
            return value; // a literal followed by anything is still the literal
    }
    pos = start;
    SkipExpression(pos);
    if (pos == start && pos < n && m_text[pos] != u',' && m_text[pos] != u'}' && m_text[pos] != u']')
        ++pos; // always move on
    return QJsonValue::Null;
}

QJsonValue TScriptLiteralReader::Read(qsizetype& pos) {
    return ReadValue(pos, 0);
}

QList<TScriptBlock> ScriptBlocks(QStringView script, int budget) {
    QList<TScriptBlock> blocks;
    const qsizetype n = script.size();
    TScriptLiteralReader reader(script, budget);
    // The name before position end: an identifier path such as window.g_config or TShop.Setup.
    auto nameBefore = [&](qsizetype end) {
        qsizetype p = end;
        while (p > 0 && IsBlank(script[p - 1]))
            --p;
        const qsizetype last = p;
        while (p > 0 && (IsIdentifierPart(script[p - 1]) || script[p - 1] == u'.'))
            --p;
        QString name = script.sliced(p, last - p).toString();
        if (name.startsWith(QLatin1String("window.")))
            name.remove(0, 7);
        return name;
    };
    for (qsizetype i = 0; i < n && reader.budget() > 0; ++i) {
        const QChar c = script[i];
        if (c == u'"' || c == u'\'' || c == u'`') {
            // Strings are passed over whole, so braces in them start nothing.
            qsizetype p = i + 1;
            while (p < n && script[p] != c && script[p] != u'\n') {
                if (script[p] == u'\\')
                    ++p;
                ++p;
            }
            i = p;
            continue;
        }
        bool assignment = false;
        if (c == u'=') {
            const QChar before = i > 0 ? script[i - 1] : QChar();
            const QChar after = i + 1 < n ? script[i + 1] : QChar();
            assignment =
                before != u'=' && before != u'!' && before != u'<' && before != u'>' && after != u'=' && after != u'>';
        }
        if (!assignment && c != u'(')
            continue;
        qsizetype p = i + 1;
        while (p < n && IsBlank(script[p]))
            ++p;
        if (p >= n)
            break;
        const QString name = nameBefore(i);
        if (script[p] == u'{' || script[p] == u'[') {
            QJsonValue value = reader.Read(p);
            if ((value.isObject() && !value.toObject().isEmpty()) || (value.isArray() && !value.toArray().isEmpty()))
                blocks.append({name, std::move(value)});
            i = std::max(i, p - 1);
        } else if (c == u'(' && name.endsWith(QLatin1String("JSON.parse")) &&
                   (script[p] == u'"' || script[p] == u'\'')) {
            // JSON.parse("{...}"): the string's text is JSON.
            TScriptLiteralReader stringReader(script, 1 << 20);
            const QJsonValue text = stringReader.Read(p);
            if (text.isString()) {
                const QJsonDocument document = QJsonDocument::fromJson(text.toString().toUtf8());
                if (document.isObject())
                    blocks.append({name, document.object()});
                else if (document.isArray())
                    blocks.append({name, document.array()});
            }
            i = std::max(i, p - 1);
        }
    }
    return blocks;
}

} // namespace vantero
