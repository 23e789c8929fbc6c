// The detail rows, the reading messages, the item deletion, the renaming and the mappings, as
// the windows and vantero-cli share them; and the CLI commands built on them.
#include "catalogue/ItemCommands.h"
#include "catalogue/MainData.h"
#include "common/TextHelpers.h"
#include "reader/UtReadItemThr.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

using namespace vantero;
using namespace vantero::test;

namespace {

const QDateTime kMorning(QDate(2024, 3, 5), QTime(8, 5, 7));
const QDateTime kMidnight(QDate(2024, 3, 6), QTime(0, 0));

void AddItem(const TTestDatabase& db, const QString& id, const QString& name, double price,
             const QDateTime& updated = {}, const QString& url = {}) {
    db.exec(QStringLiteral("insert into Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount, LastUpdated) "
                           "values (?, ?, '', ?, ?, 0, ?)"),
            {id, name, url, price, DateTimeToColumn(updated)});
}

void AddReading(const TTestDatabase& db, const QString& rival, const QString& localId, const QString& rivalId,
                const QString& name, double price, const QDateTime& updated, const QString& url) {
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                           "SellCount, LastUpdated) values (?, ?, ?, ?, ?, ?, 0, ?)"),
            {rival, localId, rivalId, name, url, price, DateTimeToColumn(updated)});
}

// Texts written as UTF-8 literals.
QStringList Texts(std::initializer_list<const char*> texts) {
    QStringList list;
    for (const char* text : texts)
        list << QString::fromUtf8(text);
    return list;
}

// Rebuilds a table the way a foreign file of the same layout has it: text columns compared
// byte for byte, without the case-blind collation this program gives them.
void DropCollation(const TTestDatabase& db, const QString& table) {
    const QString sql =
        db.value(QStringLiteral("select sql from sqlite_master where type='table' and name=?"), {table}).toString();
    QVERIFY(sql.contains(QLatin1String("NOCASE"), Qt::CaseInsensitive));
    QString plain = sql;
    plain.replace(
        QRegularExpression(QStringLiteral("\\s+COLLATE\\s+NOCASE"), QRegularExpression::CaseInsensitiveOption),
        QString());
    db.exec(QStringLiteral("alter table %1 rename to Old%1").arg(table));
    db.exec(plain);
    db.exec(QStringLiteral("insert into %1 select * from Old%1").arg(table));
    db.exec(QStringLiteral("drop table Old%1").arg(table));
}

int Count(const TTestDatabase& db, const QString& sql, const QVariantList& values = {}) {
    return db.value(sql, values).toInt();
}

QByteArray ItemPage(const QString& title, const QString& seller, const QString& price, const QString& id) {
    return QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body>"
                          "<input type=\"hidden\" name=\"title\" value=\"%1\" />"
                          "<input type=\"hidden\" name=\"seller_nickname\" value=\"%2\" />"
                          "<input type=\"hidden\" name=\"current_price\" value= \"%3\" />"
                          "<input type=\"hidden\" name=\"item_id_num\" value=\"%4\" />"
                          "</body></html>")
        .arg(title, seller, price, id)
        .toUtf8();
}

} // namespace

class TestItemCommands : public QObject {
    Q_OBJECT

private slots:
    void readingTimeShowsShortDateAndTimeButNoTimeAtMidnight();
    void resultCodesGiveTheirMessages_data();
    void resultCodesGiveTheirMessages();
    void detailRowsShowOwnAndRivalReadings();
    void detailRowsIgnoreReadingsOfItemsWithLongerIds();
    void rivalAddressIsTrimmedAndEmptyWithoutMapping();
    void deletingAnItemRemovesItsRivalReadingsOnly();
    void renamingTouchesOnlyTheExactItem();
    void renamingKeepsReadingsStoredMeanwhile();
    void renamingFindsAnItemStoredAfterTheSetWasOpened();
    void mappingRowsShowAddressesOrNotSet();
    void deletingAMappingRemovesEveryRowOfThatRivalForTheItem();
    void deletesIgnoreCaseOnAFileWithoutCaseBlindColumns();

    void cliDetailPrintsTheDetailRows();
    void cliMapReadsAndStoresOrRefuses();
    void cliRenameUnmapAndDeleteItem();

private:
    QString CliPath() const;
    int RunCli(const QString& db, const QStringList& args, QByteArray* out = nullptr, QByteArray* err = nullptr);
};

void TestItemCommands::readingTimeShowsShortDateAndTimeButNoTimeAtMidnight() {
    const QLocale locale = DisplayLocale();
    QCOMPARE(FormatReadingTime(QDateTime()), QString());
    QCOMPARE(FormatReadingTime(kMidnight), locale.toString(kMidnight.date(), QLocale::ShortFormat));
    const QString text = FormatReadingTime(kMorning);
    QVERIFY2(text.startsWith(locale.toString(kMorning.date(), QLocale::ShortFormat) + u' '), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String("05:07")), qPrintable(text)); // minutes and seconds
    // One second after midnight is not midnight.
    QVERIFY(FormatReadingTime(kMidnight.addSecs(1)).size() > FormatReadingTime(kMidnight).size());
    // Whatever the machine's language, no English month name appears.
    QCOMPARE(DisplayLocale().language(), QLocale::Chinese);
    QVERIFY2(!FormatReadingTime(kMorning).contains(QRegularExpression(QStringLiteral("[A-Za-z]"))), qPrintable(text));
}

void TestItemCommands::resultCodesGiveTheirMessages_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("updated") << 0 << QString();
    QTest::newRow("added") << 1 << QString();
    QTest::newRow("wrong seller") << 2 << QStringLiteral("读到的宝贝不是您所选的卖家的，请输入正确的宝贝地址");
    QTest::newRow("no item") << 3 << QStringLiteral("读取宝贝失败，请确认宝贝地址是否正确 ");
    QTest::newRow("failed") << 4 << QStringLiteral("读取宝贝失败，请确认宝贝地址是否正确 ");
    QTest::newRow("five") << 5 << QStringLiteral("未知错误");
    QTest::newRow("negative") << -1 << QStringLiteral("未知错误");
}

void TestItemCommands::resultCodesGiveTheirMessages() {
    QFETCH(int, code);
    QFETCH(QString, message);
    QCOMPARE(ReadResultMessage(code), message);
}

void TestItemCommands::detailRowsShowOwnAndRivalReadings() {
    TTestDatabase db;
    AddReading(db, QStringLiteral("ShopA"), QStringLiteral("123"), QStringLiteral("9001"), QStringLiteral("A的宝贝"),
               98.5, kMorning, QStringLiteral("http://a/1"));
    AddReading(db, QStringLiteral("shopb"), QStringLiteral("123"), QStringLiteral("9002"), QStringLiteral("B的宝贝"),
               50, QDateTime(), QStringLiteral("http://b/1"));
    // A row without a rival item id is no mapping.
    AddReading(db, QStringLiteral("ShopC"), QStringLiteral("123"), QString(), QStringLiteral("C的宝贝"), 10, kMorning,
               QStringLiteral("http://c/1"));
    TItem item{QStringLiteral("123"),
               QStringLiteral("标题"),
               QStringLiteral("自定义"),
               QStringLiteral("http://own/1"),
               100,
               QDateTime()};
    TRecordSet qryDetail(db.connection());
    const QList<QStringList> rows =
        DetailRows({QStringLiteral("ShopA "), QStringLiteral("ShopB"), QStringLiteral("ShopC")}, item, qryDetail);
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[0], (Texts({"1", "自己", "标题", "100.00", "未曾读取", "http://own/1"})));
    QStringList rivalA = Texts({"2", "ShopA ", "A的宝贝", "98.50", "", "http://a/1"});
    rivalA[kDetailTime] = FormatReadingTime(kMorning);
    QCOMPARE(rows[1], rivalA);
    QCOMPARE(rows[2], (Texts({"3", "ShopB", "B的宝贝", "", "(未读取)", "http://b/1"})));
    QCOMPARE(rows[3], (Texts({"4", "ShopC", "(未设置)", "", "", ""})));

    item.LastUpdated = kMidnight;
    QCOMPARE(DetailRows({}, item, qryDetail)[0][kDetailTime], FormatReadingTime(kMidnight));
}

void TestItemCommands::detailRowsIgnoreReadingsOfItemsWithLongerIds() {
    TTestDatabase db;
    AddReading(db, QStringLiteral("ShopA"), QStringLiteral("1234"), QStringLiteral("9001"), QStringLiteral("别的"), 1,
               kMorning, QStringLiteral("http://a/1"));
    TRecordSet qryDetail(db.connection());
    TItem item{QStringLiteral("123"), QStringLiteral("t"), {}, {}, 0, {}};
    QCOMPARE(DetailRows({QStringLiteral("ShopA")}, item, qryDetail)[1][kDetailName], QStringLiteral("(未设置)"));
}

void TestItemCommands::rivalAddressIsTrimmedAndEmptyWithoutMapping() {
    TTestDatabase db;
    AddReading(db, QStringLiteral("ShopA"), QStringLiteral("123"), QStringLiteral("9001"), QStringLiteral("x"), 1,
               kMorning, QStringLiteral("  http://a/1 "));
    TRecordSet qryDetail(db.connection());
    QCOMPARE(RivalItemAddress(qryDetail, QStringLiteral("ShopA")), QString()); // not opened yet
    OpenDetailReadings(qryDetail, QStringLiteral("123"));
    QCOMPARE(RivalItemAddress(qryDetail, QStringLiteral("shopa")), QStringLiteral("http://a/1"));
    QCOMPARE(RivalItemAddress(qryDetail, QStringLiteral("ShopB")), QString());
}

void TestItemCommands::deletingAnItemRemovesItsRivalReadingsOnly() {
    TTestDatabase db;
    AddItem(db, QStringLiteral("123"), QStringLiteral("一"), 1);
    AddItem(db, QStringLiteral("1234"), QStringLiteral("二"), 2);
    AddReading(db, QStringLiteral("A"), QStringLiteral("123"), QStringLiteral("1"), {}, 1, kMorning, {});
    AddReading(db, QStringLiteral("B"), QStringLiteral("123"), QStringLiteral("2"), {}, 1, kMorning, {});
    AddReading(db, QStringLiteral("A"), QStringLiteral("1234"), QStringLiteral("3"), {}, 1, kMorning, {});
    TRecordSet items(db.connection());
    items.Reopen(kSelectItems);
    QVERIFY(!LocateItem(items, QStringLiteral("12")));
    const std::optional<TItem> item = LocateItem(items, QStringLiteral("123"));
    QVERIFY(item);
    QCOMPARE(item->ItemName, QStringLiteral("一"));
    DeleteLocatedItem(items, db.connection(), QStringLiteral(" 123 "));
    QCOMPARE(Count(db, QStringLiteral("select count(*) from Items where ItemID='123'")), 0);
    QCOMPARE(Count(db, QStringLiteral("select count(*) from Items where ItemID='1234'")), 1);
    QCOMPARE(Count(db, QStringLiteral("select count(*) from RivalItems where LocalItemID='123'")), 0);
    QCOMPARE(Count(db, QStringLiteral("select count(*) from RivalItems where LocalItemID='1234'")), 1);
}

void TestItemCommands::renamingTouchesOnlyTheExactItem() {
    TTestDatabase db;
    AddItem(db, QStringLiteral("123"), QStringLiteral("一"), 1);
    AddItem(db, QStringLiteral("1234"), QStringLiteral("二"), 2);
    TRecordSet items(db.connection());
    items.Reopen(kSelectItems);
    QVERIFY(StoreCustomName(items, QStringLiteral("123"), QStringLiteral("新名字")));
    QCOMPARE(db.value(QStringLiteral("select CustomItemName from Items where ItemID='123'")).toString(),
             QStringLiteral("新名字"));
    QCOMPARE(db.value(QStringLiteral("select CustomItemName from Items where ItemID='1234'")).toString(), QString());
    QVERIFY(!StoreCustomName(items, QStringLiteral("12"), QStringLiteral("x")));
    QVERIFY(StoreCustomName(items, QStringLiteral("123"), QString()));
    QCOMPARE(db.value(QStringLiteral("select CustomItemName from Items where ItemID='123'")).toString(), QString());
}

void TestItemCommands::renamingKeepsReadingsStoredMeanwhile() {
    TTestDatabase db;
    AddItem(db, QStringLiteral("123"), QStringLiteral("一"), 1);
    TRecordSet items(db.connection());
    items.Reopen(kSelectItems);
    // A reader stores a new price after the set was opened.
    db.exec(QStringLiteral("update Items set Price=? where ItemID='123'"), {42.5});
    QVERIFY(StoreCustomName(items, QStringLiteral("123"), QStringLiteral("名")));
    QCOMPARE(db.value(QStringLiteral("select Price from Items where ItemID='123'")).toDouble(), 42.5);
}

void TestItemCommands::renamingFindsAnItemStoredAfterTheSetWasOpened() {
    TTestDatabase db;
    TRecordSet items(db.connection());
    items.Reopen(kSelectItems);
    AddItem(db, QStringLiteral("777"), QStringLiteral("新"), 1);
    QVERIFY(StoreCustomName(items, QStringLiteral("777"), QStringLiteral("名")));
    QCOMPARE(db.value(QStringLiteral("select CustomItemName from Items where ItemID='777'")).toString(),
             QStringLiteral("名"));
}

void TestItemCommands::mappingRowsShowAddressesOrNotSet() {
    TTestDatabase db;
    AddReading(db, QStringLiteral("shopb"), QStringLiteral("123"), QStringLiteral("1"), {}, 1, kMorning,
               QStringLiteral("http://b/1"));
    AddReading(db, QStringLiteral("ShopA"), QStringLiteral("1234"), QStringLiteral("2"), {}, 1, kMorning,
               QStringLiteral("http://a/2"));
    TRecordSet mappings(db.connection());
    OpenMappings(mappings, QStringLiteral("123"));
    const QList<QStringList> rows =
        MappingRows(mappings, {QStringLiteral("ShopA"), QStringLiteral(" ShopB "), QStringLiteral("ShopB")});
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0], (Texts({"1", "ShopA", "未设置"})));
    QCOMPARE(rows[1], (Texts({"2", "ShopB", "http://b/1"})));
    QCOMPARE(rows[2], (Texts({"3", "ShopB", "http://b/1"})));
}

void TestItemCommands::deletingAMappingRemovesEveryRowOfThatRivalForTheItem() {
    TTestDatabase db;
    AddReading(db, QStringLiteral("ShopA"), QStringLiteral("123"), QStringLiteral("1"), {}, 1, kMorning, {});
    AddReading(db, QStringLiteral("shopa"), QStringLiteral("123"), QStringLiteral("2"), {}, 1, kMorning, {});
    AddReading(db, QStringLiteral("ShopB"), QStringLiteral("123"), QStringLiteral("3"), {}, 1, kMorning, {});
    AddReading(db, QStringLiteral("ShopA"), QStringLiteral("1234"), QStringLiteral("4"), {}, 1, kMorning, {});
    DeleteMapping(db.connection(), QStringLiteral("123"), QStringLiteral("SHOPA"));
    QCOMPARE(Count(db, QStringLiteral("select count(*) from RivalItems")), 2);
    QCOMPARE(Count(db, QStringLiteral("select count(*) from RivalItems where RivalItemID in ('3', '4')")), 2);
    DeleteMapping(db.connection(), QStringLiteral("123"), QStringLiteral("ShopC")); // none: nothing happens
    QCOMPARE(Count(db, QStringLiteral("select count(*) from RivalItems")), 2);
}

void TestItemCommands::deletesIgnoreCaseOnAFileWithoutCaseBlindColumns() {
    TTestDatabase db;
    for (const QString& table : {QStringLiteral("RivalItems"), QStringLiteral("Rival"), QStringLiteral("ReadingStatus"),
                                 QStringLiteral("PriceHistory")})
        DropCollation(db, table);
    QCOMPARE(Count(db, QStringLiteral("select count(*) from RivalItems where 'a'='A'")), 0);
    AddItem(db, QStringLiteral("123"), QStringLiteral("一"), 1);
    for (const char* ww : {"ShopA", "shopa", "SHOPA", "ShopB"}) {
        AddReading(db, QString::fromLatin1(ww), QStringLiteral("123"), QStringLiteral("1"), {}, 1, kMorning, {});
        AddReading(db, QString::fromLatin1(ww), QStringLiteral("77"), QStringLiteral("2"), {}, 1, kMorning, {});
        db.exec(QStringLiteral("insert into ReadingStatus (LocalItemID, RivalWW, LastCode, FailedInRow) "
                               "values ('123', ?, 4, 1)"),
                {QString::fromLatin1(ww)});
    }

    // The mapping dialog's delete and the command line's unmap.
    DeleteMapping(db.connection(), QStringLiteral("123"), QStringLiteral("sHoPa"));
    QCOMPARE(Count(db, QStringLiteral("select count(*) from RivalItems where LocalItemID='123'")), 1);
    QCOMPARE(Count(db, QStringLiteral("select count(*) from RivalItems where LocalItemID='77'")), 4);
    QCOMPARE(Count(db, QStringLiteral("select count(*) from ReadingStatus")), 1);

    // Deleting the rival shop takes every spelling of it along.
    db.exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('ShopA', 'http://shop/a'), "
                           "('ShopB', 'http://shop/b')"));
    QCOMPARE(RunCli(db.path(), Texts({"delete-rival", "shopa", "--yes"})), 0);
    QCOMPARE(Count(db, QStringLiteral("select count(*) from Rival")), 1);
    QCOMPARE(Count(db, QStringLiteral("select count(*) from RivalItems")), 2);
    QCOMPARE(Count(db, QStringLiteral("select count(*) from RivalItems where RivalWW<>'ShopB'")), 0);
}

QString TestItemCommands::CliPath() const {
    const QFileInfo info(QStringLiteral(VANTERO_CLI));
    return info.exists() ? info.absoluteFilePath() : QString();
}

int TestItemCommands::RunCli(const QString& db, const QStringList& args, QByteArray* out, QByteArray* err) {
    QProcess process;
    process.start(CliPath(), QStringList{QStringLiteral("--db"), db} + args);
    if (!process.waitForFinished(60000))
        return -1;
    if (out)
        *out = process.readAllStandardOutput();
    if (err)
        *err = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void TestItemCommands::cliDetailPrintsTheDetailRows() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('ShopA', 'http://shop/a')"));
    AddItem(db, QStringLiteral("123"), QStringLiteral("标题"), 100, kMorning, QStringLiteral("http://own/1"));
    AddReading(db, QStringLiteral("ShopA"), QStringLiteral("123"), QStringLiteral("9"), QStringLiteral("A的"), 98.5,
               QDateTime(), QStringLiteral("http://a/1"));
    QByteArray out;
    QCOMPARE(RunCli(db.path(), {QStringLiteral("detail"), QStringLiteral("123"), QStringLiteral("--json")}, &out), 0);
    const QJsonArray rows = QJsonDocument::fromJson(out).array();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].toObject().value(QStringLiteral("宝贝名称")).toString(), QStringLiteral("标题"));
    QCOMPARE(rows[1].toObject().value(QStringLiteral("最后更新时间")).toString(), QStringLiteral("(未读取)"));
    QCOMPARE(rows[1].toObject().value(QStringLiteral("宝贝地址")).toString(), QStringLiteral("http://a/1"));
    QCOMPARE(RunCli(db.path(), {QStringLiteral("detail"), QStringLiteral("12")}), 3);
    QCOMPARE(RunCli(db.path(), {QStringLiteral("detail")}), 2);
}

void TestItemCommands::cliMapReadsAndStoresOrRefuses() {
    TTestHttpServer server;
    server.route(QStringLiteral("/a"), ItemPage(QStringLiteral("A的宝贝"), QStringLiteral("shopa"),
                                                QStringLiteral("9.5"), QStringLiteral("9001")));
    server.route(QStringLiteral("/other"), ItemPage(QStringLiteral("别家"), QStringLiteral("ShopX"),
                                                    QStringLiteral("1"), QStringLiteral("9002")));
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('ShopA', 'http://shop/a')"));
    AddItem(db, QStringLiteral("123"), QStringLiteral("标题"), 100);
    QByteArray out;
    QByteArray err;
    QCOMPARE(RunCli(db.path(), Texts({"map", "123", "ShopA"}) << server.url(QStringLiteral("/other")), &out, &err), 3);
    QVERIFY(out.contains("rcWrongSeller"));
    QVERIFY(QString::fromUtf8(err).contains(QStringLiteral("读到的宝贝不是您所选的卖家的")));
    QCOMPARE(Count(db, QStringLiteral("select count(*) from RivalItems")), 0);

    QCOMPARE(RunCli(db.path(), Texts({"map", "123", " ShopA "}) << server.url(QStringLiteral("/a")), &out), 0);
    QVERIFY(out.contains("rcAdded"));
    QCOMPARE(db.value(QStringLiteral("select LocalItemID from RivalItems where RivalItemID='9001'")).toString(),
             QStringLiteral("123"));

    QCOMPARE(RunCli(db.path(), Texts({"map", "123", "ShopZ"}) << server.url(QStringLiteral("/a"))), 3); // not a rival
    QCOMPARE(RunCli(db.path(), Texts({"map", "999", "ShopA"}) << server.url(QStringLiteral("/a"))), 3); // no such item
    QCOMPARE(RunCli(db.path(), Texts({"map", "123", "ShopA"})), 2);
}

void TestItemCommands::cliRenameUnmapAndDeleteItem() {
    TTestDatabase db;
    AddItem(db, QStringLiteral("123"), QStringLiteral("一"), 1);
    AddItem(db, QStringLiteral("1234"), QStringLiteral("二"), 2);
    AddReading(db, QStringLiteral("ShopA"), QStringLiteral("123"), QStringLiteral("1"), {}, 1, kMorning, {});
    AddReading(db, QStringLiteral("ShopB"), QStringLiteral("123"), QStringLiteral("2"), {}, 1, kMorning, {});

    QCOMPARE(RunCli(db.path(), Texts({"rename", "123", " 新名 "})), 0);
    QCOMPARE(db.value(QStringLiteral("select CustomItemName from Items where ItemID='123'")).toString(),
             QStringLiteral("新名"));
    QCOMPARE(db.value(QStringLiteral("select CustomItemName from Items where ItemID='1234'")).toString(), QString());

    QCOMPARE(RunCli(db.path(), Texts({"unmap", "123", "shopa"})), 0);
    QCOMPARE(Count(db, QStringLiteral("select count(*) from RivalItems where LocalItemID='123'")), 1);

    QCOMPARE(RunCli(db.path(), Texts({"delete-item", "123"})), 2); // not confirmed
    QCOMPARE(Count(db, QStringLiteral("select count(*) from Items")), 2);
    QCOMPARE(RunCli(db.path(), Texts({"delete-item", "123", "--yes"})), 0);
    QCOMPARE(Count(db, QStringLiteral("select count(*) from Items")), 1);
    QCOMPARE(Count(db, QStringLiteral("select count(*) from RivalItems")), 0);
    QCOMPARE(RunCli(db.path(), Texts({"delete-item", "123", "--yes"})), 3);
}

QTEST_GUILESS_MAIN(TestItemCommands)
#include "tst_itemcommands.moc"
