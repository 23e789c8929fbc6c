#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QLocale>
#include <QString>

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

// Surrounding bytes (characters) of value 32 or less removed.
QByteArray TrimBlanks(QByteArrayView text);
QString TrimBlanks(const QString& text);

// Lower-cases ASCII A-Z only; every other character stays.
QString LowerAscii(const QString& text);

// The locale dates are shown in: the system's when it is a Chinese one, else Simplified Chinese.
QLocale DisplayLocale();

// A date and time as the windows show them: the system's short date format, a blank and its
// long time format (local times, so without a time-zone name). Empty for the zero date-time.
QString FormatDateTime(const QDateTime& value);

} // namespace vantero
