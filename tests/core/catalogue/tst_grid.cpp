// The comparison grid's content and colour rules.
#include "catalogue/GridData.h"
#include "catalogue/MainData.h"
#include "support/TestDatabase.h"

#include <QTest>

using namespace vantero;
using namespace vantero::test;

Q_DECLARE_METATYPE(vantero::TCellStyle)

class TestGrid : public QObject {
    Q_OBJECT
private slots:
    void priceFormatHasTwoDecimalsAndNoGrouping_data();
    void priceFormatHasTwoDecimalsAndNoGrouping();
    void cellColoursFollowTheColumnRules_data();
    void cellColoursFollowTheColumnRules();
    void withoutRivalsOnlyTheFirstAndOwnBandsExist();
    void rivalReadingsFillTheirBandAndTheDifference();
    void anItemIdThatBeginsAnotherDoesNotBorrowItsReading();
    void aRivalWithATrailingBlankMatchesReadingsWithout();
    void theNameColumnShowsTheCustomNameUnlessBlank();
    void refreshRowShowsNewReadingsAndItsFreshPosition();
    void refreshRowOfAGoneItemOrBadPositionChangesNothing();
    void refillingTheRowsAfterARowRefreshShowsEveryItemsReadings();
    void rowsFilledInOnePassEqualRowsFilledFromTheirReadings();
    void aRowRefreshShowsItsReadingsAsTheFileNowHasThem();
};

void TestGrid::priceFormatHasTwoDecimalsAndNoGrouping_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << QStringLiteral("0.00");
    QTest::newRow("half") << 98.5 << QStringLiteral("98.50");
    QTest::newRow("negative") << -1.5 << QStringLiteral("-1.50");
    QTest::newRow("no grouping") << 12345.678 << QStringLiteral("12345.68");
    QTest::newRow("tiny negative is zero") << -0.001 << QStringLiteral("0.00");
}

void TestGrid::priceFormatHasTwoDecimalsAndNoGrouping() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(FormatPrice(value), text);
}

void TestGrid::cellColoursFollowTheColumnRules_data() {
    using enum TCellColor;
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("last");
    QTest::addColumn<QString>("text");
    QTest::addColumn<TCellStyle>("style");
    // Two rivals: columns 0..9, last = 9.
    QTest::newRow("number") << 0 << 9 << QStringLiteral("1") << TCellStyle{true, Unchanged, ButtonFace};
    QTest::newRow("name") << 1 << 9 << QStringLiteral("x") << TCellStyle{false, Green, InfoBackground};
    QTest::newRow("rival price") << 2 << 9 << QStringLiteral("98.50") << TCellStyle{true, Blue, InactiveCaptionText};
    QTest::newRow("cheaper rival is red") << 3 << 9 << QStringLiteral("-1.50") << TCellStyle{true, Red, InfoBackground};
    QTest::newRow("equal price is purple")
        << 3 << 9 << QStringLiteral("0.00") << TCellStyle{true, Purple, InfoBackground};
    QTest::newRow("empty difference counts as 0") << 6 << 9 << QString() << TCellStyle{true, Purple, InfoBackground};
    QTest::newRow("rival sales") << 4 << 9 << QStringLiteral("7") << TCellStyle{true, Unchanged, MoneyGreen};
    QTest::newRow("own price") << 8 << 9 << QStringLiteral("100.00") << TCellStyle{true, Blue, InactiveCaptionText};
    QTest::newRow("own sales") << 9 << 9 << QStringLiteral("12") << TCellStyle{true, Purple, MoneyGreen};
    QTest::newRow("own sales unreadable") << 9 << 9 << QStringLiteral("abc") << TCellStyle{true, Purple, MoneyGreen};
    // No rivals: columns 0..3.
    QTest::newRow("no rivals: own price")
        << 2 << 3 << QStringLiteral("5.00") << TCellStyle{true, Blue, InactiveCaptionText};
    QTest::newRow("no rivals: own sales") << 3 << 3 << QStringLiteral("-2") << TCellStyle{true, Red, MoneyGreen};
}

void TestGrid::cellColoursFollowTheColumnRules() {
    QFETCH(int, column);
    QFETCH(int, last);
    QFETCH(QString, text);
    QFETCH(TCellStyle, style);
    const TCellStyle actual = CellStyleFor(column, last, text);
    QCOMPARE(actual.bold, style.bold);
    QCOMPARE(int(actual.font), int(style.font));
    QCOMPARE(int(actual.background), int(style.background));
}

void TestGrid::withoutRivalsOnlyTheFirstAndOwnBandsExist() {
    TGridData grid;
    grid.BuildGridLayout({}, QStringLiteral("me"));
    QCOMPARE(grid.bands().size(), 2);
    QCOMPARE(grid.columnCount(), 4);
    QCOMPARE(grid.bands()[1].caption, QStringLiteral("自己(me)"));
    QStringList captions;
    for (const TGridColumn& column : grid.columns())
        captions << column.caption;
    QCOMPARE(captions, (QStringList{QStringLiteral("序号"), QStringLiteral("宝贝名称"), QStringLiteral("价格"),
                                    QStringLiteral("本期售出")}));
}

void TestGrid::rivalReadingsFillTheirBandAndTheDifference() {
    TTestDatabase db;
    db.exec(QStringLiteral("update Setting set UpdateTimeOut=60, WW='me'"));
    db.exec(QStringLiteral("insert into Rival (RivalWW) values ('ShopA'), ('ShopB'), ('ShopC')"));
    db.exec(QStringLiteral("insert into Items (ItemID, ItemName, Price, SellCount) values ('1', 'Cup', 100, 12)"));
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, Price, SellCount) values "
                           "('shopa', '1', '91', 98.5, 7), ('ShopB', '1', '92', 100, 3), ('ShopC', '1', '', 5, 5)"));
    TMainData data(db.connection());
    data.ApplySettings();
    data.RefreshAllData();
    QCOMPARE(data.grid.rowCount(), 1);
    QCOMPARE(data.grid.cells(0),
             (QStringList{QStringLiteral("1"), QStringLiteral("Cup"), QStringLiteral("98.50"), QStringLiteral("-1.50"),
                          QStringLiteral("7"), QStringLiteral("100.00"), QStringLiteral("0.00"), QStringLiteral("3"),
                          QString(), QString(), QString(), QStringLiteral("100.00"), QStringLiteral("12")}));
    QCOMPARE(data.grid.bands().size(), 5);
    QCOMPARE(data.grid.bands()[1].caption, QStringLiteral("ShopA"));
    QCOMPARE(data.grid.bands()[4].caption, QStringLiteral("自己(me)"));
    QCOMPARE(data.grid.item(0).ItemID, QStringLiteral("1"));
    QCOMPARE(data.grid.item(0).Price, 100.0);
}

void TestGrid::anItemIdThatBeginsAnotherDoesNotBorrowItsReading() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Rival (RivalWW) values ('ShopA')"));
    db.exec(QStringLiteral("insert into Items (ItemID, ItemName, Price) values ('123', 'a', 10), ('1234', 'b', 20)"));
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, Price, SellCount) values "
                           "('ShopA', '1234', '9', 19, 4)"));
    TMainData data(db.connection());
    data.RefreshAllData();
    QCOMPARE(data.grid.cell(0, 2), QString());
    QCOMPARE(data.grid.cell(0, 3), QString());
    QCOMPARE(data.grid.cell(1, 2), QStringLiteral("19.00"));
    QCOMPARE(data.grid.cell(1, 3), QStringLiteral("-1.00"));
    QCOMPARE(data.grid.cell(1, 4), QStringLiteral("4"));
}

void TestGrid::aRivalWithATrailingBlankMatchesReadingsWithout() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Rival (RivalWW) values ('ShopA ')"));
    db.exec(QStringLiteral("insert into Items (ItemID, Price) values ('1', 10)"));
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, Price) values "
                           "('ShopA', '1', '9', 12)"));
    TMainData data(db.connection());
    data.RefreshAllData();
    QCOMPARE(data.grid.bands()[1].caption, QStringLiteral("ShopA "));
    QCOMPARE(data.grid.cell(0, 2), QStringLiteral("12.00"));
    QCOMPARE(data.grid.cell(0, 3), QStringLiteral("2.00"));
}

void TestGrid::theNameColumnShowsTheCustomNameUnlessBlank() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Items (ItemID, ItemName, CustomItemName) values "
                           "('1', 'Title', '   '), ('2', 'Title', ' Mine'), ('3', 'Title', NULL)"));
    TMainData data(db.connection());
    data.RefreshAllData();
    QCOMPARE(data.grid.cell(0, 1), QStringLiteral("Title"));
    QCOMPARE(data.grid.cell(1, 1), QStringLiteral(" Mine"));
    QCOMPARE(data.grid.cell(2, 1), QStringLiteral("Title"));
    QCOMPARE(data.grid.item(1).ItemName, QStringLiteral("Title"));
}

void TestGrid::refreshRowShowsNewReadingsAndItsFreshPosition() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Rival (RivalWW) values ('ShopA')"));
    db.exec(QStringLiteral("insert into Items (ItemID, Price) values ('1', 10), ('2', 20), ('3', 30)"));
    TMainData data(db.connection());
    data.RefreshAllData();
    QCOMPARE(data.grid.cell(2, 0), QStringLiteral("3"));
    // Stored since the refresh cycle, through other connections: an own and a rival reading,
    // and the first item gone.
    db.exec(
        QStringLiteral("update Items set Price=31, SellCount=5, LastUpdated='2026-01-02 03:04:05' where ItemID='3'"));
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, Price, SellCount) values "
                           "('ShopA', '3', '77', 29.5, 8)"));
    db.exec(QStringLiteral("delete from Items where ItemID='1'"));
    QVERIFY(data.RefreshRowData(2));
    QCOMPARE(data.grid.cells(2),
             (QStringList{QStringLiteral("2"), QString(), QStringLiteral("29.50"), QStringLiteral("-1.50"),
                          QStringLiteral("8"), QStringLiteral("31.00"), QStringLiteral("5")}));
    QCOMPARE(data.grid.item(2).LastUpdated, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
    QCOMPARE(data.grid.cell(0, 0), QStringLiteral("1")); // other rows untouched
}

void TestGrid::refreshRowOfAGoneItemOrBadPositionChangesNothing() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Items (ItemID, Price) values ('1', 10)"));
    TMainData data(db.connection());
    data.RefreshAllData();
    db.exec(QStringLiteral("delete from Items"));
    QVERIFY(!data.RefreshRowData(0));
    QCOMPARE(data.grid.cell(0, 2), QStringLiteral("10.00"));
    QVERIFY(!data.RefreshRowData(1));
    QVERIFY(!data.RefreshRowData(-1));
}

void TestGrid::refillingTheRowsAfterARowRefreshShowsEveryItemsReadings() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Rival (RivalWW) values ('ShopA')"));
    db.exec(QStringLiteral("insert into Items (ItemID, Price) values ('A', 10), ('B', 20)"));
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, Price) values "
                           "('ShopA', 'A', '1', 9), ('ShopA', 'B', '2', 19)"));
    TMainData data(db.connection());
    data.RefreshAllData();
    // A reading of B's rival is stored while A's row is refreshed; the add-item dialog then refills.
    db.exec(QStringLiteral("update RivalItems set Price=18 where LocalItemID='B'"));
    QVERIFY(data.RefreshRowData(0));
    data.ReloadItemRows();
    QCOMPARE(data.grid.cell(1, 2), QStringLiteral("18.00"));
}

void TestGrid::rowsFilledInOnePassEqualRowsFilledFromTheirReadings() {
    // The refresh cycle fills every row from one pass over the readings; a row refresh fills one
    // row by a lookup in that item's readings. Both must show the same on the awkward cases.
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Rival (RivalWW) values ('shopa '), ('ShopB'), ('shopc'), ('shopa'), "
                           "('ShopD')"));
    db.exec(QStringLiteral("insert into Items (ItemID, ItemName, CustomItemName, Price, SellCount) values "
                           "('123', 't1', '  ', 100, 5), ('1234', 't2', ' 自定义', 99.5, NULL), "
                           "('ABC', 't3', NULL, NULL, 7), ('abc', 't4', '', '12.5', '3'), ('', 't5', '', 1, 1)"));
    db.exec(QStringLiteral(
        "insert into RivalItems (RivalWW, LocalItemID, RivalItemID, Price, SellCount) values "
        "('shopa', '1234', 'r1', 98.5, 10), ('SHOPB', '123', 'r2', 100, 3), ('shopb', '123', 'r3', 50, 1), "
        "('shopc', '123', '  ', 70, 2), ('shopc', '123', 'r6', 71, 2), ('shopa', 'abc', 'r4', '88.8', 'n'), "
        "('nobody', '123', 'r5', 1, 1), ('shopb ', '1234', 'r7', 3, 3), ('ShopD', 'Abc', 'r8', 0.005, 1e3), "
        "('ShopD', '', 'r9', 2, 2), ('ShopD', NULL, 'r10', 4, 4)"));
    TMainData data(db.connection());
    data.RefreshAllData();
    QList<QStringList> filled;
    for (int row = 0; row < data.grid.rowCount(); ++row)
        filled << data.grid.cells(row);
    QCOMPARE(filled.size(), 5);
    // What the rows hold, so the comparison is not between two empty grids.
    QCOMPARE(
        filled[0].mid(2, 9),
        (QStringList{{}, {}, {}, QStringLiteral("100.00"), QStringLiteral("0.00"), QStringLiteral("3"), {}, {}, {}}));
    QCOMPARE(filled[1].mid(2, 6),
             (QStringList{QStringLiteral("98.50"), QStringLiteral("-1.00"), QStringLiteral("10"), {}, {}, {}}));
    QCOMPARE(filled[1].mid(11, 3), filled[1].mid(2, 3)); // the shop listed twice
    QCOMPARE(filled[2].mid(14, 3),
             (QStringList{QStringLiteral("0.01"), QStringLiteral("0.01"), QStringLiteral("1000")}));
    QCOMPARE(filled[3][14], QStringLiteral("0.01")); // the same id in other letter case
    QCOMPARE(filled[3][16], QStringLiteral("1000"));
    QCOMPARE(filled[3].mid(2, 3), (QStringList{QStringLiteral("88.80"), QStringLiteral("76.30"), QStringLiteral("0")}));
    QCOMPARE(filled[4].mid(14, 3), (QStringList{QStringLiteral("2.00"), QStringLiteral("1.00"), QStringLiteral("2")}));

    TRecordSet everyReading(db.connection());
    everyReading.Reopen(kSelectRivalItems);
    int row = 0;
    for (data.qry.First(); !data.qry.Eof(); data.qry.Next(), ++row) {
        data.grid.FillRow(row, data.qry, everyReading);
        QCOMPARE(data.grid.cells(row), filled[row]);
    }
    for (row = 0; row < data.grid.rowCount(); ++row) {
        if (data.grid.item(row).ItemID == QStringLiteral("abc"))
            continue; // a row refresh finds its item by id, and finds "ABC" first
        QVERIFY(data.RefreshRowData(row));
        QCOMPARE(data.grid.cells(row), filled[row]);
    }
}

void TestGrid::aRowRefreshShowsItsReadingsAsTheFileNowHasThem() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Rival (RivalWW) values ('ShopA'), ('ShopB'), ('shopa')"));
    db.exec(QStringLiteral("insert into Items (ItemID, ItemName, Price) values ('Ab', 'one', 10), ('C', 'two', 20)"));
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, Price, SellCount) values "
                           "('ShopA', 'aB', '1', 9, 1), ('ShopB', 'AB', '2', 11, 2)"));
    TMainData data(db.connection());
    data.RefreshAllData();
    QVERIFY(!data.qryRival.Active()); // the grid keeps no set of every reading
    QCOMPARE(data.grid.cells(0).mid(2, 9),
             (QStringList{QStringLiteral("9.00"), QStringLiteral("-1.00"), QStringLiteral("1"), QStringLiteral("11.00"),
                          QStringLiteral("1.00"), QStringLiteral("2"), QStringLiteral("9.00"), QStringLiteral("-1.00"),
                          QStringLiteral("1")}));
    data.grid.setCell(0, 1, QStringLiteral("改名中"));
    QCOMPARE(data.grid.cell(0, 1), QStringLiteral("改名中"));

    // Another session's readings: one changed, one gone, the other item's row gains one.
    db.exec(QStringLiteral("update RivalItems set Price=12.25, SellCount=5 where RivalWW='ShopA'"));
    db.exec(QStringLiteral("delete from RivalItems where RivalWW='ShopB'"));
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, Price, SellCount) values "
                           "('ShopB', 'c', '3', 21, 3)"));
    QVERIFY(data.RefreshRowData(0));
    QCOMPARE(data.grid.cells(0), (QStringList{QStringLiteral("1"),
                                              QStringLiteral("one"),
                                              QStringLiteral("12.25"),
                                              QStringLiteral("2.25"),
                                              QStringLiteral("5"),
                                              {},
                                              {},
                                              {},
                                              QStringLiteral("12.25"),
                                              QStringLiteral("2.25"),
                                              QStringLiteral("5"),
                                              QStringLiteral("10.00"),
                                              QStringLiteral("0")}));
    QCOMPARE(data.grid.cells(1).mid(2, 9), QStringList(9)); // refreshed only when its own row is
    QVERIFY(data.RefreshRowData(1));
    QCOMPARE(data.grid.cells(1).mid(5, 3),
             (QStringList{QStringLiteral("21.00"), QStringLiteral("1.00"), QStringLiteral("3")}));
}

QTEST_GUILESS_MAIN(TestGrid)
#include "tst_grid.moc"
