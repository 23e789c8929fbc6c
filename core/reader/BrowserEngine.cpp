#include "reader/BrowserEngine.h"

#include "store/ServerSession.h"

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QMutex>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <limits>
#include <mutex>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vantero {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kFolderName = "vanteroData.browser";
constexpr int kWaitSliceMs = 50;
constexpr qint64 kCacheBytes = 64 * 1024 * 1024;
constexpr int kMemoryLookMs = 200;
constexpr int kScriptHeapMiB = 512;
constexpr int kHelperGraceMs = 5000;

QMutex gLimitsMutex;
TBrowserEngine::Limits gLimits;
QMutex gEngineMutex;
TBrowserEngine* gEngine = nullptr;

} // namespace

// One page's way through the engine. The worker side waits on settled; the engine side (its
// thread only) fills in the state.
struct TBrowserEngine::TJob {
    enum State { Queued, Loading, Loaded, Failed };

    QString url;
    QString folder;

    std::mutex mutex;
    std::condition_variable settled;
    State state = Queued;
    QString failure;
    bool released = false;
    bool snapshotPending = false;
    quint64 snapshots = 0;
    TRenderedPage snapshot;
};

namespace {

// A browser helper process of this program: the engine's zygote, renderer, GPU and utility
// processes. The renderers are the zygote's children, not this process's.
struct THelperProcess {
    pid_t pid = 0;
    pid_t parent = 0;
    QByteArray started; // start time since boot: a pid used again later is another process
    char state = 0;
};

// One look at /proc: "pid (comm) state ppid ... starttime ..."; the name may hold blanks, so
// fields count from its ")".
std::optional<THelperProcess> ReadProcess(const QString& pid, QByteArray* name) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    const qsizetype open = line.indexOf('(');
    const qsizetype close = line.lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 20)
        return std::nullopt;
    if (name)
        *name = line.mid(open + 1, close - open - 1);
    THelperProcess process;
    process.pid = pid_t(pid.toLongLong());
    process.state = fields[0].isEmpty() ? 0 : fields[0][0];
    process.parent = pid_t(fields[1].toLongLong());
    process.started = fields[19];
    return process;
}

// The helper processes below this one, however deep.
std::vector<THelperProcess> HelperProcesses() {
    std::vector<THelperProcess> all;
    std::vector<bool> helper;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QByteArray name;
        if (const std::optional<THelperProcess> process = ReadProcess(entry, &name)) {
            all.push_back(*process);
            helper.push_back(name.startsWith("QtWebEngineProc"));
        }
    }
    std::vector<THelperProcess> found;
    std::vector<pid_t> parents{::getpid()};
    for (size_t next = 0; next < parents.size(); ++next) {
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i].parent == parents[next] && helper[i]) {
                found.push_back(all[i]);
                parents.push_back(all[i].pid);
            }
        }
    }
    return found;
}

// Resident memory of this process's browser helpers, from /proc: the page's scripts allocate
// there, not in this process.
qint64 HelperMemoryBytes() {
    const long pageBytes = ::sysconf(_SC_PAGESIZE);
    qint64 total = 0;
    for (const THelperProcess& process : HelperProcesses()) {
        QFile statm(QStringLiteral("/proc/%1/statm").arg(process.pid));
        if (!statm.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> pages = statm.readAll().split(' ');
        if (pages.size() > 1)
            total += pages[1].toLongLong() * pageBytes;
    }
    return total;
}

// Whether a helper seen before has ended; one that is this process's child is collected.
bool HelperGone(const THelperProcess& helper) {
    if (helper.parent == ::getpid()) {
        int status = 0;
        const pid_t reaped = ::waitpid(helper.pid, &status, WNOHANG);
        if (reaped == helper.pid || (reaped < 0 && errno == ECHILD))
            return true;
    }
    const std::optional<THelperProcess> now = ReadProcess(QString::number(helper.pid), nullptr);
    // Gone, a zombie whose parent is someone else now, or another process under the same pid.
    return !now || now->started != helper.started || (now->state == 'Z' && now->parent != ::getpid());
}

QMutex gHelpersMutex;
std::vector<THelperProcess> gHelpersSeen;
std::atomic<bool> gEverStarted = false;

void RememberHelpers() {
    const std::vector<THelperProcess> now = HelperProcesses();
    QMutexLocker lock(&gHelpersMutex);
    for (const THelperProcess& helper : now) {
        const bool known = std::any_of(gHelpersSeen.begin(), gHelpersSeen.end(), [&](const THelperProcess& seen) {
            return seen.pid == helper.pid && seen.started == helper.started;
        });
        if (!known)
            gHelpersSeen.push_back(helper);
    }
}

// Profiles the browser engine keeps in its default place under our storage names: older
// versions kept one per database there (the profile now lives beside the database only), and
// the engine still makes an empty one for each profile it opens. only: one name, else every
// name of the form "vantero-" and 40 hex digits.
void RemoveDefaultPlaceProfiles(const QString& only) {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (base.isEmpty())
        return;
    QDir place(QDir(base).filePath(QStringLiteral("QtWebEngine")));
    if (!place.exists())
        return;
    static const QRegularExpression ours(QStringLiteral("^vantero-[0-9a-f]{40}$"));
    const QStringList names = only.isEmpty() ? place.entryList(QDir::Dirs | QDir::NoDotAndDotDot) : QStringList{only};
    for (const QString& name : names) {
        if (ours.match(name).hasMatch() && place.exists(name))
            QDir(place.filePath(name)).removeRecursively();
    }
    place.rmdir(place.path()); // only when nothing else is left in it
}

} // namespace

qint64 TBrowserEngine::HelperMemory() {
    return HelperMemoryBytes();
}

// Readings show no dialogs and print no console lines: nobody is there to answer them.
class TBrowserEngine::TPage final : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override {}
};

// Fields never come from images, media or fonts; not loading them keeps a reading short and the
// render process small.
class TBrowserEngine::TInterceptor final : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        switch (info.resourceType()) {
        case QWebEngineUrlRequestInfo::ResourceTypeImage:
        case QWebEngineUrlRequestInfo::ResourceTypeFontResource:
        case QWebEngineUrlRequestInfo::ResourceTypeMedia:
        case QWebEngineUrlRequestInfo::ResourceTypeObject:
        case QWebEngineUrlRequestInfo::ResourceTypeFavicon:
        case QWebEngineUrlRequestInfo::ResourceTypePluginResource:
            info.block(true);
            break;
        default:
            break;
        }
    }
};

TBrowserEngine::Limits TBrowserEngine::RenderLimits() {
    QMutexLocker lock(&gLimitsMutex);
    return gLimits;
}

void TBrowserEngine::SetRenderLimits(const Limits& limits) {
    QMutexLocker lock(&gLimitsMutex);
    gLimits = limits;
}

TBrowserEngine::Limits TBrowserEngine::LimitsFromEnvironment(const Limits& base) {
    Limits limits = base;
    const QByteArray value = qgetenv("VANTERO_BROWSER_LIMITS");
    for (const QByteArray& part : value.split(',')) {
        const qsizetype equals = part.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = part.left(equals).trimmed();
        bool ok = false;
        const qint64 number = part.mid(equals + 1).trimmed().toLongLong(&ok);
        if (!ok || number < 0 || number > std::numeric_limits<int>::max())
            continue;
        if (key == "render" && number > 0)
            limits.renderMs = int(number);
        else if (key == "poll" && number > 0)
            limits.pollMs = int(number);
        else if (key == "wall")
            limits.wallSettleMs = int(number);
        else if (key == "settle")
            limits.noItemSettleMs = int(number);
        else if (key == "memory")
            limits.memoryBytes = number << 20;
    }
    return limits;
}

TBrowserEngine::TBrowserEngine() : m_interceptor(new TInterceptor(this)) {}

TBrowserEngine::~TBrowserEngine() {
    // Pages before their profiles: a profile released under a live page takes the page down.
    delete m_page;
    m_page = nullptr;
    for (const auto& job : std::as_const(m_queue)) {
        std::lock_guard lock(job->mutex);
        job->state = TJob::Failed;
        job->failure = BrowserTexts::Unavailable;
        job->settled.notify_all();
    }
    if (m_active) {
        std::lock_guard lock(m_active->mutex);
        m_active->state = TJob::Failed;
        m_active->failure = BrowserTexts::Unavailable;
        m_active->settled.notify_all();
    }
    qDeleteAll(m_profiles);
}

void TBrowserEngine::Start() {
    QMutexLocker lock(&gEngineMutex);
    if (gEngine)
        return;
    // A script's heap has a ceiling of its own, below the watchdog on the helpers' total; read
    // when the browser's first page or profile starts its helpers.
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains("--js-flags")) {
        flags += QByteArrayLiteral(" --js-flags=--max-old-space-size=") + QByteArray::number(kScriptHeapMiB);
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
    }
    gEverStarted.store(true);
    RemoveDefaultPlaceProfiles({});
    SetRenderLimits(LimitsFromEnvironment(RenderLimits()));
    gEngine = new TBrowserEngine;
}

bool TBrowserEngine::Available() {
    QMutexLocker lock(&gEngineMutex);
    return gEngine != nullptr;
}

void TBrowserEngine::Shutdown() {
    TBrowserEngine* engine = nullptr;
    {
        QMutexLocker lock(&gEngineMutex);
        engine = std::exchange(gEngine, nullptr);
    }
    delete engine;
    // The helpers end with the application; known now, they can be waited for after it.
    RememberHelpers();
}

TBrowserHelpersEnd::~TBrowserHelpersEnd() {
    if (!gEverStarted.load())
        return; // a program that never started the browser has no helpers
    RememberHelpers();
    std::vector<THelperProcess> left;
    {
        QMutexLocker lock(&gHelpersMutex);
        left.swap(gHelpersSeen);
    }
    // With the application gone the helpers have nothing left to do: the zygotes only wait for
    // this process to end before they go. They are asked to end now, and made to if they stay.
    // Only a helper still there (its start time checked) gets a signal, never a stranger that
    // took over the number of one already gone.
    std::erase_if(left, HelperGone);
    for (const THelperProcess& helper : left)
        ::kill(helper.pid, SIGTERM);
    const auto start = Clock::now();
    bool forced = false;
    while (!left.empty()) {
        std::erase_if(left, HelperGone);
        if (left.empty())
            break;
        const auto waited = Clock::now() - start;
        if (!forced && waited >= std::chrono::milliseconds(kHelperGraceMs)) {
            forced = true;
            for (const THelperProcess& helper : left)
                ::kill(helper.pid, SIGKILL);
        } else if (forced && waited >= std::chrono::milliseconds(2 * kHelperGraceMs)) {
            break; // not ours to wait for any longer (a process that cannot be killed)
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

QString TBrowserEngine::ProfileFolder(const QString& databasePath) {
    // A server database has no folder of its own on this desk: its profile lives in the user's
    // data folder, one per server database.
    if (IsServerTarget(databasePath))
        return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
            .filePath(
                QStringLiteral("servers/%1/%2").arg(ServerFolderName(databasePath), QString::fromLatin1(kFolderName)));
    return QFileInfo(databasePath).absoluteDir().filePath(QString::fromLatin1(kFolderName));
}

QWebEngineProfile* TBrowserEngine::Profile(const QString& folder) {
    QMutexLocker lock(&gEngineMutex);
    return gEngine ? gEngine->ProfileFor(folder) : nullptr;
}

QWebEngineProfile* TBrowserEngine::ProfileFor(const QString& folder) {
    const QString path = QDir::cleanPath(QDir(folder).absolutePath());
    if (QWebEngineProfile* known = m_profiles.value(path))
        return known;
    // The visited pages and the login cookies are the seller's alone.
    QDir().mkpath(path);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // The storage name only has to be unique in this process; the folder says where it lives.
    const QString name = QStringLiteral("vantero-") +
                         QString::fromLatin1(QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex());
    auto* profile = new QWebEngineProfile(name, this);
    profile->setPersistentStoragePath(path);
    // The engine makes a folder for a named profile in its default place before it is told the
    // real one; nothing of ours stays there.
    RemoveDefaultPlaceProfiles(name);
    profile->setCachePath(QDir(path).filePath(QStringLiteral("cache")));
    profile->setHttpCacheMaximumSize(int(kCacheBytes));
    // A login that the site keeps only for the session must still survive a restart.
    profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    m_profiles.insert(path, profile);
    return profile;
}

void TBrowserEngine::Submit(const std::shared_ptr<TJob>& job) {
    m_queue.push_back(job);
    StartNext();
}

void TBrowserEngine::StartNext() {
    while (!m_active && !m_queue.empty()) {
        std::shared_ptr<TJob> job = m_queue.front();
        m_queue.pop_front();
        {
            std::lock_guard lock(job->mutex);
            if (job->released)
                continue;
            job->state = TJob::Loading;
            job->settled.notify_all();
        }
        m_active = job;
        m_page = new TPage(ProfileFor(job->folder), this);
        QWebEngineSettings* settings = m_page->settings();
        settings->setAttribute(QWebEngineSettings::AutoLoadImages, false);
        settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
        settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
        m_page->setUrlRequestInterceptor(m_interceptor);
        std::weak_ptr<TJob> weak = job;
        connect(m_page, &QWebEnginePage::loadingChanged, this, [weak](const QWebEngineLoadingInfo& info) {
            const std::shared_ptr<TJob> current = weak.lock();
            if (!current)
                return;
            std::lock_guard lock(current->mutex);
            if (current->state == TJob::Failed)
                return;
            switch (info.status()) {
            case QWebEngineLoadingInfo::LoadStartedStatus:
                // A script or a redirect that moves on starts over: the fields come from where it ends.
                current->state = TJob::Loading;
                break;
            case QWebEngineLoadingInfo::LoadSucceededStatus:
                current->state = TJob::Loaded;
                current->snapshotPending = false; // a look asked for before a navigation may never answer
                break;
            case QWebEngineLoadingInfo::LoadFailedStatus:
                current->state = TJob::Failed;
                current->failure = BrowserTexts::LoadFailed.arg(
                    info.errorString().isEmpty() ? QString::number(info.errorCode()) : info.errorString());
                break;
            case QWebEngineLoadingInfo::LoadStoppedStatus:
                break;
            }
            current->settled.notify_all();
        });
        // A renderer that ends under a page (its script heap ran out, or it crashed) answers no
        // more: the reading fails at once rather than waiting out its limit.
        connect(m_page, &QWebEnginePage::renderProcessTerminated, this,
                [weak](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                    const std::shared_ptr<TJob> current = weak.lock();
                    if (!current)
                        return;
                    std::lock_guard lock(current->mutex);
                    if (current->state == TJob::Failed)
                        return;
                    current->state = TJob::Failed;
                    const char* how = status == QWebEnginePage::KilledTerminationStatus    ? "killed"
                                      : status == QWebEnginePage::CrashedTerminationStatus ? "crashed"
                                                                                           : "exit";
                    current->failure =
                        BrowserTexts::RendererEnded.arg(QStringLiteral("%1 %2").arg(QLatin1String(how)).arg(exitCode));
                    current->settled.notify_all();
                });
        m_page->load(QUrl(job->url));
    }
}

void TBrowserEngine::TakeSnapshot(const std::shared_ptr<TJob>& job) {
    if (m_active != job || !m_page)
        return;
    const QString finalUrl = m_page->url().toString();
    std::weak_ptr<TJob> weak = job;
    m_page->toHtml([weak, finalUrl](const QString& html) {
        const std::shared_ptr<TJob> current = weak.lock();
        if (!current)
            return;
        std::lock_guard lock(current->mutex);
        current->snapshot = {html.toUtf8(), finalUrl};
        current->snapshotPending = false;
        ++current->snapshots;
        current->settled.notify_all();
    });
}

void TBrowserEngine::Release(const std::shared_ptr<TJob>& job) {
    if (m_active == job) {
        // Released now, not later: the next page must not start beside this one.
        delete m_page;
        m_page = nullptr;
        m_active.reset();
    } else {
        std::erase(m_queue, job);
    }
    StartNext();
}

namespace {

// Waits for the job to change, at most one slice. On the engine's own thread the wait runs
// that thread's events, or nothing would ever change.
void WaitSlice(const std::shared_ptr<TBrowserEngine::TJob>& job, std::unique_lock<std::mutex>& lock,
               bool onEngineThread, quint64 seen, TBrowserEngine::TJob::State state) {
    if (onEngineThread) {
        lock.unlock();
        QEventLoop loop;
        QTimer::singleShot(kWaitSliceMs, &loop, &QEventLoop::quit);
        loop.exec();
        lock.lock();
        return;
    }
    job->settled.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs),
                          [&] { return job->snapshots != seen || job->state != state; });
}

} // namespace

TRenderedPage TBrowserEngine::RunJob(const QString& url, const QString& folder,
                                     const std::function<bool(const TRenderedPage&)>& fieldsFound,
                                     const std::function<bool()>& stopRequested, const QString& stopText,
                                     bool lookForFields) {
    TBrowserEngine* engine = nullptr;
    {
        QMutexLocker lock(&gEngineMutex);
        engine = gEngine;
    }
    if (!engine)
        throw TRenderFailure{BrowserTexts::Unavailable};
    const bool onEngineThread = QThread::currentThread() == engine->thread();
    const TBrowserEngine::Limits limits = TBrowserEngine::RenderLimits();

    auto job = std::make_shared<TBrowserEngine::TJob>();
    job->url = url;
    job->folder = folder;
    auto post = [engine, job](void (TBrowserEngine::*step)(const std::shared_ptr<TBrowserEngine::TJob>&)) {
        QMetaObject::invokeMethod(
            engine, [engine, job, step] { (engine->*step)(job); }, Qt::QueuedConnection);
    };
    // However the wait ends, the page goes: the engine never keeps one for a reading that left.
    struct TRelease {
        std::function<void()> run;
        ~TRelease() { run(); }
    } release{[&] {
        {
            std::lock_guard lock(job->mutex);
            job->released = true;
        }
        // The engine may be gone by now (program end): then nothing is left to release.
        QMutexLocker lock(&gEngineMutex);
        if (gEngine == engine)
            post(&TBrowserEngine::Release);
    }};
    {
        QMutexLocker lock(&gEngineMutex);
        if (gEngine != engine)
            throw TRenderFailure{BrowserTexts::Unavailable};
        post(&TBrowserEngine::Submit);
    }

    const auto limit = std::chrono::milliseconds(limits.renderMs);
    std::optional<Clock::time_point> deadline; // from the start of the load: a queued page waits its turn
    Clock::time_point nextLook;
    Clock::time_point nextMemoryLook;
    quint64 seen = 0;
    std::unique_lock lock(job->mutex);
    for (;;) {
        if (stopRequested && stopRequested())
            throw TRenderFailure{stopText};
        const Clock::time_point now = Clock::now();
        if (job->state != TBrowserEngine::TJob::Queued && !deadline)
            deadline = now + limit;
        if (job->state == TBrowserEngine::TJob::Failed)
            throw TRenderFailure{job->failure};
        // A page whose scripts allocate without end would take the machine's memory with it;
        // leaving ends the page (released below) and with it what its renderer holds.
        if (limits.memoryBytes > 0 && now >= nextMemoryLook) {
            nextMemoryLook = now + std::chrono::milliseconds(kMemoryLookMs);
            if (HelperMemoryBytes() > limits.memoryBytes)
                throw TRenderFailure{BrowserTexts::TooMuchMemory.arg(limits.memoryBytes >> 20)};
        }
        if (job->snapshots != seen) {
            seen = job->snapshots;
            const TRenderedPage page = job->snapshot;
            lock.unlock();
            const bool found = !lookForFields || (fieldsFound && fieldsFound(page));
            lock.lock();
            if (found)
                return page;
        }
        if (deadline && now >= *deadline) {
            // Loaded but the fields never came: the last document read as it is (no item).
            if (job->snapshots > 0 && lookForFields)
                return job->snapshot;
            throw TRenderFailure{BrowserTexts::Timeout.arg(limits.renderMs / 1000.0, 0, 'g', 3)};
        }
        if (job->state == TBrowserEngine::TJob::Loaded && !job->snapshotPending && now >= nextLook) {
            job->snapshotPending = true;
            nextLook = now + std::chrono::milliseconds(limits.pollMs);
            post(&TBrowserEngine::TakeSnapshot);
        }
        WaitSlice(job, lock, onEngineThread, seen, job->state);
    }
}

TRenderedPage TBrowserEngine::Render(const QString& url, const QString& folder,
                                     const std::function<bool(const TRenderedPage&)>& fieldsFound,
                                     const std::function<bool()>& stopRequested, const QString& stopText) {
    return RunJob(url, folder, fieldsFound, stopRequested, stopText, true);
}

void TBrowserEngine::Visit(const QString& url, const QString& folder, const std::function<bool()>& stopRequested,
                           const QString& stopText) {
    RunJob(url, folder, {}, stopRequested, stopText, false);
}

} // namespace vantero
