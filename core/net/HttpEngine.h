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

// Where a download's time went, from libcurl's own clock, in microseconds: each phase on its own
// (not cumulative). tls is 0 for http; redirects is the time spent on the hops before the last.
struct THttpTiming {
    qint64 dnsUs = 0;
    qint64 connectUs = 0;
    qint64 tlsUs = 0;
    qint64 firstByteUs = 0; // from the request sent to the answer's first byte
    qint64 bodyUs = 0;
    qint64 redirectsUs = 0;
    qint64 totalUs = 0;
    bool measured = false; // false: the download never reached the network

    // "dns=0.1 connect=20.3 tls=40.8 first_byte=21.0 body=60.2 total=142.4" (milliseconds), as stored.
    QString storedText() const;
    // The same in the user's words.
    QString displayText() const;
    // The stored form read back in the user's words ('' when empty).
    static QString DisplayFromStored(const QString& stored);
};

struct THttpResponse {
    QByteArray body; // decoded
    QByteArray contentType;
    QUrl finalUrl; // the address answered, after redirects
    int status = 0;
    qint64 wireBytes = 0; // of the final answer's body, as it travelled
    THttpTiming timing;
};

// What stopped a download, in Chinese, with libcurl's own text in brackets where it has one.
struct THttpFailure {
    QString text;
    int status = 0; // an answer's status that is not a success, with its reason phrase
    QByteArray reason;
    THttpTiming timing; // as far as the download came
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
// Carry TLS sessions and TCP Fast Open cookies from one download to the next (off: every download
// starts from nothing, so no download depends on another and a server cannot link them by these).
void SetHttpSessionReuse(bool on);
bool HttpSessionReuse();
// The content codings this libcurl decodes, as sent in Accept-Encoding ("gzip, deflate, br").
QByteArray HttpDecodedEncodings();

} // namespace vantero
