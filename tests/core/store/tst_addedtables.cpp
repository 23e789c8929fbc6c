// The tables kept beside the catalogue: added once to older files, present in new ones.
#include "store/AddedTables.h"
#include "store/Connection.h"
#include "support/TestDatabase.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace vantero;
using namespace vantero::test;

namespace {

// The schema as stored, so a second start can be shown to change nothing.
QStringList SchemaOf(const QString& path) {
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("schema-probe"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        query.exec(QStringLiteral("SELECT type, name, sql FROM sqlite_master ORDER BY name"));
        while (query.next())
            rows << query.value(0).toString() + u'|' + query.value(1).toString() + u'|' + query.value(2).toString();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema-probe"));
    return rows;
}

// A file as an older program leaves it: the four catalogue tables with a row, nothing else.
void WriteOldFile(const QString& path) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old-file"));
    db.setDatabaseName(path);
    db.open();
    QSqlQuery query(db);
    for (const char* sql :
         {"CREATE TABLE Items (ItemID TEXT, ItemName TEXT, CustomItemName TEXT, URL TEXT, Price REAL, SellCount "
          "INTEGER, LastUpdated TEXT)",
          "CREATE TABLE Rival (RivalWW TEXT, ShopURL TEXT, ShopName TEXT, ShopClass TEXT, ShopType TEXT)",
          "CREATE TABLE RivalItems (RivalWW TEXT, LocalItemID TEXT, RivalItemID TEXT, ItemName TEXT, URL TEXT, Price "
          "REAL, SellCount INTEGER, LastUpdated TEXT)",
          "CREATE TABLE Setting (UpdateTimeOut INTEGER, WW TEXT)", "INSERT INTO Setting VALUES (30, 'me')",
          "INSERT INTO Items (ItemID, ItemName) VALUES ('1', 'old')"})
        QVERIFY(query.exec(QString::fromLatin1(sql)));
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("old-file"));
}

} // namespace

class TestAddedTables : public QObject {
    Q_OBJECT
private slots:
    void aNewFileHasEveryAddedTable();
    void anOlderFileGainsTheTablesOnceAndKeepsItsRows();
    void aFileWithTheFirstPageIndexGetsThePresentOne();
    void optionsReadTheirFallbackUntilWrittenAndThenTheLastValue();
};

void TestAddedTables::aNewFileHasEveryAddedTable() {
    TTestDatabase db;
    for (const QString& table : AddedTableNames())
        QCOMPARE(db.value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND name=?"), {table})
                     .toInt(),
                 1);
}

void TestAddedTables::anOlderFileGainsTheTablesOnceAndKeepsItsRows() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vanteroData.mdb"));
    WriteOldFile(path);
    QCOMPARE(PrepareDatabaseFile(path), QString());
    const QStringList first = SchemaOf(path);
    for (const QString& table : AddedTableNames())
        QVERIFY2(first.filter(QStringLiteral("table|%1|").arg(table)).size() == 1, qPrintable(table));
    QCOMPARE(PrepareDatabaseFile(path), QString());
    QCOMPARE(SchemaOf(path), first);
    const TConnection con(path);
    QCOMPARE(con.value(QStringLiteral("SELECT ItemName FROM Items WHERE ItemID='1'")).toString(),
             QStringLiteral("old"));
    QCOMPARE(con.value(QStringLiteral("SELECT WW FROM Setting")).toString(), QStringLiteral("me"));
    TConnection::closeThreadConnections();
}

// A file whose page index still keeps the reading time after the page (as the first version
// wrote it) gets the present index at the next start, once; the page's last row is then found
// without sorting the page's history.
void TestAddedTables::aFileWithTheFirstPageIndexGetsThePresentOne() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vanteroData.mdb"));
    WriteOldFile(path);
    QCOMPARE(PrepareDatabaseFile(path), QString());
    const QStringList present = SchemaOf(path);
    {
        const TConnection con(path);
        con.exec(QStringLiteral("DROP INDEX PriceHistoryByPage"));
        con.exec(QStringLiteral("CREATE INDEX PriceHistoryByPage ON PriceHistory (LocalItemID, RivalWW, ReadAt)"));
        con.exec(QStringLiteral("INSERT INTO PriceHistory (LocalItemID, RivalWW, ReadAt, Price) VALUES "
                                "('1', '', '2026-01-02 00:00:00', 5), ('1', '', '2026-01-01 00:00:00', 6)"));
    }
    TConnection::closeAll();
    QCOMPARE(PrepareDatabaseFile(path), QString());
    QCOMPARE(SchemaOf(path), present);
    QCOMPARE(PrepareDatabaseFile(path), QString());
    QCOMPARE(SchemaOf(path), present);

    QStringList steps;
    QVariant last;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plan-probe"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        const QString lastRow = QStringLiteral(
            "SELECT Price FROM PriceHistory WHERE LocalItemID='1' AND RivalWW='' ORDER BY rowid DESC LIMIT 1");
        QVERIFY(query.exec(QStringLiteral("EXPLAIN QUERY PLAN ") + lastRow));
        while (query.next())
            steps << query.value(3).toString();
        QVERIFY(query.exec(lastRow) && query.next());
        last = query.value(0);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("plan-probe"));
    QVERIFY2(!steps.join(u'\n').contains(QLatin1String("TEMP B-TREE")), qPrintable(steps.join(u'\n')));
    // The last row written, though its reading time is the earlier one (a clock set back).
    QCOMPARE(last.toDouble(), 6.0);
}

void TestAddedTables::optionsReadTheirFallbackUntilWrittenAndThenTheLastValue() {
    TTestDatabase db;
    const TConnection con = db.connection();
    QCOMPARE(ReadOption(con, QStringLiteral("AlertPercent"), 10).toInt(), 10);
    WriteOption(con, QStringLiteral("AlertPercent"), 15);
    WriteOption(con, QStringLiteral("alertpercent"), 20);
    QCOMPARE(ReadOption(con, QStringLiteral("AlertPercent"), 10).toInt(), 20);
    QCOMPARE(db.value(QStringLiteral("SELECT count(*) FROM Options")).toInt(), 1);
    TConnection::closeThreadConnections();
}

QTEST_GUILESS_MAIN(TestAddedTables)
#include "tst_addedtables.moc"
