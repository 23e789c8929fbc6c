#include "widgets/UiWebFailure.h"

#include "net/FailureTexts.h"

#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace vantero {

namespace {

// The engine's network error numbers that a user meets.
QString ConnectionMeaning(int code) {
    switch (code) {
    case -105: // NAME_NOT_RESOLVED
    case -137: // NAME_RESOLUTION_FAILED
        return NetTexts::HostNotFound;
    case -106: // INTERNET_DISCONNECTED
        return QStringLiteral("没有网络连接，请检查网络");
    case -102: // CONNECTION_REFUSED
        return NetTexts::Refused;
    case -7:   // TIMED_OUT
    case -118: // CONNECTION_TIMED_OUT
        return QStringLiteral("连接超时，服务器没有响应");
    case -100: // CONNECTION_CLOSED
    case -101: // CONNECTION_RESET
        return NetTexts::ConnectionClosed;
    case -109: // ADDRESS_UNREACHABLE
        return QStringLiteral("无法访问服务器的地址");
    case -3: // ABORTED
        return QStringLiteral("页面读取被中止");
    default:
        return NetTexts::Network;
    }
}

} // namespace

QString WebLoadFailureText(const QWebEngineLoadingInfo& info) {
    QString sentence;
    switch (info.errorDomain()) {
    case QWebEngineLoadingInfo::HttpStatusCodeDomain:
        return NetTexts::HttpStatus(info.errorCode(), info.errorString());
    case QWebEngineLoadingInfo::ConnectionErrorDomain:
        sentence = ConnectionMeaning(info.errorCode());
        break;
    case QWebEngineLoadingInfo::CertificateErrorDomain:
        sentence = NetTexts::Tls;
        break;
    case QWebEngineLoadingInfo::DnsErrorDomain:
        sentence = NetTexts::HostNotFound;
        break;
    default:
        sentence = QStringLiteral("页面无法打开");
        break;
    }
    const QString detail = info.errorString().trimmed();
    return detail.isEmpty() ? sentence : QStringLiteral("%1（%2）").arg(sentence, detail);
}

void ShowChineseErrorPages(QWebEngineView* view) {
    view->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    QObject::connect(view->page(), &QWebEnginePage::loadingChanged, view, [view](const QWebEngineLoadingInfo& info) {
        if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus || info.isErrorPage())
            return;
        // A stopped load (another address was asked for meanwhile) is no failure to show.
        if (info.errorDomain() == QWebEngineLoadingInfo::ConnectionErrorDomain && info.errorCode() == -3)
            return;
        const QString page =
            QStringLiteral("<html><head><meta charset=\"utf-8\"><title>无法打开页面</title></head>"
                           "<body style=\"font-family: sans-serif; margin: 2em;\"><h3>无法打开页面</h3>"
                           "<p>%1</p><p style=\"color: #666;\">%2</p></body></html>")
                .arg(WebLoadFailureText(info).toHtmlEscaped(), info.url().toString().toHtmlEscaped());
        view->setHtml(page);
    });
}

} // namespace vantero
