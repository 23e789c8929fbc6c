// The database file and the record-set layer.
#include "catalogue/MainData.h"
#include "store/DatabaseError.h"
#include "store/RecordSet.h"
#include "support/TestDatabase.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <ctime>
#include <sqlite3.h>

using namespace vantero;
using namespace vantero::test;

namespace {

QByteArray FileHash(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

void AddItem(TRecordSet& rs, const QString& id, const QString& name = {}) {
    rs.Append();
    rs.FieldByName(QStringLiteral("ItemID")).SetAsString(id);
    if (!name.isNull())
        rs.FieldByName(QStringLiteral("ItemName")).SetAsString(name);
    rs.Post();
}

} // namespace

class TestStore : public QObject {
    Q_OBJECT
private slots:
    void aMissingFileIsWrittenWithTheFourTablesAndOneSettingRow();
    void startUpStoresSixtyMinutesBelowFifteenAndKeepsFifteen_data();
    void startUpStoresSixtyMinutesBelowFifteenAndKeepsFifteen();
    void anEmptySettingTableGainsItsRow();
    void filesThatAreNotOurDatabaseAreRefusedUntouched_data();
    void filesThatAreNotOurDatabaseAreRefusedUntouched();
    void emptyColumnsReadAsEmptyZeroOrZeroDate();
    void anOpenSetIsASnapshotPlusItsOwnChanges();
    void rowsComeBackInTheOrderTheyWereAppended();
    void locateMatchesWholeValuesIgnoringCaseAndTakesTheFirst();
    void locateOnTwoColumnsNeedsBothEqual();
    void editOnAnEmptySetBeginsANewRow();
    void valuesWithQuotesAndSqlAreStoredAndFoundLikeAnyOther();
    void deleteRemovesTheRowFromFileAndSet();
    void refreshByKeyMergesTheItemsRowsOnly();
    void whichStatementsCanWriteBack_data();
    void whichStatementsCanWriteBack();
    void onlyValuesThatDifferAreWrittenBack();
    void aWriteTransactionKeepsTheLookupAndTheWriteTogether();
    void aDamagedFileIsRefusedAtStartUntouched();
    void aFileLockedByAnotherProgramIsNamedInChinese();
    void aChangedTimeZoneIsPickedUpWithinAMinute();
    void theCurrentTimeAsStoredIsTheLocalTime();
    void aWriterThreadAndAReaderThreadNeverSeeLockedOrLoseRows();
};

void TestStore::aMissingFileIsWrittenWithTheFourTablesAndOneSettingRow() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vanteroData.mdb"));
    QCOMPARE(PrepareDatabaseFile(path), QString());
    QString reason;
    QVERIFY2(CheckDatabaseLayout(path, &reason), qPrintable(reason));
    TRecordSet rs{TConnection(path)};
    for (const char* table : {"Items", "Rival", "RivalItems"}) {
        rs.Reopen(QStringLiteral("select * from %1").arg(QLatin1String(table)));
        QCOMPARE(rs.RecordCount(), 0);
    }
    rs.Reopen(kSelectSetting);
    QCOMPARE(rs.RecordCount(), 1);
    QVERIFY(rs.FieldByName(QStringLiteral("UpdateTimeOut")).AsInteger() < 15);
    QCOMPARE(rs.FieldByName(QStringLiteral("WW")).AsString(), QString());
    TConnection::closeThreadConnections();
}

void TestStore::startUpStoresSixtyMinutesBelowFifteenAndKeepsFifteen_data() {
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("applied");
    QTest::newRow("14 becomes 60") << QVariant(14) << 60;
    QTest::newRow("15 stays") << QVariant(15) << 15;
    QTest::newRow("empty becomes 60") << QVariant() << 60;
    QTest::newRow("negative becomes 60") << QVariant(-5) << 60;
    QTest::newRow("120 stays") << QVariant(120) << 120;
}

void TestStore::startUpStoresSixtyMinutesBelowFifteenAndKeepsFifteen() {
    QFETCH(QVariant, stored);
    QFETCH(int, applied);
    TTestDatabase db;
    db.exec(QStringLiteral("update Setting set UpdateTimeOut=?, WW=?"), {stored, QStringLiteral("我的店")});
    TMainData data(db.connection());
    QCOMPARE(data.ApplySettings(), applied);
    QCOMPARE(data.OwnAccount, QStringLiteral("我的店"));
    QCOMPARE(db.value(QStringLiteral("select UpdateTimeOut from Setting")).toInt(), applied);
    QCOMPARE(db.value(QStringLiteral("select count(*) from Setting")).toInt(), 1);
}

void TestStore::anEmptySettingTableGainsItsRow() {
    TTestDatabase db;
    db.exec(QStringLiteral("delete from Setting"));
    TMainData data(db.connection());
    QCOMPARE(data.ApplySettings(), 60);
    QCOMPARE(data.OwnAccount, QString());
    QCOMPARE(db.value(QStringLiteral("select count(*) from Setting")).toInt(), 1);
    QCOMPARE(db.value(QStringLiteral("select UpdateTimeOut from Setting")).toInt(), 60);
    data.RefreshAllData();
    QCOMPARE(data.grid.bands().last().caption, QStringLiteral("自己()"));
}

void TestStore::filesThatAreNotOurDatabaseAreRefusedUntouched_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("sql"); // builds an SQLite file when not empty
    QTest::newRow("text file") << QByteArray("just some notes\n") << QString();
    QTest::newRow("access file") << QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20) + QByteArray(2000, '\0')
                                 << QString();
    QTest::newRow("empty file") << QByteArray() << QString();
    QTest::newRow("sqlite without our tables") << QByteArray() << QStringLiteral("create table Other (a text)");
    QTest::newRow("items without a column")
        << QByteArray()
        << QStringLiteral("create table Items (ItemID, ItemName, URL, Price, SellCount, LastUpdated);"
                          "create table Rival (RivalWW, ShopURL, ShopName, ShopClass, ShopType);"
                          "create table RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                          "SellCount, LastUpdated);"
                          "create table Setting (UpdateTimeOut, WW)");
    const QString others = QStringLiteral(
        "create table Rival (RivalWW, ShopURL, ShopName, ShopClass, ShopType);"
        "create table RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, SellCount, LastUpdated);"
        "create table Setting (UpdateTimeOut, WW)");
    // A view that never ends would hang every reader of Items.
    QTest::newRow("items as an endless view")
        << QByteArray()
        << QStringLiteral("create view Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount, LastUpdated) "
                          "as with recursive n(i) as (select 1 union all select i + 1 from n) "
                          "select i, i, i, i, i, i, i from n;") +
               others;
    QTest::newRow("items as a virtual table")
        << QByteArray()
        << QStringLiteral("create virtual table Items using fts5(ItemID, ItemName, CustomItemName, URL, Price, "
                          "SellCount, LastUpdated);") +
               others;
}

void TestStore::filesThatAreNotOurDatabaseAreRefusedUntouched() {
    QFETCH(QByteArray, content);
    QFETCH(QString, sql);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vanteroData.mdb"));
    if (sql.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    } else {
        {
            QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
            raw.setDatabaseName(path);
            QVERIFY(raw.open());
            for (const QString& statement : sql.split(u';'))
                QVERIFY(QSqlQuery(raw).exec(statement));
            raw.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("raw"));
    }
    const QByteArray before = FileHash(path);
    const QString message = PrepareDatabaseFile(path);
    QVERIFY(!message.isEmpty());
    QVERIFY2(message.contains(QStringLiteral("vanteroData.mdb")), qPrintable(message));
    QCOMPARE(FileHash(path), before);
    QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
}

void TestStore::emptyColumnsReadAsEmptyZeroOrZeroDate() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Items (ItemID) values ('1')"));
    TRecordSet rs(db.connection());
    rs.Reopen(kSelectItems);
    QCOMPARE(rs.FieldByName(QStringLiteral("ItemName")).AsString(), QString());
    QCOMPARE(rs.FieldByName(QStringLiteral("Price")).AsFloat(), 0.0);
    QCOMPARE(rs.FieldByName(QStringLiteral("SellCount")).AsInteger(), 0);
    QVERIFY(!rs.FieldByName(QStringLiteral("LastUpdated")).AsDateTime().isValid());
    QCOMPARE(rs.FieldByName(QStringLiteral("itemid")).AsString(), QStringLiteral("1")); // names ignore case

    const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
    rs.Edit();
    rs.FieldByName(QStringLiteral("LastUpdated")).SetAsDateTime(when);
    rs.FieldByName(QStringLiteral("Price")).SetAsFloat(12.5);
    rs.Post();
    QCOMPARE(db.value(QStringLiteral("select LastUpdated from Items")).toString(),
             QStringLiteral("2026-03-04 05:06:07"));
    rs.Reopen(kSelectItems);
    QCOMPARE(rs.FieldByName(QStringLiteral("LastUpdated")).AsDateTime(), when);
    QCOMPARE(rs.FieldByName(QStringLiteral("Price")).AsFloat(), 12.5);
}

void TestStore::anOpenSetIsASnapshotPlusItsOwnChanges() {
    TTestDatabase db;
    TRecordSet first(db.connection());
    TRecordSet second(db.connection());
    first.Reopen(kSelectItems);
    second.Reopen(kSelectItems);
    AddItem(first, QStringLiteral("1"));
    QCOMPARE(first.RecordCount(), 1);
    QCOMPARE(second.RecordCount(), 0); // written through another set: not seen until re-opened
    QVERIFY(!second.Locate(QStringLiteral("ItemID"), {QStringLiteral("1")}));
    second.Close();
    second.Open();
    QCOMPARE(second.RecordCount(), 1);
}

void TestStore::rowsComeBackInTheOrderTheyWereAppended() {
    TTestDatabase db;
    TRecordSet rs(db.connection());
    rs.Reopen(kSelectItems);
    for (const char* id : {"30", "10", "20"})
        AddItem(rs, QString::fromLatin1(id));
    rs.Locate(QStringLiteral("ItemID"), {QStringLiteral("10")});
    rs.Delete();
    AddItem(rs, QStringLiteral("05"));
    rs.Reopen(kSelectItems);
    QStringList order;
    for (; !rs.Eof(); rs.Next())
        order << rs.FieldByName(QStringLiteral("ItemID")).AsString();
    QCOMPARE(order, (QStringList{QStringLiteral("30"), QStringLiteral("20"), QStringLiteral("05")}));
}

void TestStore::locateMatchesWholeValuesIgnoringCaseAndTakesTheFirst() {
    TTestDatabase db;
    TRecordSet rs(db.connection());
    rs.Reopen(kSelectItems);
    AddItem(rs, QStringLiteral("12345"), QStringLiteral("long"));
    rs.First();
    QVERIFY(!rs.Locate(QStringLiteral("ItemID"), {QStringLiteral("1234")}));
    QCOMPARE(rs.RecNo(), 0); // unchanged on a miss
    AddItem(rs, QStringLiteral("1234"), QStringLiteral("short"));
    AddItem(rs, QStringLiteral("AbC"), QStringLiteral("first"));
    AddItem(rs, QStringLiteral("abc"), QStringLiteral("second"));
    AddItem(rs, QString(), QStringLiteral("empty"));
    QVERIFY(rs.Locate(QStringLiteral("ItemID"), {QStringLiteral("1234")}));
    QCOMPARE(rs.FieldByName(QStringLiteral("ItemName")).AsString(), QStringLiteral("short"));
    QVERIFY(rs.Locate(QStringLiteral("ItemID"), {QStringLiteral("ABC")}));
    QCOMPARE(rs.FieldByName(QStringLiteral("ItemName")).AsString(), QStringLiteral("first"));
    QVERIFY(rs.Locate(QStringLiteral("ItemID"), {QString()}));
    QCOMPARE(rs.FieldByName(QStringLiteral("ItemName")).AsString(), QStringLiteral("empty"));
    QVERIFY(!rs.Locate(QStringLiteral("ItemID"), {QStringLiteral(" 1234")}));

    // The index follows edits: a renamed key is found under its new value only.
    rs.Locate(QStringLiteral("ItemID"), {QStringLiteral("AbC")});
    rs.Edit();
    rs.FieldByName(QStringLiteral("ItemID")).SetAsString(QStringLiteral("xyz"));
    rs.Post();
    QVERIFY(rs.Locate(QStringLiteral("ItemID"), {QStringLiteral("abc")}));
    QCOMPARE(rs.FieldByName(QStringLiteral("ItemName")).AsString(), QStringLiteral("second"));
    QVERIFY(rs.Locate(QStringLiteral("ItemID"), {QStringLiteral("XYZ")}));
    QCOMPARE(rs.FieldByName(QStringLiteral("ItemName")).AsString(), QStringLiteral("first"));
}

void TestStore::locateOnTwoColumnsNeedsBothEqual() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID) values "
                           "('ShopA', '1', 'a1'), ('ShopB', '1', 'b1'), ('ShopA', '2', 'a2')"));
    TRecordSet rs(db.connection());
    rs.Reopen(kSelectRivalItems);
    QVERIFY(rs.Locate(QStringLiteral("RivalWW;LocalItemID"), {QStringLiteral("shopa"), QStringLiteral("2")}));
    QCOMPARE(rs.FieldByName(QStringLiteral("RivalItemID")).AsString(), QStringLiteral("a2"));
    QVERIFY(!rs.Locate(QStringLiteral("RivalWW;LocalItemID"), {QStringLiteral("ShopB"), QStringLiteral("2")}));
}

void TestStore::editOnAnEmptySetBeginsANewRow() {
    TTestDatabase db;
    db.exec(QStringLiteral("delete from Setting"));
    TRecordSet rs(db.connection());
    rs.Reopen(kSelectSetting);
    QVERIFY(rs.Eof());
    rs.Edit();
    rs.FieldByName(QStringLiteral("UpdateTimeOut")).SetAsInteger(20);
    rs.Post();
    QCOMPARE(rs.RecordCount(), 1);
    QCOMPARE(db.value(QStringLiteral("select UpdateTimeOut from Setting")).toInt(), 20);
}

void TestStore::valuesWithQuotesAndSqlAreStoredAndFoundLikeAnyOther() {
    TTestDatabase db;
    const QStringList nasty = {QStringLiteral("it's"), QStringLiteral("1'; delete from Items; --"),
                               QStringLiteral("50%_off"), QStringLiteral("a;b"), QStringLiteral("--")};
    TRecordSet rs(db.connection());
    rs.Reopen(kSelectItems);
    for (const QString& id : nasty)
        AddItem(rs, id, id);
    AddItem(rs, QStringLiteral("plain"));
    for (const QString& id : nasty) {
        TRecordSet one(db.connection());
        one.Reopen(QStringLiteral("select * from Items where ItemID=?"), {id});
        QCOMPARE(one.RecordCount(), 1);
        QCOMPARE(one.FieldByName(QStringLiteral("ItemName")).AsString(), id);
        QVERIFY(rs.Locate(QStringLiteral("ItemID"), {id}));
    }
    TRecordSet del(db.connection());
    del.SetSQL(QStringLiteral("delete from RivalItems where LocalItemID=?"), {nasty[1]});
    del.ExecSQL();
    QCOMPARE(db.value(QStringLiteral("select count(*) from Items")).toInt(), nasty.size() + 1);
}

void TestStore::deleteRemovesTheRowFromFileAndSet() {
    TTestDatabase db;
    TRecordSet rs(db.connection());
    rs.Reopen(kSelectItems);
    AddItem(rs, QStringLiteral("1"));
    AddItem(rs, QStringLiteral("2"));
    AddItem(rs, QStringLiteral("3"));
    QVERIFY(rs.Locate(QStringLiteral("ItemID"), {QStringLiteral("2")}));
    rs.Delete();
    QCOMPARE(rs.RecordCount(), 2);
    QCOMPARE(rs.FieldByName(QStringLiteral("ItemID")).AsString(), QStringLiteral("3"));
    QVERIFY(!rs.Locate(QStringLiteral("ItemID"), {QStringLiteral("2")}));
    QVERIFY(rs.Locate(QStringLiteral("ItemID"), {QStringLiteral("3")}));
    QCOMPARE(rs.RecNo(), 1);
    QCOMPARE(db.value(QStringLiteral("select count(*) from Items where ItemID='2'")).toInt(), 0);
}

void TestStore::refreshByKeyMergesTheItemsRowsOnly() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, Price) values "
                           "('A', '1', 'a1', 1), ('B', '1', 'b1', 2), ('A', '2', 'a2', 3)"));
    TRecordSet rs(db.connection());
    rs.Reopen(kSelectRivalItems);
    QVERIFY(rs.Locate(QStringLiteral("RivalWW;LocalItemID"), {QStringLiteral("A"), QStringLiteral("1")}));
    db.exec(QStringLiteral("update RivalItems set Price=10 where RivalItemID='a1'"));
    db.exec(QStringLiteral("delete from RivalItems where RivalItemID='b1'"));
    db.exec(QStringLiteral("update RivalItems set Price=30, LocalItemID='1' where RivalItemID='a2'")); // moved
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, Price) values "
                           "('C', '1', 'c1', 4), ('C', '2', 'c2', 5)"));
    rs.RefreshByKey(QStringLiteral("LocalItemID"), QStringLiteral("1"));
    QCOMPARE(rs.RecordCount(), 3); // a1, a2 (moved in), c1; b1 gone; c2 belongs to another item
    QVERIFY(rs.Locate(QStringLiteral("RivalWW;LocalItemID"), {QStringLiteral("A"), QStringLiteral("1")}));
    QCOMPARE(rs.FieldByName(QStringLiteral("Price")).AsFloat(), 10.0);
    QVERIFY(!rs.Locate(QStringLiteral("RivalWW;LocalItemID"), {QStringLiteral("B"), QStringLiteral("1")}));
    QVERIFY(!rs.Locate(QStringLiteral("RivalWW;LocalItemID"), {QStringLiteral("A"), QStringLiteral("2")}));
    QVERIFY(rs.Locate(QStringLiteral("RivalWW;LocalItemID"), {QStringLiteral("C"), QStringLiteral("1")}));
    QVERIFY(!rs.Locate(QStringLiteral("RivalWW;LocalItemID"), {QStringLiteral("C"), QStringLiteral("2")}));
    QVERIFY(rs.Locate(QStringLiteral("RivalItemID"), {QStringLiteral("a2")}));
    QCOMPARE(rs.FieldByName(QStringLiteral("Price")).AsFloat(), 30.0);
}

void TestStore::whichStatementsCanWriteBack_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("writable");
    QTest::newRow("whole table") << QStringLiteral("select * from Items") << true;
    QTest::newRow("with a condition") << QStringLiteral("select * from Items where ItemID=?") << true;
    QTest::newRow("capitals and line breaks") << QStringLiteral("SELECT\n  *\tFROM  Items WHERE ItemID=?") << true;
    QTest::newRow("blanks before") << QStringLiteral("  select * from Items") << true;
    QTest::newRow("some columns") << QStringLiteral("select ItemID, Price from Items") << false;
    QTest::newRow("a count") << QStringLiteral("select count(*) from Items") << false;
    QTest::newRow("a column named like a keyword")
        << QStringLiteral("select fromage from (select ItemID as fromage from Items)") << false;
}

void TestStore::whichStatementsCanWriteBack() {
    QFETCH(QString, sql);
    QFETCH(bool, writable);
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Items (ItemID, Price) values ('1', 2)"));
    TRecordSet rs(db.connection());
    rs.Reopen(sql, sql.contains(u'?') ? QVariantList{QStringLiteral("1")} : QVariantList{});
    QCOMPARE(rs.RecordCount(), 1);
    if (!writable) {
        QVERIFY_THROWS_EXCEPTION(TDatabaseError, rs.Append());
        return;
    }
    // The set reads whole rows, the row id aside: the same columns as the table.
    QCOMPARE(rs.ColumnIndex(QStringLiteral("ItemID")), 0);
    rs.Edit();
    rs.FieldByName(QStringLiteral("Price")).SetAsFloat(7);
    rs.Post();
    QCOMPARE(db.value(QStringLiteral("select Price from Items")).toDouble(), 7.0);
}

void TestStore::onlyValuesThatDifferAreWrittenBack() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Items (ItemID, ItemName, Price, SellCount) values ('1', '连衣裙', 2.5, 3)"));
    // Any write of the name, even of the same text, is refused by the file.
    db.exec(QStringLiteral("create trigger NoNameWrites before update of ItemName on Items "
                           "begin select raise(abort, 'name written'); end"));
    TRecordSet rs(db.connection());
    rs.Reopen(kSelectItems);
    rs.Edit();
    rs.FieldByName(QStringLiteral("ItemName")).SetAsString(QStringLiteral("连衣裙"));
    rs.FieldByName(QStringLiteral("Price")).SetAsFloat(9.5);
    rs.FieldByName(QStringLiteral("SellCount")).SetAsInteger(3);
    rs.Post();
    QCOMPARE(db.value(QStringLiteral("select Price from Items")).toDouble(), 9.5);
    // A name that differs, if only by a trailing blank, is written (and refused).
    for (const QString& other : {QStringLiteral("连衣裙X"), QStringLiteral("连衣裙 ")}) {
        rs.Edit();
        rs.FieldByName(QStringLiteral("ItemName")).SetAsString(other);
        QVERIFY_THROWS_EXCEPTION(TDatabaseError, rs.Post());
        QCOMPARE(rs.FieldByName(QStringLiteral("ItemName")).AsString(), QStringLiteral("连衣裙"));
    }
    // So is one that differs only in letter case, though the column compares without case.
    db.exec(QStringLiteral("drop trigger NoNameWrites"));
    db.exec(QStringLiteral("update Items set ItemName='abc'"));
    rs.Reopen(kSelectItems);
    rs.Edit();
    rs.FieldByName(QStringLiteral("ItemName")).SetAsString(QStringLiteral("ABC"));
    rs.Post();
    QCOMPARE(db.value(QStringLiteral("select ItemName from Items")).toString(), QStringLiteral("ABC"));
}

void TestStore::aWriteTransactionKeepsTheLookupAndTheWriteTogether() {
    TTestDatabase db;
    // Several threads each look for the item and add it when it is missing: one row results.
    std::atomic<int> added{0};
    std::atomic<int> failures{0};
    QList<QThread*> threads;
    for (int t = 0; t < 4; ++t) {
        threads << QThread::create([&db, &added, &failures] {
            try {
                TWriteTransaction transaction(db.connection());
                TRecordSet rs(db.connection());
                rs.Reopen(QStringLiteral("select * from Items where ItemID=?"), {QStringLiteral("77")});
                if (rs.RecordCount() == 0) {
                    QThread::msleep(20); // a window for another thread to get in between
                    AddItem(rs, QStringLiteral("77"));
                    ++added;
                }
                transaction.Commit();
            } catch (const TDatabaseError&) {
                ++failures;
            }
            TConnection::closeThreadConnections();
        });
    }
    for (QThread* thread : std::as_const(threads))
        thread->start();
    for (QThread* thread : std::as_const(threads)) {
        QVERIFY(thread->wait(30000));
        delete thread;
    }
    QCOMPARE(failures.load(), 0);
    QCOMPARE(added.load(), 1);
    QCOMPARE(db.value(QStringLiteral("select count(*) from Items where ItemID='77'")).toInt(), 1);

    // Without Commit nothing stays.
    {
        TWriteTransaction transaction(db.connection());
        TRecordSet rs(db.connection());
        rs.Reopen(kSelectItems);
        AddItem(rs, QStringLiteral("78"));
    }
    QCOMPARE(db.value(QStringLiteral("select count(*) from Items where ItemID='78'")).toInt(), 0);
}

void TestStore::aDamagedFileIsRefusedAtStartUntouched() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vanteroData.mdb"));
    {
        TTestDatabase db; // a file with enough rows to span several pages
        for (int i = 0; i < 400; ++i)
            db.exec(QStringLiteral("insert into Items (ItemID, ItemName) values (?, ?)"),
                    {QString::number(i), QString(40, u'杯')});
        TConnection::closeAll();
        QVERIFY(QFile::copy(db.path(), path));
    }
    {
        sqlite3* plain = nullptr; // as a file from elsewhere: not yet in WAL mode
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &plain), SQLITE_OK);
        sqlite3_exec(plain, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
        sqlite3_close(plain);
    }
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.size() > 8 * 4096);
        file.seek(file.size() - 3 * 4096 + 8); // inside a table page, past the file's header
        file.write(QByteArray(512, '\xA5'));
    }
    const QByteArray before = FileHash(path);
    const QString message = PrepareDatabaseFile(path);
    QVERIFY2(message.contains(QStringLiteral("vanteroData.mdb")) && message.contains(QStringLiteral("损坏")),
             qPrintable(message));
    QCOMPARE(FileHash(path), before);
    QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
}

void TestStore::aFileLockedByAnotherProgramIsNamedInChinese() {
    TTestDatabase db;
    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(db.path()).constData(), &other), SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    TConnection::closeAll();
    TConnection::setBusyTimeout(200);
    QString text;
    try {
        db.connection().exec(QStringLiteral("update Setting set UpdateTimeOut=20"));
    } catch (const TDatabaseError& e) {
        text = e.text();
    }
    TConnection::closeAll();
    TConnection::setBusyTimeout(60000);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    QVERIFY2(text.contains(QDir::toNativeSeparators(db.path())) && text.contains(QStringLiteral("另一个程序")),
             qPrintable(text));
    QVERIFY(db.value(QStringLiteral("select UpdateTimeOut from Setting")).toInt() != 20);
}

void TestStore::aChangedTimeZoneIsPickedUpWithinAMinute() {
    const QByteArray zone = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    const qint64 wall = QDateTime(QDate(2026, 1, 31), QTime(8, 5), Qt::UTC).toSecsSinceEpoch();
    timespec steady{};
    clock_gettime(CLOCK_MONOTONIC, &steady);
    const qint64 now = qint64(steady.tv_sec) + 1000;
    qputenv("TZ", "UTC0");
    const QString utc = LocalDateTimeColumn(wall, now);
    qputenv("TZ", "CST-8");
    const QString after = LocalDateTimeColumn(wall, now + 61);
    if (hadZone)
        qputenv("TZ", zone);
    else
        qunsetenv("TZ");
    tzset();
    LocalDateTimeColumn(wall, now + 200);
    QCOMPARE(utc, QStringLiteral("2026-01-31 08:05:00"));
    QCOMPARE(after, QStringLiteral("2026-01-31 16:05:00"));
}

void TestStore::theCurrentTimeAsStoredIsTheLocalTime() {
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const QString stored = CurrentDateTimeColumn();
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    const QDateTime read = DateTimeFromColumn(stored);
    QVERIFY2(before <= read && read <= after, qPrintable(stored));
    QCOMPARE(stored, DateTimeToColumn(read));
}

// A worker posting rows while this thread keeps re-opening sets on the same file.
void TestStore::aWriterThreadAndAReaderThreadNeverSeeLockedOrLoseRows() {
    TTestDatabase db;
    const TConnection con = db.connection();
    constexpr int kRows = 400;
    std::atomic<bool> writing{true};
    QString writerError;
    QThread* writer = QThread::create([&] {
        try {
            TRecordSet rs(con);
            for (int i = 0; i < kRows; ++i) {
                rs.Reopen(QStringLiteral("select * from RivalItems where RivalItemID=?"), {QString::number(i)});
                rs.Edit(); // empty: begins a new row
                rs.FieldByName(QStringLiteral("RivalItemID")).SetAsString(QString::number(i));
                rs.FieldByName(QStringLiteral("LocalItemID")).SetAsString(QStringLiteral("1"));
                rs.FieldByName(QStringLiteral("Price")).SetAsFloat(i);
                rs.Post();
            }
        } catch (const TDatabaseError& e) {
            writerError = e.text();
        }
        writing = false;
        TConnection::closeThreadConnections();
    });
    writer->start();
    TRecordSet reader(con);
    int lastCount = 0;
    try {
        while (writing) {
            reader.Reopen(kSelectRivalItems);
            QVERIFY(reader.RecordCount() >= lastCount); // rows never disappear
            lastCount = reader.RecordCount();
            reader.Reopen(kSelectItems);
        }
    } catch (const TDatabaseError& e) {
        QFAIL(qPrintable(e.text()));
    }
    writer->wait();
    delete writer;
    QVERIFY2(writerError.isEmpty(), qPrintable(writerError));
    reader.Reopen(kSelectRivalItems);
    QCOMPARE(reader.RecordCount(), kRows);
}

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
