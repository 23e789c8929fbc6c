// The own shop's window ("我的旺旺", "我的店铺名称") and the rules it shares with the command-line
// tool: what is saved, what an untouched box keeps, and a page that names only the shop.
#include "app/UtMain.h"
#include "catalogue/Settings.h"
#include "dialogs/UtAddItem.h"
#include "dialogs/UtOwnShop.h"
#include "reader/ReadModes.h"
#include "support/DialogWatcher.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"
#include "widgets/UiGridModel.h"
#include "widgets/UiMessageBoxes.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProcess>
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

// A newer own page: item id, title and price in its script data, the shop by name only.
QByteArray ShopNamedPage() {
    return QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body><script>var d = {item: {itemId: "
                          "'5005', title: '我的台灯'}, seller: {shopName: '我的灯具店'}, price: {price: "
                          "{priceText: '88.00'}}};</script></body></html>")
        .toUtf8();
}

} // namespace

class TstUiOwnShop final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TTestDatabase> m_db;
    std::unique_ptr<TFmMain> m_main;
    QList<TBox> m_boxes;

    std::unique_ptr<TFmOwnShop> OpenDialog() {
        auto dialog = std::make_unique<TFmOwnShop>(m_main.get());
        dialog->show();
        return dialog;
    }
    QString StoredAccount() const { return m_db->value(QStringLiteral("select WW from Setting")).toString(); }
    QString StoredShopName() const { return OwnShopName(m_db->connection()); }
    QString OwnBandCaption() const {
        const int last = m_main->GridModel()->columnCount() - 1;
        return m_main->GridModel()->headerData(last, Qt::Horizontal, TGridModel::BandCaptionRole).toString();
    }

private slots:
    void init() {
        m_boxes.clear();
        m_db = std::make_unique<TTestDatabase>();
        m_db->exec(QStringLiteral("update Setting set UpdateTimeOut=60, WW='shopa'"));
        m_main = std::make_unique<TFmMain>(m_db->connection());
        m_main->ApplySettings();
        m_main->RefreshAll();
        SetMessageBoxHook([this](TBoxKind kind, const QString&, const QString& text) {
            m_boxes.append({kind, text});
            return true;
        });
    }
    void cleanup() {
        SetMessageBoxHook(nullptr);
        m_main.reset();
        m_db.reset();
    }

    void menuEntryAfterTheListedOnesOpensTheWindow() {
        auto* menu = m_main->menuBar()->findChild<QMenu*>(QStringLiteral("mniN6"));
        QVERIFY(menu);
        const QList<QAction*> entries = menu->actions();
        QAction* entry = m_main->findChild<QAction*>(QStringLiteral("mniOwnShop"));
        QVERIFY(entry);
        QCOMPARE(entry->text(), QStringLiteral("我的店铺…(&S)"));
        QVERIFY(entries.indexOf(entry) > entries.indexOf(m_main->findChild<QAction*>(QStringLiteral("mniN10"))));
        TDialogWatcher<TFmOwnShop> watcher([](TFmOwnShop* dialog) { dialog->btnClose->click(); });
        entry->trigger();
        QCOMPARE(watcher.shown, 1);
    }

    void showsCaptionsNamesAndStoredValues() {
        SetOwnShopName(m_db->connection(), QStringLiteral("我的灯具店"));
        auto dialog = OpenDialog();
        QCOMPARE(dialog->windowTitle(), QStringLiteral("我的店铺"));
        QCOMPARE(dialog->edtWW->text(), QStringLiteral("shopa"));
        QCOMPARE(dialog->edtShopName->text(), QStringLiteral("我的灯具店"));
        QStringList labels;
        for (const QLabel* label : dialog->findChildren<QLabel*>())
            labels << label->text();
        QCOMPARE(labels, (QStringList{QStringLiteral("我的旺旺"), QStringLiteral("我的店铺名称")}));
        for (const QWidget* control : dialog->findChildren<QWidget*>()) {
            if (qobject_cast<const QLineEdit*>(control) || qobject_cast<const QPushButton*>(control))
                QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
        }
        QCOMPARE(dialog->edtShopName->accessibleName(), QStringLiteral("我的店铺名称"));
        QCOMPARE(dialog->btnSave->text(), QStringLiteral("保存"));
        QCOMPARE(dialog->btnClose->text(), QStringLiteral("取消"));
    }

    void savedValuesAreTrimmedAppliedAndShownOnReopening() {
        {
            auto dialog = OpenDialog();
            dialog->edtWW->setText(QStringLiteral("  小店掌柜\t"));
            dialog->edtShopName->setText(QStringLiteral(" 我的灯具店 "));
            dialog->btnSave->click();
            QVERIFY(!dialog->isVisible());
            QCOMPARE(dialog->result(), int(QDialog::Accepted));
        }
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].kind, TBoxKind::Plain);
        QCOMPARE(m_boxes[0].text, QStringLiteral("保存成功"));
        QCOMPARE(StoredAccount(), QStringLiteral("小店掌柜"));
        QCOMPARE(StoredShopName(), QStringLiteral("我的灯具店"));
        QCOMPARE(m_main->Data().OwnAccount, QStringLiteral("小店掌柜"));
        QCOMPARE(OwnBandCaption(), QStringLiteral("自己(小店掌柜)"));
        auto again = OpenDialog();
        QCOMPARE(again->edtWW->text(), QStringLiteral("小店掌柜"));
        QCOMPARE(again->edtShopName->text(), QStringLiteral("我的灯具店"));
    }

    void cancelStoresNothing() {
        auto dialog = OpenDialog();
        dialog->edtWW->setText(QStringLiteral("other"));
        dialog->edtShopName->setText(QStringLiteral("别的店"));
        dialog->btnClose->click();
        QVERIFY(!dialog->isVisible());
        QVERIFY(m_boxes.isEmpty());
        QCOMPARE(StoredAccount(), QStringLiteral("shopa"));
        QCOMPARE(StoredShopName(), QString());
    }

    // A box the user did not touch never empties or overwrites a value stored meanwhile.
    void onlyWhatTheUserChangedIsWritten() {
        SetOwnShopName(m_db->connection(), QStringLiteral("老店名"));
        {
            auto dialog = OpenDialog();
            // Another program changes both while the window is open.
            m_db->exec(QStringLiteral("update Setting set WW='shopz'"));
            SetOwnShopName(m_db->connection(), QStringLiteral("新店名"));
            dialog->edtShopName->setText(QStringLiteral("我的灯具店"));
            dialog->btnSave->click();
        }
        QCOMPARE(StoredAccount(), QStringLiteral("shopz"));
        QCOMPARE(StoredShopName(), QStringLiteral("我的灯具店"));
        QCOMPARE(m_main->Data().OwnAccount, QStringLiteral("shopa"));
        // Clearing a box is the user's word.
        {
            auto dialog = OpenDialog();
            dialog->edtShopName->clear();
            dialog->btnSave->click();
        }
        QCOMPARE(StoredShopName(), QString());
        QCOMPARE(StoredAccount(), QStringLiteral("shopz"));
    }

    void missingRowGetsTheAccountInUse() {
        m_db->exec(QStringLiteral("delete from Setting"));
        auto dialog = OpenDialog();
        QCOMPARE(dialog->edtWW->text(), QStringLiteral("shopa"));
        dialog->edtShopName->setText(QStringLiteral("我的灯具店"));
        dialog->btnSave->click();
        QCOMPARE(m_db->value(QStringLiteral("select count(*) from Setting")).toInt(), 1);
        QCOMPARE(StoredAccount(), QStringLiteral("shopa"));
        QCOMPARE(StoredShopName(), QStringLiteral("我的灯具店"));
    }

    void commandLineUsesTheSameStore() {
        QProcess cli;
        cli.setWorkingDirectory(m_db->dir());
        cli.start(QStringLiteral(VANTERO_CLI), {QStringLiteral("--db"), m_db->path(), QStringLiteral("settings"),
                                                QStringLiteral("--own-shop"), QStringLiteral("  命令行店  ")});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        auto dialog = OpenDialog();
        QCOMPARE(dialog->edtShopName->text(), QStringLiteral("命令行店"));
        QCOMPARE(dialog->edtWW->text(), QStringLiteral("shopa"));
    }

    // An own page that names only its shop is the user's once the shop's name is set here.
    void pageNamingOnlyTheShopIsReadByTheShopName() {
        TTestHttpServer server;
        server.route(QStringLiteral("/own.htm?id=5005"), ShopNamedPage(), "text/html; charset=utf-8");
        TFmAddItem adder(m_main.get());
        adder.show();
        adder.edtURL->setText(server.url(QStringLiteral("/own.htm?id=5005")));
        adder.btnOK->click();
        QTRY_VERIFY_WITH_TIMEOUT(!adder.IsReading(), 60000);
        QCOMPARE(m_main->RowCount(), 0);
        QCOMPARE(m_boxes.value(0).text, QStringLiteral("这个不是您的宝贝，请输入您自己宝贝的地址"));

        {
            auto dialog = OpenDialog();
            dialog->edtShopName->setText(QStringLiteral("我的灯具店"));
            dialog->btnSave->click();
        }
        m_boxes.clear();
        adder.btnOK->click();
        QTRY_VERIFY_WITH_TIMEOUT(!adder.IsReading(), 60000);
        QCOMPARE(m_main->RowCount(), 1);
        QCOMPARE(m_boxes.value(0).text, QStringLiteral("添加宝贝 \"我的台灯\" 成功"));
        QCOMPARE(m_db->value(QStringLiteral("select Price from Items where ItemID='5005'")).toDouble(), 88.0);
    }
};

QTEST_MAIN(TstUiOwnShop)
#include "tst_ui_ownshop.moc"
