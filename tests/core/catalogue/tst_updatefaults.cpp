// A round of readings on a database that cannot take writes: it stops at the first reading it
// could not store, says why in Chinese once, and never claims it completed.
#include "catalogue/HeadlessUpdate.h"
#include "catalogue/MainData.h"
#include "common/StoreTexts.h"
#include "support/SmallDisk.h"
#include "support/UpdaterTestData.h"

#include <QTest>

using namespace vantero;
using namespace vantero::test;

class TestUpdateFaults : public QObject {
    Q_OBJECT
private slots:
    void aRoundOnAFullDiskStopsAtTheFirstReadingItCouldNotStore();
};

void TestUpdateFaults::aRoundOnAFullDiskStopsAtTheFirstReadingItCouldNotStore() {
    TSmallDisk disk(4096);
    if (!disk.mounted())
        QSKIP(qPrintable(disk.reason()));
    TTestHttpServer server;
    const QString path = disk.filePath(QStringLiteral("vanteroData.mdb"));
    QCOMPARE(PrepareDatabaseFile(path), QString());
    TConnection con(path);
    con.exec(QStringLiteral("UPDATE Setting SET WW=?"), {kOwnAccount});
    for (int i = 1; i <= 20; ++i) {
        const QString id = QString::number(1000 + i);
        const QString page = QStringLiteral("/own/") + id;
        server.route(page, ItemPage(QStringLiteral("宝贝 %1").arg(i), kOwnAccount, QStringLiteral("12.50"), id),
                     "text/html; charset=gbk");
        con.exec(QStringLiteral("INSERT INTO Items (ItemID, ItemName, URL, Price, SellCount) VALUES (?, ?, ?, 1, 0)"),
                 {id, QStringLiteral("宝贝 %1").arg(i), server.url(page)});
    }
    TMainData data(con);
    data.ApplySettings();
    data.RefreshAllData();
    disk.Fill();

    QStringList texts;
    const TReadAllItemThr::Tally tally = RunHeadlessUpdate(data, [&texts](const QString& text) { texts << text; });
    disk.Free();
    QCOMPARE(tally.readings, 1);
    QCOMPARE(server.requests().size(), 1);
    QVERIFY2(tally.stoppedBecause.contains(StoreTexts::ReadingNotStored), qPrintable(tally.stoppedBecause));
    const QString all = texts.join(u'\n');
    QCOMPARE(all.count(StoreTexts::ReadingNotStored), 1);
    QVERIFY2(all.contains(QStringLiteral("停止")) && !all.contains(QStringLiteral("完成更新")), qPrintable(all));

    // Space again: the next round completes and stores every page.
    server.clearRequests();
    const TReadAllItemThr::Tally next = RunHeadlessUpdate(data, [](const QString&) {});
    QCOMPARE(next.stoppedBecause, QString());
    QCOMPARE(next.stored, 20);
    QCOMPARE(con.value(QStringLiteral("SELECT count(*) FROM Items WHERE Price=12.5")).toInt(), 20);
    TConnection::closeAll();
}

QTEST_GUILESS_MAIN(TestUpdateFaults)
#include "tst_updatefaults.moc"
