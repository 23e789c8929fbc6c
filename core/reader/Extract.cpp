#include "reader/Extract.h"

#include <algorithm>
#include <array>

namespace vantero {

namespace {

constexpr char FoldByte(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

struct FoldedEqual {
    bool operator()(char a, char b) const { return FoldByte(a) == FoldByte(b); }
};

// Horspool's search with the skip distances in a table by byte: every page is searched for a
// dozen markers, and a hashed table costs a lookup per step.
qsizetype FindFolded(const char* begin, const char* end, QByteArrayView needle) {
    const qsizetype m = needle.size();
    std::array<qsizetype, 256> skip;
    skip.fill(m);
    for (qsizetype i = 0; i + 1 < m; ++i) {
        const uchar c = uchar(needle[i]);
        skip[c] = m - 1 - i;
        skip[uchar(FoldByte(char(c)))] = m - 1 - i;
        if (c >= 'A' && c <= 'Z')
            skip[c - 'A' + 'a'] = m - 1 - i;
    }
    const char last = FoldByte(needle[m - 1]);
    for (const char* at = begin; end - at >= m; at += skip[uchar(at[m - 1])]) {
        if (FoldByte(at[m - 1]) != last)
            continue;
        qsizetype i = 0;
        while (i + 1 < m && FoldByte(at[i]) == FoldByte(needle[i]))
            ++i;
        if (i + 1 == m)
            return at - begin;
    }
    return -1;
}

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
    const qsizetype hit = FindFolded(begin, end, needle);
    return hit < 0 ? -1 : from + hit;
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

} // namespace vantero
