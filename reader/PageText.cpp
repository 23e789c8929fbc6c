#include "reader/PageText.h"

#include "reader/TextHelpers.h"

#include <QHash>
#include <QMutex>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cctype>

namespace vantero {

namespace {

QByteArray CharsetAfter(QByteArrayView text, qsizetype at) {
    qsizetype i = at;
    while (i < text.size() && (text[i] == ' ' || text[i] == '=' || text[i] == '"' || text[i] == '\''))
        ++i;
    const qsizetype begin = i;
    while (i < text.size() && (std::isalnum(uchar(text[i])) || text[i] == '-' || text[i] == '_'))
        ++i;
    return text.sliced(begin, i - begin).toByteArray().toLower();
}

bool IsGbFamily(const QByteArray& name) {
    return name == "gbk" || name == "gb2312" || name == "gb18030" || name == "cp936" || name == "x-gbk";
}

} // namespace

QByteArray TPageText::DeclaredCharset(const QByteArray& contentType, QByteArrayView page) {
    const qsizetype inHeader = FindNoCase(contentType, "charset");
    if (inHeader >= 0) {
        const QByteArray name = CharsetAfter(contentType, inHeader + 7);
        if (!name.isEmpty())
            return name;
    }
    // Only the head is looked at: a charset named in the body text is no declaration.
    const QByteArrayView head = page.first(std::min<qsizetype>(page.size(), 4096));
    for (qsizetype at = FindNoCase(head, "<meta"); at >= 0; at = FindNoCase(head, "<meta", at + 5)) {
        const qsizetype close = head.indexOf('>', at);
        const QByteArrayView tag = head.sliced(at, (close < 0 ? head.size() : close) - at);
        const qsizetype charset = FindNoCase(tag, "charset");
        if (charset >= 0) {
            const QByteArray name = CharsetAfter(tag, charset + 7);
            if (!name.isEmpty())
                return name;
        }
    }
    return {};
}

TPageText::TPageText(QByteArray bytes, const QByteArray& contentType) : m_bytes(std::move(bytes)) {
    QByteArray name = DeclaredCharset(contentType, m_bytes);
    if (name == "utf8")
        name = "UTF-8";
    if (name.isEmpty() || IsGbFamily(name))
        name = "GB18030"; // a superset of GBK and GB2312
    m_decoder = QStringDecoder(name.constData());
    if (!m_decoder.isValid()) {
        name = "GB18030";
        m_decoder = QStringDecoder(name.constData());
    }
    m_encoding = name;
}

QByteArray TPageText::encode(const QString& text) const {
    // Markers are few and fixed; opening a converter costs more than searching a page, so each
    // marker is encoded once per encoding for the life of the program.
    static QMutex mutex;
    static QHash<QPair<QByteArray, QString>, QByteArray> cache;
    const QPair<QByteArray, QString> key(m_encoding, text);
    QMutexLocker lock(&mutex);
    if (auto it = cache.constFind(key); it != cache.cend())
        return *it;
    QStringEncoder encoder(m_encoding.constData());
    const QByteArray encoded = encoder.isValid() ? QByteArray(encoder(text)) : text.toUtf8();
    if (cache.size() < 1024)
        cache.insert(key, encoded);
    return encoded;
}

QString TPageText::decode(QByteArrayView bytes) const {
    m_decoder.resetState();
    return QString(m_decoder(bytes));
}

QString TPageText::extract(const QString& startMarker, const QString& endMarker) const {
    return decode(ExtractBetween(m_bytes, encode(startMarker), encode(endMarker)));
}

} // namespace vantero
