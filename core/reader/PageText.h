#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

namespace vantero {

// A downloaded page as bytes, with the encoding its markers are matched in: the charset the HTTP
// Content-Type or the page's <meta> declares, GBK when neither does (or names one we lack).
// Servers mislabel pages, so a declaration that does not fit the bytes gives way to what does:
// - declared UTF-8 (or GBK, or nothing) but the bytes are not valid in it: the other of GBK and
//   UTF-8 when it fits the bytes better;
// - a single-byte Western charset on non-ASCII bytes: UTF-8 when they are valid UTF-8, else GBK when
//   they are valid GBK.
class TPageText {
public:
    TPageText(QByteArray bytes, const QByteArray& contentType);

    const QByteArray& bytes() const { return m_bytes; }
    // The Content-Type the page came with (a data answer is read as data).
    const QByteArray& contentType() const { return m_contentType; }
    QByteArray encoding() const { return m_encoding; }
    // The charset the header or the page declares (lower case, empty if none), and whether the bytes
    // overruled it.
    QByteArray declaredCharset() const { return m_declared; }
    bool declarationOverruled() const { return m_overruled; }
    // The whole page as Unicode, decoded once.
    const QString& text() const;
    // A marker written in Unicode, in the page's encoding.
    QByteArray encode(const QString& text) const;
    // Page bytes (an extracted value) as Unicode.
    QString decode(QByteArrayView bytes) const;
    // ExtractBetween on the page with markers given in Unicode; the value decoded.
    QString extract(const QString& startMarker, const QString& endMarker) const;

    // The encoding to read bytes in whose declared charset is declared (empty: none), by the rules
    // above; overruled tells whether the bytes overruled a declaration.
    static QByteArray FittingEncoding(QByteArrayView bytes, const QByteArray& declared, bool* overruled = nullptr);
    // The charset named in a Content-Type value or in the page's first <meta> tags; empty if none.
    static QByteArray DeclaredCharset(const QByteArray& contentType, QByteArrayView page);

private:
    QByteArray m_bytes;
    QByteArray m_contentType;
    QByteArray m_encoding;
    QByteArray m_declared;
    bool m_overruled = false;
    mutable QStringDecoder m_decoder;
    mutable QString m_text;
    mutable bool m_decoded = false;
};

} // namespace vantero
