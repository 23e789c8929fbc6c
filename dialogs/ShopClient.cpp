#include "dialogs/ShopClient.h"

#include <QEventLoop>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace vantero {

namespace {

const QByteArray kAccept = QByteArrayLiteral("text/html, */*");
const QByteArray kContentType = QByteArrayLiteral("text/html");
const QByteArray kUserAgent = QByteArrayLiteral("Mozilla/3.0 (compatible; Indy Library)");

QUrl AddressToUrl(const QString& address) {
    // A shop address is often typed without its scheme; anything but the web schemes is refused so
    // that a typed path never reads a local file.
    const QString text = address.contains(QLatin1String("://")) ? address : QStringLiteral("http://") + address;
    return QUrl(text, QUrl::TolerantMode);
}

} // namespace

TShopClient::TShopClient() : m_jar(new QNetworkCookieJar(&m_manager)) {
    m_manager.setCookieJar(m_jar);
    m_manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

TShopClient::~TShopClient() = default;

TShopClient::TResponse TShopClient::Get(const QString& address) {
    TResponse response;
    const QUrl url = AddressToUrl(address);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        response.error = QStringLiteral("无效的网址：%1").arg(address);
        return response;
    }

    QNetworkRequest request(url);
    request.setRawHeader("Accept", kAccept);
    request.setHeader(QNetworkRequest::ContentTypeHeader, kContentType);
    request.setHeader(QNetworkRequest::UserAgentHeader, kUserAgent);
    // Following never lowers security (no https to http).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, m_handleRedirects
                                                                       ? QNetworkRequest::NoLessSafeRedirectPolicy
                                                                       : QNetworkRequest::ManualRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);

    std::unique_ptr<QNetworkReply> reply(m_manager.get(request));
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    bool timedOut = false;
    bool tooLarge = false;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        if (response.body.size() + reply->bytesAvailable() > kMaxPageBytes) {
            tooLarge = true;
            reply->abort();
            return;
        }
        response.body += reply->readAll();
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    deadline.start(m_timeoutMs);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    deadline.stop();

    if (timedOut) {
        response.error = QStringLiteral("读取超时（%1 秒内未完成）").arg(m_timeoutMs / 1000.0);
        response.body.clear();
        return response;
    }
    if (tooLarge) {
        response.error = QStringLiteral("网页过大（超过 %1 MiB）").arg(kMaxPageBytes / (1024 * 1024));
        response.body.clear();
        return response;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool statusFailed = status >= 400 || (status >= 300 && reply->error() == QNetworkReply::NoError);
    if (statusFailed || reply->error() != QNetworkReply::NoError) {
        if (statusFailed) {
            const QString reason =
                QString::fromLatin1(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray());
            response.error = QStringLiteral("HTTP/1.1 %1 %2").arg(status).arg(reason).trimmed();
        } else {
            response.error = reply->errorString();
        }
        response.body.clear();
        return response;
    }
    response.body += reply->readAll();
    response.contentType = reply->rawHeader("Content-Type");
    response.ok = true;
    return response;
}

} // namespace vantero
