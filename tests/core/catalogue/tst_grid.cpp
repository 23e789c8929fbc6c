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

QTEST_GUILESS_MAIN(TestGrid)
#include "tst_grid.moc"
