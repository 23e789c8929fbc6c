// After every kind of clean end, a copy of the database file alone (without its write-ahead log)
// holds the last change: the command-line tool's commands and the main window's close.
#include "app/UiProgram.h"
#include "app/UtMain.h"
#include "store/Connection.h"
#include "support/TestDatabase.h"
#include "widgets/UiMessageBoxes.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vantero;
using namespace vantero::test;

class TestUiExit : public QObject {
    Q_OBJECT
private slots:
    void aCopyOfTheFileAloneHoldsWhatACommandChanged_data();
    void aCopyOfTheFileAloneHoldsWhatACommandChanged();
    void aCopyOfTheFileAloneHoldsWhatChangedBeforeTheWindowClosed();
    void theRunningProgramKeepsWriteAheadLogging();
};

namespace {

void Fill(const QString& path) {
    TConnection(path).exec(QStringLiteral("update Setting set UpdateTimeOut=15, WW='我的店'"));
    TConnection(path).exec(
        QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('同行甲', 'http://a.taobao.com/')"));
    TConnection(path).exec(QStringLiteral("insert into Items (ItemID, ItemName, CustomItemName, Price, SellCount) "
                                          "values ('123', '杯子', '', 100, 12)"));
    TConnection(path).exec(
        QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, Price, SellCount) "
                       "values ('同行甲', '123', '9', 98.5, 7)"));
    // The other program's end is to be the last one.
    TConnection::closeAll();
}

// The value the query selects from a copy of the main file only, as a backup or another machine sees it.
QVariant FromCopyAlone(const QString& path, const QString& sql) {
    static QTemporaryDir copies;
    static int counter = 0;
    const QString copy = copies.filePath(QStringLiteral("copy%1.mdb").arg(++counter));
    if (!QFile::copy(path, copy))
        return QStringLiteral("<copy failed>");
    QVariant result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copy"));
        db.setDatabaseName(copy);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql) && query.next())
                result = query.value(0);
            else
                result = query.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("copy"));
    return result;
}

} // namespace

void TestUiExit::aCopyOfTheFileAloneHoldsWhatACommandChanged_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("settings --interval") << QStringList{QStringLiteral("settings"), QStringLiteral("--interval"),
                                                        QStringLiteral("20")}
                                         << QStringLiteral("select UpdateTimeOut from Setting") << QVariant(20);
    QTest::newRow("settings --own-account")
        << QStringList{QStringLiteral("settings"), QStringLiteral("--own-account"), QStringLiteral("新店")}
        << QStringLiteral("select WW from Setting") << QVariant(QStringLiteral("新店"));
    QTest::newRow("rename") << QStringList{QStringLiteral("rename"), QStringLiteral("123"), QStringLiteral("我的杯子")}
                            << QStringLiteral("select CustomItemName from Items")
                            << QVariant(QStringLiteral("我的杯子"));
    QTest::newRow("unmap") << QStringList{QStringLiteral("unmap"), QStringLiteral("123"), QStringLiteral("同行甲")}
                           << QStringLiteral("select count(*) from RivalItems where RivalItemID<>''") << QVariant(0);
    QTest::newRow("delete-item") << QStringList{QStringLiteral("delete-item"), QStringLiteral("123"),
                                                QStringLiteral("--yes")}
                                 << QStringLiteral("select count(*) from Items") << QVariant(0);
    QTest::newRow("delete-rival") << QStringList{QStringLiteral("delete-rival"), QStringLiteral("同行甲"),
                                                 QStringLiteral("--yes")}
                                  << QStringLiteral("select count(*) from Rival") << QVariant(0);
    // A command that only reads leaves no log behind either.
    QTest::newRow("grid") << QStringList{QStringLiteral("grid")} << QStringLiteral("select count(*) from Items")
                          << QVariant(1);
}

void TestUiExit::aCopyOfTheFileAloneHoldsWhatACommandChanged() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, check);
    QFETCH(QVariant, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(kDatabaseFileName));
    QCOMPARE(PrepareDatabaseFile(path), QString());
    Fill(path);

    QProcess cli;
    cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    cli.start(QStringLiteral(VANTERO_CLI), QStringList{QStringLiteral("--db"), path} + arguments);
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);

    QVERIFY(!QFile::exists(path + QStringLiteral("-wal")) || QFile(path + QStringLiteral("-wal")).size() == 0);
    QCOMPARE(FromCopyAlone(path, check).toString(), expected.toString());
}

void TestUiExit::aCopyOfTheFileAloneHoldsWhatChangedBeforeTheWindowClosed() {
    SetMessageBoxHook([](TBoxKind, const QString&, const QString&) { return false; });
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(kDatabaseFileName));
    QCOMPARE(PrepareDatabaseFile(path), QString());
    Fill(path);

    bool changed = false;
    QTimer::singleShot(0, [&changed] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* main = qobject_cast<TFmMain*>(widget); main && main->isVisible()) {
                // What the settings dialog writes, through the window's own connection.
                main->Data().con.exec(QStringLiteral("update Setting set UpdateTimeOut=25"));
                changed = true;
                main->close();
                return;
            }
        }
        QApplication::quit();
    });
    QCOMPARE(RunProgram(path), 0);
    SetMessageBoxHook({});
    QVERIFY(changed);
    QCOMPARE(FromCopyAlone(path, QStringLiteral("select UpdateTimeOut from Setting")).toInt(), 25);
}

void TestUiExit::theRunningProgramKeepsWriteAheadLogging() {
    TTestDatabase db;
    QCOMPARE(db.connection().value(QStringLiteral("pragma journal_mode")).toString(), QStringLiteral("wal"));
    db.exec(QStringLiteral("update Setting set UpdateTimeOut=30"));
    QVERIFY(QFile::exists(db.path() + QStringLiteral("-wal")));
    // The files as a crash leaves them now: SQLite recovers the committed change from the log.
    QTemporaryDir crashed;
    const QString left = crashed.filePath(QString::fromLatin1(kDatabaseFileName));
    QVERIFY(QFile::copy(db.path(), left));
    QVERIFY(QFile::copy(db.path() + QStringLiteral("-wal"), left + QStringLiteral("-wal")));
    QCOMPARE(TConnection(left).value(QStringLiteral("select UpdateTimeOut from Setting")).toInt(), 30);
    TConnection::closeAll();
    QVERIFY(!QFile::exists(db.path() + QStringLiteral("-wal")));
    QCOMPARE(FromCopyAlone(db.path(), QStringLiteral("select UpdateTimeOut from Setting")).toInt(), 30);
}

QTEST_MAIN(TestUiExit)
#include "tst_ui_exit.moc"
