// The programs as the system sees them: termination signals end the window and the command line
// as "退出" does, one window per database file, and --help / --version that start nothing.
#include "app/UiProgramInstance.h"
#include "store/Connection.h"
#include "support/RawTestServer.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <csignal>

using namespace vantero;
using namespace vantero::test;

class TestUiProgram : public QObject {
    Q_OBJECT
private slots:
    void aSignalEndsTheWindowAsExitDoes_data();
    void aSignalEndsTheWindowAsExitDoes();
    void aSignalEndsACommandLineUpdateDuringItsReading_data();
    void aSignalEndsACommandLineUpdateDuringItsReading();
    void aSecondWindowOnTheSameFileHandsOverAndEnds();
    void aLaterStartBringsTheWindowBack();
    void helpAndVersionPrintAndEnd();
    void aBrowserReadingPrintsNothingOfTheEngine();
};

namespace {

QProcessEnvironment ProgramEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    return env;
}

// Starts the window on the database in folder and waits until it answers on its socket.
bool StartWindow(QProcess& program, const QString& folder) {
    program.setProcessEnvironment(ProgramEnvironment());
    program.setWorkingDirectory(folder);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(VANTERO_GUI), {});
    if (!program.waitForStarted(30000))
        return false;
    const QString name = TProgramInstance::ServerName(QDir(folder).filePath(QString::fromLatin1(kDatabaseFileName)));
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 120000 && program.state() == QProcess::Running) {
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(500))
            return true;
        QTest::qWait(200);
    }
    return false;
}

bool LeftAlone(const QString& path) {
    return !QFile::exists(path + QStringLiteral("-wal")) && !QFile::exists(path + QStringLiteral("-shm"));
}

void AddSignals() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

} // namespace

void TestUiProgram::aSignalEndsTheWindowAsExitDoes_data() {
    AddSignals();
}

void TestUiProgram::aSignalEndsTheWindowAsExitDoes() {
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    QProcess program;
    QVERIFY(StartWindow(program, dir.path()));
    const QString path = dir.filePath(QString::fromLatin1(kDatabaseFileName));
    QVERIFY(QFile::exists(path));

    ::kill(pid_t(program.processId()), signalNumber);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY2(LeftAlone(path), "the write-ahead log is left beside the file");
}

void TestUiProgram::aSignalEndsACommandLineUpdateDuringItsReading_data() {
    AddSignals();
}

void TestUiProgram::aSignalEndsACommandLineUpdateDuringItsReading() {
    QFETCH(int, signalNumber);
    // A page that never answers: the reading is in progress until something ends it.
    TRawTestServer server([](TRawConnection& connection) {
        connection.readRequest();
        connection.waitUntilClosed(120000);
    });
    TTestDatabase db;
    db.exec(QStringLiteral("update Setting set WW='我的店'"));
    db.exec(QStringLiteral("insert into Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount) "
                           "values ('123', '杯子', '', ?, 100, 12)"),
            {server.url(QStringLiteral("/item.htm?id=123"))});
    TConnection::closeAll();

    QProcess cli;
    cli.setProcessEnvironment(ProgramEnvironment());
    cli.start(QStringLiteral(VANTERO_CLI), {QStringLiteral("--db"), db.path(), QStringLiteral("update-all")});
    QVERIFY(cli.waitForStarted(30000));
    QTRY_VERIFY_WITH_TIMEOUT(server.connections() >= 1, 60000);

    ::kill(pid_t(cli.processId()), signalNumber);
    QVERIFY(cli.waitForFinished(120000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);
    QVERIFY(cli.readAllStandardOutput().startsWith("readings="));
    QVERIFY2(LeftAlone(db.path()), "the write-ahead log is left beside the file");
    // Ended by the signal, not by the download's own limit: a reading that timed out would be
    // kept as the page's failure, a stopped one says nothing about the page.
    QCOMPARE(db.value(QStringLiteral("select count(*) from ReadingStatus where FailedInRow > 0")).toInt(), 0);
    // The stopped reading stored nothing over the last good one.
    QCOMPARE(db.value(QStringLiteral("select Price from Items where ItemID='123'")).toDouble(), 100.0);
}

void TestUiProgram::aSecondWindowOnTheSameFileHandsOverAndEnds() {
    QTemporaryDir dir;
    QTemporaryDir other;
    QProcess first;
    QVERIFY(StartWindow(first, dir.path()));

    QProcess second;
    second.setProcessEnvironment(ProgramEnvironment());
    second.setWorkingDirectory(dir.path());
    second.start(QStringLiteral(VANTERO_GUI), {});
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    // Another file has a window of its own.
    QProcess elsewhere;
    QVERIFY(StartWindow(elsewhere, other.path()));
    QCOMPARE(first.state(), QProcess::Running);

    for (QProcess* program : {&first, &elsewhere}) {
        ::kill(pid_t(program->processId()), SIGTERM);
        QVERIFY(program->waitForFinished(60000));
        QCOMPARE(program->exitCode(), 0);
    }
}

void TestUiProgram::aLaterStartBringsTheWindowBack() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(kDatabaseFileName));
    // Every spelling of the same file is the same window.
    QCOMPARE(TProgramInstance::ServerName(dir.filePath(QStringLiteral("sub/../vanteroData.mdb"))),
             TProgramInstance::ServerName(path));
    QVERIFY(TProgramInstance::ServerName(path) != TProgramInstance::ServerName(path + QStringLiteral("2")));

    QWidget window;
    TProgramInstance running(path);
    QVERIFY(!TProgramInstance(path).HandOverToRunning()); // nobody serves it yet
    running.Serve(&window);
    window.showMinimized();
    QTRY_VERIFY_WITH_TIMEOUT(window.isMinimized(), 60000);

    QVERIFY(TProgramInstance(path).HandOverToRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!window.isMinimized() && window.isVisible(), 60000);
    QVERIFY(!TProgramInstance(path + QStringLiteral("2")).HandOverToRunning());
}

void TestUiProgram::helpAndVersionPrintAndEnd() {
    // No display at all: they must not need one.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const QList<QPair<QString, QStringList>> runs{
        {QStringLiteral(VANTERO_GUI), {QStringLiteral("--version")}},
        {QStringLiteral(VANTERO_GUI), {QStringLiteral("--help")}},
        {QStringLiteral(VANTERO_CLI), {QStringLiteral("--version")}},
        {QStringLiteral(VANTERO_CLI), {QStringLiteral("--help")}},
    };
    for (const auto& [program, args] : runs) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, args);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        const QString name = QFileInfo(program).fileName();
        if (args.first() == QLatin1String("--version"))
            QCOMPARE(out, name + QStringLiteral(" ") + QStringLiteral(VANTERO_VERSION) + u'\n');
        else
            QVERIFY2(out.startsWith(QStringLiteral("用法: ") + name), qPrintable(out));
    }
}

void TestUiProgram::aBrowserReadingPrintsNothingOfTheEngine() {
    QFile page(QStringLiteral(VANTERO_TEST_DATA "/pages/tb2017-item-45383717461.excerpt.html"));
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QByteArray body = page.readAll();
    TRawTestServer server([&body](TRawConnection& connection) {
        connection.readRequest();
        connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                        QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    });
    TTestDatabase db;
    db.exec(QStringLiteral("update Setting set WW='amz品牌工作室'"));
    TConnection::closeAll();

    QProcess cli;
    cli.setProcessEnvironment(ProgramEnvironment());
    cli.start(QStringLiteral(VANTERO_CLI),
              {QStringLiteral("--db"), db.path(), QStringLiteral("read-item"),
               server.url(QStringLiteral("/item.htm?id=45383717461")), QStringLiteral("--browser")});
    QVERIFY(cli.waitForFinished(120000));
    const QByteArray out = cli.readAllStandardOutput();
    QCOMPARE(cli.exitCode(), 0);
    QVERIFY2(out.contains("ItemID: 45383717461"), out.constData());
    QCOMPARE(QString::fromUtf8(cli.readAllStandardError()), QString());
}

QTEST_MAIN(TestUiProgram)
#include "tst_ui_program.moc"
