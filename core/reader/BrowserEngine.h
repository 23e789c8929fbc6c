#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>

class QWebEngineProfile;

namespace vantero {

// Texts of the rendered reading.
namespace BrowserTexts {
inline const QString Timeout = QStringLiteral("浏览器读取超时：页面在 %1 秒内未能显示完成");
inline const QString LoadFailed = QStringLiteral("浏览器读取失败：%1");
inline const QString Unavailable = QStringLiteral("浏览器读取不可用：本程序未启动浏览器引擎");
inline const QString TooMuchMemory = QStringLiteral("浏览器读取失败：页面占用的内存超过 %1 MB，已停止读取该页面");
inline const QString RendererEnded =
    QStringLiteral("浏览器读取失败：显示页面的进程意外结束，可能是页面占用的内存过多（%1）");
} // namespace BrowserTexts

// A page as the browser shows it after its scripts ran: the document's HTML as UTF-8 and the
// address it ended on (after redirects).
struct TRenderedPage {
    QByteArray html;
    QString finalUrl;
};

// Ends a rendered reading: the page did not load within its limit, failed to load, or the
// reading was stopped. text is the reading's failure text.
struct TRenderFailure {
    QString text;
};

// The offscreen browser that rendered readings use. It lives on the thread that started it (the
// GUI thread, as the browser engine requires) and renders one page at a time: a reading on any
// thread hands its page over and waits. Pages load without images, media and fonts, and each
// page is released after its reading. Profiles are persistent, one per folder, so a login's
// cookies survive restarts.
class TBrowserEngine final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TBrowserEngine)
public:
    struct Limits {
        int renderMs = 15000; // from the start of the load until the fields must be there
        int pollMs = 150;     // between two looks at the document
        // A login or block page that stays this long is taken as it is (a script may still
        // replace a wall it showed first).
        int wallSettleMs = 1000;
        // A page without item whose document stays the same this long is no item page.
        int noItemSettleMs = 2000;
        // The browser's helper processes together; a page that takes more is abandoned.
        qint64 memoryBytes = qint64(1536) << 20;
    };
    // The browser's helper processes' resident memory now, in bytes.
    static qint64 HelperMemory();
    static Limits RenderLimits();
    static void SetRenderLimits(const Limits& limits);
    // The limits with what the environment variable VANTERO_BROWSER_LIMITS sets
    // ("render=MS,poll=MS,wall=MS,settle=MS,memory=MB"; memory=0 switches the watchdog off);
    // unknown or malformed parts leave their limit as it was.
    static Limits LimitsFromEnvironment(const Limits& base);

    // On the GUI thread, once a QGuiApplication exists: makes rendered readings possible.
    static void Start();
    static bool Available();
    // On the GUI thread: releases pages and profiles (cookies are written out); before the
    // application ends. Start() may follow.
    static void Shutdown();

    // The profile folder of a database: "vanteroData.browser" beside the file; for a server
    // database, in the user's data folder under servers/HOST_PORT_DATABASE_USER.
    static QString ProfileFolder(const QString& databasePath);
    // On the GUI thread: the persistent profile kept in folder (created on first use), for the
    // login window. Owned by the engine.
    static QWebEngineProfile* Profile(const QString& folder);

    // On any thread but inside the engine's own callbacks: loads url in an offscreen page of
    // folder's profile, waits for the load to finish, then looks at the document every pollMs
    // until fieldsFound says the fields are there or the limit passed. Returns the document
    // then (the last one seen once the limit passed after the load). Throws TRenderFailure when
    // the page did not load (or show any document) within the limit, failed to load, or when
    // stopRequested turned true (checked at least every 50 ms); stopText is that failure's text.
    static TRenderedPage Render(const QString& url, const QString& folder,
                                const std::function<bool(const TRenderedPage&)>& fieldsFound,
                                const std::function<bool()>& stopRequested, const QString& stopText);

    // Opens url in the profile like a visitor and waits for the load to end; no fields looked
    // for. A way to set a site's cookies headlessly.
    static void Visit(const QString& url, const QString& folder, const std::function<bool()>& stopRequested,
                      const QString& stopText);

    struct TJob;

private:
    TBrowserEngine();
    ~TBrowserEngine() override;

    void Submit(const std::shared_ptr<TJob>& job);
    void StartNext();
    void TakeSnapshot(const std::shared_ptr<TJob>& job);
    void Release(const std::shared_ptr<TJob>& job);
    QWebEngineProfile* ProfileFor(const QString& folder);
    static TRenderedPage RunJob(const QString& url, const QString& folder,
                                const std::function<bool(const TRenderedPage&)>& fieldsFound,
                                const std::function<bool()>& stopRequested, const QString& stopText,
                                bool lookForFields);

    class TPage;
    class TInterceptor;

    std::deque<std::shared_ptr<TJob>> m_queue;
    std::shared_ptr<TJob> m_active;
    TPage* m_page = nullptr;
    TInterceptor* m_interceptor = nullptr;
    QHash<QString, QWebEngineProfile*> m_profiles;
};

// Declared in main before the application object, so that it ends after it: the application's
// end ends the browser's helper processes (zygote, renderers, GPU and network), and this waits
// until every helper the program started has gone, ending any that stay past a grace period.
// No helper outlives the program, whether it ended done, failed or by a termination signal.
class TBrowserHelpersEnd final {
    Q_DISABLE_COPY_MOVE(TBrowserHelpersEnd)
public:
    TBrowserHelpersEnd() = default;
    ~TBrowserHelpersEnd();
};

} // namespace vantero
