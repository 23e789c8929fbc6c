#include "catalogue/ShopPage.h"

#include "catalogue/MarketHosts.h"
#include "catalogue/ShopClient.h"
#include "common/TextHelpers.h"
#include "net/WebAddress.h"
#include "reader/Extract.h"
#include "reader/PageText.h"
#include "store/PageOutcomes.h"

#include <QStringDecoder>

namespace vantero {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The charset named after "charset=" in text, without quotes; empty when none.
QByteArray CharsetIn(QByteArrayView text) {
    const qsizetype at = FindNoCase(text, "charset=");
    if (at < 0)
        return {};
    qsizetype begin = at + 8;
    while (begin < text.size() && (text[begin] == '"' || text[begin] == '\'' || text[begin] == ' '))
        ++begin;
    qsizetype end = begin;
    while (end < text.size()) {
        const char c = text[end];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
              c == '.' || c == ':'))
            break;
        ++end;
    }
    return text.sliced(begin, end - begin).toByteArray();
}

QByteArray MetaCharset(QByteArrayView page) {
    for (qsizetype at = FindNoCase(page, "<meta"); at >= 0; at = FindNoCase(page, "<meta", at + 5)) {
        qsizetype end = page.indexOf('>', at);
        if (end < 0)
            end = page.size();
        const QByteArray charset = CharsetIn(page.sliced(at, end - at));
        if (!charset.isEmpty())
            return charset;
    }
    return {};
}

QByteArray Marker(const char* before, const char* host, const char* after) {
    return QByteArray(before) + host + after;
}

} // namespace

QString RivalCountText(int count) {
    return RivalTexts::Count.arg(count);
}

QString ShopAddressPrompt() {
    return RivalTexts::AddressPrompt + QLatin1String(SAMPLE_SHOP_URL);
}

bool IsShopAddress(const QString& address) {
    const QString lower = LowerAscii(address);
    return lower.contains(QLatin1String(MARKET_DOMAIN)) || lower.contains(QLatin1String(MALL_DOMAIN));
}

bool PercentDecode(QByteArrayView text, QByteArray* decoded, QString* error, const QByteArray& encoding) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c != '%') {
            out += c;
        } else if (i + 1 < text.size() && text[i + 1] == '%') {
            out += '%';
            ++i;
        } else if (i + 2 >= text.size()) {
            if (error)
                *error = RivalTexts::DecodeShort.arg(i + 1);
            return false;
        } else {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high < 0 || low < 0) {
                if (error)
                    *error = RivalTexts::DecodeInvalid.arg(DecodePageText(text.sliced(i, 3), encoding),
                                                           QString::number(i + 1));
                return false;
            }
            out += char(high * 16 + low);
            i += 2;
        }
    }
    if (decoded)
        *decoded = out;
    return true;
}

QByteArray PageEncoding(QByteArrayView page, QByteArrayView contentType) {
    QByteArray charset = CharsetIn(contentType);
    if (charset.isEmpty())
        charset = MetaCharset(page);
    if (charset.isEmpty())
        charset = QByteArrayLiteral("GBK");
    // A mislabelled page is read in the encoding its bytes are in, as item pages are.
    bool overruled = false;
    const QByteArray fitting = TPageText::FittingEncoding(page, charset, &overruled);
    return overruled ? fitting : charset;
}

QString DecodePageText(QByteArrayView bytes, const QByteArray& encoding) {
    QByteArray name = encoding;
    // Pages that say gb2312 are written in its superset in practice.
    if (name.compare("gb2312", Qt::CaseInsensitive) == 0)
        name = QByteArrayLiteral("GBK");
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        decoder = QStringDecoder("GBK");
    return decoder.decode(bytes);
}

TShopPageReading ReadShopPage(QByteArrayView downloaded, QByteArrayView contentType) {
    TShopPageReading reading;
    const QByteArray page = StripLineBreaks(downloaded);
    if (TrimBlanks(QByteArrayView(ExtractBetween(page, "ownerid=", "&"))).isEmpty()) {
        reading.outcome = TShopPageReading::Outcome::NoOwnerId;
        reading.failure = RivalTexts::PageFailed;
        return reading;
    }
    const QByteArray encoding = PageEncoding(page, contentType);

    const QByteArray viewed = ExtractBetween(page, "<div id=\"J_shopViewed\" data-value=", "\"link\":\"http:");
    const QByteArray shopName = ExtractBetween(viewed, "\"name\":\"", "\"");

    QByteArray account =
        ExtractBetween(ExtractBetween(page, Marker("<a href=\"http://", RATE_HOST, "/user-rate-"), "/a>"), ">", "<");
    if (TrimBlanks(QByteArrayView(account)).isEmpty()) {
        const QByteArray block =
            ExtractBetween(page, "<div id=\"shop-info\">", Marker("<a href=\"http://", RATE_HOST, "/"));
        account = ExtractBetween(block, Marker("", MARKET_DOMAIN, "\">"), "<");
    }
    if (TrimBlanks(QByteArrayView(account)).isEmpty())
        account = ExtractBetween(page, "recipient_nickname=", "\"");
    if (account.contains('%')) {
        QByteArray decoded;
        QString error;
        if (!PercentDecode(account, &decoded, &error, encoding)) {
            reading.outcome = TShopPageReading::Outcome::DecodeFailed;
            reading.failure = error;
            return reading;
        }
        account = decoded;
    }

    reading.outcome = TShopPageReading::Outcome::Read;
    reading.account = DecodePageText(account, encoding);
    reading.shopName = DecodePageText(shopName, encoding);
    return reading;
}

TAddRivalResult AddRival(TShopClient& http, TRecordSet& rivals, const QString& typedAddress) {
    using Outcome = TAddRivalResult::Outcome;
    TAddRivalResult result;
    const QString address = TrimBlanks(typedAddress);
    result.shopURL = address;
    if (!IsShopAddress(address)) {
        result.outcome = Outcome::BadAddress;
        result.message = ShopAddressPrompt();
        return result;
    }
    // A shop address may be typed without its scheme; what else is wrong with it still counts
    // (a name before "@" leads to another site than the one it shows).
    if (const QString problem =
            WebAddressProblem(address.contains(QLatin1String("://")) ? address : QStringLiteral("http://") + address);
        !problem.isEmpty()) {
        result.outcome = Outcome::BadAddress;
        result.message = problem;
        return result;
    }

    http.SetHandleRedirects(true);
    const TShopClient::TResponse response = http.Get(address);
    http.SetHandleRedirects(false);
    if (!response.ok) {
        result.outcome = Outcome::DownloadFailed;
        result.message = RivalTexts::DownloadFailed + response.error;
        return result;
    }

    const TShopPageReading reading = ReadShopPage(response.body, response.contentType);
    if (reading.outcome != TShopPageReading::Outcome::Read) {
        result.outcome =
            reading.outcome == TShopPageReading::Outcome::NoOwnerId ? Outcome::PageFailed : Outcome::DecodeFailed;
        result.message = reading.failure;
        return result;
    }
    result.account = reading.account;
    result.shopName = reading.shopName;

    try {
        rivals.Append();
        rivals.FieldByName(QStringLiteral("RivalWW")).SetAsString(reading.account);
        rivals.FieldByName(QStringLiteral("ShopURL")).SetAsString(address);
        rivals.FieldByName(QStringLiteral("ShopName")).SetAsString(reading.shopName);
        rivals.FieldByName(QStringLiteral("ShopClass")).SetAsString(RivalTexts::ShopKind);
        rivals.FieldByName(QStringLiteral("ShopType")).SetAsString(RivalTexts::ShopKind);
        rivals.Post();
    } catch (...) {
        rivals.Cancel();
        throw;
    }
    result.outcome = Outcome::Stored;
    result.message = RivalTexts::Added;
    return result;
}

QString DeleteRival(TRecordSet& mappings, TRecordSet& rivals) {
    const QString account = TrimBlanks(rivals.FieldByName(QStringLiteral("RivalWW")).AsString());
    mappings.Close();
    for (const QString& spelling :
         StoredAccountSpellings(mappings.Connection(), QStringLiteral("RivalItems"), account)) {
        mappings.SetSQL(QStringLiteral("delete from RivalItems where RivalWW=?"), {spelling});
        mappings.ExecSQL();
    }
    DeleteShopOutcomes(mappings.Connection(), account);
    rivals.Delete();
    return account;
}

} // namespace vantero
