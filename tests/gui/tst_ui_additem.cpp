// The add own item dialog, offscreen, against pages on 127.0.0.1 and a real database file.
#include "app/UtMain.h"
#include "dialogs/UtAddItem.h"
#include "reader/UtReadItemThr.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"
#include "widgets/UiMessageBoxes.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStringEncoder>
#include <QTest>

#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

struct TBox {
    TBoxKind kind;
    QString caption;
    QString text;
    int rowsWhenShown;
};

QByteArray ItemPage(const QString& title, const QString& seller, const QString& itemId, const QString& price) {
    const QString html = QStringLiteral("<html><body>\n"
                                        "<input type=\"hidden\" name=\"title\" value=\"%1\" />\n"
                                        "<input type=\"hidden\" name=\"seller_nickname\" value=\"%2\" />\n"
                                        "<input type=\"hidden\" name=\"current_price\" value= \"%4\" />\n"
                                        "<input type=\"hidden\" name=\"item_id_num\" value=\"%3\" />\n"
                                        "<span>30天售出：</span><em>5</em>件\n</body></html>\n")
                             .arg(title, seller, itemId, price);
    QStringEncoder gbk("GBK");
    return gbk(html);
}

} // namespace

class TstUiAddItem final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TTestHttpServer> m_server;
    std::unique_ptr<TTestDatabase> m_db;
    std::unique_ptr<TFmMain> m_main;
    QList<TBox> m_boxes;

    std::unique_ptr<TFmAddItem> OpenDialog() {
        auto dialog = std::make_unique<TFmAddItem>(m_main.get());
        dialog->show();
        return dialog;
    }

    // "确定" with the given address, then waits for the result to be handled.
    void ReadAddress(TFmAddItem& dialog, const QString& address) {
        dialog.edtURL->setText(address);
        dialog.btnOK->click();
        QVERIFY(!dialog.btnOK->isEnabled());
        QVERIFY(!dialog.btnClose->isEnabled());
        QCOMPARE(dialog.StatusText(), QStringLiteral("正在读取宝贝，请稍候..."));
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.IsReading(), 60000);
        QVERIFY(dialog.btnOK->isEnabled());
        QVERIFY(dialog.btnClose->isEnabled());
    }

private slots:
    void initTestCase() {
        m_server = std::make_unique<TTestHttpServer>();
        m_server->route(QStringLiteral("/a"), ItemPage(QStringLiteral("蓝色连衣裙"), QStringLiteral("MyShop"),
                                                       QStringLiteral("1001"), QStringLiteral("99.00")));
        m_server->route(QStringLiteral("/b"), ItemPage(QStringLiteral("白色衬衫"), QStringLiteral("myshop"),
                                                       QStringLiteral("1002"), QStringLiteral("45.5")));
        m_server->route(QStringLiteral("/other"), ItemPage(QStringLiteral("别人的宝贝"), QStringLiteral("别人"),
                                                           QStringLiteral("3003"), QStringLiteral("1")));
        TTestResponse slow;
        slow.body =
            ItemPage(QStringLiteral("慢"), QStringLiteral("myshop"), QStringLiteral("4004"), QStringLiteral("1"));
        slow.delayMs = 1500;
        m_server->route(QStringLiteral("/slow"), slow);
    }
    void init() {
        m_boxes.clear();
        m_db = std::make_unique<TTestDatabase>();
        m_db->exec(QStringLiteral("update Setting set WW=?, UpdateTimeOut=60"), {QStringLiteral(" myshop ")});
        m_main = std::make_unique<TFmMain>(m_db->connection());
        m_main->ApplySettings();
        m_main->RefreshAll();
        SetMessageBoxHook([this](TBoxKind kind, const QString& caption, const QString& text) {
            m_boxes.append({kind, caption, text, m_main->RowCount()});
            return true;
        });
    }
    void cleanup() {
        SetMessageBoxHook(nullptr);
        m_main.reset();
        m_db.reset();
    }
    void cleanupTestCase() { m_server.reset(); }

    void windowHasItsCaptionsAndNoCloseBox() {
        auto dialog = OpenDialog();
        QCOMPARE(dialog->windowTitle(), QStringLiteral("添加需要跟同比较行价格的宝贝"));
        QCOMPARE(dialog->btnOK->text(), QStringLiteral("确定"));
        QCOMPARE(dialog->btnClose->text(), QStringLiteral("关闭"));
        QVERIFY(!(dialog->windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(dialog->windowFlags() & Qt::WindowSystemMenuHint));
        QVERIFY(dialog->edtURL->text().isEmpty());
        QVERIFY(dialog->btnOK->isEnabled());
        QVERIFY(!dialog->edtURL->accessibleName().isEmpty());
    }

    void okAddsItemAndRebuildsGridBeforeTheBox() {
        auto dialog = OpenDialog();
        ReadAddress(*dialog, m_server->url(QStringLiteral("/a")));
        const QString text = QStringLiteral("添加宝贝 \"蓝色连衣裙\" 成功");
        QCOMPARE(dialog->StatusText(), text);
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].kind, TBoxKind::Info);
        QCOMPARE(m_boxes[0].caption, QStringLiteral("提示"));
        QCOMPARE(m_boxes[0].text, text);
        QCOMPARE(m_boxes[0].rowsWhenShown, 1); // the grid was rebuilt before the box
        QCOMPARE(m_main->RowCount(), 1);
        QCOMPARE(m_main->ItemAt(0)->ItemName, QStringLiteral("蓝色连衣裙"));
        QCOMPARE(m_main->ItemAt(0)->Price, 99.0);
        // The address stays for the next reading.
        QCOMPARE(dialog->edtURL->text(), m_server->url(QStringLiteral("/a")));
    }

    void twoItemsInOneOpeningThenAnUpdate() {
        auto dialog = OpenDialog();
        ReadAddress(*dialog, m_server->url(QStringLiteral("/a")));
        ReadAddress(*dialog, m_server->url(QStringLiteral("/b")));
        QCOMPARE(m_main->RowCount(), 2);
        QCOMPARE(m_boxes.size(), 2);
        QCOMPARE(m_boxes[1].text, QStringLiteral("添加宝贝 \"白色衬衫\" 成功"));
        QCOMPARE(m_boxes[1].rowsWhenShown, 2);

        m_db->exec(QStringLiteral("update Items set CustomItemName='我的裙子' where ItemID='1001'"));
        ReadAddress(*dialog, m_server->url(QStringLiteral("/a")));
        const QString text = QStringLiteral("修改宝贝 \"蓝色连衣裙\" 成功");
        QCOMPARE(dialog->StatusText(), text);
        QCOMPARE(m_boxes.last().text, text);
        QCOMPARE(m_main->RowCount(), 2);
        QCOMPARE(m_db->value(QStringLiteral("select CustomItemName from Items where ItemID='1001'")).toString(),
                 QStringLiteral("我的裙子"));
        QCOMPARE(m_db->value(QStringLiteral("select LastCode from ReadingStatus where LocalItemID='1001'")).toInt(), 0);

        // A stored item's address that fails now: its outcome is found by the address.
        m_server->route(QStringLiteral("/a"), TTestResponse{500, "down", {}});
        ReadAddress(*dialog, m_server->url(QStringLiteral("/a")));
        QCOMPARE(m_db->value(QStringLiteral("select LastCode from ReadingStatus where LocalItemID='1001'")).toInt(), 4);
        QCOMPARE(m_db->value(QStringLiteral("select FailedInRow from ReadingStatus where LocalItemID='1001'")).toInt(),
                 1);
    }

    void wrongSellerReportsOnlyInTheBox() {
        auto dialog = OpenDialog();
        ReadAddress(*dialog, m_server->url(QStringLiteral("/other")));
        QVERIFY(dialog->StatusText().isEmpty());
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].kind, TBoxKind::Info);
        QCOMPARE(m_boxes[0].text, QStringLiteral("这个不是您的宝贝，请输入您自己宝贝的地址"));
        QCOMPARE(m_main->RowCount(), 0);
        // A new address refused before it became an item has no page to be recorded under.
        QCOMPARE(m_db->value(QStringLiteral("select count(*) from ReadingStatus")).toInt(), 0);
    }

    void emptyAddressStillReadsAndFails() {
        auto dialog = OpenDialog();
        ReadAddress(*dialog, QString());
        QCOMPARE(dialog->StatusText(), QStringLiteral("读取宝贝失败，请确认宝贝地址是否正确: ") + AddressTexts::Empty);
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].kind, TBoxKind::Info);
        QCOMPARE(m_boxes[0].text, QStringLiteral("读取宝贝失败，请确认宝贝地址是否正确: \r\n") + AddressTexts::Empty);
    }

    void pageWithoutItemIdEndsAfterTheColon() {
        m_server->route(QStringLiteral("/empty"), QByteArray("<html></html>"));
        auto dialog = OpenDialog();
        ReadAddress(*dialog, m_server->url(QStringLiteral("/empty")));
        QCOMPARE(dialog->StatusText(), QStringLiteral("读取宝贝失败，请确认宝贝地址是否正确: "));
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].text, QStringLiteral("读取宝贝失败，请确认宝贝地址是否正确: \r\n"));
    }

    void addressIsHandedOverAsTyped() {
        auto dialog = OpenDialog();
        const QString typed = QStringLiteral("  ") + m_server->url(QStringLiteral("/b")) + QStringLiteral(" ");
        ReadAddress(*dialog, typed);
        QCOMPARE(m_db->value(QStringLiteral("select URL from Items")).toString(), typed);
    }

    void cannotBeClosedWhileReading() {
        auto dialog = OpenDialog();
        dialog->edtURL->setText(m_server->url(QStringLiteral("/slow")));
        dialog->btnOK->click();
        QVERIFY(dialog->IsReading());
        dialog->reject();
        dialog->close();
        QVERIFY(dialog->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->IsReading(), 60000);
        dialog->btnClose->click();
        QVERIFY(!dialog->isVisible());
    }

    void foreignResultIsIgnored() {
        auto dialog = OpenDialog();
        PostMessageToWindow(dialog->Handle(), WM_ADDITEM_RESULT, TReadItem::rcAdded, 999);
        QCoreApplication::sendPostedEvents(dialog.get());
        QVERIFY(m_boxes.isEmpty());
        QVERIFY(dialog->StatusText().isEmpty());
    }
};

QTEST_MAIN(TstUiAddItem)
#include "tst_ui_additem.moc"
