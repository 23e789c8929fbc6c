#pragma once

#include "net/HttpEngine.h"

#include <QByteArray>
#include <QString>

namespace vantero {

// The HTTP client of the rival shops dialog: one per dialog, so the cookies a shop page sets are
// sent back for as long as the dialog is open. A request blocks its caller; on the application's
// thread the event loop keeps running meanwhile for repaints and timers but takes no user input.
class TShopClient final {
    Q_DISABLE_COPY_MOVE(TShopClient)
public:
    static constexpr int kDefaultTimeoutMs = 30000;
    static constexpr int kMaxRedirects = 15;
    static constexpr qint64 kMaxPageBytes = 16 * 1024 * 1024;

    struct TResponse {
        bool ok = false;
        QByteArray body;
        QByteArray contentType; // the answer's Content-Type header
        QUrl finalUrl;          // the address answered, after redirects
        QString error;          // the failure's text when not ok
    };

    TShopClient() = default;

    // Redirects are followed (at most kMaxRedirects in a row) only while this is on.
    void SetHandleRedirects(bool on) { m_handleRedirects = on; }
    bool HandleRedirects() const { return m_handleRedirects; }
    // Time allowed for a whole download; an expired download fails.
    void SetTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    int Timeout() const { return m_timeoutMs; }
    const THttpCookies& Cookies() const { return m_cookies; }

    // GET of address (http or https; a missing scheme means http). Fails on a transport error,
    // an HTTP error status, a time-out or a body over kMaxPageBytes.
    TResponse Get(const QString& address);

private:
    THttpCookies m_cookies;
    bool m_handleRedirects = false;
    int m_timeoutMs = kDefaultTimeoutMs;
};

} // namespace vantero
