#include "app/UiProgram.h"

#include "app/UiProgramInstance.h"
#include "app/UtMain.h"
#include "common/TermSignals.h"
#include "reader/UtReadItemThr.h"
#include "store/Connection.h"
#include "store/ServerSession.h"
#include "widgets/UiWindowSettings.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QScopeGuard>
#include <QSettings>

namespace vantero {

namespace {
const QString kDatabaseSetting = QStringLiteral("TeamDatabase/Target");

const QString kOpenedFileInstead = QStringLiteral("\n\n改为打开数据库文件 %1。");

int RunWindow(const QString& path, const QString& fallback, QString* next);
} // namespace

QString DefaultDatabaseFile() {
    return QDir::current().absoluteFilePath(QString::fromLatin1(kDatabaseFileName));
}

QString StartDatabase() {
    const QString chosen = QSettings(WindowSettingsFile(), QSettings::IniFormat).value(kDatabaseSetting).toString();
    return IsServerTarget(chosen) ? chosen : DefaultDatabaseFile();
}

void RememberDatabase(const QString& target) {
    QSettings settings(WindowSettingsFile(), QSettings::IniFormat);
    if (IsServerTarget(target))
        settings.setValue(kDatabaseSetting, target);
    else
        settings.remove(kDatabaseSetting);
}

int RunProgram(const QString& path, const QString& fallback) {
    QString target = path;
    QString instead = fallback;
    for (;;) {
        QString next;
        const int status = RunWindow(target, instead, &next);
        instead.clear();
        if (next.isEmpty() || TTermSignals::Received())
            return status;
        target = next;
    }
}

namespace {

int RunWindow(const QString& path, const QString& fallback, QString* next) {
    // The handlers come first: once the program can be found (its socket answers), a signal must
    // end it as "退出" does, never by the default action.
    TTermSignals& terms = TTermSignals::Install();
    TProgramInstance instance(path);
    if (instance.HandOverToRunning())
        return 0;

    const QString problem = PrepareDatabaseFile(path);
    // Told to end while connecting (the connection then gives up): end, with no box to answer.
    if (TTermSignals::Received())
        return 0;
    // A signal while a box below waits for the user ends the program too (every event loop).
    const QMetaObject::Connection endBoxes =
        QObject::connect(&terms, &TTermSignals::received, qApp, [] { QCoreApplication::exit(0); });
    const auto forgetEndBoxes = qScopeGuard([&endBoxes] { QObject::disconnect(endBoxes); });
    if (!problem.isEmpty() && !fallback.isEmpty() && fallback != path) {
        // A team database that is down must not keep the user from the file; the choice stays,
        // so the next start tries the server again.
        QMessageBox::critical(nullptr, MainTexts::EntryTitle,
                              problem + kOpenedFileInstead.arg(QDir::toNativeSeparators(fallback)));
        *next = fallback;
        return 0;
    }
    if (!problem.isEmpty()) {
        QMessageBox::critical(nullptr, MainTexts::EntryTitle, problem);
        return TTermSignals::Received() ? 0 : 1;
    }
    QObject::disconnect(endBoxes);

    int status = 0;
    {
        TFmMain main{TConnection(path)};
        instance.Serve(&main);
        // A termination signal ends the program as "退出" does; open dialogs and boxes are left
        // by ending every event loop.
        QObject::connect(&terms, &TTermSignals::received, &main, [&main] {
            main.close();
            QCoreApplication::exit(0);
        });
        if (!TTermSignals::Received()) {
            main.showMaximized();
            status = QApplication::exec();
        }
        *next = main.NextDatabase();
    }
    // A reading the user left behind (a cancelled wait) ends before the database goes away.
    TReadItem::StopAll();
    TConnection::closeAll();
    return status;
}

} // namespace

QString ProgramUsageText() {
    return QStringLiteral("用法: vantero [--db 数据库] [--login [--url URL]]\n"
                          "打开同行比价的主窗口，使用当前目录下的数据库文件 vanteroData.mdb（不存在时新建空表）。"
                          "从桌面菜单启动时在 $XDG_DATA_HOME/vantero（默认 ~/.local/share/vantero）中运行。"
                          "同一个数据库文件的窗口已经打开时，把它带到前面后退出。\n"
                          "选项:\n"
                          "  --db 数据库   使用这个数据库：数据库文件的路径，或团队数据库的连接字符串"
                          "（postgresql://… 或 host=… dbname=…，密码写在 ~/.pgpass 中）；"
                          "不给出时使用上次在“团队数据库…”中选择的团队数据库，否则使用 vanteroData.mdb；与 --login "
                          "一起时，使用这个数据库的登录信息\n"
                          "  --login   只打开登录窗口，在程序的浏览器中登录网站，登录信息保存在数据库旁\n"
                          "  --url URL   与 --login 一起：登录窗口打开的网址\n"
                          "  --help   打印本说明并退出\n"
                          "  --version   打印版本并退出\n"
                          "信号:\n"
                          "  SIGTERM, SIGINT, SIGHUP   与“退出”相同：结束正在进行的读取，关闭数据库后退出\n");
}

} // namespace vantero
