// A first start leads somewhere: the guide over the empty grid, the way from a refused own item
// to "我的旺旺", and the own band naming the account as soon as it is saved.
#include "app/UtMain.h"
#include "dialogs/UtAddItem.h"
#include "dialogs/UtOwnShop.h"
#include "support/DialogWatcher.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"
#include "widgets/UiGridModel.h"
#include "widgets/UiMessageBoxes.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

struct TBox {
    TBoxKind kind;
    QString text;
};

QByteArray ItemPage(const QString& seller) {
    return QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body>"
                          "<input type=\"hidden\" name=\"title\" value=\"杯子\" />"
                          "<input type=\"hidden\" name=\"seller_nickname\" value=\"%1\" />"
                          "<input type=\"hidden\" name=\"current_price\" value= \"9.90\" />"
                          "<input type=\"hidden\" name=\"item_id_num\" value=\"555\" /></body></html>")
        .arg(seller)
        .toUtf8();
}

} // namespace

class TstUiFirstStart final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TTestDatabase> m_db;
    std::unique_ptr<TFmMain> m_main;
    QList<TBox> m_boxes;
    bool m_answer = true;

    QString OwnBandCaption() const {
        const int last = m_main->GridModel()->columnCount() - 1;
        return m_main->GridModel()->headerData(last, Qt::Horizontal, TGridModel::BandCaptionRole).toString();
    }

private slots:
    void init() {
        m_boxes.clear();
        m_answer = true;
        m_db = std::make_unique<TTestDatabase>();
        m_db->exec(QStringLiteral("update Setting set WW='', UpdateTimeOut=60"));
        m_main = std::make_unique<TFmMain>(m_db->connection());
        m_main->ApplySettings();
        m_main->RefreshAll();
        SetMessageBoxHook([this](TBoxKind kind, const QString&, const QString& text) {
            m_boxes.append({kind, text});
            return m_answer;
        });
    }
    void cleanup() {
        SetMessageBoxHook(nullptr);
        m_main.reset();
        m_db.reset();
    }

    void emptyGridShowsTheFirstStepsAsLinks() {
        m_main->resize(1024, 700);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        QVERIFY(m_main->GuideShown());
        const QString guide = m_main->Guide()->text();
        for (const char* step : {"我的店铺", "我的旺旺", "我的店铺名称", "添加同行", "添加宝贝", "设置宝贝"})
            QVERIFY2(guide.contains(QString::fromUtf8(step)), step);
        QVERIFY(!m_main->Guide()->accessibleName().isEmpty());

        // The first step's link opens the own shop's window.
        TDialogWatcher<TFmOwnShop> watcher([](TFmOwnShop* dialog) { dialog->btnClose->click(); });
        emit m_main->Guide()->linkActivated(QStringLiteral("ownshop"));
        QCOMPARE(watcher.shown, 1);
        // The last one needs an item first, and says so.
        emit m_main->Guide()->linkActivated(QStringLiteral("map"));
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].kind, TBoxKind::Info);

        // With an item the grid speaks for itself.
        m_db->exec(QStringLiteral("insert into Items (ItemID, ItemName, Price) values ('1', '杯子', 1)"));
        m_main->RefreshAll();
        QVERIFY(!m_main->GuideShown());
        m_db->exec(QStringLiteral("delete from Items"));
        m_main->RefreshAll();
        QVERIFY(m_main->GuideShown());
    }

    void ownItemRefusedWithoutAccountLeadsToTheSettings() {
        TTestHttpServer server;
        server.route(QStringLiteral("/mine"), ItemPage(QStringLiteral("小店")));
        QCOMPARE(OwnBandCaption(), QStringLiteral("自己()"));
        TDialogWatcher<TFmOwnShop> settings([](TFmOwnShop* dialog) {
            QCOMPARE(dialog->focusWidget(), dialog->edtWW);
            dialog->edtWW->setText(QStringLiteral("小店"));
            dialog->btnSave->click();
        });
        TFmAddItem dialog(m_main.get());
        dialog.show();
        dialog.edtURL->setText(server.url(QStringLiteral("/mine")));
        dialog.btnOK->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.IsReading(), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(settings.shown, 1, 60000);
        // The specified box first, then the question, then the save's notice.
        QCOMPARE(m_boxes.size(), 3);
        QCOMPARE(m_boxes[0].text, QStringLiteral("这个不是您的宝贝，请输入您自己宝贝的地址"));
        QCOMPARE(m_boxes[1].kind, TBoxKind::Question);
        QVERIFY2(m_boxes[1].text.contains(QStringLiteral("我的旺旺")), qPrintable(m_boxes[1].text));
        QCOMPARE(m_boxes[2].text, QStringLiteral("保存成功"));
        // The own band names the account at once, and the page is now read as the user's.
        QCOMPARE(m_main->Data().OwnAccount, QStringLiteral("小店"));
        QCOMPARE(OwnBandCaption(), QStringLiteral("自己(小店)"));
        m_boxes.clear();
        dialog.btnOK->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.IsReading(), 60000);
        QCOMPARE(m_main->RowCount(), 1);
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].text, QStringLiteral("添加宝贝 \"杯子\" 成功"));
    }

    void refusalWithAnAccountAsksNothing() {
        TTestHttpServer server;
        server.route(QStringLiteral("/theirs"), ItemPage(QStringLiteral("别人")));
        m_db->exec(QStringLiteral("update Setting set WW='小店'"));
        m_main->ApplySettings();
        m_answer = false;
        TFmAddItem dialog(m_main.get());
        dialog.show();
        dialog.edtURL->setText(server.url(QStringLiteral("/theirs")));
        dialog.btnOK->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.IsReading(), 60000);
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].kind, TBoxKind::Info);
    }
};

QTEST_MAIN(TstUiFirstStart)
#include "tst_ui_firststart.moc"
