// The browser's helper processes and its profiles, seen from outside: the command line and the
// window, run as second processes, leave no helper behind however they end (done, failed, by a
// termination signal); the profile lives beside the database only, for its owner alone, and
// what older versions left in the engine's default place goes.
#include "store/Connection.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <optional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vantero;
using namespace vantero::test;

namespace {

constexpr int kPatienceMs = 180000;
const QString kSeller = QStringLiteral("shopa");

struct TProcess {
    pid_t pid = 0;
    pid_t parent = 0;
    char state = 0;
    QByteArray name;
    QByteArray started;
};

std::optional<TProcess> ReadProcess(pid_t pid) {
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
    return TProcess{pid, pid_t(fields[1].toLongLong()), fields[0].isEmpty() ? char(0) : fields[0][0],
                    line.mid(open + 1, close - open - 1), fields[19]};
}

QList<TProcess> AllProcesses() {
    QList<TProcess> all;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const pid_t pid = pid_t(entry.toLongLong(&numeric));
        if (numeric)
            if (const std::optional<TProcess> process = ReadProcess(pid))
                all << *process;
    }
    return all;
}

bool IsHelper(const TProcess& process) {
    return process.name.startsWith("QtWebEngineProc");
}

// The browser helpers below root, however deep (renderers are the zygote's children).
QList<TProcess> HelpersBelow(pid_t root) {
    const QList<TProcess> all = AllProcesses();
    QList<TProcess> found;
    QList<pid_t> parents{root};
    for (qsizetype next = 0; next < parents.size(); ++next) {
        for (const TProcess& process : all) {
            if (process.parent == parents[next] && IsHelper(process) && process.state != 'Z') {
                found << process;
                parents << process.pid;
            }
        }
    }
    return found;
}

// Whether a helper seen while the program ran still lives. This test collects the program's
// orphans (it is their subreaper), so one that ended is gone or this test's zombie, reaped here.
bool StillAlive(const TProcess& helper) {
    const std::optional<TProcess> now = ReadProcess(helper.pid);
    if (!now || now->started != helper.started)
        return false;
    if (now->state == 'Z') {
        if (now->parent == ::getpid())
            ::waitpid(helper.pid, nullptr, WNOHANG);
        return false;
    }
    return true;
}

QByteArray ItemPage() {
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>宝贝</title></head><body>\n"
                          "<input type=\"hidden\" name=\"title\" value=\"助手宝贝\" />\n"
                          "<input type=\"hidden\" name=\"seller_nickname\" value=\"%1\" />\n"
                          "<input type=\"hidden\" name=\"current_price\" value= \"23.50\" />\n"
                          "<input type=\"hidden\" name=\"item_id_num\" value=\"7101\" />\n"
                          "</body></html>\n")
        .arg(kSeller)
        .toUtf8();
}

} // namespace

class TestUiHelpers final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TTestHttpServer> m_server;
    QTemporaryDir m_home;

    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
        // The engine's default place follows the home folder: this test's own.
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        // Pages without item end once settled, as for a user; nothing else ends a reading early.
        env.insert(QStringLiteral("VANTERO_BROWSER_LIMITS"), QStringLiteral("render=600000,wall=1000,settle=2000"));
        return env;
    }

    // Runs program with args; signalNumber > 0: sends it once the page was asked for and the
    // helpers are up. Returns the exit code (-1 for a crash) and every helper seen below it.
    int Run(const QString& program, const QStringList& args, int signalNumber, const QString& awaitedPath,
            QList<TProcess>* helpers, QString* output = nullptr) {
        m_server->clearRequests(); // the awaited page is asked for by this run, not an earlier one
        QProcess process;
        process.setProcessEnvironment(Environment());
        process.start(program, args);
        if (!process.waitForStarted(kPatienceMs))
            return -2;
        const pid_t pid = pid_t(process.processId());
        auto note = [&] {
            for (const TProcess& helper : HelpersBelow(pid)) {
                const bool known = std::any_of(helpers->begin(), helpers->end(), [&](const TProcess& seen) {
                    return seen.pid == helper.pid && seen.started == helper.started;
                });
                if (!known)
                    *helpers << helper;
            }
        };
        bool signalled = signalNumber <= 0;
        QElapsedTimer waited;
        waited.start();
        while (process.state() == QProcess::Running && waited.elapsed() < kPatienceMs) {
            note();
            if (!signalled && m_server->requestCount(awaitedPath) > 0 && !HelpersBelow(pid).isEmpty()) {
                signalled = true;
                ::kill(pid, signalNumber);
            }
            process.waitForFinished(5);
        }
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(kPatienceMs))
            return -3;
        if (output)
            *output = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    static void CheckNoneLeft(const QList<TProcess>& helpers) {
        QVERIFY2(!helpers.isEmpty(), "the program started no browser helper: nothing was checked");
        QStringList left;
        for (const TProcess& helper : helpers) {
            if (StillAlive(helper))
                left << QStringLiteral("%1 (%2)").arg(helper.pid).arg(QString::fromLatin1(helper.name));
        }
        QVERIFY2(left.isEmpty(), qPrintable(QStringLiteral("helpers left: ") + left.join(u' ')));
    }

private slots:
    void initTestCase() {
        // Helpers that outlive their program are handed to this test instead of init, so they
        // can be seen and collected.
        QCOMPARE(::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0), 0);
        QVERIFY(m_home.isValid());
        m_server = std::make_unique<TTestHttpServer>();
        m_server->route(QStringLiteral("/item"), ItemPage(), "text/html; charset=utf-8");
        m_server->route(QStringLiteral("/empty"), QByteArray("<html><body><p>没有宝贝</p></body></html>"),
                        "text/html; charset=utf-8");
        TTestResponse endless;
        endless.endless = true;
        m_server->route(QStringLiteral("/endless"), endless);
        m_server->route(QStringLiteral("/login"), QByteArray("<html><body>登录</body></html>"),
                        "text/html; charset=utf-8");
    }

    void commandLineLeavesNoHelperBehind_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("done") << QStringLiteral("/item") << 0 << 0;
        QTest::newRow("failed") << QStringLiteral("/empty") << 0 << 3;
        QTest::newRow("SIGTERM") << QStringLiteral("/endless") << int(SIGTERM) << 3;
        QTest::newRow("SIGINT") << QStringLiteral("/endless") << int(SIGINT) << 3;
    }
    void commandLineLeavesNoHelperBehind() {
        QFETCH(QString, path);
        QFETCH(int, signalNumber);
        QFETCH(int, exitCode);
        TTestDatabase db;
        TConnection::closeAll();
        QList<TProcess> helpers;
        QString out;
        QCOMPARE(Run(QStringLiteral(VANTERO_CLI),
                     {QStringLiteral("--db"), db.path(), QStringLiteral("settings"), QStringLiteral("--own-account"),
                      kSeller},
                     0, {}, &helpers),
                 0);
        QCOMPARE(helpers.size(), 0); // a command without the browser starts none
        const int code = Run(QStringLiteral(VANTERO_CLI),
                             {QStringLiteral("--db"), db.path(), QStringLiteral("read-item"), m_server->url(path),
                              QStringLiteral("--browser")},
                             signalNumber, path, &helpers, &out);
        QVERIFY2(code == exitCode, qPrintable(QString::number(code) + u' ' + out));
        CheckNoneLeft(helpers);
    }

    void windowLeavesNoHelperBehind_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void windowLeavesNoHelperBehind() {
        QFETCH(int, signalNumber);
        QTemporaryDir dir;
        QList<TProcess> helpers;
        const int code = Run(QStringLiteral(VANTERO_GUI),
                             {QStringLiteral("--login"), QStringLiteral("--db"),
                              dir.filePath(QString::fromLatin1(kDatabaseFileName)), QStringLiteral("--url"),
                              m_server->url(QStringLiteral("/login"))},
                             signalNumber, QStringLiteral("/login"), &helpers);
        QCOMPARE(code, 0);
        CheckNoneLeft(helpers);
    }

    void profileLivesBesideTheDatabaseOnlyForItsOwner() {
        // What an older version left in the engine's default place, and a stranger's folder there.
        const QDir place(m_home.filePath(QStringLiteral(".local/share/vantero-cli/QtWebEngine")));
        const QString old = QStringLiteral("vantero-") + QString(40, u'a');
        QVERIFY(QDir().mkpath(place.filePath(old)));
        QVERIFY(QDir().mkpath(place.filePath(QStringLiteral("other"))));
        QFile cookies(place.filePath(old + QStringLiteral("/Cookies")));
        QVERIFY(cookies.open(QIODevice::WriteOnly));
        cookies.close();

        TTestDatabase db;
        TConnection::closeAll();
        QList<TProcess> helpers;
        QString out;
        QCOMPARE(Run(QStringLiteral(VANTERO_CLI),
                     {QStringLiteral("--db"), db.path(), QStringLiteral("settings"), QStringLiteral("--own-account"),
                      kSeller},
                     0, {}, &helpers),
                 0);
        const int code = Run(QStringLiteral(VANTERO_CLI),
                             {QStringLiteral("--db"), db.path(), QStringLiteral("read-item"),
                              m_server->url(QStringLiteral("/item")), QStringLiteral("--browser")},
                             0, {}, &helpers, &out);
        QVERIFY2(code == 0, qPrintable(out));

        QVERIFY(!place.exists(old));
        QVERIFY(place.exists(QStringLiteral("other")));
        const QStringList ours = place.entryList({QStringLiteral("vantero-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
        QVERIFY2(ours.isEmpty(), qPrintable(ours.join(u' ')));

        const QFileInfo profile(QDir(db.dir()).filePath(QStringLiteral("vanteroData.browser")));
        QVERIFY(profile.isDir());
        QCOMPARE(profile.permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
};

QTEST_GUILESS_MAIN(TestUiHelpers)
#include "tst_ui_helpers.moc"
