// vantero-cli: the program's core without windows.
#include "cli/Cli.h"
#include "common/TermSignals.h"
#include "net/HttpEngine.h"
#include "reader/BrowserEngine.h"
#include "store/ServerSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>

#include <map>
#include <memory>

namespace vantero::cli {

namespace {

struct TCommand {
    const char* usage;
    TCliFunction run;
};

std::map<QString, TCommand>& commands() {
    static std::map<QString, TCommand> table;
    return table;
}

// Also the source of the Chinese manual page (three blanks part an entry from its text).
QString UsageText() {
    QString text = QStringLiteral(
        "用法: vantero-cli [--db 数据库] [--proxy http://HOST:PORT] [--verbose] COMMAND [ARGS]\n"
        "不带窗口的 Vantero：使用与窗口相同的核心和数据库。结果写到标准输出，提示和错误写到标准错误输出。\n"
        "选项:\n"
        "  --db 数据库   使用这个数据库：数据库文件的路径（默认当前目录下的 vanteroData.mdb，不存在时新建空表），"
        "或团队数据库的连接字符串（postgresql://… 或 host=… dbname=…，密码写在 ~/.pgpass 中）\n"
        "  --proxy http://HOST:PORT   本命令的所有请求都经过这个 HTTP 代理（本机地址从不经过代理）\n"
        "  --verbose   用浏览器读取时也显示浏览器引擎自己的日志\n"
        "  --help   打印本说明并退出\n"
        "  --version   打印版本并退出\n"
        "命令:\n");
    for (const auto& [name, command] : commands())
        text += QStringLiteral("  ") + QString::fromUtf8(command.usage) + QLatin1Char('\n');
    text += QStringLiteral("退出状态:\n"
                           "  0   完成\n"
                           "  1   数据库或环境错误\n"
                           "  2   用法错误\n"
                           "  3   被拒绝或失败\n");
    return text;
}

} // namespace

TCliRegistration::TCliRegistration(const char* name, const char* usage, TCliFunction run) {
    commands()[QString::fromUtf8(name)] = {usage, run};
}

TConnection TCliContext::OpenDatabase() const {
    const QString problem = PrepareDatabaseFile(databasePath);
    if (!problem.isEmpty())
        throw TCliExit{kExitDatabase, problem};
    return TConnection(databasePath);
}

bool TCliContext::TakeFlag(const QString& flag) {
    return args.removeAll(flag) > 0;
}

QString TCliContext::TakeOption(const QString& name) {
    const qsizetype at = args.indexOf(name);
    if (at < 0)
        return {};
    if (at + 1 >= args.size())
        UsageError(QStringLiteral("%1 需要一个值").arg(name));
    const QString value = args.at(at + 1);
    args.remove(at, 2);
    return value;
}

bool TCliContext::TakeJsonFlag() {
    const bool json = TakeFlag(QStringLiteral("--json"));
    const bool csv = TakeFlag(QStringLiteral("--csv"));
    if (json && csv)
        UsageError(QStringLiteral("--csv 与 --json 只能选一个"));
    return json;
}

void TCliContext::UsageError(const QString& message) const {
    throw TCliExit{kExitUsage, message + QLatin1Char('\n') + UsageText()};
}

} // namespace vantero::cli

int main(int argc, char* argv[]) {
    using namespace vantero::cli;
    // Ends after the application: waits for the browser's helper processes to go.
    const vantero::TBrowserHelpersEnd helpersEnd;
    // Only commands that read through the browser pay for it; the rest stay a plain core program.
    const std::unique_ptr<QCoreApplication> application = MakeApplication(argc, argv);
    const TBrowserSession browser;
    // SIGTERM, SIGINT and SIGHUP end a running command as the window's exit does (the reading
    // ends, the database closes); a short command just finishes.
    vantero::TTermSignals::Install();
    QTextStream out(stdout);
    QTextStream err(stderr);

    QStringList args = QCoreApplication::arguments().mid(1);
    // Like the browser flags, --verbose counts anywhere on the line, also after the command.
    if (args.removeAll(QStringLiteral("--verbose")) > 0)
        args.prepend(QStringLiteral("--verbose"));
    QString database = QDir::current().absoluteFilePath(QString::fromLatin1(vantero::kDatabaseFileName));
    QString proxy;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if ((option == QLatin1String("--db") || option == QLatin1String("--proxy")) && !args.isEmpty()) {
            (option == QLatin1String("--db") ? database : proxy) = args.takeFirst();
        } else if (option == QLatin1String("--help")) {
            out << UsageText();
            return kExitOk;
        } else if (option == QLatin1String("--version")) {
            out << "vantero-cli " VANTERO_VERSION "\n";
            return kExitOk;
        } else if (option == QLatin1String("--verbose")) {
            // Read by MakeApplication before the application started.
        } else {
            err << QStringLiteral("未知选项 %1\n").arg(option) << UsageText();
            return kExitUsage;
        }
    }
    if (!proxy.isEmpty()) {
        const QUrl url(proxy);
        if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty() || url.port() <= 0) {
            err << QStringLiteral("代理地址无效：%1（应为 http://HOST:PORT）\n").arg(proxy) << UsageText();
            return kExitUsage;
        }
        vantero::SetHttpProxy(url);
    }
    if (args.isEmpty()) {
        err << UsageText();
        return kExitUsage;
    }
    const QString name = args.takeFirst();
    const auto it = commands().find(name);
    if (it == commands().end()) {
        err << QStringLiteral("未知命令 %1\n").arg(name) << UsageText();
        return kExitUsage;
    }
    // A server database's connection string is no path.
    TCliContext context{args, vantero::IsServerTarget(database) ? database : QDir::current().absoluteFilePath(database),
                        out, err};
    int code = kExitOk;
    try {
        code = it->second.run(context);
    } catch (const TCliExit& exit) {
        if (!exit.message.isEmpty())
            err << exit.message << (exit.message.endsWith(QLatin1Char('\n')) ? "" : "\n");
        code = exit.code;
    } catch (const std::exception& e) {
        err << QString::fromUtf8(e.what()) << '\n';
        code = kExitDatabase;
    }
    out.flush();
    err.flush();
    vantero::TConnection::closeAll();
    return code;
}
