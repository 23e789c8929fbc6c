#include "reader/TextHelpers.h"

#include <QLocale>

#include <algorithm>
#include <functional>

namespace vantero {

namespace {

constexpr char FoldByte(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

struct FoldedHash {
    size_t operator()(char c) const { return std::hash<char>()(FoldByte(c)); }
};

struct FoldedEqual {
    bool operator()(char a, char b) const { return FoldByte(a) == FoldByte(b); }
};

} // namespace

qsizetype FindNoCase(QByteArrayView haystack, QByteArrayView needle, qsizetype from) {
    if (needle.isEmpty() || from < 0 || from > haystack.size() || needle.size() > haystack.size() - from)
        return -1;
    const char* begin = haystack.data() + from;
    const char* end = haystack.data() + haystack.size();
    if (needle.size() < 4) {
        // A searcher's tables cost more than they save for very short markers.
        const char* hit = std::search(begin, end, needle.begin(), needle.end(), FoldedEqual());
        return hit == end ? -1 : hit - haystack.data();
    }
    const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end(), FoldedHash(), FoldedEqual());
    const auto [hit, hitEnd] = searcher(begin, end);
    Q_UNUSED(hitEnd);
    return hit == end ? -1 : hit - haystack.data();
}

QByteArray ExtractBetween(QByteArrayView source, QByteArrayView startMarker, QByteArrayView endMarker) {
    if (source.isEmpty() || startMarker.isEmpty())
        return {};
    const qsizetype start = FindNoCase(source, startMarker, 0);
    if (start < 0)
        return {};
    const qsizetype valueBegin = start + startMarker.size();
    const qsizetype valueEnd = FindNoCase(source, endMarker, valueBegin);
    if (valueEnd < 0)
        return {};
    return source.sliced(valueBegin, valueEnd - valueBegin).toByteArray();
}

QByteArray StripLineBreaks(QByteArrayView source) {
    QByteArray result;
    result.reserve(source.size());
    for (char c : source) {
        if (c != '\t' && c != '\r' && c != '\n')
            result.append(c);
    }
    return result;
}

QByteArray TrimBlanks(QByteArrayView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && uchar(text[begin]) <= 32)
        ++begin;
    while (end > begin && uchar(text[end - 1]) <= 32)
        --end;
    return text.sliced(begin, end - begin).toByteArray();
}

QString TrimBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

QString LowerAscii(const QString& text) {
    QString result = text;
    for (QChar& c : result) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    }
    return result;
}

QLocale DisplayLocale() {
    // The program speaks Chinese only: a system locale of another language (C on many servers)
    // would put English month names into Chinese windows.
    const QLocale system = QLocale::system();
    if (system.language() == QLocale::Chinese)
        return system;
    return QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
}

namespace {

// The display locale's long time format without its time-zone name. Quoted literals stay as they are.
QString LongTimeFormat() {
    const QString format = DisplayLocale().timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        result += c;
    }
    result = result.trimmed();
    while (result.contains(QLatin1String("  ")))
        result.replace(QLatin1String("  "), QLatin1String(" "));
    return result;
}

} // namespace

QString FormatDateTime(const QDateTime& value) {
    if (!value.isValid())
        return {};
    const QLocale locale = DisplayLocale();
    return locale.toString(value.date(), QLocale::ShortFormat) + u' ' + locale.toString(value.time(), LongTimeFormat());
}

} // namespace vantero
