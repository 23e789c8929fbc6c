#include "vendor/utCheckUpdate.h"

#include "net/HttpEngine.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QWaitCondition>

namespace vantero {

namespace {

struct THosts {
    QMutex mutex;
    QString download = QStringLiteral(VANTERO_VENDOR_DOWNLOAD_HOST);
    QString web = QStringLiteral(VANTERO_VENDOR_WEB_HOST);
};

THosts& Hosts() {
    static THosts hosts;
    return hosts;
}

// Whether the application object has gone. Deliberately never freed: a check thread may still
// be running while the program's statics are torn down, and must find this intact.
struct TAppState {
    QMutex mutex;
    QWaitCondition wake;
    bool gone = false;
    QCoreApplication* watched = nullptr;
    QSet<TCheckUpdate*> checks; // alive, started or not
};

TAppState& AppState() {
    static auto* state = new TAppState;
    return *state;
}

// How long the application's end waits for a woken check to leave its thread: it stops at once
// (its waits and its request both watch for the end), so this bounds only a stuck resolver.
constexpr unsigned long kEndWaitMs = 3000;

void MarkAppGone() {
    TAppState& state = AppState();
    QList<TCheckUpdate*> checks;
    {
        QMutexLocker lock(&state.mutex);
        state.gone = true;
        state.watched = nullptr;
        state.wake.wakeAll();
        checks = state.checks.values();
    }
    // A check still running while the program's statics are torn down would use them after
    // they are gone; the woken ones end within moments, and their deleteLater has no event
    // loop left to run it.
    for (TCheckUpdate* check : checks) {
        if (check->wait(kEndWaitMs))
            delete check;
    }
}

bool AppGone() {
    TAppState& state = AppState();
    QMutexLocker lock(&state.mutex);
    return state.gone;
}

// Sleeps for ms, cut short when the application object goes; true when it is still there.
bool Pause(int ms) {
    TAppState& state = AppState();
    QMutexLocker lock(&state.mutex);
    QDeadlineTimer deadline(qMax(ms, 0));
    while (!state.gone && !deadline.hasExpired())
        state.wake.wait(&state.mutex, deadline);
    return !state.gone;
}

// http://host[:port] + pathAndQuery; empty when host is not just a host name with a port.
QUrl HostAddress(const QString& host, const QString& pathAndQuery) {
    const QString name = host.trimmed();
    static const QRegularExpression extra(QStringLiteral("[/?#@\\s]"));
    if (name.isEmpty() || name.contains(extra))
        return {};
    QUrl url(QStringLiteral("http://") + name + pathAndQuery, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    return url;
}

} // namespace

QString VendorDownloadHost() {
    QMutexLocker lock(&Hosts().mutex);
    return Hosts().download;
}

QString VendorWebHost() {
    QMutexLocker lock(&Hosts().mutex);
    return Hosts().web;
}

void SetVendorDownloadHost(const QString& host) {
    QMutexLocker lock(&Hosts().mutex);
    Hosts().download = host;
}

void SetVendorWebHost(const QString& host) {
    QMutexLocker lock(&Hosts().mutex);
    Hosts().web = host;
}

bool VendorHostConfigured(const QString& host) {
    const QUrl url = HostAddress(host, QStringLiteral("/"));
    if (url.isEmpty())
        return false;
    const QString name = url.host().toLower();
    return name != QLatin1String("invalid") && !name.endsWith(QLatin1String(".invalid"));
}

QString VendorPageCaption(TVendorPage page) {
    return page == TVendorPage::UpgradePage ? QStringLiteral("软件升级") : QStringLiteral("使用说明");
}

QUrl VendorPageAddress(TVendorPage page) {
    return HostAddress(VendorWebHost(), page == TVendorPage::UpgradePage ? QStringLiteral("/upgrade/vantero.asp")
                                                                         : QStringLiteral("/upgrade/vantero_help.asp"));
}

int ParseServerVersion(const QByteArray& body, const QString& softName) {
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    const QStringList lines = QString::fromUtf8(body).split(lineBreak);
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0 || line.left(equals).compare(softName, Qt::CaseInsensitive) != 0)
            continue;
        const QString value = line.mid(equals + 1);
        bool ok = false;
        const int number = decimal.match(value).hasMatch() ? value.toInt(&ok, 10) : 0;
        return ok ? number : 0;
    }
    return 0;
}

int QueryServerVersion(const QString& host, const QString& softName, int readTimeoutMs) {
    constexpr int kFailed = 1;
    // An unconfigured build asks nobody.
    if (!VendorHostConfigured(host))
        return kFailed;
    QUrl url = HostAddress(host, QStringLiteral("/download/down.asp"));
    url.setQuery(QStringLiteral("softname=") + QString::fromLatin1(QUrl::toPercentEncoding(softName)));

    THttpRequest request;
    request.url = url;
    // A redirect is not followed: the service answers directly or not at all.
    request.followRedirects = false;
    request.limits.connectMs = readTimeoutMs;
    request.limits.readMs = readTimeoutMs;
    // A check on a worker thread gives up as soon as the program ends.
    request.stopRequested = [] { return AppGone(); };
    try {
        return ParseServerVersion(HttpGet(request).body, softName);
    } catch (const THttpFailure&) {
        return kFailed;
    }
}

TCheckUpdate::TCheckUpdate() {
    TAppState& state = AppState();
    {
        QMutexLocker lock(&state.mutex);
        QCoreApplication* app = QCoreApplication::instance();
        if (app && state.watched != app) {
            state.watched = app;
            state.gone = false;
            qAddPostRoutine(&MarkAppGone);
        }
        state.checks.insert(this);
    }
    // Released when its work ends; nobody holds or joins it.
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

TCheckUpdate::~TCheckUpdate() {
    TAppState& state = AppState();
    QMutexLocker lock(&state.mutex);
    state.checks.remove(this);
}

void TCheckUpdate::run() {
    const int version = QueryServerVersion(Host, SoftName, ReadTimeoutMs);
    if (Pause(WaitBeforeReportMs)) {
        TAppState& state = AppState();
        // Held while posting so the application cannot go away in between.
        QMutexLocker lock(&state.mutex);
        if (!state.gone)
            PostMessageToWindow(TargetWnd, WM_UPDATE_VERSION, 0, version);
    }
    Pause(WaitAfterReportMs);
}

} // namespace vantero
