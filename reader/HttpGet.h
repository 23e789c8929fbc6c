#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>

namespace vantero {

// One HTTP GET on the calling thread, blocking: a small HTTP/1.1 client of its own, so that a
// reading costs a connection and nothing more (no client object with threads of its own).
// Follows redirects, reads Content-Length, chunked and close-delimited bodies, goes through the
// application's HTTP proxy when one is set, and speaks TLS for https.
struct THttpLimits {
    int connectMs = 30000;      // until the response headers have arrived
    int readMs = 30000;         // from then until the whole body has
    qint64 maxBytes = 16 << 20; // larger bodies fail
    int maxRedirects = 15;
};

struct THttpResponse {
    QByteArray body;
    QByteArray contentType;
    QUrl finalUrl; // the address the body came from, after redirects
};

// What stopped a download, in Chinese, with the details of the network layer where there are any.
struct THttpFailure {
    QString text;
};

// Throws THttpFailure. stopRequested is asked between steps (and while waiting, several times a
// second); a true answer ends the download as a failure with stoppedText.
THttpResponse HttpGet(const QUrl& url, const THttpLimits& limits, const std::function<bool()>& stopRequested,
                      const QString& stoppedText);

} // namespace vantero
