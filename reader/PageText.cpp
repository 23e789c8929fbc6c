#include "reader/PageText.h"

#include "reader/TextHelpers.h"

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
    if (name.isEmpty() || IsGbFamily(name) || !QStringDecoder(name.constData()).isValid())
        name = "GB18030"; // a superset of GBK and GB2312
    else if (name == "utf8")
        name = "UTF-8";
    m_encoding = name;
}

QByteArray TPageText::encode(const QString& text) const {
    QStringEncoder encoder(m_encoding.constData());
    return encoder.isValid() ? QByteArray(encoder(text)) : text.toUtf8();
}

QString TPageText::decode(QByteArrayView bytes) const {
    QStringDecoder decoder(m_encoding.constData());
    return decoder.isValid() ? QString(decoder(bytes)) : QString::fromUtf8(bytes);
}

QString TPageText::extract(const QString& startMarker, const QString& endMarker) const {
    return decode(ExtractBetween(m_bytes, encode(startMarker), encode(endMarker)));
}

} // namespace vantero
