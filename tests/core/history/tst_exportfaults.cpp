// Exports that meet a killed writer, a full folder or another export at work: the target is
// the old file or the new one, whole; nothing of ours is left beside it; the reason is Chinese.
#include "history/SheetExport.h"
#include "support/SmallDisk.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

using namespace vantero;
using namespace vantero::test;

namespace {

TSheet SheetOf(int rows) {
    TSheet sheet;
    sheet.name = QStringLiteral("表");
    sheet.columns = {QStringLiteral("编号"), QStringLiteral("名称"), QStringLiteral("价格")};
    for (int i = 0; i < rows; ++i)
        sheet.rows << QList<TSheetCell>{{QVariant(qlonglong(i)), {}},
                                        {QStringLiteral("宝贝 %1 ").arg(i).repeated(8), {}},
                                        {QVariant(i * 1.25), {}}};
    return sheet;
}

QStringList Hidden(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden);
}

bool IsWholeWorkbook(const QString& path) {
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-tq"), path});
    unzip.waitForFinished(60000);
    QProcess list;
    list.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), path});
    list.waitForFinished(60000);
    return unzip.exitStatus() == QProcess::NormalExit && unzip.exitCode() == 0 &&
           list.readAllStandardOutput().contains("xl/workbook.xml");
}

} // namespace

class TestExportFaults : public QObject {
    Q_OBJECT
private slots:
    void aPartWithoutItsWriterIsRemovedAtTheNextExport();
    void aKilledExportLeavesTheTargetWholeAndNoPartAfterTheNext();
    void aFullFolderIsSaidInChineseAndLeavesNothing_data();
    void aFullFolderIsSaidInChineseAndLeavesNothing();
};

void TestExportFaults::aPartWithoutItsWriterIsRemovedAtTheNextExport() {
    QTemporaryDir dir;
    // One left by a killed export, one still being written by another, one of the user's.
    const QString stale = dir.filePath(QStringLiteral(".grid.xlsx.Ab12Cd"));
    const QString live = dir.filePath(QStringLiteral(".grid.csv.Zz99Yy"));
    const QString users = dir.filePath(QStringLiteral(".notes.txt"));
    for (const QString& path : {stale, live, users}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("part");
    }
    const int writer = ::open(QFile::encodeName(live).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(writer >= 0);
    QCOMPARE(::flock(writer, LOCK_EX | LOCK_NB), 0);
    QCOMPARE(WriteSheetFile(SheetOf(3), dir.filePath(QStringLiteral("grid.xlsx")), TExportFormat::Xlsx), QString());
    ::close(writer);
    QVERIFY(!QFile::exists(stale));
    QVERIFY(QFile::exists(live));
    QVERIFY(QFile::exists(users));
    QCOMPARE(WriteSheetFile(SheetOf(3), dir.filePath(QStringLiteral("grid.csv")), TExportFormat::Csv), QString());
    QCOMPARE(Hidden(dir.path()), QStringList{QStringLiteral(".notes.txt")});
}

void TestExportFaults::aKilledExportLeavesTheTargetWholeAndNoPartAfterTheNext() {
    TTestDatabase db;
    // Enough rows that a kill often lands while the workbook is written.
    db.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                           "INSERT INTO Items (ItemID, ItemName, URL, Price, SellCount) "
                           "SELECT i, '宝贝标题 ' || i || ' 纯棉长袖衬衫', 'http://item/' || i, i * 1.5, i FROM n"));
    TConnection::closeAll();
    const QString target = QDir(db.dir()).filePath(QStringLiteral("grid.xlsx"));
    int killedWhileWriting = 0;
    for (int round = 0; round < 12; ++round) {
        QProcess cli;
        cli.setWorkingDirectory(db.dir());
        cli.start(QStringLiteral(VANTERO_CLI), {QStringLiteral("--db"), db.path(), QStringLiteral("export"),
                                                QStringLiteral("grid"), QStringLiteral("--xlsx"), target});
        QVERIFY(cli.waitForStarted());
        // Wait until the part exists (the export is writing), then a little more, then kill.
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 60000 && Hidden(db.dir()).isEmpty() && cli.state() == QProcess::Running)
            QTest::qWait(1);
        if (!Hidden(db.dir()).isEmpty())
            ++killedWhileWriting;
        ::usleep(useconds_t(QRandomGenerator::global()->bounded(50000)));
        ::kill(pid_t(cli.processId()), SIGKILL);
        cli.waitForFinished(30000);
        if (QFile::exists(target))
            QVERIFY2(IsWholeWorkbook(target), "a killed export left a torn target");
    }
    QVERIFY2(killedWhileWriting > 0, "no kill landed while the part was being written");
    QCOMPARE(WriteSheetFile(SheetOf(2), QDir(db.dir()).filePath(QStringLiteral("other.xlsx")), TExportFormat::Xlsx),
             QString());
    const QStringList left = Hidden(db.dir());
    QVERIFY2(left.isEmpty(), qPrintable(left.join(u' ')));
}

void TestExportFaults::aFullFolderIsSaidInChineseAndLeavesNothing_data() {
    QTest::addColumn<int>("format");
    QTest::newRow("csv") << int(TExportFormat::Csv);
    QTest::newRow("xlsx") << int(TExportFormat::Xlsx);
}

void TestExportFaults::aFullFolderIsSaidInChineseAndLeavesNothing() {
    QFETCH(int, format);
    TSmallDisk disk(1024);
    if (!disk.mounted())
        QSKIP(qPrintable(disk.reason()));
    const QString path =
        disk.filePath(format == int(TExportFormat::Csv) ? QStringLiteral("grid.csv") : QStringLiteral("grid.xlsx"));
    QCOMPARE(WriteSheetFile(SheetOf(2), path, TExportFormat(format)), QString());
    QFile old(path);
    QVERIFY(old.open(QIODevice::ReadOnly));
    const QByteArray before = old.readAll();
    old.close();
    disk.Fill();
    const QString problem = WriteSheetFile(SheetOf(20000), path, TExportFormat(format));
    QVERIFY2(problem.startsWith(QStringLiteral("无法写入导出文件：磁盘空间已满")), qPrintable(problem));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), before);
    QVERIFY2(Hidden(disk.path()).isEmpty(), qPrintable(Hidden(disk.path()).join(u' ')));

    // The command says the same, and nothing but that.
    TTestDatabase db;
    TConnection::closeAll();
    QProcess cli;
    cli.start(QStringLiteral(VANTERO_CLI),
              {QStringLiteral("--db"), db.path(), QStringLiteral("export"), QStringLiteral("grid"),
               format == int(TExportFormat::Csv) ? QStringLiteral("--csv") : QStringLiteral("--xlsx"), path});
    QVERIFY(cli.waitForFinished(60000));
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitCode(), 1);
    QVERIFY2(err.startsWith(QStringLiteral("无法写入导出文件：磁盘空间已满")), qPrintable(err));
    QVERIFY2(err.trimmed().count(u'\n') == 0, qPrintable(err));
}

QTEST_GUILESS_MAIN(TestExportFaults)
#include "tst_exportfaults.moc"
