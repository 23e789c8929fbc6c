// The detail panel of the main window, its single readings with the wait dialog, the item
// deletion, and the item mapping dialog, offscreen, with pages served from 127.0.0.1.
#include "app/UtMain.h"
#include "app/UtUpdateing.h"
#include "catalogue/GridData.h"
#include "catalogue/ItemCommands.h"
#include "dialogs/UtItemURL.h"
#include "reader/UtReadItemThr.h"
#include "support/DialogWatcher.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"
#include "widgets/UiGridView.h"
#include "widgets/UiMessageBoxes.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

const QString kOwnAccount = QStringLiteral("我的店");
const QDateTime kEarlier(QDate(2024, 3, 5), QTime(8, 5, 7));

QByteArray ItemPage(const QString& title, const QString& seller, const QString& price, const QString& id) {
    QString page = QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body>"
                                  "<input type=\"hidden\" name=\"title\" value=\"%1\" />")
                       .arg(title);
    if (!seller.isNull())
        page += QStringLiteral("<input type=\"hidden\" name=\"seller_nickname\" value=\"%1\" />").arg(seller);
    page += QStringLiteral("<input type=\"hidden\" name=\"current_price\" value= \"%1\" />"
                           "<input type=\"hidden\" name=\"item_id_num\" value=\"%2\" /></body></html>")
                .arg(price, id);
    return page.toUtf8();
}

TTestResponse Delayed(const QByteArray& body, int delayMs) {
    TTestResponse response;
    response.body = body;
    response.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    response.delayMs = delayMs;
    return response;
}

struct TBox {
    TBoxKind kind;
    QString text;
};

// Acts on each wait dialog by a script: press "取消", or wait for its reading's result.
// Records the tip of every dialog shown.
class TWaitDialogDriver final : public QObject {
public:
    enum Action { Cancel, Await, StopAll };
    explicit TWaitDialogDriver(QList<Action> script) : m_script(std::move(script)) { qApp->installEventFilter(this); }
    ~TWaitDialogDriver() override { qApp->removeEventFilter(this); }
    QStringList tips;
    QList<bool> stopAllShown;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* dialog = event->type() == QEvent::Show ? qobject_cast<TFmUpdateing*>(watched) : nullptr;
        if (!dialog)
            return false;
        tips << dialog->lbTip->text();
        stopAllShown << dialog->btnStopAll->isVisibleTo(dialog);
        const Action action = m_script.value(tips.size() - 1, Await);
        if (action != Await) {
            QPointer<TFmUpdateing> guard(dialog);
            QTimer::singleShot(0, this, [guard, action] {
                if (guard && guard->isVisible())
                    QTest::mouseClick(action == Cancel ? guard->btn1 : guard->btnStopAll, Qt::LeftButton);
            });
        }
        return false;
    }

private:
    QList<Action> m_script;
};

} // namespace

class TestUiDetail : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void detailListShowsTheFocusedItemInEveryShop();
    void updateAllReadsOwnAndMappedRivalsAndCancelMovesOn();
    void stopAllEndsUpdateAllButTheReadingGoesOn();
    void successfulReadingRefreshesGridRowButNotDetailRow();
    void ownItemIsReadWithOwnAccountAndStoredAddress_data();
    void ownItemIsReadWithOwnAccountAndStoredAddress();
    void commandsReportMissingSelectionAndAddresses();
    void deletionAnsweredNoChangesNothing();
    void deletionAnsweredYesRemovesItemAndItsReadings();
    void keyboardNavigationKeepsDetailListInStep();
    void lateResultOfCancelledReadingDoesNotCloseNextWaitDialog();
    void readingAfterRefreshUsesTheFocusedItemsAddresses();

    void setItemCommandOpensMappingDialogForFocusedRow();
    void mappingToAnotherSellersPageKeepsPreviousAddress();
    void mappingSetAndDeletedInOneOpening();
    void renamingTouchesOnlyTheExactItem();
    void enterInTheNameBoxKeepsACustomName();
    void detailListIsReadAgainWhenTheMappingDialogCloses();

private:
    void Seed(const QStringList& rivals);
    void AddItem(const QString& id, const QString& name, double price, const QString& url, const QString& custom = {});
    void AddReading(const QString& rival, const QString& localId, const QString& rivalId, const QString& name,
                    double price, const QDateTime& updated, const QString& url);
    TFmMain* OpenMain();
    QTreeWidgetItem* DetailRow(int row) const { return m_main->DetailList()->topLevelItem(row); }
    void SelectDetailRow(int row) { m_main->DetailList()->setCurrentItem(DetailRow(row)); }
    void ClickGridRow(int row);
    QPushButton* Button(const QString& name) const { return m_main->findChild<QPushButton*>(name); }
    int Count(const QString& sql, const QVariantList& values = {}) const { return m_db->value(sql, values).toInt(); }

    std::unique_ptr<TTestDatabase> m_db;
    std::unique_ptr<TTestHttpServer> m_server;
    std::unique_ptr<TFmMain> m_main;
    QList<TBox> m_boxes;
    QStringList m_opened;
    bool m_answer = false;
};

void TestUiDetail::init() {
    m_db = std::make_unique<TTestDatabase>();
    m_server = std::make_unique<TTestHttpServer>();
    m_boxes.clear();
    m_opened.clear();
    m_answer = false;
    SetMessageBoxHook([this](TBoxKind kind, const QString&, const QString& text) {
        m_boxes << TBox{kind, text};
        return m_answer;
    });
    SetOpenAddressHook([this](const QString& address) { m_opened << address; });
}

void TestUiDetail::cleanup() {
    // No reading outlives its test: stop the ones a test left running, then let them go.
    TReadItem::StopAll();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (m_main)
        m_main->close(); // takes the views down while the grid they show still exists
    m_main.reset();
    m_server.reset();
    m_db.reset();
    SetMessageBoxHook({});
    SetOpenAddressHook({});
}

void TestUiDetail::Seed(const QStringList& rivals) {
    m_db->exec(QStringLiteral("update Setting set UpdateTimeOut=60, WW=?"), {kOwnAccount});
    for (const QString& rival : rivals)
        m_db->exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values (?, ?)"),
                   {rival, QStringLiteral("http://shop.example/") + rival});
}

void TestUiDetail::AddItem(const QString& id, const QString& name, double price, const QString& url,
                           const QString& custom) {
    m_db->exec(QStringLiteral("insert into Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount, "
                              "LastUpdated) values (?, ?, ?, ?, ?, 0, '')"),
               {id, name, custom, url, price});
}

void TestUiDetail::AddReading(const QString& rival, const QString& localId, const QString& rivalId, const QString& name,
                              double price, const QDateTime& updated, const QString& url) {
    m_db->exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                              "SellCount, LastUpdated) values (?, ?, ?, ?, ?, ?, 0, ?)"),
               {rival, localId, rivalId, name, url, price, DateTimeToColumn(updated)});
}

TFmMain* TestUiDetail::OpenMain() {
    m_main = std::make_unique<TFmMain>(m_db->connection());
    m_main->show();
    if (!QTest::qWaitForWindowExposed(m_main.get()))
        return nullptr;
    return m_main.get();
}

void TestUiDetail::ClickGridRow(int row) {
    TGridPartView* view = m_main->GridView()->leftPart();
    const QRect rect = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
}

void TestUiDetail::detailListShowsTheFocusedItemInEveryShop() {
    Seed({QStringLiteral("ShopA"), QStringLiteral("ShopB "), QStringLiteral("ShopC")});
    AddItem(QStringLiteral("123"), QStringLiteral("页面标题"), 100, QStringLiteral("http://own/123"),
            QStringLiteral("我的名字"));
    AddReading(QStringLiteral("ShopA"), QStringLiteral("123"), QStringLiteral("9001"), QStringLiteral("A的宝贝"), 98.5,
               kEarlier, QStringLiteral("http://a/1"));
    AddReading(QStringLiteral("shopb"), QStringLiteral("123"), QStringLiteral("9002"), QStringLiteral("B的宝贝"), 50,
               QDateTime(), QStringLiteral("http://b/1"));
    QVERIFY(OpenMain());
    QTreeWidget* list = m_main->DetailList();
    QCOMPARE(list->topLevelItemCount(), 4);
    QCOMPARE(DetailRow(2)->text(1), QStringLiteral("ShopB "));
    m_main->SetFocusedRow(-1);
    for (const char* name : {"btnSetItem", "btnReadPrice", "btnSetAllPrice", "btnOpenURL"})
        QVERIFY(!Button(QString::fromLatin1(name))->isEnabled());

    m_main->SetFocusedRow(0);
    QVERIFY(Button(QStringLiteral("btnReadPrice"))->isEnabled());
    // The own row shows the page title, not the custom name, and that it was never read.
    QCOMPARE(DetailRow(0)->text(0), QStringLiteral("1"));
    QCOMPARE(DetailRow(0)->text(1), QStringLiteral("自己"));
    QCOMPARE(DetailRow(0)->text(2), QStringLiteral("页面标题"));
    QCOMPARE(DetailRow(0)->text(3), QStringLiteral("100.00"));
    QCOMPARE(DetailRow(0)->text(4), QStringLiteral("未曾读取"));
    QCOMPARE(DetailRow(0)->text(5), QStringLiteral("http://own/123"));
    QCOMPARE(DetailRow(1)->text(3), QStringLiteral("98.50"));
    QCOMPARE(DetailRow(1)->text(4), FormatReadingTime(kEarlier));
    // A reading with an empty time: title, no price, "(未读取)".
    QCOMPARE(DetailRow(2)->text(2), QStringLiteral("B的宝贝"));
    QCOMPARE(DetailRow(2)->text(3), QString());
    QCOMPARE(DetailRow(2)->text(4), QStringLiteral("(未读取)"));
    QCOMPARE(DetailRow(2)->text(5), QStringLiteral("http://b/1"));
    QCOMPARE(DetailRow(3)->text(0), QStringLiteral("4"));
    QCOMPARE(DetailRow(3)->text(2), QStringLiteral("(未设置)"));
    QCOMPARE(DetailRow(3)->text(5), QString());
    QVERIFY(list->isColumnHidden(5));
}

void TestUiDetail::updateAllReadsOwnAndMappedRivalsAndCancelMovesOn() {
    Seed({QStringLiteral("ShopA"), QStringLiteral("ShopB"), QStringLiteral("ShopC")});
    m_server->route(
        QStringLiteral("/own"),
        Delayed(ItemPage(QStringLiteral("自己的"), kOwnAccount, QStringLiteral("88"), QStringLiteral("123")), 800));
    m_server->route(QStringLiteral("/b"), ItemPage(QStringLiteral("B的"), QStringLiteral("ShopB"), QStringLiteral("77"),
                                                   QStringLiteral("9002")));
    AddItem(QStringLiteral("123"), QStringLiteral("标题"), 100, m_server->url(QStringLiteral("/own")));
    AddReading(QStringLiteral("ShopB"), QStringLiteral("123"), QStringLiteral("9002"), QStringLiteral("B的"), 70,
               kEarlier, m_server->url(QStringLiteral("/b")));
    QVERIFY(OpenMain());
    m_main->SetFocusedRow(0);

    TWaitDialogDriver driver({TWaitDialogDriver::Cancel, TWaitDialogDriver::Await});
    QTest::mouseClick(Button(QStringLiteral("btnSetAllPrice")), Qt::LeftButton);
    QCOMPARE(driver.tips, (QStringList{QStringLiteral("正在读取 ") + kOwnAccount + QStringLiteral(" 的宝贝，请稍候..."),
                                       QStringLiteral("正在读取 ShopB 的宝贝，请稍候...")}));
    QVERIFY(m_boxes.isEmpty()); // rivals without an address are skipped silently
    QCOMPARE(m_main->Data().grid.cell(0, 5), QStringLiteral("77.00"));
    // The cancelled reading went on and stored its reading by itself.
    QTRY_COMPARE_WITH_TIMEOUT(m_db->value(QStringLiteral("select Price from Items where ItemID='123'")).toDouble(),
                              88.0, 60000);
}

void TestUiDetail::stopAllEndsUpdateAllButTheReadingGoesOn() {
    Seed({QStringLiteral("ShopA")});
    m_server->route(
        QStringLiteral("/own"),
        Delayed(ItemPage(QStringLiteral("自己的"), kOwnAccount, QStringLiteral("88"), QStringLiteral("123")), 800));
    m_server->route(QStringLiteral("/a"), ItemPage(QStringLiteral("A的"), QStringLiteral("ShopA"), QStringLiteral("77"),
                                                   QStringLiteral("9001")));
    AddItem(QStringLiteral("123"), QStringLiteral("标题"), 100, m_server->url(QStringLiteral("/own")));
    AddReading(QStringLiteral("ShopA"), QStringLiteral("123"), QStringLiteral("9001"), QStringLiteral("A的"), 70,
               kEarlier, m_server->url(QStringLiteral("/a")));
    QVERIFY(OpenMain());
    m_main->SetFocusedRow(0);

    TWaitDialogDriver driver({TWaitDialogDriver::StopAll});
    QTest::mouseClick(Button(QStringLiteral("btnSetAllPrice")), Qt::LeftButton);
    QCOMPARE(driver.tips.size(), 1);
    QCOMPARE(driver.stopAllShown, QList<bool>{true});
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(m_server->requestCount(QStringLiteral("/a")), 0);
    // The stopped reading goes on and stores by itself, as after "取消".
    QTRY_COMPARE_WITH_TIMEOUT(m_db->value(QStringLiteral("select Price from Items where ItemID='123'")).toDouble(),
                              88.0, 60000);

    // A single reading offers no "全部停止".
    SelectDetailRow(1);
    TWaitDialogDriver single({TWaitDialogDriver::Await});
    QTest::mouseClick(Button(QStringLiteral("btnReadPrice")), Qt::LeftButton);
    QCOMPARE(single.stopAllShown, QList<bool>{false});
}

void TestUiDetail::successfulReadingRefreshesGridRowButNotDetailRow() {
    Seed({QStringLiteral("ShopA")});
    m_server->route(QStringLiteral("/a"), ItemPage(QStringLiteral("A的"), QStringLiteral("ShopA"), QStringLiteral("25"),
                                                   QStringLiteral("9001")));
    AddItem(QStringLiteral("123"), QStringLiteral("标题"), 100, QStringLiteral("http://own/123"));
    AddReading(QStringLiteral("ShopA"), QStringLiteral("123"), QStringLiteral("9001"), QStringLiteral("A的"), 20,
               kEarlier, m_server->url(QStringLiteral("/a")));
    QVERIFY(OpenMain());
    ClickGridRow(0);
    QCOMPARE(DetailRow(1)->text(3), QStringLiteral("20.00"));
    SelectDetailRow(1);
    TWaitDialogDriver driver({TWaitDialogDriver::Await});
    QTest::mouseClick(Button(QStringLiteral("btnReadPrice")), Qt::LeftButton);
    QCOMPARE(driver.tips.size(), 1);
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(m_main->Data().grid.cell(0, 2), QStringLiteral("25.00"));
    QCOMPARE(Count(QStringLiteral("select LastCode from ReadingStatus where LocalItemID='123' and RivalWW='ShopA'")),
             0);
    QCOMPARE(Count(QStringLiteral("select count(*) from PriceHistory where LocalItemID='123' and RivalWW='ShopA'")), 1);
    QCOMPARE(m_main->Data().grid.cell(0, 3), QStringLiteral("-75.00"));
    QCOMPARE(DetailRow(1)->text(3), QStringLiteral("20.00"));
    QCOMPARE(DetailRow(1)->text(4), FormatReadingTime(kEarlier));
    ClickGridRow(0);
    QCOMPARE(DetailRow(1)->text(3), QStringLiteral("25.00"));
}

void TestUiDetail::ownItemIsReadWithOwnAccountAndStoredAddress_data() {
    QTest::addColumn<QString>("route");   // empty: the item has no address
    QTest::addColumn<QString>("seller");  // null: the page names no seller
    QTest::addColumn<QString>("message"); // empty: stored, no message
    QTest::newRow("empty address") << QString() << QString() << QStringLiteral("读取宝贝失败，请确认宝贝地址是否正确 ");
    QTest::newRow("page of a seller") << QStringLiteral("/own") << QStringLiteral("别人")
                                      << QStringLiteral("读到的宝贝不是您所选的卖家的，请输入正确的宝贝地址");
    QTest::newRow("page without seller") << QStringLiteral("/own") << QString() << QString();
}

void TestUiDetail::ownItemIsReadWithOwnAccountAndStoredAddress() {
    QFETCH(QString, route);
    QFETCH(QString, seller);
    QFETCH(QString, message);
    Seed({});
    m_db->exec(QStringLiteral("update Setting set WW=''"));
    const QString url = route.isEmpty() ? QString() : m_server->url(route);
    if (!route.isEmpty())
        m_server->route(route, ItemPage(QStringLiteral("新标题"), seller, QStringLiteral("66"), QStringLiteral("123")));
    AddItem(QStringLiteral("123"), QStringLiteral("标题"), 100, url);
    QVERIFY(OpenMain());
    m_main->SetFocusedRow(0);
    SelectDetailRow(0);
    TWaitDialogDriver driver({TWaitDialogDriver::Await});
    QTest::mouseClick(Button(QStringLiteral("btnReadPrice")), Qt::LeftButton);
    QCOMPARE(driver.tips, QStringList{QStringLiteral("正在读取  的宝贝，请稍候...")});
    if (message.isEmpty()) {
        QVERIFY(m_boxes.isEmpty());
        QCOMPARE(m_main->Data().grid.cell(0, 2), QStringLiteral("66.00"));
    } else {
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].kind, TBoxKind::Info);
        QCOMPARE(m_boxes[0].text, message);
        QCOMPARE(m_main->Data().grid.cell(0, 2), QStringLiteral("100.00"));
    }
}

void TestUiDetail::commandsReportMissingSelectionAndAddresses() {
    Seed({QStringLiteral("ShopA")});
    AddItem(QStringLiteral("123"), QStringLiteral("标题"), 100, QStringLiteral(" http://own/123 "));
    QVERIFY(OpenMain());
    m_main->SetFocusedRow(0);

    // Nothing selected: "查看宝贝" says so, like its neighbours, and opens nothing.
    QTest::mouseClick(Button(QStringLiteral("btnOpenURL")), Qt::LeftButton);
    QVERIFY(m_opened.isEmpty());
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].kind, TBoxKind::Info);
    QCOMPARE(m_boxes.takeFirst().text, QStringLiteral("请先选择您需要查看的宝贝"));
    QTest::mouseClick(Button(QStringLiteral("btnReadPrice")), Qt::LeftButton);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.takeFirst().text, QStringLiteral("请先选择您需要更新价格的宝贝"));

    SelectDetailRow(1);
    QTest::mouseClick(Button(QStringLiteral("btnReadPrice")), Qt::LeftButton);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.takeFirst().text, QStringLiteral("您还未设置对应 ShopA 的宝贝"));
    QTest::mouseClick(Button(QStringLiteral("btnOpenURL")), Qt::LeftButton);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.takeFirst().text, QStringLiteral("您未设置对应该卖家的宝贝"));
    QVERIFY(m_opened.isEmpty());

    SelectDetailRow(0);
    QTest::mouseClick(Button(QStringLiteral("btnOpenURL")), Qt::LeftButton);
    QCOMPARE(m_opened, QStringList{QStringLiteral("http://own/123")});
    QVERIFY(m_boxes.isEmpty());
}

void TestUiDetail::deletionAnsweredNoChangesNothing() {
    Seed({QStringLiteral("ShopA")});
    AddItem(QStringLiteral("123"), QStringLiteral("页面标题"), 100, {}, QStringLiteral("自定义"));
    AddReading(QStringLiteral("ShopA"), QStringLiteral("123"), QStringLiteral("9001"), {}, 1, kEarlier, {});
    QVERIFY(OpenMain());
    m_main->SetFocusedRow(0);
    m_answer = false;
    m_main->Command(QStringLiteral("btnDel"))->trigger();
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].kind, TBoxKind::Question);
    QCOMPARE(m_boxes[0].text, QStringLiteral("您确定您要删除 页面标题 吗？"));
    QCOMPARE(m_main->RowCount(), 1);
    QCOMPARE(Count(QStringLiteral("select count(*) from Items")), 1);
    QCOMPARE(Count(QStringLiteral("select count(*) from RivalItems")), 1);
}

void TestUiDetail::deletionAnsweredYesRemovesItemAndItsReadings() {
    Seed({QStringLiteral("ShopA")});
    AddItem(QStringLiteral("123"), QStringLiteral("页面标题"), 100, {}, QStringLiteral("自定义"));
    AddItem(QStringLiteral("1234"), QStringLiteral("另一件"), 50, {});
    AddReading(QStringLiteral("ShopA"), QStringLiteral("123"), QStringLiteral("9001"), {}, 1, kEarlier, {});
    AddReading(QStringLiteral("ShopA"), QStringLiteral("1234"), QStringLiteral("9002"), {}, 1, kEarlier, {});
    QVERIFY(OpenMain());
    m_main->SetFocusedRow(0);
    m_answer = true;
    m_main->findChild<QAction*>(QStringLiteral("mniN13"))->trigger();
    QCOMPARE(m_boxes.size(), 2);
    QCOMPARE(m_boxes[1].kind, TBoxKind::Info);
    QCOMPARE(m_boxes[1].text, QStringLiteral("页面标题 已被删除"));
    QCOMPARE(m_main->RowCount(), 1);
    QCOMPARE(m_main->ItemAt(0)->ItemID, QStringLiteral("1234"));
    QCOMPARE(Count(QStringLiteral("select count(*) from Items where ItemID='123'")), 0);
    QCOMPARE(Count(QStringLiteral("select count(*) from RivalItems where LocalItemID='123'")), 0);
    QCOMPARE(Count(QStringLiteral("select count(*) from RivalItems where LocalItemID='1234'")), 1);
    // The detail list follows the new focus.
    QCOMPARE(m_main->FocusedRow(), 0);
    QCOMPARE(DetailRow(0)->text(2), QStringLiteral("另一件"));
}

void TestUiDetail::keyboardNavigationKeepsDetailListInStep() {
    Seed({QStringLiteral("ShopA")});
    m_server->route(QStringLiteral("/a1"), ItemPage(QStringLiteral("A1"), QStringLiteral("ShopA"), QStringLiteral("1"),
                                                    QStringLiteral("8001")));
    m_server->route(QStringLiteral("/a2"), ItemPage(QStringLiteral("A2"), QStringLiteral("ShopA"), QStringLiteral("2"),
                                                    QStringLiteral("8002")));
    AddItem(QStringLiteral("111"), QStringLiteral("第一件"), 10, {});
    AddItem(QStringLiteral("222"), QStringLiteral("第二件"), 20, {});
    AddReading(QStringLiteral("ShopA"), QStringLiteral("111"), QStringLiteral("8001"), QStringLiteral("A1"), 1, {},
               m_server->url(QStringLiteral("/a1")));
    AddReading(QStringLiteral("ShopA"), QStringLiteral("222"), QStringLiteral("8002"), QStringLiteral("A2"), 2, {},
               m_server->url(QStringLiteral("/a2")));
    QVERIFY(OpenMain());
    ClickGridRow(0);
    QCOMPARE(DetailRow(0)->text(2), QStringLiteral("第一件"));
    TGridPartView* view = m_main->GridView()->leftPart();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Down);
    QCOMPARE(m_main->FocusedRow(), 1);
    QCOMPARE(DetailRow(0)->text(2), QStringLiteral("第二件"));
    QCOMPARE(DetailRow(1)->text(5), m_server->url(QStringLiteral("/a2")));

    SelectDetailRow(1);
    TWaitDialogDriver driver({TWaitDialogDriver::Await});
    QTest::mouseClick(Button(QStringLiteral("btnReadPrice")), Qt::LeftButton);
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(m_server->requestCount(QStringLiteral("/a2")), 1);
    QCOMPARE(m_server->requestCount(QStringLiteral("/a1")), 0);
    QCOMPARE(m_db->value(QStringLiteral("select LocalItemID from RivalItems where RivalItemID='8002'")).toString(),
             QStringLiteral("222"));
    QCOMPARE(m_main->Data().grid.cell(1, 2), QStringLiteral("2.00"));
}

void TestUiDetail::lateResultOfCancelledReadingDoesNotCloseNextWaitDialog() {
    Seed({QStringLiteral("ShopA")});
    // The own page answers soon with another seller's item; the rival page answers much later.
    m_server->route(QStringLiteral("/own"), Delayed(ItemPage(QStringLiteral("x"), QStringLiteral("别人"),
                                                             QStringLiteral("1"), QStringLiteral("123")),
                                                    300));
    m_server->route(QStringLiteral("/a"), Delayed(ItemPage(QStringLiteral("A"), QStringLiteral("ShopA"),
                                                           QStringLiteral("33"), QStringLiteral("9001")),
                                                  2500));
    AddItem(QStringLiteral("123"), QStringLiteral("标题"), 100, m_server->url(QStringLiteral("/own")));
    AddReading(QStringLiteral("ShopA"), QStringLiteral("123"), QStringLiteral("9001"), QStringLiteral("A"), 30,
               kEarlier, m_server->url(QStringLiteral("/a")));
    QVERIFY(OpenMain());
    m_main->SetFocusedRow(0);
    TWaitDialogDriver driver({TWaitDialogDriver::Cancel, TWaitDialogDriver::Await});
    QTest::mouseClick(Button(QStringLiteral("btnSetAllPrice")), Qt::LeftButton);
    QCOMPARE(driver.tips.size(), 2);
    // Had the second dialog taken the first reading's result, it would have closed early with
    // the seller message and without the rival's new price.
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(m_main->Data().grid.cell(0, 2), QStringLiteral("33.00"));
}

void TestUiDetail::readingAfterRefreshUsesTheFocusedItemsAddresses() {
    Seed({QStringLiteral("ShopA")});
    m_server->route(QStringLiteral("/a2"), ItemPage(QStringLiteral("A2"), QStringLiteral("ShopA"), QStringLiteral("2"),
                                                    QStringLiteral("8002")));
    AddItem(QStringLiteral("111"), QStringLiteral("第一件"), 10, {});
    AddItem(QStringLiteral("222"), QStringLiteral("第二件"), 20, {});
    AddReading(QStringLiteral("ShopA"), QStringLiteral("111"), QStringLiteral("8001"), QStringLiteral("A1"), 1, {},
               m_server->url(QStringLiteral("/a1")));
    AddReading(QStringLiteral("ShopA"), QStringLiteral("222"), QStringLiteral("8002"), QStringLiteral("A2"), 2, {},
               m_server->url(QStringLiteral("/a2")));
    QVERIFY(OpenMain());
    ClickGridRow(0);
    // A refresh rebuilds the detail rows; the focus then lands on the second item.
    m_main->RefreshAll();
    QCOMPARE(DetailRow(1)->text(2), QString());
    QSignalBlocker block(m_main->GridView());
    m_main->SetFocusedRow(1);
    SelectDetailRow(1);
    TWaitDialogDriver driver({TWaitDialogDriver::Await});
    m_main->btnReadPriceClick();
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(m_server->requestCount(QStringLiteral("/a1")), 0);
    QCOMPARE(m_server->requestCount(QStringLiteral("/a2")), 1);
    QCOMPARE(DetailRow(0)->text(2), QStringLiteral("第二件"));
}

void TestUiDetail::setItemCommandOpensMappingDialogForFocusedRow() {
    Seed({QStringLiteral("ShopA"), QStringLiteral("ShopB")});
    AddItem(QStringLiteral("123"), QStringLiteral("页面标题"), 100, QStringLiteral("http://own/123"),
            QStringLiteral("自定义"));
    AddReading(QStringLiteral("ShopB"), QStringLiteral("123"), QStringLiteral("9002"), {}, 1, kEarlier,
               QStringLiteral("http://b/1"));
    QVERIFY(OpenMain());

    QString itemId, itemName, itemURL, nameBox;
    QStringList rows;
    int openings = 0;
    TDialogWatcher<TFmItemURL> watcher([&](TFmItemURL* dialog) {
        ++openings;
        itemId = dialog->property("ItemID").toString();
        itemName = dialog->property("ItemName").toString();
        itemURL = dialog->property("ItemURL").toString();
        nameBox = dialog->edtItemName->text();
        for (int i = 0; i < dialog->lv->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = dialog->lv->topLevelItem(i);
            rows << row->text(0) + u'|' + row->text(1) + u'|' + row->text(2);
        }
        QTest::mouseClick(dialog->btnClose, Qt::LeftButton);
    });
    m_main->SetFocusedRow(-1);
    m_main->btn6Click(); // no focused row: nothing opens
    QCOMPARE(openings, 0);
    m_main->SetFocusedRow(0);
    QTest::mouseClick(Button(QStringLiteral("btnSetItem")), Qt::LeftButton);
    QCOMPARE(openings, 1);
    QCOMPARE(itemId, QStringLiteral("123"));
    QCOMPARE(itemName, QStringLiteral("页面标题"));
    QCOMPARE(itemURL, QStringLiteral("http://own/123"));
    QCOMPARE(nameBox, QStringLiteral("页面标题"));
    QCOMPARE(rows, (QStringList{QStringLiteral("1|ShopA|未设置"), QStringLiteral("2|ShopB|http://b/1")}));
}

void TestUiDetail::mappingToAnotherSellersPageKeepsPreviousAddress() {
    Seed({QStringLiteral("ShopA")});
    m_server->route(QStringLiteral("/other"), ItemPage(QStringLiteral("别家"), QStringLiteral("ShopX"),
                                                       QStringLiteral("1"), QStringLiteral("7777")));
    AddItem(QStringLiteral("123"), QStringLiteral("标题"), 100, {});
    AddReading(QStringLiteral("ShopA"), QStringLiteral("123"), QStringLiteral("9001"), {}, 1, kEarlier,
               QStringLiteral("http://old/item"));
    QVERIFY(OpenMain());
    TFmItemURL dialog(m_main.get());
    dialog.setProperty("ItemID", QStringLiteral("123"));
    dialog.setProperty("ItemName", QStringLiteral("标题"));
    dialog.show();
    QTreeWidgetItem* row = dialog.lv->topLevelItem(0);
    QTest::mouseClick(dialog.lv->viewport(), Qt::LeftButton, {}, dialog.lv->visualItemRect(row).center());
    QCOMPARE(dialog.edtURL->text(), QStringLiteral("http://old/item"));
    dialog.edtURL->setText(QStringLiteral("  ") + m_server->url(QStringLiteral("/other")) + QStringLiteral(" "));
    QTest::mouseClick(dialog.btnSet, Qt::LeftButton);
    QVERIFY(!dialog.btnSet->isEnabled() && !dialog.btnDel->isEnabled() && !dialog.btnClose->isEnabled());
    QCOMPARE(dialog.statPanel->text(), QStringLiteral("正在读取宝贝，请稍候..."));
    dialog.reject(); // cannot be closed during a reading
    QVERIFY(dialog.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.Reading(), 60000);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].kind, TBoxKind::Error);
    QCOMPARE(m_boxes[0].text, QStringLiteral("读到的宝贝不是您所选的卖家的，请输入正确的宝贝地址"));
    QCOMPARE(row->text(2), QStringLiteral("http://old/item"));
    QCOMPARE(dialog.statPanel->text(), QString());
    QVERIFY(dialog.btnSet->isEnabled() && dialog.btnDel->isEnabled() && dialog.btnClose->isEnabled());
    QCOMPARE(Count(QStringLiteral("select count(*) from RivalItems where RivalItemID='7777'")), 0);
    // The refusal is the page's last outcome, and its address the one tried.
    QCOMPARE(Count(QStringLiteral("select LastCode from ReadingStatus where LocalItemID='123' and RivalWW='ShopA'")),
             2);
    QCOMPARE(Count(QStringLiteral("select FailedInRow from ReadingStatus where LocalItemID='123'")), 1);
}

void TestUiDetail::mappingSetAndDeletedInOneOpening() {
    Seed({QStringLiteral("ShopA"), QStringLiteral("ShopB")});
    m_server->route(QStringLiteral("/b"), ItemPage(QStringLiteral("B的"), QStringLiteral("shopb"), QStringLiteral("5"),
                                                   QStringLiteral("9002")));
    AddItem(QStringLiteral("123"), QStringLiteral("标题"), 100, {});
    QVERIFY(OpenMain());
    TFmItemURL dialog(m_main.get());
    dialog.setProperty("ItemID", QStringLiteral("123"));
    dialog.show();
    dialog.edtURL->setText(m_server->url(QStringLiteral("/b")));
    QTest::mouseClick(dialog.btnSet, Qt::LeftButton); // no rival chosen yet
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.takeFirst().kind, TBoxKind::Plain);

    QTreeWidgetItem* row = dialog.lv->topLevelItem(1);
    QTest::mouseClick(dialog.lv->viewport(), Qt::LeftButton, {}, dialog.lv->visualItemRect(row).center());
    QCOMPARE(dialog.edtURL->text(), QString()); // "未设置" empties the box
    dialog.edtURL->setText(m_server->url(QStringLiteral("/b")));
    QTest::mouseClick(dialog.btnSet, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.Reading(), 60000);
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(row->text(2), m_server->url(QStringLiteral("/b")));
    QCOMPARE(dialog.lv->topLevelItem(0)->text(2), QStringLiteral("未设置"));
    QCOMPARE(m_db->value(QStringLiteral("select LocalItemID from RivalItems where RivalItemID='9002'")).toString(),
             QStringLiteral("123"));

    QTest::mouseClick(dialog.btnDel, Qt::LeftButton);
    QCOMPARE(row->text(2), QStringLiteral("未设置"));
    QCOMPARE(dialog.edtURL->text(), QString());
    QCOMPARE(Count(QStringLiteral("select count(*) from RivalItems")), 0);
    QVERIFY(m_boxes.isEmpty());

    QTest::mouseClick(dialog.btn1, Qt::LeftButton);
    QCOMPARE(m_opened, QStringList{QStringLiteral("http://shop.example/ShopB")});
}

void TestUiDetail::renamingTouchesOnlyTheExactItem() {
    Seed({});
    AddItem(QStringLiteral("123"), QStringLiteral("一号标题"), 1, {});
    AddItem(QStringLiteral("1234"), QStringLiteral("二号标题"), 2, {}, QStringLiteral("二号名字"));
    QVERIFY(OpenMain());
    TFmItemURL dialog(m_main.get());
    dialog.setProperty("ItemID", QStringLiteral("123"));
    dialog.setProperty("ItemName", QStringLiteral("一号标题"));
    dialog.show();
    dialog.edtItemName->setText(QStringLiteral(" 新名字 "));
    QTest::mouseClick(dialog.btnSaveItemName, Qt::LeftButton);
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(m_main->Data().grid.cell(0, 1), QStringLiteral("新名字"));
    QCOMPARE(m_main->ItemAt(0)->CustomItemName, QStringLiteral("新名字"));
    QCOMPARE(m_main->Data().grid.cell(1, 1), QStringLiteral("二号名字"));
    QCOMPARE(m_main->ItemAt(1)->CustomItemName, QStringLiteral("二号名字"));
    QCOMPARE(m_db->value(QStringLiteral("select CustomItemName from Items where ItemID='123'")).toString(),
             QStringLiteral("新名字"));
    QCOMPARE(m_db->value(QStringLiteral("select CustomItemName from Items where ItemID='1234'")).toString(),
             QStringLiteral("二号名字"));

    dialog.edtItemName->clear();
    QTest::mouseClick(dialog.btnSaveItemName, Qt::LeftButton);
    QCOMPARE(m_main->Data().grid.cell(0, 1), QStringLiteral("一号标题"));
    QCOMPARE(m_db->value(QStringLiteral("select CustomItemName from Items where ItemID='123'")).toString(), QString());
}

void TestUiDetail::enterInTheNameBoxKeepsACustomName() {
    Seed({});
    AddItem(QStringLiteral("123"), QStringLiteral("页面标题"), 1, {}, QStringLiteral("我起的名字"));
    QVERIFY(OpenMain());
    m_main->SetFocusedRow(0);
    QString tip;
    bool stayedOpen = false;
    QString afterTyped;
    TDialogWatcher<TFmItemURL> watcher([&](TFmItemURL* dialog) {
        QCOMPARE(dialog->edtItemName->text(), QStringLiteral("页面标题"));
        tip = dialog->edtItemName->toolTip();
        dialog->edtItemName->setFocus();
        QTest::keyClick(dialog->edtItemName, Qt::Key_Return);
        QTest::keyClick(dialog->edtItemName, Qt::Key_Enter);
        stayedOpen = dialog->isVisible();
        // A changed text is stored by Enter.
        dialog->edtItemName->setText(QStringLiteral("新名字"));
        QTest::keyClick(dialog->edtItemName, Qt::Key_Return);
        afterTyped = m_db->value(QStringLiteral("select CustomItemName from Items where ItemID='123'")).toString();
        dialog->edtItemName->setText(QStringLiteral("我起的名字"));
        QTest::mouseClick(dialog->btnSaveItemName, Qt::LeftButton);
        QTest::mouseClick(dialog->btnClose, Qt::LeftButton);
    });
    m_main->btn6Click();
    QVERIFY2(tip.contains(QStringLiteral("我起的名字")), qPrintable(tip));
    QVERIFY(stayedOpen);
    QCOMPARE(afterTyped, QStringLiteral("新名字"));
    QCOMPARE(m_db->value(QStringLiteral("select CustomItemName from Items where ItemID='123'")).toString(),
             QStringLiteral("我起的名字"));
    QCOMPARE(m_main->Data().grid.cell(0, 1), QStringLiteral("我起的名字"));
    QVERIFY(m_boxes.isEmpty());
}

void TestUiDetail::detailListIsReadAgainWhenTheMappingDialogCloses() {
    Seed({QStringLiteral("ShopA")});
    m_server->route(QStringLiteral("/a"), ItemPage(QStringLiteral("A的杯子"), QStringLiteral("ShopA"),
                                                   QStringLiteral("5"), QStringLiteral("9001")));
    AddItem(QStringLiteral("123"), QStringLiteral("标题"), 100, {});
    QVERIFY(OpenMain());
    ClickGridRow(0);
    QCOMPARE(DetailRow(1)->text(2), QStringLiteral("(未设置)"));
    TDialogWatcher<TFmItemURL> watcher([&](TFmItemURL* dialog) {
        QTreeWidgetItem* row = dialog->lv->topLevelItem(0);
        QTest::mouseClick(dialog->lv->viewport(), Qt::LeftButton, {}, dialog->lv->visualItemRect(row).center());
        dialog->edtURL->setText(m_server->url(QStringLiteral("/a")));
        QTest::mouseClick(dialog->btnSet, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->Reading(), 60000);
        QTest::mouseClick(dialog->btnClose, Qt::LeftButton);
    });
    QTest::mouseClick(Button(QStringLiteral("btnSetItem")), Qt::LeftButton);
    QCOMPARE(DetailRow(1)->text(2), QStringLiteral("A的杯子"));
    QCOMPARE(DetailRow(1)->text(5), m_server->url(QStringLiteral("/a")));
    // "更新所选宝贝" now finds the new mapping instead of reporting it missing.
    SelectDetailRow(1);
    TWaitDialogDriver driver({TWaitDialogDriver::Await});
    QTest::mouseClick(Button(QStringLiteral("btnReadPrice")), Qt::LeftButton);
    QCOMPARE(driver.tips.size(), 1);
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(m_server->requestCount(QStringLiteral("/a")), 2);
}

QTEST_MAIN(TestUiDetail)
#include "tst_ui_detail.moc"
