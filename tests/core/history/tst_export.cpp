// Export of the grid, the failure list, the alerts and an item's history, read back from the
// files: CSV as bytes, .xlsx unzipped with the unzip tool and its sheet XML read.
#include "catalogue/MainData.h"
#include "history/ExportSheets.h"
#include "store/PageOutcomes.h"
#include "support/TestDatabase.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace vantero;
using namespace vantero::test;

namespace {

// One unzipped part of a workbook.
QByteArray WorkbookPart(const QString& path, const QString& part) {
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), path, part});
    if (!unzip.waitForFinished(30000) || unzip.exitCode() != 0)
        return {};
    return unzip.readAllStandardOutput();
}

// A worksheet read back: cell reference -> its value (shared and inline strings), the merged
// ranges, and each cell's style number.
struct TReadSheet {
    QHash<QString, QString> values;
    QHash<QString, bool> isNumber;
    QHash<QString, int> styles;
    QStringList merged;
};

TReadSheet ReadSheet(const QString& path) {
    QStringList shared;
    QXmlStreamReader strings(WorkbookPart(path, QStringLiteral("xl/sharedStrings.xml")));
    QString current;
    while (!strings.atEnd()) {
        strings.readNext();
        if (strings.isStartElement() && strings.name() == QLatin1String("si"))
            current.clear();
        else if (strings.isStartElement() && strings.name() == QLatin1String("t"))
            current += strings.readElementText();
        else if (strings.isEndElement() && strings.name() == QLatin1String("si"))
            shared << current;
    }
    TReadSheet sheet;
    QXmlStreamReader xml(WorkbookPart(path, QStringLiteral("xl/worksheets/sheet1.xml")));
    QString ref;
    QString type;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("c")) {
            ref = xml.attributes().value(QStringLiteral("r")).toString();
            type = xml.attributes().value(QStringLiteral("t")).toString();
            sheet.styles.insert(ref, xml.attributes().value(QStringLiteral("s")).toInt());
        } else if (xml.name() == QLatin1String("v")) {
            const QString v = xml.readElementText();
            sheet.values.insert(ref, type == QLatin1String("s") ? shared.value(v.toInt()) : v);
            sheet.isNumber.insert(ref, type.isEmpty());
        } else if (xml.name() == QLatin1String("is")) {
            // A text written in its cell (rows streamed to the file) rather than shared.
            sheet.values.insert(ref, xml.readElementText(QXmlStreamReader::IncludeChildElements));
            sheet.isNumber.insert(ref, false);
        } else if (xml.name() == QLatin1String("mergeCell")) {
            sheet.merged << xml.attributes().value(QStringLiteral("ref")).toString();
        }
    }
    return sheet;
}

// The fill colour (RGB hex) of each cell style of a workbook, "" when it has none.
QStringList StyleFills(const QString& path) {
    QXmlStreamReader xml(WorkbookPart(path, QStringLiteral("xl/styles.xml")));
    QStringList fills;
    QStringList styleFills;
    bool inFills = false;
    bool inCellXfs = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("fills"))
                inFills = true;
            else if (xml.name() == QLatin1String("cellXfs"))
                inCellXfs = true;
            else if (inFills && xml.name() == QLatin1String("fill"))
                fills << QString();
            else if (inFills && xml.name() == QLatin1String("fgColor"))
                fills.last() = xml.attributes().value(QStringLiteral("rgb")).toString().right(6);
            else if (inCellXfs && xml.name() == QLatin1String("xf"))
                styleFills << fills.value(xml.attributes().value(QStringLiteral("fillId")).toInt());
        } else if (xml.isEndElement()) {
            if (xml.name() == QLatin1String("fills"))
                inFills = false;
            else if (xml.name() == QLatin1String("cellXfs"))
                inCellXfs = false;
        }
    }
    return styleFills;
}

// A catalogue of one own item (100.00) and two rivals, one cheaper, with a little history.
void FillCatalogue(const TTestDatabase& db) {
    db.exec(QStringLiteral("UPDATE Setting SET WW='我的店'"));
    db.exec(QStringLiteral("INSERT INTO Rival (RivalWW) VALUES ('甲店'), ('乙店')"));
    db.exec(QStringLiteral("INSERT INTO Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount) VALUES "
                           "('100', '=HYPERLINK(\"x\") 纯棉T恤, 白色', '', 'http://item/100', 100, 12)"));
    db.exec(QStringLiteral("INSERT INTO RivalItems (RivalWW, LocalItemID, RivalItemID, Price, SellCount) VALUES "
                           "('甲店', '100', '200', 98.5, 7), ('乙店', '100', '300', 120, 3)"));
    db.exec(QStringLiteral("INSERT INTO PriceHistory (LocalItemID, RivalWW, RivalItemID, ReadAt, Price, SellCount) "
                           "VALUES ('100', '', '', '2026-12-01 08:00:00', 100, 10),"
                           " ('100', '甲店', '200', '2026-12-01 08:00:05', 105, 5),"
                           " ('100', '甲店', '200', '2026-12-02 08:00:05', NULL, 6),"
                           " ('100', '甲店', '200', '2026-12-03 08:00:05', 98.5, 7)"));
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void csvIsUtf8WithAByteOrderMarkAndQuotesWhatNeedsIt();
    void gridCsvHasBandCaptionsColumnCaptionsAndNumbers();
    void gridWorkbookHasAMergedBandRowNumbersAndTheGridsColours();
    void gridStreamedFromTheFileIsTheWindowsGrid();
    void historyAlertsAndFailuresExportTheirRows();
    void exportedFailuresAreTheFailureListsRowsOrderAndReasons();
    void aFileThatCannotBeWrittenIsReportedAndAnOldFileSurvives();
    void formatFollowsTheSuffix_data();
    void formatFollowsTheSuffix();
};

void TestExport::initTestCase() {
    if (QStandardPaths::findExecutable(QStringLiteral("unzip")).isEmpty())
        QSKIP("unzip is not installed (scripts/setup.sh installs it)");
}

void TestExport::csvIsUtf8WithAByteOrderMarkAndQuotesWhatNeedsIt() {
    TSheet sheet;
    sheet.columns = {QStringLiteral("名称"), QStringLiteral("价格"), QStringLiteral("销量")};
    sheet.rows << QList<TSheetCell>{{QStringLiteral("白色, \"大号\""), {}}, {98.5, {}}, {qlonglong(7), {}}};
    sheet.rows << QList<TSheetCell>{{QStringLiteral("=1+1"), {}}, {-1.5, {}}, {QVariant(), {}}};
    sheet.rows << QList<TSheetCell>{{QStringLiteral("两行\n文字"), {}}, {0.0, {}}, {qlonglong(0), {}}};
    const QByteArray expected = "\xEF\xBB\xBF"
                                "\xE5\x90\x8D\xE7\xA7\xB0,\xE4\xBB\xB7\xE6\xA0\xBC,\xE9\x94\x80\xE9\x87\x8F\r\n"
                                "\"\xE7\x99\xBD\xE8\x89\xB2, \"\"\xE5\xA4\xA7\xE5\x8F\xB7\"\"\",98.50,7\r\n"
                                "'=1+1,-1.50,\r\n"
                                "\"\xE4\xB8\xA4\xE8\xA1\x8C\n\xE6\x96\x87\xE5\xAD\x97\",0.00,0\r\n";
    QCOMPARE(CsvBytes(sheet), expected);
}

void TestExport::gridCsvHasBandCaptionsColumnCaptionsAndNumbers() {
    TTestDatabase db;
    FillCatalogue(db);
    TMainData data(db.connection());
    data.ApplySettings();
    data.RefreshAllData();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("grid.csv"));
    QCOMPARE(WriteSheetFile(GridSheet(data.grid), path, TExportFormat::Csv), QString());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral(",,甲店,,,乙店,,,自己(我的店),"));
    QCOMPARE(lines[1], QStringLiteral("序号,宝贝名称,价格,差价,本期售出,价格,差价,本期售出,价格,本期售出"));
    // The title that looks like a formula keeps its text but cannot run.
    QCOMPARE(lines[2],
             QStringLiteral("1,\"'=HYPERLINK(\"\"x\"\") 纯棉T恤, 白色\",98.50,-1.50,7,120.00,20.00,3,100.00,12"));
}

void TestExport::gridWorkbookHasAMergedBandRowNumbersAndTheGridsColours() {
    TTestDatabase db;
    FillCatalogue(db);
    TMainData data(db.connection());
    data.ApplySettings();
    data.RefreshAllData();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("比较表格.xlsx"));
    QCOMPARE(WriteSheetFile(GridSheet(data.grid), path, TExportFormat::Xlsx), QString());
    const TReadSheet sheet = ReadSheet(path);
    QCOMPARE(sheet.merged, (QStringList{QStringLiteral("A1:B1"), QStringLiteral("C1:E1"), QStringLiteral("F1:H1"),
                                        QStringLiteral("I1:J1")}));
    QCOMPARE(sheet.values.value(QStringLiteral("C1")), QStringLiteral("甲店"));
    QCOMPARE(sheet.values.value(QStringLiteral("I1")), QStringLiteral("自己(我的店)"));
    QCOMPARE(sheet.values.value(QStringLiteral("D2")), QStringLiteral("差价"));
    QCOMPARE(sheet.values.value(QStringLiteral("B3")), QStringLiteral("=HYPERLINK(\"x\") 纯棉T恤, 白色"));
    QVERIFY(!sheet.isNumber.value(QStringLiteral("B3")));
    const std::pair<const char*, double> numbers[] = {{"A3", 1},   {"C3", 98.5}, {"D3", -1.5}, {"E3", 7},
                                                      {"F3", 120}, {"G3", 20},   {"I3", 100},  {"J3", 12}};
    for (const auto& [cell, value] : numbers) {
        const QString ref = QString::fromLatin1(cell);
        QVERIFY2(sheet.isNumber.value(ref), cell);
        QCOMPARE(sheet.values.value(ref).toDouble(), value);
    }
    // Fills of the colour rules: prices on the pale blue, differences on the tooltip yellow,
    // sales on money green.
    const QStringList fills = StyleFills(path);
    QCOMPARE(fills.value(sheet.styles.value(QStringLiteral("C3"))), QStringLiteral("DEE8F8"));
    QCOMPARE(fills.value(sheet.styles.value(QStringLiteral("D3"))), QStringLiteral("FFFFDC"));
    QCOMPARE(fills.value(sheet.styles.value(QStringLiteral("E3"))), QStringLiteral("C0DCC0"));
    // A cheaper rival's difference is red, a dearer one's purple.
    const QByteArray styles = WorkbookPart(path, QStringLiteral("xl/styles.xml"));
    QVERIFY(styles.contains("FFFF0000"));
    QVERIFY(styles.contains("FF800080"));
}

// The command line writes the grid from the file row by row; the window from the grid it holds.
// Both files must be the same, also when the CSV goes out in several pieces.
void TestExport::gridStreamedFromTheFileIsTheWindowsGrid() {
    TTestDatabase db;
    FillCatalogue(db);
    db.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
                           "INSERT INTO Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount) "
                           "SELECT 'x' || i, '宝贝 ' || i || ' 纯棉长袖衬衫', CASE WHEN i % 7 = 0 THEN '自定 ' || i "
                           "ELSE '' END, 'http://item/' || i, i / 10.0, i % 50 FROM n"));
    db.exec(QStringLiteral("INSERT INTO RivalItems (RivalWW, LocalItemID, RivalItemID, Price, SellCount) "
                           "SELECT CASE WHEN rowid % 2 = 0 THEN '甲店' ELSE '乙店' END, ItemID, 'r' || rowid, "
                           "Price + rowid % 13 - 6, rowid % 9 FROM Items WHERE rowid % 5 <> 0"));
    db.exec(QStringLiteral("INSERT INTO RivalItems (RivalWW, LocalItemID, RivalItemID, Price, SellCount) "
                           "SELECT '甲店', ItemID, ' ', 1, 1 FROM Items WHERE rowid % 11 = 0")); // blank id: no cell
    TMainData data(db.connection());
    data.ApplySettings();
    data.RefreshAllData();
    QCOMPARE(data.grid.rowCount(), 10001);
    QTemporaryDir dir;
    for (const TExportFormat format : {TExportFormat::Csv, TExportFormat::Xlsx}) {
        const QString suffix = format == TExportFormat::Csv ? QStringLiteral(".csv") : QStringLiteral(".xlsx");
        const QString held = dir.filePath(QStringLiteral("held") + suffix);
        const QString streamed = dir.filePath(QStringLiteral("streamed") + suffix);
        qint64 heldRows = 0;
        qint64 streamedRows = 0;
        QCOMPARE(WriteSheetFile(GridSheet(data.grid), held, format, &heldRows), QString());
        QCOMPARE(WriteSheetFile(GridSheetFromFile(db.connection(), data.RivalAccounts, data.OwnAccount), streamed,
                                format, &streamedRows),
                 QString());
        QCOMPARE(heldRows, 10001);
        QCOMPARE(streamedRows, 10001);
        if (format == TExportFormat::Csv) {
            QFile a(held);
            QFile b(streamed);
            QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
            const QByteArray bytes = a.readAll();
            QVERIFY(bytes.size() > 512 * 1024); // written in several pieces
            QVERIFY(bytes == b.readAll());
        } else {
            const TReadSheet a = ReadSheet(held);
            const TReadSheet b = ReadSheet(streamed);
            QVERIFY(a.values.size() > 10001 * 6);
            QVERIFY(a.values == b.values);
            QVERIFY(a.styles == b.styles);
            QCOMPARE(a.merged, b.merged);
            QCOMPARE(b.values.value(QStringLiteral("B10003")), QStringLiteral("宝贝 10000 纯棉长袖衬衫"));
        }
    }
}

void TestExport::historyAlertsAndFailuresExportTheirRows() {
    TTestDatabase db;
    FillCatalogue(db);
    db.exec(QStringLiteral("INSERT INTO ReadingStatus (LocalItemID, RivalWW, URL, LastAttempt, LastCode, LastText, "
                           "LastSuccess, FailedInRow) VALUES ('100', '乙店', 'http://item/300', "
                           "'2026-12-03 09:00:00', 4, '下载页面失败：找不到服务器', '2026-12-01 09:00:00', 2),"
                           " ('100', '', 'http://item/100', '2026-12-03 09:00:00', 0, '', '2026-12-03 09:00:00', 0)"));
    db.exec(QStringLiteral("INSERT INTO Alerts (CreatedAt, Kind, LocalItemID, RivalWW, OldPrice, NewPrice, OwnPrice) "
                           "VALUES ('2026-12-03 08:00:05', 1, '100', '甲店', 105, 98.5, 100)"));
    QTemporaryDir dir;
    const QString history = dir.filePath(QStringLiteral("h.xlsx"));
    QCOMPARE(WriteSheetFile(HistorySheet(db.connection(), QStringLiteral("100")), history, TExportFormat::Xlsx),
             QString());
    const TReadSheet h = ReadSheet(history);
    // The first row names the item whose history it is.
    const QString named = h.values.value(QStringLiteral("A1"));
    QVERIFY2(named.startsWith(QStringLiteral("宝贝：")) && named.endsWith(QStringLiteral("（编号 100）")),
             qPrintable(named));
    QCOMPARE(h.values.value(QStringLiteral("A2")), QStringLiteral("时间"));
    QCOMPARE(h.values.value(QStringLiteral("A3")), QStringLiteral("2026-12-01 08:00:00"));
    QCOMPARE(h.values.value(QStringLiteral("B3")), QStringLiteral("自己"));
    QCOMPARE(h.values.value(QStringLiteral("D4")), QStringLiteral("105"));
    QVERIFY(!h.values.contains(QStringLiteral("D5"))); // no price: an empty cell, not 0
    QCOMPARE(h.values.value(QStringLiteral("E5")), QStringLiteral("6"));
    QCOMPARE(h.values.value(QStringLiteral("D6")), QStringLiteral("98.5"));

    const QByteArray alerts = CsvBytes(AlertsSheet(db.connection()));
    QVERIFY(alerts.startsWith("\xEF\xBB\xBF"));
    const QStringList alertLines = QString::fromUtf8(alerts.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(alertLines.size(), 2);
    QVERIFY2(alertLines[1].startsWith(QStringLiteral("2026-12-03 08:00:05,同行低于自己的价格,100,")),
             qPrintable(alertLines[1]));
    QVERIFY(alertLines[1].contains(QStringLiteral(",甲店,105.00,98.50,100.00,未读,")));

    const QStringList failures = QString::fromUtf8(CsvBytes(FailuresSheet(db.connection())).mid(3))
                                     .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(failures.size(), 2); // the own page read well and is not listed
    QVERIFY2(failures[1].contains(QStringLiteral(
                 ",乙店,2026-12-01 09:00:00,2026-12-03 09:00:00,2,下载页面失败：找不到服务器,http://item/300")),
             qPrintable(failures[1]));
}

void TestExport::exportedFailuresAreTheFailureListsRowsOrderAndReasons() {
    TTestDatabase db;
    FillCatalogue(db);
    // Shops in the grid's order (甲店, 乙店), not by name; a shop no longer in the catalogue is
    // left out; a failure without a text gives the reason the failure list gives.
    db.exec(QStringLiteral("INSERT INTO ReadingStatus (LocalItemID, RivalWW, URL, LastAttempt, LastCode, LastText, "
                           "LastSuccess, FailedInRow) VALUES"
                           " ('100', '乙店', 'http://item/300', '2026-12-03 09:00:00', 4, '找不到服务器', NULL, 2),"
                           " ('100', '丙店', 'http://item/400', '2026-12-03 09:00:00', 4, '找不到服务器', NULL, 1),"
                           " ('100', '甲店', 'http://item/200', '2026-12-03 09:00:00', 3, '', NULL, 1),"
                           " ('100', '', 'http://item/100', '2026-12-03 09:00:00', 4, '', '2026-12-01 09:00:00', 3)"));
    const QStringList lines = QString::fromUtf8(CsvBytes(FailuresSheet(db.connection())).mid(3))
                                  .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    const QList<TFailedPage> pages = LoadFailedPages(db.connection());
    QCOMPARE(lines.size(), pages.size() + 1);
    const QStringList expected = {
        QStringLiteral(",自己,2026-12-01 09:00:00,2026-12-03 09:00:00,3,未知原因,http://item/100"),
        QStringLiteral(",甲店,从未成功,2026-12-03 09:00:00,1,页面中没有宝贝编号,http://item/200"),
        QStringLiteral(",乙店,从未成功,2026-12-03 09:00:00,2,找不到服务器,http://item/300")};
    QCOMPARE(pages.size(), expected.size());
    for (int i = 0; i < pages.size(); ++i) {
        QVERIFY2(lines[i + 1].endsWith(expected[i]), qPrintable(lines[i + 1]));
        QVERIFY(lines[i + 1].contains(pages[i].Shop + u',') && lines[i + 1].contains(pages[i].Status.Reason()));
    }
}

void TestExport::aFileThatCannotBeWrittenIsReportedAndAnOldFileSurvives() {
    TSheet sheet;
    sheet.columns = {QStringLiteral("名称")};
    QTemporaryDir dir;
    for (TExportFormat format : {TExportFormat::Csv, TExportFormat::Xlsx}) {
        const QString missing = dir.filePath(QStringLiteral("no/such/folder/x.file"));
        QVERIFY(!WriteSheetFile(sheet, missing, format).isEmpty());
        QVERIFY(!QFile::exists(missing));
    }
    // A complete new workbook replaces the old file; no part file stays behind.
    const QString path = dir.filePath(QStringLiteral("x.xlsx"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    QCOMPARE(WriteSheetFile(sheet, path, TExportFormat::Xlsx), QString());
    QCOMPARE(ReadSheet(path).values.value(QStringLiteral("A1")), QStringLiteral("名称"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("x.xlsx")});
}

void TestExport::formatFollowsTheSuffix_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("format");
    QTest::newRow("csv") << "a/b.csv" << int(TExportFormat::Csv);
    QTest::newRow("upper case") << "B.XLSX" << int(TExportFormat::Xlsx);
    QTest::newRow("other") << "b.xls" << -1;
    QTest::newRow("none") << "b" << -1;
}

void TestExport::formatFollowsTheSuffix() {
    QFETCH(QString, path);
    QFETCH(int, format);
    const std::optional<TExportFormat> got = ExportFormatOf(path);
    QCOMPARE(got ? int(*got) : -1, format);
}

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
