#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

namespace vantero {

// A downloaded page as bytes, with the encoding its markers are matched in: the charset the HTTP
// Content-Type or the page's <meta> declares, GBK when neither does (or names one we lack).
class TPageText {
public:
    TPageText(QByteArray bytes, const QByteArray& contentType);

    const QByteArray& bytes() const { return m_bytes; }
    QByteArray encoding() const { return m_encoding; }
    // A marker written in Unicode, in the page's encoding.
    QByteArray encode(const QString& text) const;
    // Page bytes (an extracted value) as Unicode.
    QString decode(QByteArrayView bytes) const;
    // ExtractBetween on the page with markers given in Unicode; the value decoded.
    QString extract(const QString& startMarker, const QString& endMarker) const;

    // The charset named in a Content-Type value or in the page's first <meta> tags; empty if none.
    static QByteArray DeclaredCharset(const QByteArray& contentType, QByteArrayView page);

private:
    QByteArray m_bytes;
    QByteArray m_encoding;
    mutable QStringDecoder m_decoder;
};

} // namespace vantero
