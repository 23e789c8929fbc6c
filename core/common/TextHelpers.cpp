#include "common/TextHelpers.h"

#include <QLocale>

namespace vantero {

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
