// The marker search and the text helpers on arbitrary bytes: the first two bytes give the
// lengths of the start and end markers, the rest is the page.
#include "common/TextHelpers.h"
#include "reader/Extract.h"

#include <cstdint>
#include <cstdlib>

using namespace vantero;

namespace {

// The search at every offset, letter case folded: what the skipping search must agree with.
qsizetype PlainFind(QByteArrayView hay, QByteArrayView needle, qsizetype from) {
    auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; };
    if (needle.isEmpty())
        return -1;
    for (qsizetype i = from; i + needle.size() <= hay.size(); ++i) {
        qsizetype k = 0;
        while (k < needle.size() && fold(hay[i + k]) == fold(needle[k]))
            ++k;
        if (k == needle.size())
            return i;
    }
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const QByteArrayView all(reinterpret_cast<const char*>(data) + 2, qsizetype(size - 2));
    const qsizetype startLength = std::min<qsizetype>(data[0] % 32, all.size());
    const qsizetype endLength = std::min<qsizetype>(data[1] % 32, all.size() - startLength);
    const QByteArrayView start = all.first(startLength);
    const QByteArrayView end = all.sliced(startLength, endLength);
    const QByteArrayView page = all.sliced(startLength + endLength);

    const QByteArray value = ExtractBetween(page, start, end);
    // A value is always a piece of the page, found after its start marker.
    if (!value.isEmpty()) {
        const qsizetype at = FindNoCase(page, start);
        if (at < 0 || page.sliced(at + start.size()).indexOf(value) != 0)
            std::abort();
    }
    if (FindNoCase(page, start) != PlainFind(page, start, 0) || FindNoCase(page, end) != PlainFind(page, end, 0))
        std::abort();
    const QByteArray stripped = StripLineBreaks(page);
    if (stripped.contains('\t') || stripped.contains('\r') || stripped.contains('\n'))
        std::abort();
    const QByteArray trimmed = TrimBlanks(page);
    if (!trimmed.isEmpty() && (uchar(trimmed.front()) <= 32 || uchar(trimmed.back()) <= 32))
        std::abort();
    return 0;
}
