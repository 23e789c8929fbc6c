#include "catalogue/ShopClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
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

TShopClient::TResponse TShopClient::Get(const QString& address) {
    TResponse response;
    const QUrl url = AddressToUrl(address);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        response.error = QStringLiteral("无效的网址：%1").arg(address);
        return response;
    }

    const QString timeoutText = QStringLiteral("读取超时（%1 秒内未完成）").arg(m_timeoutMs / 1000.0);
    const QDeadlineTimer deadline(m_timeoutMs);
    THttpRequest request;
    request.url = url;
    request.followRedirects = m_handleRedirects;
    request.limits = {m_timeoutMs, m_timeoutMs, kMaxPageBytes, kMaxRedirects};
    request.userAgent = kUserAgent;
    request.headers = {{"Accept", kAccept}, {"Content-Type", kContentType}};
    request.cookies = &m_cookies;
    request.stopRequested = [&deadline] { return deadline.hasExpired(); };
    request.stoppedText = timeoutText;

    auto download = [&] {
        try {
            THttpResponse answer = HttpGet(request);
            response.body = std::move(answer.body);
            response.contentType = answer.contentType;
            response.finalUrl = answer.finalUrl;
            response.ok = true;
        } catch (const THttpFailure& failure) {
            response.error = failure.text;
        }
    };
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        download();
        return response;
    }
    // On the application's thread the download runs beside it, so windows keep painting.
    std::unique_ptr<QThread> worker(QThread::create(download));
    QEventLoop loop;
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker->wait();
    return response;
}

} // namespace vantero
