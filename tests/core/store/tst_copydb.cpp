// copy-db: a whole database from the file to a team database on a real PostgreSQL server and
// back, and the command line's --db on a server database.
#include "history/AlertStore.h"
#include "reader/ReadModes.h"
#include "reader/ReadingLog.h"
#include "store/AddedTables.h"
#include "store/DatabaseCopy.h"
#include "store/ServerSchema.h"
#include "store/Statement.h"
#include "support/PgServer.h"
#include "support/TestDatabase.h"

#include <QFileInfo>
#include <QProcess>
#include <QTest>

using namespace vantero;
using namespace vantero::test;

namespace {

struct TRun {
    int code = -1;
    QString out;
    QString err;
};

TRun Cli(const QStringList& args) {
    QProcess process;
    process.start(QFileInfo(QStringLiteral(VANTERO_CLI)).absoluteFilePath(), args);
    TRun run;
    if (!process.waitForFinished(300'000))
        return run;
    run.code = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Every row of every table with its row id, each value with its kind, as one text per table.
QStringList Dump(const QString& target) {
    const TConnection con(target);
    QStringList tables;
    for (const QString& table : AllTableNames()) {
        TStatement rows(con, QStringLiteral("SELECT rowid, * FROM %1 ORDER BY rowid").arg(table));
        rows.Bind({});
        QString text = table + u'\n';
        while (rows.Step()) {
            for (int i = 0; i < rows.ColumnCount(); ++i) {
                const QVariant value = rows.Value(i);
                text += QStringLiteral("%1:%2|").arg(int(rows.Kind(i))).arg(value.toString());
            }
            text += u'\n';
        }
        tables << text;
    }
    TConnection::closeThreadConnections();
    return tables;
}

// A catalogue with readings, history, alerts and options, and the odd values a file can hold.
void Fill(const TConnection& con) {
    const QString sql = QStringLiteral("INSERT INTO Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount, "
                                       "LastUpdated) VALUES (?, ?, ?, ?, ?, ?, ?)");
    con.exec(sql, {QStringLiteral("A1"), QStringLiteral("宝贝 \"一\" 'x'"), QVariant(), QStringLiteral("http://a/1"),
                   12.345678901234567, 7, QStringLiteral("2026-01-31 08:05:00")});
    con.exec(sql, {QStringLiteral("gone"), QString(), QString(), QString(), 1, 1, QVariant()});
    con.exec(sql, {QStringLiteral("b2"), QStringLiteral("Été"), QStringLiteral("自定义"), QString(), QVariant(),
                   9'007'199'254'740'993LL, QString()});
    con.exec(QStringLiteral("DELETE FROM Items WHERE ItemID='gone'")); // a gap in the row ids
    con.exec(QStringLiteral("INSERT INTO Rival (RivalWW, ShopURL, ShopName) VALUES (?, ?, ?)"),
             {QStringLiteral("RivalA"), QStringLiteral("http://shop/a"), QStringLiteral("店铺A")});
    // What the server's bulk load reads as separators or escapes must arrive as written.
    con.exec(QStringLiteral("INSERT INTO Rival (RivalWW, ShopURL, ShopName) VALUES (?, ?, ?)"),
             {QStringLiteral("RivalB"), QStringLiteral("\\N"), QStringLiteral("店\t铺\\N \\ 行\n尾\r\\.")});
    con.exec(
        QStringLiteral("INSERT INTO RivalItems (RivalWW, LocalItemID, RivalItemID, URL, Price, SellCount) "
                       "VALUES (?, ?, ?, ?, ?, ?)"),
        {QStringLiteral("RivalA"), QStringLiteral("A1"), QStringLiteral("r1"), QStringLiteral("http://r/1"), 0.1, 3});
    con.exec(QStringLiteral("UPDATE Setting SET UpdateTimeOut=?, WW=?"), {30, QStringLiteral("own")});
    for (int i = 0; i < 3; ++i) {
        TReadingOutcome outcome;
        outcome.LocalItemID = QStringLiteral("A1");
        outcome.RivalWW = QStringLiteral("RivalA");
        outcome.RivalItemID = QStringLiteral("r1");
        outcome.URL = QStringLiteral("http://r/1");
        outcome.Code = i == 1 ? 4 : 0;
        outcome.Text = i == 1 ? QStringLiteral("下载页面失败") : QString();
        outcome.Price = 10 + i;
        outcome.SellCount = i;
        TWriteTransaction transaction(con);
        LogReading(con, outcome, QStringLiteral("2026-02-0%1 10:00:00").arg(i + 1));
        transaction.Commit();
    }
    con.exec(QStringLiteral("INSERT INTO Alerts (CreatedAt, Kind, LocalItemID, RivalWW, OldPrice, NewPrice, OwnPrice) "
                            "VALUES (?, 1, ?, ?, ?, ?, NULL)"),
             {QStringLiteral("2026-02-03 10:00:00"), QStringLiteral("A1"), QStringLiteral("RivalA"), 11.0, 12.0});
    con.exec(QStringLiteral("INSERT INTO AlertSends (AlertID, Round, Channel, SentAt, Ok, Tries, ErrorText) "
                            "VALUES (1, 1, ?, ?, 0, 3, ?)"),
             {QStringLiteral("钉钉"), QStringLiteral("2026-02-03 10:00:05"), QStringLiteral("超时")});
    WriteOption(con, QStringLiteral("AlertsOn"), 1);
    WriteOption(con, QStringLiteral("AlertPercent"), 2.5);
    WriteOption(con, QStringLiteral("OwnShop"), QStringLiteral("我的店"));
    SetPageReadMode(con, QStringLiteral("A1"), QStringLiteral("RivalA"), rmBrowser);
}

} // namespace

class TstCopyDb final : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { TConnection::closeAll(); }

    void aFileGoesToTheServerAndBackUnchangedOnEveryTable() {
        TTestDatabase file;
        Fill(file.connection());
        TConnection::closeAll();
        const QString server = TPgServer::Shared().NewDatabase();
        const QString back = file.dir() + QStringLiteral("/back.mdb");

        TRun run = Cli({QStringLiteral("copy-db"), file.path(), server});
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QVERIFY(run.out.contains(QStringLiteral("PriceHistory\t2")));
        run = Cli({QStringLiteral("copy-db"), server, back});
        QVERIFY2(run.code == 0, qPrintable(run.err));

        const QStringList before = Dump(file.path());
        const QStringList after = Dump(back);
        QCOMPARE(after.size(), before.size());
        QVERIFY(before[0].contains(QStringLiteral("3:Été|")));
        QVERIFY(before[AllTableNames().indexOf(QStringLiteral("Options"))].contains(QStringLiteral("2:2.5|")));
        QVERIFY(before[AllTableNames().indexOf(QStringLiteral("PriceHistory"))].count(u'\n') == 3);
        for (int i = 0; i < before.size(); ++i)
            QCOMPARE(after[i], before[i]);
        // The server holds the same rows, and hands out ids after the copied ones.
        const QStringList onServer = Dump(server);
        QCOMPARE(onServer[0], before[0]);
        const TConnection con(server);
        QCOMPARE(con.insert(QStringLiteral("INSERT INTO Items (ItemID) VALUES (?)"), {QStringLiteral("new")}), 4);
        // The server plans its first queries on the copied rows with statistics of them.
        QVERIFY(con.value(QStringLiteral("SELECT count(*) FROM pg_stats WHERE tablename='items'")).toLongLong() > 0);
    }

    void aTargetThatIsNotEmptyIsRefusedUnlessMerged() {
        TTestDatabase file;
        Fill(file.connection());
        TConnection::closeAll();
        const QString server = TPgServer::Shared().NewDatabase();
        TRun run = Cli({QStringLiteral("copy-db"), file.path(), server});
        QCOMPARE(run.code, 0);
        const QStringList first = Dump(server);

        run = Cli({QStringLiteral("copy-db"), file.path(), server});
        QCOMPARE(run.code, 3);
        QVERIFY2(run.err.contains(QStringLiteral("目标数据库不是空的（表 Items 中已有数据）")), qPrintable(run.err));
        QCOMPARE(Dump(server), first); // untouched

        // Merged: only what the target lacks, by the import's keys (case aside).
        const TConnection con(file.path());
        con.exec(QStringLiteral("INSERT INTO Items (ItemID, ItemName) VALUES (?, ?)"),
                 {QStringLiteral("C3"), QStringLiteral("新的")});
        con.exec(QStringLiteral("UPDATE Items SET ItemID='a1' WHERE ItemID='A1'"));
        TConnection::closeAll();
        run = Cli({QStringLiteral("copy-db"), QStringLiteral("--merge"), file.path(), server});
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QVERIFY(run.out.startsWith(QStringLiteral("Items\t1\nRival\t0\nRivalItems\t0\n")));
        const TConnection onServer(server);
        QCOMPARE(onServer.value(QStringLiteral("SELECT count(*) FROM Items")).toLongLong(), 3);
        QCOMPARE(onServer.value(QStringLiteral("SELECT count(*) FROM PriceHistory")).toLongLong(), 2);
    }

    void everyCommandRunsOnAServerDatabase() {
        const QString server = TPgServer::Shared().NewDatabase();
        TRun run = Cli({QStringLiteral("--db"), server, QStringLiteral("settings"), QStringLiteral("--own-account"),
                        QStringLiteral("我的旺旺")});
        QVERIFY2(run.code == 0, qPrintable(run.err));
        run = Cli({QStringLiteral("--db"), server, QStringLiteral("settings")});
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QVERIFY2(run.out.contains(QStringLiteral("我的旺旺")), qPrintable(run.out));
        run = Cli({QStringLiteral("--db"), server, QStringLiteral("grid"), QStringLiteral("--json")});
        QVERIFY2(run.code == 0, qPrintable(run.err));
        // An unreachable server: a database error, named in Chinese.
        QTemporaryDir nowhere;
        run = Cli({QStringLiteral("--db"), QStringLiteral("host=%1 dbname=shop").arg(nowhere.path()),
                   QStringLiteral("rivals")});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(QStringLiteral("无法连接服务器")), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(TstCopyDb)
#include "tst_copydb.moc"
