#include "reader/PageText.h"

#include "reader/Extract.h"

#include <QHash>
#include <QMutex>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cctype>
#include <cstring>

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

namespace {

bool IsWesternSingleByte(const QByteArray& name) {
    return name.startsWith("iso-8859") || name.startsWith("iso8859") || name.startsWith("windows-125") ||
           name.startsWith("cp125") || name == "latin1" || name == "latin-1" || name == "l1" || name == "us-ascii" ||
           name == "ascii";
}

// Where the next byte at or after i that is not ASCII sits (n when none). Pages are mostly ASCII
// markup, so it looks at eight bytes at a time.
qsizetype NextNonAscii(QByteArrayView bytes, qsizetype i) {
    const qsizetype n = bytes.size();
    const char* data = bytes.data();
    while (i + 8 <= n) {
        quint64 word;
        std::memcpy(&word, data + i, 8);
        if (word & 0x8080808080808080ULL)
            break;
        i += 8;
    }
    while (i < n && uchar(data[i]) < 0x80)
        ++i;
    return i;
}

// Sequences that are not UTF-8 (each bad byte counts once), so that two candidate encodings can be
// compared by how well they fit a page.
qsizetype Utf8Errors(QByteArrayView bytes, qsizetype from) {
    qsizetype errors = 0;
    const qsizetype n = bytes.size();
    auto cont = [&](qsizetype i, uchar low = 0x80, uchar high = 0xBF) {
        return i < n && uchar(bytes[i]) >= low && uchar(bytes[i]) <= high;
    };
    for (qsizetype i = from; i < n;) {
        const uchar c = uchar(bytes[i]);
        qsizetype length = 0;
        if (c < 0x80) {
            i = NextNonAscii(bytes, i);
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF)
            length = cont(i + 1) ? 2 : 0;
        else if (c == 0xE0)
            length = cont(i + 1, 0xA0) && cont(i + 2) ? 3 : 0;
        else if (c == 0xED)
            length = cont(i + 1, 0x80, 0x9F) && cont(i + 2) ? 3 : 0;
        else if (c >= 0xE1 && c <= 0xEF)
            length = cont(i + 1) && cont(i + 2) ? 3 : 0;
        else if (c == 0xF0)
            length = cont(i + 1, 0x90) && cont(i + 2) && cont(i + 3) ? 4 : 0;
        else if (c >= 0xF1 && c <= 0xF3)
            length = cont(i + 1) && cont(i + 2) && cont(i + 3) ? 4 : 0;
        else if (c == 0xF4)
            length = cont(i + 1, 0x80, 0x8F) && cont(i + 2) && cont(i + 3) ? 4 : 0;
        if (length == 0) {
            ++errors;
            length = 1;
        }
        i += length;
    }
    return errors;
}

// The same for GBK and its GB18030 four-byte extension, by byte structure.
qsizetype GbkErrors(QByteArrayView bytes, qsizetype from) {
    qsizetype errors = 0;
    const uchar* p = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = from; i < n;) {
        const uchar c = p[i];
        if (c < 0x80) {
            i = NextNonAscii(bytes, i);
            continue;
        }
        if (c >= 0x81 && c <= 0xFE && i + 1 < n) {
            const uchar t = p[i + 1];
            if ((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFE)) {
                i += 2;
                continue;
            }
            if (i + 3 < n && t >= 0x30 && t <= 0x39 && p[i + 2] >= 0x81 && p[i + 2] <= 0xFE && p[i + 3] >= 0x30 &&
                p[i + 3] <= 0x39) {
                i += 4;
                continue;
            }
        }
        ++errors;
        ++i;
    }
    return errors;
}

} // namespace

QByteArray TPageText::FittingEncoding(QByteArrayView bytes, const QByteArray& declared, bool* overruled) {
    QByteArray name = declared.toLower();
    if (name == "utf8")
        name = "utf-8";
    const bool declaredUtf8 = name == "utf-8";
    const bool declaredGb = name.isEmpty() || IsGbFamily(name);
    const bool western = IsWesternSingleByte(name);
    if (declaredGb)
        name = "GB18030"; // a superset of GBK and GB2312
    bool changed = false;
    // The bytes before the first non-ASCII one fit both encodings; the declared encoding is checked
    // first, and the other only when the declared one does not fit.
    const qsizetype first = NextNonAscii(bytes, 0);
    if ((declaredUtf8 || declaredGb || western) && first < bytes.size()) {
        QByteArray fits = name;
        if (declaredUtf8) {
            const qsizetype utf8Errors = Utf8Errors(bytes, first);
            if (utf8Errors > 0 && GbkErrors(bytes, first) < utf8Errors)
                fits = "GB18030";
        } else if (declaredGb) {
            const qsizetype gbkErrors = GbkErrors(bytes, first);
            if (gbkErrors > 0 && Utf8Errors(bytes, first) < gbkErrors)
                fits = "utf-8";
        } else if (Utf8Errors(bytes, first) == 0) {
            fits = "utf-8";
        } else if (GbkErrors(bytes, first) == 0) {
            fits = "GB18030";
        }
        changed = fits != name && !declared.isEmpty();
        name = fits;
    }
    if (overruled)
        *overruled = changed;
    return name == "utf-8" ? QByteArrayLiteral("UTF-8") : name;
}

TPageText::TPageText(QByteArray bytes, const QByteArray& contentType)
    : m_bytes(std::move(bytes)), m_contentType(contentType) {
    m_declared = DeclaredCharset(contentType, m_bytes);
    QByteArray name = FittingEncoding(m_bytes, m_declared, &m_overruled);
    m_decoder = QStringDecoder(name.constData());
    if (!m_decoder.isValid()) {
        name = "GB18030";
        m_decoder = QStringDecoder(name.constData());
    }
    m_encoding = name;
}

const QString& TPageText::text() const {
    if (!m_decoded) {
        m_text = decode(m_bytes);
        m_decoded = true;
    }
    return m_text;
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
