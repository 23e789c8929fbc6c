#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>

namespace vantero {

// Every download of the program goes through HttpGet: one GET on the calling thread, blocking,
// over libcurl. Each call has a transfer of its own, created and released within the call: no
// connection and no cookie outlives it unless the caller hands in a THttpCookies. Only http and
// https; certificates are checked against the system's store; never from https down to http.

struct THttpLimits {
    int connectMs = 30000;      // until the response headers have arrived
    int readMs = 30000;         // from then until the whole body has
    qint64 maxBytes = 16 << 20; // larger bodies fail, counted after decoding
    int maxRedirects = 15;
};

// Cookies kept between the requests of one owner (a dialog's client), in the order received.
class THttpCookies final {
public:
    QList<QByteArray> lines; // libcurl's cookie-file lines
};

struct THttpRequest {
    QUrl url;
    THttpLimits limits;
    bool followRedirects = true;
    bool compressed = true; // ask for every encoding this libcurl decodes; the body comes decoded
    QByteArray userAgent = QByteArrayLiteral("Mozilla/5.0 (compatible; Vantero)");
    QList<QPair<QByteArray, QByteArray>> headers; // more request headers
    THttpCookies* cookies = nullptr;              // sent and updated; none kept when null
    // Asked several times a second; true ends the download as a failure with stoppedText.
    std::function<bool()> stopRequested;
    QString stoppedText;
};

struct THttpResponse {
    QByteArray body; // decoded
    QByteArray contentType;
    QUrl finalUrl; // the address answered, after redirects
    int status = 0;
    qint64 wireBytes = 0; // of the final answer's body, as it travelled
};

// What stopped a download, in Chinese, with libcurl's own text in brackets where it has one.
struct THttpFailure {
    QString text;
    int status = 0; // an answer's status that is not a success, with its reason phrase
    QByteArray reason;
};

// Throws THttpFailure.
THttpResponse HttpGet(const THttpRequest& request);
THttpResponse HttpGet(const QUrl& url, const THttpLimits& limits, const std::function<bool()>& stopRequested,
                      const QString& stoppedText);

// Settings of every download of the process. The proxy is used for every address but those on
// this machine; without one, the system's (http_proxy, https_proxy, no_proxy) apply.
void SetHttpProxy(const QUrl& proxy);
QUrl HttpProxy();
// Certificates trusted for https instead of the system's store (empty: the system's).
void SetHttpCaFile(const QString& path);
// The content codings this libcurl decodes, as sent in Accept-Encoding ("gzip, deflate, br").
QByteArray HttpDecodedEncodings();

} // namespace vantero
