// The grid read in one pass (grid --csv, exports) shows exactly what the grid of the windows shows.
#include "catalogue/GridData.h"
#include "catalogue/MainData.h"
#include "support/TestDatabase.h"

#include <QProcess>
#include <QTest>

using namespace vantero;
using namespace vantero::test;

namespace {

QList<QStringList> StreamedRows(TMainData& data) {
    QList<QStringList> rows;
    StreamGridRows(data.con, data.RivalAccounts, [&rows](const QStringList& cells) { rows << cells; });
    return rows;
}

QList<QStringList> GridRows(const TGridData& grid) {
    QList<QStringList> rows;
    for (int row = 0; row < grid.rowCount(); ++row)
        rows << grid.cells(row);
    return rows;
}

} // namespace

class TestGridStream : public QObject {
    Q_OBJECT
private slots:
    void streamedRowsEqualTheWindowsGrid();
    void anEmptyCatalogueGivesNoRows();
    void gridCsvPrintsTheHeaderAndTheRows();
};

void TestGridStream::streamedRowsEqualTheWindowsGrid() {
    TTestDatabase db;
    // Rivals: one with a trailing blank, one listed twice, one in other letter case than its readings.
    db.exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('shopa ', 'a'), ('ShopB', 'b'), "
                           "('shopc', 'c'), ('shopa', 'a2')"));
    db.exec(QStringLiteral("update Setting set WW='me'"));
    db.exec(QStringLiteral("insert into Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount) values "
                           "('123', '标题一', '  ', 'u1', 100, 5), ('1234', '标题二', ' 自定义', 'u2', 99.5, NULL), "
                           "('ABC', '标题三', NULL, 'u3', NULL, 7), ('empty', '无同行', '', 'u4', '12.5', '3')"));
    db.exec(QStringLiteral(
        "insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, SellCount) values "
        "('shopa', '1234', 'r1', 'x', 'x', 98.5, 10),"   // only the longer id has it
        "('SHOPB', '123', 'r2', 'x', 'x', 100, 3),"      // other letter case of the account
        "('shopb', '123', 'r3', 'x', 'x', 50, 1),"       // the second reading of a rival: not shown
        "('shopc', '123', '  ', 'x', 'x', 70, 2),"       // blank rival item: empty cells
        "('shopa', 'abc', 'r4', 'x', 'x', '88.8', 'n')," // key in other case; numbers as text
        "('nobody', '123', 'r5', 'x', 'x', 1, 1)"));     // a reading of no listed rival

    TMainData data(db.connection());
    data.ApplySettings();
    data.RefreshAllData();
    const QList<QStringList> expected = GridRows(data.grid);
    QCOMPARE(expected.size(), 4);
    QCOMPARE(StreamedRows(data), expected);
    // What the rows hold, to know the comparison is not between two empty grids.
    QCOMPARE(expected[0].mid(2, 6),
             (QStringList{{}, {}, {}, QStringLiteral("100.00"), QStringLiteral("0.00"), QStringLiteral("3")}));
    QCOMPARE(expected[1].value(1), QStringLiteral(" 自定义"));
    QCOMPARE(expected[1].mid(2, 3),
             (QStringList{QStringLiteral("98.50"), QStringLiteral("-1.00"), QStringLiteral("10")}));
    QCOMPARE(expected[2].mid(2, 3),
             (QStringList{QStringLiteral("88.80"), QStringLiteral("88.80"), QStringLiteral("0")}));
}

void TestGridStream::anEmptyCatalogueGivesNoRows() {
    TTestDatabase db;
    TMainData data(db.connection());
    data.ApplySettings();
    data.LoadRivals();
    QVERIFY(StreamedRows(data).isEmpty());
}

void TestGridStream::gridCsvPrintsTheHeaderAndTheRows() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('shopa', 'a')"));
    db.exec(QStringLiteral("update Setting set WW='me'"));
    db.exec(QStringLiteral("insert into Items (ItemID, ItemName, URL, Price, SellCount) values ('1', '宝贝, \"甲\"', "
                           "'u', 10, 1)"));
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                           "SellCount) values ('shopa', '1', 'r', 'x', 'x', 9, 2)"));
    QProcess cli;
    cli.start(QStringLiteral(VANTERO_CLI), {QStringLiteral("--db"), db.path(), QStringLiteral("grid")});
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()),
             QStringLiteral(",,shopa,shopa,shopa,自己(me),自己(me)\r\n"
                            "序号,宝贝名称,价格,差价,本期售出,价格,本期售出\r\n"
                            "1,\"宝贝, \"\"甲\"\"\",9.00,-1.00,2,10.00,1\r\n"));
}

QTEST_GUILESS_MAIN(TestGridStream)
#include "tst_gridstream.moc"
