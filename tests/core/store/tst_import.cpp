// The database import: what is copied, what is skipped, which sources are refused.
#include "common/StoreTexts.h"
#include "store/DataImport.h"
#include "store/DatabaseError.h"
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace vantero;
using namespace vantero::test;

namespace {

const QString kItemColumns = QStringLiteral("ItemID, ItemName, CustomItemName, URL, Price, SellCount, LastUpdated");

void AddItem(const TTestDatabase& db, const QString& id, double price = 1, const QString& custom = {}) {
    db.exec(QStringLiteral("insert into Items (%1) values (?, ?, ?, ?, ?, ?, ?)").arg(kItemColumns),
            {id, QStringLiteral("item ") + id, custom, QStringLiteral("http://item/") + id, price, 3,
             QStringLiteral("2024-05-01 10:00:00")});
}

void AddRival(const TTestDatabase& db, const QString& ww, const QString& name) {
    db.exec(
        QStringLiteral("insert into Rival (RivalWW, ShopURL, ShopName, ShopClass, ShopType) values (?, ?, ?, ?, ?)"),
        {ww, QStringLiteral("http://shop/") + ww, name, QStringLiteral("淘宝"), QStringLiteral("淘宝")});
}

void AddRivalItem(const TTestDatabase& db, const QString& ww, const QString& local, const QString& rivalItem,
                  double price = 2) {
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                           "SellCount, LastUpdated) values (?, ?, ?, ?, ?, ?, ?, ?)"),
            {ww, local, rivalItem, QStringLiteral("rival ") + rivalItem, QStringLiteral("http://r/") + rivalItem, price,
             8, QStringLiteral("2024-05-02 11:00:00")});
}

int Count(const TTestDatabase& db, const QString& table) {
    return db.value(QStringLiteral("select count(*) from ") + table).toInt();
}

struct TCounts {
    int items, rivals, rivalItems;
};

TCounts ImportAll(const TTestDatabase& target, const QString& sourcePath) {
    TDataImport import(target.connection());
    QString message;
    if (!import.ConnectSource(sourcePath, &message))
        qFatal("source refused: %s", qPrintable(message));
    const int items = import.ImportItems();
    const int rivals = import.ImportRivals();
    const int rivalItems = import.ImportRivalItems();
    return {items, rivals, rivalItems};
}

QByteArray FileHash(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class TestImport : public QObject {
    Q_OBJECT

private slots:
    void rowsAlreadyPresentAreNotAppendedAgain();
    void databaseInUseAsSourceAppendsNothing_data();
    void databaseInUseAsSourceAppendsNothing();
    void onlyAnEqualItemIdCountsAsPresent();
    void presentItemKeepsItsOwnValues();
    void copiedColumnsArriveAtTheirTypes();
    void presentShopKeepsItsNameAndAddress();
    void mappingsNeedBothIdsToBePresent();
    void mappingsArriveWithoutTheirItemOrShop();
    void emptySourceValuesArriveEmpty();
    void repeatedKeysInTheSourceAreImportedOnce();
    void sourceFileIsNotChanged();
    void outcomesAndHistoryOfTheSourceAreNotImported();
    void unusableSourcesAreRefusedBeforeCopying_data();
    void unusableSourcesAreRefusedBeforeCopying();
    void onlyWhatTheImportReadsIsAskedOf_data();
    void onlyWhatTheImportReadsIsAskedOf();
    void failedAppendLeavesNoHalfRowAndKeepsEarlierOnes();
    void commandLineReportsCompletionAndRefusal();
};

void TestImport::rowsAlreadyPresentAreNotAppendedAgain() {
    TTestDatabase target;
    TTestDatabase source;
    for (const TTestDatabase* db : {&target, &source}) {
        AddItem(*db, QStringLiteral("100"));
        AddRival(*db, QStringLiteral("shopA"), QStringLiteral("A"));
        AddRivalItem(*db, QStringLiteral("shopA"), QStringLiteral("100"), QStringLiteral("900"));
    }
    const TCounts counts = ImportAll(target, source.path());
    QCOMPARE(counts.items + counts.rivals + counts.rivalItems, 0);
    QCOMPARE(Count(target, QStringLiteral("Items")), 1);
    QCOMPARE(Count(target, QStringLiteral("Rival")), 1);
    QCOMPARE(Count(target, QStringLiteral("RivalItems")), 1);
}

void TestImport::databaseInUseAsSourceAppendsNothing_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("same path") << QStringLiteral("same");
    QTest::newRow("symbolic link") << QStringLiteral("symlink");
    QTest::newRow("hard link") << QStringLiteral("hardlink");
    QTest::newRow("path with dots") << QStringLiteral("dots");
}

void TestImport::databaseInUseAsSourceAppendsNothing() {
    QFETCH(QString, how);
    TTestDatabase target;
    AddItem(target, QStringLiteral("1"));
    AddItem(target, QStringLiteral("1")); // a duplicate the store already holds stays a duplicate
    AddRival(target, QStringLiteral("shopA"), QStringLiteral("A"));
    AddRivalItem(target, QStringLiteral("shopA"), QStringLiteral("1"), QStringLiteral("9"));

    QString path = target.path();
    QTemporaryDir other;
    if (how == QLatin1String("symlink")) {
        path = other.filePath(QStringLiteral("link.mdb"));
        QVERIFY(QFile::link(target.path(), path));
    } else if (how == QLatin1String("hardlink")) {
        path = other.filePath(QStringLiteral("hard.mdb"));
        QCOMPARE(::link(QFile::encodeName(target.path()).constData(), QFile::encodeName(path).constData()), 0);
    } else if (how == QLatin1String("dots")) {
        path = target.dir() + QStringLiteral("/./../") + QFileInfo(target.dir()).fileName() + QStringLiteral("/") +
               QString::fromLatin1(kDatabaseFileName);
    }

    TDataImport import(target.connection());
    QString message;
    QVERIFY2(import.ConnectSource(path, &message), qPrintable(message));
    QVERIFY(import.SourceIsTarget());
    QCOMPARE(import.ImportItems(), 0);
    QCOMPARE(import.ImportRivals(), 0);
    QCOMPARE(import.ImportRivalItems(), 0);
    QCOMPARE(Count(target, QStringLiteral("Items")), 2);

    // Still writable and sound while the import's connection is held.
    AddItem(target, QStringLiteral("2"));
    QCOMPARE(Count(target, QStringLiteral("Items")), 3);
    QCOMPARE(target.value(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
}

void TestImport::onlyAnEqualItemIdCountsAsPresent() {
    TTestDatabase target;
    TTestDatabase source;
    AddItem(target, QStringLiteral("12345"));
    AddItem(target, QStringLiteral("abc"));
    AddItem(source, QStringLiteral("1234"));
    AddItem(source, QStringLiteral("123456"));
    AddItem(source, QStringLiteral("ABC")); // letter case does not make another item
    const TCounts counts = ImportAll(target, source.path());
    QCOMPARE(counts.items, 2);
    QCOMPARE(target.value(QStringLiteral("select count(*) from Items where ItemID='1234'")).toInt(), 1);
    QCOMPARE(target.value(QStringLiteral("select count(*) from Items where ItemID='123456'")).toInt(), 1);
    QCOMPARE(Count(target, QStringLiteral("Items")), 4);
}

void TestImport::presentItemKeepsItsOwnValues() {
    TTestDatabase target;
    TTestDatabase source;
    AddItem(target, QStringLiteral("7"), 5.0, QStringLiteral("我的名字"));
    source.exec(QStringLiteral("insert into Items (%1) values (?, ?, ?, ?, ?, ?, ?)").arg(kItemColumns),
                {QStringLiteral("7"), QStringLiteral("newer"), QStringLiteral("other"), QStringLiteral("http://x"),
                 99.0, 500, QStringLiteral("2030-01-01 00:00:00")});
    QCOMPARE(ImportAll(target, source.path()).items, 0);
    QSqlQuery query(target.connection().database());
    QVERIFY(query.exec(QStringLiteral("select Price, SellCount, LastUpdated, CustomItemName, ItemName from Items")));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toDouble(), 5.0);
    QCOMPARE(query.value(1).toInt(), 3);
    QCOMPARE(query.value(2).toString(), QStringLiteral("2024-05-01 10:00:00"));
    QCOMPARE(query.value(3).toString(), QStringLiteral("我的名字"));
    QCOMPARE(query.value(4).toString(), QStringLiteral("item 7"));
}

void TestImport::copiedColumnsArriveAtTheirTypes() {
    TTestDatabase target;
    TTestDatabase source;
    AddItem(source, QStringLiteral("55"), 12.5, QStringLiteral("source's own name"));
    AddRivalItem(source, QStringLiteral("shopB"), QStringLiteral("55"), QStringLiteral("66"), 0.35);
    ImportAll(target, source.path());

    QSqlQuery item(target.connection().database());
    QVERIFY(item.exec(QStringLiteral("select ItemID, ItemName, URL, Price, SellCount, LastUpdated, CustomItemName "
                                     "from Items")));
    QVERIFY(item.next());
    QCOMPARE(item.value(0).toString(), QStringLiteral("55"));
    QCOMPARE(item.value(1).toString(), QStringLiteral("item 55"));
    QCOMPARE(item.value(2).toString(), QStringLiteral("http://item/55"));
    QCOMPARE(item.value(3).toDouble(), 12.5);
    QCOMPARE(item.value(4).toInt(), 3);
    QCOMPARE(DateTimeFromColumn(item.value(5).toString()), QDateTime(QDate(2024, 5, 1), QTime(10, 0)));
    // The display name is the user's own, not the other installation's.
    QVERIFY(item.value(6).toString().isEmpty());

    QSqlQuery rival(target.connection().database());
    QVERIFY(rival.exec(QStringLiteral("select RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, SellCount, "
                                      "LastUpdated from RivalItems")));
    QVERIFY(rival.next());
    QCOMPARE(rival.value(0).toString(), QStringLiteral("shopB"));
    QCOMPARE(rival.value(1).toString(), QStringLiteral("55"));
    QCOMPARE(rival.value(2).toString(), QStringLiteral("66"));
    QCOMPARE(rival.value(3).toString(), QStringLiteral("rival 66"));
    QCOMPARE(rival.value(4).toString(), QStringLiteral("http://r/66"));
    QCOMPARE(rival.value(5).toDouble(), 0.35);
    QCOMPARE(rival.value(6).toInt(), 8);
    QCOMPARE(DateTimeFromColumn(rival.value(7).toString()), QDateTime(QDate(2024, 5, 2), QTime(11, 0)));
}

void TestImport::presentShopKeepsItsNameAndAddress() {
    TTestDatabase target;
    TTestDatabase source;
    AddRival(target, QStringLiteral("shopA"), QStringLiteral("本店名"));
    AddRival(source, QStringLiteral("SHOPA"), QStringLiteral("别的名字"));
    AddRival(source, QStringLiteral("shopB"), QStringLiteral("新店"));
    QCOMPARE(ImportAll(target, source.path()).rivals, 1);
    QCOMPARE(target.value(QStringLiteral("select ShopName from Rival where RivalWW='shopA'")).toString(),
             QStringLiteral("本店名"));
    QCOMPARE(target.value(QStringLiteral("select ShopURL from Rival where RivalWW='shopA'")).toString(),
             QStringLiteral("http://shop/shopA"));
    QCOMPARE(target.value(QStringLiteral("select ShopName from Rival where RivalWW='shopB'")).toString(),
             QStringLiteral("新店"));
    QCOMPARE(target.value(QStringLiteral("select ShopClass from Rival where RivalWW='shopB'")).toString(),
             QStringLiteral("淘宝"));
}

void TestImport::mappingsNeedBothIdsToBePresent() {
    TTestDatabase target;
    TTestDatabase source;
    AddRivalItem(target, QStringLiteral("shopA"), QStringLiteral("1"), QStringLiteral("10"));
    AddRivalItem(source, QStringLiteral("shopZ"), QStringLiteral("1"), QStringLiteral("10")); // present
    AddRivalItem(source, QStringLiteral("shopA"), QStringLiteral("1"), QStringLiteral("11")); // other rival item
    AddRivalItem(source, QStringLiteral("shopA"), QStringLiteral("2"), QStringLiteral("10")); // other own item
    QCOMPARE(ImportAll(target, source.path()).rivalItems, 2);
    QCOMPARE(Count(target, QStringLiteral("RivalItems")), 3);
    QCOMPARE(target.value(QStringLiteral("select RivalWW from RivalItems where LocalItemID='1' and RivalItemID='10'"))
                 .toString(),
             QStringLiteral("shopA"));
}

void TestImport::mappingsArriveWithoutTheirItemOrShop() {
    TTestDatabase target;
    TTestDatabase source;
    AddRivalItem(source, QStringLiteral("nobody"), QStringLiteral("no-item"), QStringLiteral("5"));
    const TCounts counts = ImportAll(target, source.path());
    QCOMPARE(counts.items, 0);
    QCOMPARE(counts.rivals, 0);
    QCOMPARE(counts.rivalItems, 1);
}

void TestImport::emptySourceValuesArriveEmpty() {
    TTestDatabase target;
    TTestDatabase source;
    source.exec(QStringLiteral("insert into Items (ItemID) values ('e1')"));
    source.exec(QStringLiteral("insert into RivalItems (LocalItemID) values ('e1')"));
    ImportAll(target, source.path());
    QSqlQuery query(target.connection().database());
    QVERIFY(query.exec(QStringLiteral("select ItemName, URL, Price, SellCount, LastUpdated from Items")));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QString());
    QCOMPARE(query.value(1).toString(), QString());
    QCOMPARE(query.value(2).toDouble(), 0.0);
    QCOMPARE(query.value(3).toInt(), 0);
    QVERIFY(!DateTimeFromColumn(query.value(4).toString()).isValid());
    // An empty rival item id is a key value like any other: the mapping is present afterwards.
    QCOMPARE(target
                 .value(QStringLiteral("select count(*) from RivalItems where LocalItemID='e1' and "
                                       "ifnull(RivalItemID, '')=''"))
                 .toInt(),
             1);
    QCOMPARE(ImportAll(target, source.path()).rivalItems, 0);
}

void TestImport::repeatedKeysInTheSourceAreImportedOnce() {
    TTestDatabase target;
    TTestDatabase source;
    AddItem(source, QStringLiteral("8"), 1.5);
    AddItem(source, QStringLiteral("8"), 2.5);
    AddRival(source, QStringLiteral("w"), QStringLiteral("first"));
    AddRival(source, QStringLiteral("W"), QStringLiteral("second"));
    AddRivalItem(source, QStringLiteral("w"), QStringLiteral("8"), QStringLiteral("80"), 3);
    AddRivalItem(source, QStringLiteral("w"), QStringLiteral("8"), QStringLiteral("80"), 4);
    const TCounts counts = ImportAll(target, source.path());
    QCOMPARE(counts.items, 1);
    QCOMPARE(counts.rivals, 1);
    QCOMPARE(counts.rivalItems, 1);
    QCOMPARE(target.value(QStringLiteral("select Price from Items")).toDouble(), 1.5);
    QCOMPARE(target.value(QStringLiteral("select ShopName from Rival")).toString(), QStringLiteral("first"));
    QCOMPARE(target.value(QStringLiteral("select Price from RivalItems")).toDouble(), 3.0);
}

void TestImport::outcomesAndHistoryOfTheSourceAreNotImported() {
    TTestDatabase source;
    TTestDatabase target;
    AddItem(source, QStringLiteral("1"));
    AddRival(source, QStringLiteral("a"), QStringLiteral("A"));
    AddRivalItem(source, QStringLiteral("a"), QStringLiteral("1"), QStringLiteral("r1"));
    source.exec(QStringLiteral("insert into ReadingStatus (LocalItemID, RivalWW, LastCode, FailedInRow) values "
                               "('1', '', 4, 2), ('1', 'a', 0, 0)"));
    source.exec(QStringLiteral("insert into PriceHistory (LocalItemID, RivalWW, ReadAt, Price) values "
                               "('1', '', '2024-05-01 10:00:00', 1), ('1', 'a', '2024-05-01 10:00:00', 2)"));
    const TCounts counts = ImportAll(target, source.path());
    QCOMPARE(counts.items, 1);
    QCOMPARE(counts.rivalItems, 1);
    // The readings' past belongs to the file that made them: the imported pages start afresh.
    QCOMPARE(Count(target, QStringLiteral("ReadingStatus")), 0);
    QCOMPARE(Count(target, QStringLiteral("PriceHistory")), 0);
}

void TestImport::sourceFileIsNotChanged() {
    TTestDatabase target;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("other.mdb"));
    CreateDatabaseFile(path);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("insert into Items (ItemID, Price) values ('s1', 4.25)")));
        QVERIFY(query.exec(QStringLiteral("insert into Rival (RivalWW) values ('s')")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    const QByteArray before = FileHash(path);
    {
        TDataImport import(target.connection());
        QString message;
        QVERIFY2(import.ConnectSource(path, &message), qPrintable(message));
        QCOMPARE(import.ImportItems(), 1);
        QCOMPARE(import.ImportRivals(), 1);
        QCOMPARE(FileHash(path), before);
    }
    QCOMPARE(FileHash(path), before);
    QCOMPARE(target.value(QStringLiteral("select Price from Items")).toDouble(), 4.25);
}

void TestImport::unusableSourcesAreRefusedBeforeCopying_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("text file") << QStringLiteral("text");
    QTest::newRow("Access file") << QStringLiteral("access");
    QTest::newRow("empty file") << QStringLiteral("empty");
    QTest::newRow("missing file") << QStringLiteral("missing");
    QTest::newRow("truncated database") << QStringLiteral("truncated");
    QTest::newRow("damaged page") << QStringLiteral("damaged");
    QTest::newRow("items as an endless view") << QStringLiteral("view");
}

void TestImport::unusableSourcesAreRefusedBeforeCopying() {
    QFETCH(QString, kind);
    TTestDatabase target;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("source.mdb"));
    auto write = [&](const QByteArray& bytes) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    auto makeDatabase = [&](const QStringList& statements) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery query(db);
            for (const QString& sql : statements)
                QVERIFY2(query.exec(sql), qPrintable(query.lastError().text()));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("make"));
    };

    if (kind == QLatin1String("text")) {
        write("ItemID,Price\n1,2\n");
    } else if (kind == QLatin1String("access")) {
        write(QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20) + QByteArray(2000, '\0'));
    } else if (kind == QLatin1String("empty")) {
        write({});
    } else if (kind == QLatin1String("truncated") || kind == QLatin1String("damaged")) {
        CreateDatabaseFile(path);
        QStringList inserts{QStringLiteral("begin")};
        for (int i = 0; i < 2000; ++i)
            inserts << QStringLiteral("insert into Items (ItemID, ItemName) values ('%1', '%2')")
                           .arg(i)
                           .arg(QString(200, QLatin1Char('x')));
        inserts << QStringLiteral("commit");
        makeDatabase(inserts);
        QFile file(path);
        if (kind == QLatin1String("truncated")) {
            QVERIFY(file.resize(file.size() / 2));
        } else {
            // The first page (the layout) stays intact; a page of rows further on is overwritten.
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek(file.size() / 2));
            file.write(QByteArray(4096, '\xA5'));
        }
    } else if (kind == QLatin1String("view")) {
        makeDatabase({QStringLiteral("create view Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount, "
                                     "LastUpdated) as with recursive n(i) as (select 1 union all select i + 1 from n) "
                                     "select i, i, i, i, i, i, i from n"),
                      QStringLiteral("create table Rival (RivalWW, ShopURL, ShopName, ShopClass, ShopType)")});
    }

    TDataImport import(target.connection());
    QString message;
    QVERIFY(!import.ConnectSource(path, &message));
    QVERIFY(!import.SourceConnected());
    const QString prefix = QStringLiteral("连接数据库失败： \"") + path + QStringLiteral("\" ");
    QVERIFY2(message.startsWith(prefix), qPrintable(message));
    QVERIFY2(message.size() > prefix.size(), "the reason is given");
    // In the user's words first; the engine's own, if any, only after them in brackets.
    QVERIFY2(message.at(prefix.size()).unicode() > 0x2e80, qPrintable(message));
    QVERIFY_THROWS_EXCEPTION(TDatabaseError, import.ImportItems());
    QCOMPARE(Count(target, QStringLiteral("Items")), 0);
}

void TestImport::onlyWhatTheImportReadsIsAskedOf_data() {
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<int>("items");
    QTest::addColumn<QString>("rivalItemsFailure"); // what is wrong with RivalItems, if anything
    // Neither Setting nor Items.CustomItemName is read.
    QTest::newRow("no Setting, no CustomItemName")
        << QStringList{QStringLiteral("create table Items (ItemID, ItemName, URL, Price, SellCount, LastUpdated)"),
                       QStringLiteral("insert into Items (ItemID, ItemName) values ('x', '杯子')"),
                       QStringLiteral("create table Rival (RivalWW, ShopURL, ShopName, ShopClass, ShopType)"),
                       QStringLiteral("create table RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, "
                                      "Price, SellCount, LastUpdated)")}
        << 1 << QString();
    // A read table missing fails its own step; the earlier steps' rows stay.
    QTest::newRow("no RivalItems")
        << QStringList{QStringLiteral("create table Items (ItemID, ItemName, URL, Price, SellCount, LastUpdated)"),
                       QStringLiteral("insert into Items (ItemID, ItemName) values ('x', '杯子')"),
                       QStringLiteral("create table Rival (RivalWW, ShopURL, ShopName, ShopClass, ShopType)")}
        << 1 << QStringLiteral("table");
    QTest::newRow("RivalItems without SellCount")
        << QStringList{QStringLiteral("create table Items (ItemID, ItemName, URL, Price, SellCount, LastUpdated)"),
                       QStringLiteral("insert into Items (ItemID, ItemName) values ('x', '杯子')"),
                       QStringLiteral("create table Rival (RivalWW, ShopURL, ShopName, ShopClass, ShopType)"),
                       QStringLiteral("create table RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, "
                                      "Price, LastUpdated)"),
                       QStringLiteral("insert into RivalItems (LocalItemID, RivalItemID) values ('x', 'y')")}
        << 1 << QStringLiteral("column");
}

void TestImport::onlyWhatTheImportReadsIsAskedOf() {
    QFETCH(QStringList, statements);
    QFETCH(int, items);
    QFETCH(QString, rivalItemsFailure);
    TTestDatabase target;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("source.mdb"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (const QString& sql : std::as_const(statements))
            QVERIFY2(query.exec(sql), qPrintable(query.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));

    TDataImport import(target.connection());
    QString message;
    QVERIFY2(import.ConnectSource(path, &message), qPrintable(message));
    QCOMPARE(import.ImportItems(), items);
    QCOMPARE(import.ImportRivals(), 0);
    if (rivalItemsFailure.isEmpty()) {
        QCOMPARE(import.ImportRivalItems(), 0);
    } else {
        QString text;
        try {
            import.ImportRivalItems();
        } catch (const TDatabaseError& error) {
            text = error.text();
        }
        const QString shown = QDir::toNativeSeparators(path);
        // The table or column named in Chinese, the engine's words (if any) after it in brackets.
        if (rivalItemsFailure == QLatin1String("table"))
            QVERIFY2(text.startsWith(StoreTexts::ImportTableUnreadable.arg(QStringLiteral("RivalItems"), shown) +
                                     QStringLiteral("（")) &&
                         text.contains(QStringLiteral("no such table")),
                     qPrintable(text));
        else
            QCOMPARE(text, StoreTexts::ImportColumnMissing.arg(QStringLiteral("RivalItems"), shown,
                                                               QStringLiteral("SellCount")));
    }
    QCOMPARE(Count(target, QStringLiteral("Items")), items);
}

void TestImport::failedAppendLeavesNoHalfRowAndKeepsEarlierOnes() {
    TTestDatabase target;
    TTestDatabase source;
    AddItem(source, QStringLiteral("a"));
    AddItem(source, QStringLiteral("bad"));
    AddItem(source, QStringLiteral("c"));
    AddRival(source, QStringLiteral("w"), QStringLiteral("shop"));
    // The target refuses one row, the way a full disk or a broken file would refuse a write.
    target.exec(QStringLiteral("create trigger refuse before insert on Items when new.ItemID='bad' "
                               "begin select raise(abort, 'refused'); end"));
    TDataImport import(target.connection());
    QString message;
    QVERIFY(import.ConnectSource(source.path(), &message));
    QVERIFY_THROWS_EXCEPTION(TDatabaseError, import.ImportItems());
    QCOMPARE(target.value(QStringLiteral("select group_concat(ItemID) from Items")).toString(), QStringLiteral("a"));
    QCOMPARE(Count(target, QStringLiteral("Rival")), 0);
    // A later try appends what is still missing.
    target.exec(QStringLiteral("drop trigger refuse"));
    QCOMPARE(import.ImportItems(), 2);
}

void TestImport::commandLineReportsCompletionAndRefusal() {
    const QString cli = QStringLiteral(VANTERO_CLI);
    TTestDatabase target;
    TTestDatabase source;
    AddItem(source, QStringLiteral("c1"));

    QProcess run;
    run.start(cli, {QStringLiteral("--db"), target.path(), QStringLiteral("import"), source.path()});
    QVERIFY(run.waitForFinished(60000));
    QCOMPARE(run.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(run.readAllStandardError()).trimmed(), QStringLiteral("导入完成.请刷新数据."));
    QVERIFY(QString::fromUtf8(run.readAllStandardOutput()).contains(QStringLiteral("Items\t1")));
    QCOMPARE(Count(target, QStringLiteral("Items")), 1);

    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("notes.txt"));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("hello\n");
    file.close();
    run.start(cli, {QStringLiteral("--db"), target.path(), QStringLiteral("import"), text});
    QVERIFY(run.waitForFinished(60000));
    QCOMPARE(run.exitCode(), 3);
    QVERIFY(QString::fromUtf8(run.readAllStandardError()).startsWith(QStringLiteral("连接数据库失败： \"") + text));
}

QTEST_GUILESS_MAIN(TestImport)
#include "tst_import.moc"
