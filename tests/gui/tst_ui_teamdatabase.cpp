// The window on a team database: how it is chosen and remembered, how it is named in the status
// bar and the instance lock, and rows that follow the readings other desks store, on a real
// PostgreSQL server of the tests' own.
#include "app/UiProgram.h"
#include "app/UiProgramInstance.h"
#include "app/UtMain.h"
#include "common/StoreTexts.h"
#include "dialogs/UtTeamDatabase.h"
#include "reader/ReadingLog.h"
#include "store/ReadingListener.h"
#include "store/ServerSession.h"
#include "support/PgServer.h"
#include "support/SilentServer.h"
#include "support/TestDatabase.h"
#include "widgets/UiMessageBoxes.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <memory>
#include <thread>

using namespace vantero;
using namespace vantero::test;

namespace {

constexpr int kWaitMs = 60000; // a loaded machine may delay the server and the queued posts

void Seed(const TTestDatabase& db) {
    db.exec(QStringLiteral("update Setting set UpdateTimeOut=60, WW='我的店'"));
    db.exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('同行甲', 'http://shop.example/a')"));
    for (const char* id : {"1001", "1002"})
        db.exec(QStringLiteral("insert into Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount, "
                               "LastUpdated) values (?, ?, '', 'http://own.example/', 10, 0, '')"),
                {QString::fromLatin1(id), QStringLiteral("宝贝") + QString::fromLatin1(id)});
    db.exec(
        QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                       "SellCount, LastUpdated) values ('同行甲', '1002', '9002', '对手的', 'http://a/9002', 12, 0, "
                       "'')"));
}

// What another desk does when it reads a rival's page: on its own thread and connection, the
// page's values and the reading's record in one transaction, announced at commit.
void ReadOnAnotherDesk(const TConnection& con, double price) {
    std::thread desk([con, price] {
        {
            TWriteTransaction transaction(con);
            con.exec(QStringLiteral("update RivalItems set Price=?, LastUpdated=? where LocalItemID='1002' and "
                                    "RivalWW='同行甲'"),
                     {price, CurrentDateTimeColumn()});
            TReadingOutcome outcome;
            outcome.LocalItemID = QStringLiteral("1002");
            outcome.RivalWW = QStringLiteral("同行甲");
            outcome.RivalItemID = QStringLiteral("9002");
            outcome.URL = QStringLiteral("http://a/9002");
            outcome.Price = price;
            LogReading(con, outcome, CurrentDateTimeColumn());
            transaction.Commit();
        }
        TConnection::closeThreadConnections();
    });
    desk.join();
}

int GridRow(TFmMain& main, const QString& id) {
    for (int row = 0; row < main.RowCount(); ++row) {
        if (main.ItemAt(row)->ItemID == id)
            return row;
    }
    return -1;
}

// The window program on a team database, offscreen.
void StartWindowOn(QProcess& program, const QString& target) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VANTERO_GUI), {QStringLiteral("--db"), target});
}

// SIGTERM: whether the program then ended as "退出" ends it (a minute at most, then it is killed).
bool EndsOnSignal(QProcess& program) {
    program.terminate();
    if (!program.waitForFinished(60000)) {
        program.kill();
        program.waitForFinished();
        return false;
    }
    return program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0;
}

} // namespace

class TstUiTeamDatabase final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() {
        SetMessageBoxHook([](TBoxKind, const QString&, const QString&) { return false; });
    }
    void cleanup() {
        SetMessageBoxHook({});
        TConnection::closeAll();
    }

    void readingOfAnotherDeskShowsWithoutRefresh() {
        TTestDatabase db(TTestEngine::Server);
        Seed(db);
        TFmMain main{db.connection()};
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        const int row = GridRow(main, QStringLiteral("1002"));
        QVERIFY(row >= 0);
        QCOMPARE(main.Data().grid.cell(row, 2), QStringLiteral("12.00"));
        QVERIFY(main.Listener());
        QTRY_VERIFY_WITH_TIMEOUT(main.Listener()->Listening(), kWaitMs);

        ReadOnAnotherDesk(db.connection(), 8.5);
        QTRY_COMPARE_WITH_TIMEOUT(main.Data().grid.cell(row, 2), QStringLiteral("8.50"), kWaitMs);
        // Only the announced item's row was read again.
        const int other = GridRow(main, QStringLiteral("1001"));
        QCOMPARE(main.Data().grid.cell(other, 1), QStringLiteral("宝贝1001"));

        // The server ends the listener's connection: whether the next reading comes before the
        // listener is back (then the reconnection reads every row) or after, the row shows it.
        TPgServer::Shared().DropConnections(db.path().section(QStringLiteral("dbname="), 1).section(u' ', 0, 0));
        QTRY_VERIFY_WITH_TIMEOUT(main.Listener()->Listening(), kWaitMs);
        ReadOnAnotherDesk(db.connection(), 7.25);
        QTRY_COMPARE_WITH_TIMEOUT(main.Data().grid.cell(row, 2), QStringLiteral("7.25"), kWaitMs);
        main.close();
    }

    void listenerThatGoesAwayWithItsWindowPostsNothing() {
        TTestDatabase db(TTestEngine::Server);
        Seed(db);
        auto listener = std::make_unique<TReadingListener>(db.path());
        QSignalSpy announced(listener.get(), &TReadingListener::itemsAnnounced);
        QTRY_VERIFY_WITH_TIMEOUT(listener->Listening(), kWaitMs);
        ReadOnAnotherDesk(db.connection(), 5);
        // The listener's thread may emit before a wait would begin: count, do not wait for one.
        QTRY_COMPARE_WITH_TIMEOUT(announced.size(), 1, kWaitMs);
        QCOMPARE(announced.takeFirst().at(0).toStringList(), QStringList{QStringLiteral("1002")});
        ReadOnAnotherDesk(db.connection(), 6);
        listener.reset(); // a post on its way is dropped with the receiver
        QCoreApplication::processEvents();
    }

    void windowNamesItsDatabaseAfterTheSpecifiedPanelsAndEntries() {
        TTestDatabase file;
        {
            TFmMain main{file.connection()};
            QVERIFY(!main.Listener());
            QCOMPARE(main.DatabasePanel()->toolTip(), QStringLiteral("数据库文件：") + file.path());
            QCOMPARE(main.DatabasePanel()->accessibleName(), main.DatabasePanel()->toolTip());
            QCOMPARE(main.windowTitle(), MainTexts::Caption);
            auto* system = main.menuBar()->findChild<QMenu*>(QStringLiteral("mniN1"));
            QVERIFY(system);
            QStringList entries;
            for (QAction* action : system->actions())
                if (!action->isSeparator())
                    entries << action->text();
            QCOMPARE(entries, (QStringList{QStringLiteral("退出"), QStringLiteral("团队数据库…")}));
        }
        TTestDatabase server(TTestEngine::Server);
        TFmMain main{server.connection()};
        QVERIFY(main.DatabasePanel()->toolTip().startsWith(QStringLiteral("团队数据库：服务器 ")));
        QVERIFY(main.DatabasePanel()->toolTip().contains(QStringLiteral(" 上的数据库 ")));
        QCOMPARE(main.windowTitle(), MainTexts::Caption);
    }

    void dialogConnectsOnlyToAReachableServerAndGoesBackToTheFile() {
        TTestDatabase server(TTestEngine::Server);
        const QString file = QStringLiteral("/tmp/somewhere/vanteroData.mdb");
        {
            TFmTeamDatabase dialog(nullptr, file, file);
            QVERIFY(!dialog.btnUseFile->isEnabled());
            for (QWidget* control : std::initializer_list<QWidget*>{dialog.edtTarget, dialog.btnConnect,
                                                                    dialog.btnUseFile, dialog.btnCancel})
                QVERIFY(!control->accessibleName().isEmpty());
            dialog.btnConnect->click();
            QCOMPARE(dialog.lblResult->text(), TeamDatabaseTexts::Empty);
            dialog.edtTarget->setText(QStringLiteral("/home/me/vanteroData.mdb"));
            dialog.btnConnect->click();
            QCOMPARE(dialog.lblResult->text(), TeamDatabaseTexts::NotServer);
            // A server that does not answer: the user reads why, in Chinese, and stays.
            dialog.edtTarget->setText(QStringLiteral("host=") + TPgServer::Shared().SocketFolder() +
                                      QStringLiteral(" port=1 dbname=nobody"));
            dialog.btnConnect->click();
            QTRY_VERIFY_WITH_TIMEOUT(!dialog.Connecting(), 30000);
            QVERIFY2(dialog.lblResult->text().startsWith(QStringLiteral("无法连接服务器")),
                     qPrintable(dialog.lblResult->text()));
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QVERIFY(dialog.btnConnect->isEnabled());
            // Passwords are never the program's to keep.
            dialog.edtTarget->setText(server.path() + QStringLiteral(" password=secret"));
            dialog.btnConnect->click();
            QTRY_VERIFY_WITH_TIMEOUT(!dialog.Connecting(), 30000);
            QCOMPARE(dialog.lblResult->text(), StoreTexts::ServerPassword);
            QVERIFY(dialog.Chosen().isEmpty());

            dialog.edtTarget->setText(server.path());
            dialog.btnConnect->click();
            QTRY_COMPARE_WITH_TIMEOUT(dialog.result(), int(QDialog::Accepted), 30000);
            QCOMPARE(dialog.Chosen(), server.path());
        }
        TFmTeamDatabase back(nullptr, server.path(), file);
        QCOMPARE(back.edtTarget->text(), server.path());
        QVERIFY(back.btnUseFile->isEnabled());
        back.btnUseFile->click();
        QCOMPARE(back.result(), int(QDialog::Accepted));
        QCOMPARE(back.Chosen(), file);
    }

    void aServerThatDoesNotAnswerLeavesTheDialogResponsiveAndCancelGivesTheAttemptUp() {
        TSilentServer silent;
        QVERIFY(silent.Port() != 0);
        const QString file = QStringLiteral("/tmp/somewhere/vanteroData.mdb");
        {
            TFmTeamDatabase dialog(nullptr, file, file);
            dialog.show();
            dialog.edtTarget->setText(silent.Target());
            dialog.btnConnect->click();
            // The click came back while the server says nothing: the dialog goes on answering.
            QVERIFY(dialog.Connecting());
            QCOMPARE(dialog.lblResult->text(), TeamDatabaseTexts::Connecting);
            QVERIFY(!dialog.btnConnect->isEnabled());
            QVERIFY(dialog.edtTarget->isReadOnly());
            QVERIFY(silent.Accept() >= 0);
            QTest::qWait(50);
            QVERIFY(dialog.Connecting());
            dialog.btnCancel->click();
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QVERIFY(!dialog.Connecting());
            QVERIFY(dialog.Chosen().isEmpty());
            // A late answer of the given-up attempt changes nothing.
            QTest::qWait(50);
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        QVERIFY(silent.AttemptClosed());

        // Going back to the file while connecting gives the attempt up as well.
        TSilentServer second;
        TFmTeamDatabase dialog(nullptr, second.Target(), file);
        dialog.btnConnect->click();
        QVERIFY(dialog.Connecting());
        QVERIFY(second.Accept() >= 0);
        dialog.btnUseFile->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.Chosen(), file);
        QVERIFY(second.AttemptClosed());
    }

    void windowToldToEndWhileItsServerDoesNotAnswerEndsWithoutABox() {
        TSilentServer silent;
        QVERIFY(silent.Port() != 0);
        QProcess program;
        StartWindowOn(program, silent.Target());
        QVERIFY(silent.Accept() >= 0);
        // A box about the server would wait for an answer nobody gives.
        QVERIFY2(EndsOnSignal(program), "the window waited with a box instead of ending");
        QVERIFY(silent.AttemptClosed());

        // The box that says the server cannot be reached does not outlast a signal either.
        QProcess boxed;
        StartWindowOn(boxed, QStringLiteral("host=") + TPgServer::Shared().SocketFolder() +
                                 QStringLiteral(" port=1 dbname=nobody"));
        QVERIFY(boxed.waitForStarted(30000));
        QTest::qWait(2000); // time to reach the box; earlier, the start itself gives up
        QVERIFY2(EndsOnSignal(boxed), "the box outlasted the signal");
    }

    void choiceIsRememberedUntilTheUserGoesBackToTheFile() {
        const QString target = QStringLiteral("postgresql://team@dbserver:5433/shop");
        RememberDatabase(target);
        QCOMPARE(StartDatabase(), target);
        RememberDatabase(DefaultDatabaseFile());
        QCOMPARE(StartDatabase(), DefaultDatabaseFile());
    }

    void oneWindowPerServerDatabaseWhateverTheSpelling() {
        const QString uri = QStringLiteral("postgresql://team@dbserver:5433/shop");
        const QString keys = QStringLiteral("host=dbserver port=5433 dbname=shop user=team connect_timeout=5");
        QCOMPARE(TProgramInstance::ServerName(uri), TProgramInstance::ServerName(keys));
        QVERIFY(TProgramInstance::ServerName(uri) !=
                TProgramInstance::ServerName(QStringLiteral("postgresql://other@dbserver:5433/shop")));
        QVERIFY(TProgramInstance::ServerName(uri) !=
                TProgramInstance::ServerName(QStringLiteral("postgresql://team@dbserver:5433/shop2")));
        QVERIFY(TProgramInstance::ServerName(uri) != TProgramInstance::ServerName(DefaultDatabaseFile()));
    }
};

QTEST_MAIN(TstUiTeamDatabase)
#include "tst_ui_teamdatabase.moc"
