#include "net/WebAddress.h"

#include "net/FailureTexts.h"

#include <QHostAddress>
#include <QUrl>

namespace vantero {

namespace {

constexpr int kShownChars = 100;
constexpr int kMaxHostChars = 253; // the longest name the name system can carry

bool IsBlank(QChar c) {
    return c.unicode() <= 32;
}

QString Trimmed(const QString& text) {
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && IsBlank(text[from]))
        ++from;
    while (to > from && IsBlank(text[to - 1]))
        --to;
    return text.mid(from, to - from);
}

} // namespace

QString ShownAddress(const QString& address) {
    if (address.size() <= kShownChars)
        return address;
    return address.left(kShownChars) + QStringLiteral("…");
}

QString WebAddressProblem(const QString& typed) {
    const QString address = Trimmed(typed);
    const QString shown = ShownAddress(address);
    if (address.isEmpty())
        return AddressTexts::Empty;
    for (QChar c : address) {
        if (IsBlank(c))
            return AddressTexts::Blank.arg(shown);
    }
    if (address.contains(QLatin1Char('\\')))
        return AddressTexts::Backslash.arg(shown);
    const qsizetype schemeEnd = address.indexOf(QLatin1String("://"));
    const QString scheme = schemeEnd > 0 ? address.left(schemeEnd).toLower() : QString();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return NetTexts::BadAddress;
    // The authority, read by hand: an address QUrl refuses still gets the reason that applies.
    const qsizetype authorityStart = schemeEnd + 3;
    qsizetype authorityEnd = address.size();
    for (const char stop : {'/', '?', '#'}) {
        const qsizetype at = address.indexOf(QLatin1Char(stop), authorityStart);
        if (at >= 0 && at < authorityEnd)
            authorityEnd = at;
    }
    const QString authority = address.mid(authorityStart, authorityEnd - authorityStart);
    // A name before "@" is no part of the site: the page comes from what follows it, and a
    // password would be sent and stored with the address.
    if (authority.contains(QLatin1Char('@')))
        return AddressTexts::UserInfo.arg(shown);
    QString host = authority;
    QString port;
    if (authority.startsWith(QLatin1Char('['))) {
        const qsizetype close = authority.indexOf(QLatin1Char(']'));
        host = close > 0 ? authority.left(close + 1) : authority;
        if (close > 0 && authority.size() > close + 1 && authority[close + 1] == QLatin1Char(':'))
            port = authority.mid(close + 2);
    } else if (const qsizetype colon = authority.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        host = authority.left(colon);
        port = authority.mid(colon + 1);
    }
    if (host.isEmpty())
        return AddressTexts::NoHost.arg(shown);
    if (host.size() > kMaxHostChars)
        return AddressTexts::LongHost.arg(kMaxHostChars).arg(shown);
    if (!port.isEmpty()) {
        bool ok = false;
        const int number = port.toInt(&ok);
        if (!ok || number < 1 || number > 65535 || port.size() > 5)
            return AddressTexts::Port.arg(ShownAddress(port), shown);
    }
    const QUrl url(address);
    if (!url.isValid() || url.host().isEmpty())
        return AddressTexts::Invalid.arg(shown);
    return {};
}

bool IsLocalNetworkHost(const QString& hostText) {
    QString host = hostText;
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
        host.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive))
        return true;
    QHostAddress address(host);
    if (address.isNull())
        return false;
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped) {
        const auto in = [v4](quint32 network, int bits) { return (v4 >> (32 - bits)) == (network >> (32 - bits)); };
        return in(0x00000000, 8) || in(0x7f000000, 8) || in(0x0a000000, 8) || in(0xac100000, 12) ||
               in(0xc0a80000, 16) || in(0xa9fe0000, 16) || in(0x64400000, 10);
    }
    return address.isLoopback() || address.isLinkLocal() || address.isUniqueLocalUnicast() || address.isSiteLocal() ||
           address == QHostAddress(QHostAddress::AnyIPv6);
}

} // namespace vantero
