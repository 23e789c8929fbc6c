#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QLocale>
#include <QString>

namespace vantero {

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
