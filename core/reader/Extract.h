#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace vantero {

// The text between the first start marker and the next end marker after it, in the source's
// own letter case; empty when a marker is missing or empty. ASCII letters of source and markers
// compare without regard to case, every other byte exactly. Works on the page in place: no copy
// or folded version of the source is made.
QByteArray ExtractBetween(QByteArrayView source, QByteArrayView startMarker, QByteArrayView endMarker);

// Position of needle in haystack at or after from, ASCII letters compared without case; -1 if none.
qsizetype FindNoCase(QByteArrayView haystack, QByteArrayView needle, qsizetype from = 0);

// The source without any TAB, CR or LF byte.
QByteArray StripLineBreaks(QByteArrayView source);

} // namespace vantero
