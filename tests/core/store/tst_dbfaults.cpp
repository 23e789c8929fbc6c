// What a seller's machine does to the database file: foreign objects in it, a full disk, a
// read-only file system, other users of the machine.
#include "store/Connection.h"
#include "store/DatabaseError.h"
#include "support/SmallDisk.h"
#include "support/TestDatabase.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>
#include <sys/stat.h>

using namespace vantero;
using namespace vantero::test;

namespace {

QByteArray FileHash(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// Runs statements on the file with a plain engine connection, as another program would.
void RunRaw(const QString& path, const QStringList& statements) {
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    for (const QString& sql : statements) {
        char* error = nullptr;
        const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error);
        QVERIFY2(rc == SQLITE_OK, error);
    }
    sqlite3_close(db);
}

int ModeOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 0777);
}

struct TRun {
    int exitCode = -1;
    QString out;
    QString err;
};

TRun RunCli(const QString& folder, const QStringList& args) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral(VANTERO_CLI), args);
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class TestDbFaults : public QObject {
    Q_OBJECT
private slots:
    void foreignObjectsOnOurTablesAreRefusedByName_data();
    void foreignObjectsOnOurTablesAreRefusedByName();
    void aTriggerNeverRunsBecauseTheCommandRefusesTheFile();
    void everyConnectionDistrustsTheFilesSchema();
    void theDatabaseAndItsLogAreTheOwnersAlone();
    void aFullDiskIsToldFromDamage();
    void aReadOnlyFileSystemIsSaidSo();
};

void TestDbFaults::foreignObjectsOnOurTablesAreRefusedByName_data() {
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<QString>("named");
    QTest::newRow("trigger emptying a table after each reading")
        << QStringList{QStringLiteral(
               "CREATE TRIGGER wipe AFTER INSERT ON PriceHistory BEGIN DELETE FROM RivalItems; END")}
        << QStringLiteral("触发器 wipe（表 PriceHistory）");
    QTest::newRow("trigger on a table of its own")
        << QStringList{QStringLiteral("CREATE TABLE Notes (x)"),
                       QStringLiteral("CREATE TRIGGER spill AFTER INSERT ON Notes BEGIN DELETE FROM Items; END")}
        << QStringLiteral("触发器 spill（表 Notes）");
    QTest::newRow("virtual generated column")
        << QStringList{QStringLiteral("ALTER TABLE RivalItems ADD COLUMN Big TEXT GENERATED ALWAYS AS "
                                      "(zeroblob(200000000)) VIRTUAL")}
        << QStringLiteral("表 RivalItems 的计算列 Big");
    QTest::newRow("unknown index with an expression")
        << QStringList{QStringLiteral("CREATE INDEX Slow ON Items (length(ItemName) * 2)")}
        << QStringLiteral("索引 Slow（表 Items）");
}

void TestDbFaults::foreignObjectsOnOurTablesAreRefusedByName() {
    QFETCH(QStringList, statements);
    QFETCH(QString, named);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vanteroData.mdb"));
    QCOMPARE(PrepareDatabaseFile(path), QString());
    TConnection::closeAll();
    RunRaw(path, statements);
    const QByteArray before = FileHash(path);
    const QString message = PrepareDatabaseFile(path);
    QVERIFY2(message.contains(named) && message.contains(QStringLiteral("本程序未创建")), qPrintable(message));
    QVERIFY2(message.contains(QDir::toNativeSeparators(path)), qPrintable(message));
    QCOMPARE(FileHash(path), before);
    // The same file as an import's source is refused too.
    QString reason;
    QVERIFY(!CheckImportSource(path, &reason));
    QVERIFY2(reason.contains(named), qPrintable(reason));
}

void TestDbFaults::aTriggerNeverRunsBecauseTheCommandRefusesTheFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vanteroData.mdb"));
    QCOMPARE(PrepareDatabaseFile(path), QString());
    TConnection::closeAll();
    RunRaw(path, {QStringLiteral("INSERT INTO Items (ItemID, ItemName) VALUES ('9112', 'kept')"),
                  QStringLiteral("CREATE TRIGGER wipe AFTER UPDATE ON Setting BEGIN DELETE FROM Items; END")});
    const TRun run =
        RunCli(dir.path(), {QStringLiteral("settings"), QStringLiteral("--interval"), QStringLiteral("30")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("触发器 wipe")), qPrintable(run.err));
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM Items", -1, &s, nullptr);
    sqlite3_step(s);
    QCOMPARE(sqlite3_column_int(s, 0), 1);
    sqlite3_finalize(s);
    sqlite3_close(db);
}

void TestDbFaults::everyConnectionDistrustsTheFilesSchema() {
    TTestDatabase db;
    QCOMPARE(db.connection().value(QStringLiteral("PRAGMA trusted_schema")).toInt(), 0);
    QSqlQuery query(db.connection().database());
    QVERIFY(query.exec(QStringLiteral("PRAGMA trusted_schema")) && query.next());
    QCOMPARE(query.value(0).toInt(), 0);
}

void TestDbFaults::theDatabaseAndItsLogAreTheOwnersAlone() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vanteroData.mdb"));
    QCOMPARE(PrepareDatabaseFile(path), QString());
    TConnection con(path);
    con.exec(QStringLiteral("INSERT INTO Items (ItemID) VALUES ('1')"));
    QCOMPARE(ModeOf(path), 0600);
    QCOMPARE(ModeOf(path + QStringLiteral("-wal")), 0600);
    QCOMPARE(ModeOf(path + QStringLiteral("-shm")), 0600);
    TConnection::closeAll();

    // A file the user made readable for others stays as they left it.
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
    QCOMPARE(PrepareDatabaseFile(path), QString());
    TConnection::closeAll();
    QCOMPARE(ModeOf(path), 0644);
}

void TestDbFaults::aFullDiskIsToldFromDamage() {
    TSmallDisk disk(2048);
    if (!disk.mounted())
        QSKIP(qPrintable(disk.reason()));
    const QString path = disk.filePath(QStringLiteral("vanteroData.mdb"));
    QCOMPARE(PrepareDatabaseFile(path), QString());
    TConnection::closeAll();
    disk.Fill();

    // At start-up (the -shm cannot be made): full, not damaged.
    QString message = PrepareDatabaseFile(path);
    TConnection::closeAll();
    QVERIFY2(message.contains(QStringLiteral("磁盘空间已满")) && !message.contains(QStringLiteral("损坏")),
             qPrintable(message));

    // A write on a connection opened before the disk filled.
    disk.Free();
    TConnection con(path);
    QCOMPARE(con.value(QStringLiteral("SELECT count(*) FROM Items")).toInt(), 0);
    disk.Fill();
    TDatabaseFault fault = TDatabaseFault::Other;
    try {
        TWriteTransaction transaction(con);
        for (int i = 0; i < 2000; ++i)
            con.exec(QStringLiteral("INSERT INTO Items (ItemID, ItemName) VALUES (?, ?)"),
                     {QString::number(i), QString(2000, QLatin1Char('x'))});
        transaction.Commit();
        QFAIL("a full disk took every row");
    } catch (const TDatabaseError& e) {
        fault = e.fault();
        message = e.text();
    }
    QCOMPARE(fault, TDatabaseFault::DiskFull);
    QVERIFY2(message.startsWith(QStringLiteral("磁盘空间已满")) && message.contains(QStringLiteral("（")),
             qPrintable(message));
    TConnection::closeAll();

    // Space again: the file is whole and usable.
    disk.Free();
    QCOMPARE(PrepareDatabaseFile(path), QString());
    QString reason;
    QVERIFY2(CheckDatabaseLayout(path, &reason, true), qPrintable(reason));
    TConnection::closeAll();
}

void TestDbFaults::aReadOnlyFileSystemIsSaidSo() {
    TSmallDisk disk(2048);
    if (!disk.mounted())
        QSKIP(qPrintable(disk.reason()));
    const QString path = disk.filePath(QStringLiteral("vanteroData.mdb"));
    QCOMPARE(PrepareDatabaseFile(path), QString());
    TConnection::closeAll();
    QVERIFY(disk.SetReadOnly(true));
    const QString message = PrepareDatabaseFile(path);
    TConnection::closeAll();
    QVERIFY2(message.contains(QStringLiteral("只读")) || message.contains(QStringLiteral("不允许写入")),
             qPrintable(message));
    QVERIFY2(!message.contains(QStringLiteral("损坏")), qPrintable(message));

    const TRun run = RunCli(disk.path(), {QStringLiteral("grid")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("只读")) || run.err.contains(QStringLiteral("不允许写入")),
             qPrintable(run.err));
    QVERIFY(disk.SetReadOnly(false));
}

QTEST_GUILESS_MAIN(TestDbFaults)
#include "tst_dbfaults.moc"
