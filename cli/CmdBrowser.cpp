// The browser of rendered readings from the command line: the application it needs, the login
// window, and each page's reading mode.
#include "cli/Cli.h"
#include "common/TextHelpers.h"
#include "reader/BrowserEngine.h"
#include "reader/ReadModes.h"

#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>
#include <cstring>

namespace vantero::cli {

namespace {

bool HasArgument(int argc, char** argv, const char* flag) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], flag) == 0)
            return true;
    }
    return false;
}

bool AsksForBrowser(int argc, char** argv) {
    return HasArgument(argc, argv, "--browser") || HasArgument(argc, argv, "--browser-fallback");
}

void DropEngineMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fputs(qPrintable(qFormatLogMessage(type, context, message) + u'\n'), stderr);
}

// The browser engine reports its graphics set-up, its sandbox and the page's script errors on
// stderr, dozens of lines that would bury the command's own messages; --verbose keeps them. Our
// own messages go to the command's streams, never through Qt's logging.
void QuietBrowserEngine() {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    flags += flags.isEmpty() ? "--log-level=3" : " --log-level=3";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    qInstallMessageHandler(DropEngineMessage);
}

QString ModeName(TReadMode mode) {
    return mode == rmBrowser ? ReadModeTexts::Browser : ReadModeTexts::Direct;
}

int RunLogin(TCliContext& context) {
    const QString url = context.TakeOption(QStringLiteral("--url"));
    if (!context.args.isEmpty())
        context.UsageError(QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString platform = env.value(QStringLiteral("QT_QPA_PLATFORM"));
    const bool display = !env.value(QStringLiteral("DISPLAY")).isEmpty() ||
                         !env.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty() ||
                         (!platform.isEmpty() && !platform.startsWith(QLatin1String("offscreen")) &&
                          !platform.startsWith(QLatin1String("minimal")));
    if (!display)
        throw TCliExit{kExitDatabase, QStringLiteral("没有可用的显示器，无法打开登录窗口")};
    // The window is the program's own; this command only opens it and waits for it to close.
    const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("vantero"));
    QStringList arguments{QStringLiteral("--login"), QStringLiteral("--db"), context.databasePath};
    if (!url.isNull())
        arguments << QStringLiteral("--url") << url;
    QProcess window;
    window.setProcessChannelMode(QProcess::ForwardedChannels);
    window.start(program, arguments);
    if (!window.waitForStarted())
        throw TCliExit{kExitDatabase, QStringLiteral("无法启动 %1：%2").arg(program, window.errorString())};
    window.waitForFinished(-1);
    return window.exitStatus() == QProcess::NormalExit && window.exitCode() == 0 ? kExitOk : kExitRefused;
}

int RunReadMode(TCliContext& context) {
    if (context.args.isEmpty() || context.args.size() > 3)
        context.UsageError(QStringLiteral("read-mode 需要自己宝贝的 ItemID"));
    const QString itemId = TrimBlanks(context.args.takeFirst());
    QString account;
    std::optional<TReadMode> mode;
    for (const QString& arg : std::as_const(context.args)) {
        if (arg == ReadModeTexts::Direct || arg == QLatin1String("direct"))
            mode = rmDirect;
        else if (arg == ReadModeTexts::Browser || arg == QLatin1String("browser"))
            mode = rmBrowser;
        else if (account.isEmpty())
            account = TrimBlanks(arg);
        else
            context.UsageError(QStringLiteral("多余的参数：%1").arg(arg));
    }
    const TConnection con = context.OpenDatabase();
    if (con.value(QStringLiteral("select count(*) from Items where ItemID=?"), {itemId}).toInt() == 0)
        throw TCliExit{kExitRefused, QStringLiteral("没有 ItemID 为 %1 的宝贝").arg(itemId)};
    if (!account.isEmpty()) {
        const QVariant stored =
            con.value(QStringLiteral("select RivalWW from RivalItems where LocalItemID=? and lower(RivalWW)=lower(?)"),
                      {itemId, account});
        if (stored.isNull())
            throw TCliExit{kExitRefused, QStringLiteral("宝贝 %1 没有同行 %2 的对应宝贝").arg(itemId, account)};
        account = stored.toString();
    }
    if (mode)
        SetPageReadMode(con, itemId, account, *mode);
    context.out << ModeName(PageReadMode(con, itemId, account)) << '\n';
    return kExitOk;
}

int RunBrowserFallback(TCliContext& context) {
    if (context.args.size() > 1)
        context.UsageError(QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));
    const TConnection con = context.OpenDatabase();
    if (!context.args.isEmpty()) {
        const QString value = context.args.first();
        if (value != QLatin1String("on") && value != QLatin1String("off"))
            context.UsageError(QStringLiteral("browser-fallback 的值只能是 on 或 off"));
        SetBrowserFallback(con, value == QLatin1String("on"));
    }
    context.out << (BrowserFallbackOn(con) ? "on" : "off") << '\n';
    return kExitOk;
}

const TCliRegistration login("login", "login [--url URL]   打开登录窗口，在程序的浏览器中登录网站（需要显示器）",
                             &RunLogin);
const TCliRegistration
    readMode("read-mode", "read-mode OWN_ITEM_ID [ACCOUNT] [direct|browser]   查看或设置页面的读取方式", &RunReadMode);
const TCliRegistration fallback("browser-fallback",
                                "browser-fallback [on|off]   直接读取找不到宝贝时是否改用浏览器重试",
                                &RunBrowserFallback);

} // namespace

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv) {
    if (!AsksForBrowser(argc, argv))
        return std::make_unique<QCoreApplication>(argc, argv);
    if (!HasArgument(argc, argv, "--verbose"))
        QuietBrowserEngine();
    // Headless: the browser draws nothing, wherever a display exists.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return std::make_unique<QGuiApplication>(argc, argv);
}

TBrowserSession::TBrowserSession() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        TBrowserEngine::Start();
}

TBrowserSession::~TBrowserSession() {
    TBrowserEngine::Shutdown();
}

} // namespace vantero::cli
