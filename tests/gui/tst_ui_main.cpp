// The main window on a prepared database, looked at through its models and controls.
#include "app/UtMain.h"
#include "support/TestDatabase.h"
#include "widgets/UiGridModel.h"
#include "widgets/UiGridView.h"
#include "widgets/UiMessageBoxes.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

using namespace vantero;
using namespace vantero::test;

class TestUiMain : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void startUpShowsBandsCaptionsCellsAndColours();
    void startUpArmsTheTimerFromTheSettingRow();
    void toolBarAndMenuCarryTheirCaptionsInOrder();
    void withoutRivalsTheDetailListHasOnlyTheOwnRow();
    void refreshRowUpdatesOneRowAndLeavesTheDetailList();
    void refreshDataRebuildsAfterAShopIsAdded();
    void theFrozenPartsShowTheirBandsOnly();
    void exitClosesTheWindow();

private:
    QStringList m_boxes;
};

void TestUiMain::init() {
    m_boxes.clear();
    SetMessageBoxHook([this](TBoxKind, const QString&, const QString& text) {
        m_boxes << text;
        return false;
    });
}

void TestUiMain::cleanup() {
    SetMessageBoxHook({});
}

static void Prepare(TTestDatabase& db) {
    db.exec(QStringLiteral("update Setting set UpdateTimeOut=15, WW='我的店'"));
    db.exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('同行甲', 'http://a.taobao.com/'), "
                           "('ShopB', 'http://b.taobao.com/')"));
    db.exec(QStringLiteral("insert into Items (ItemID, ItemName, CustomItemName, Price, SellCount) values "
                           "('123', '杯子', '', 100, 12), ('1234', '盘子', '我的盘子', 20, 0)"));
    db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, Price, SellCount) values "
                           "('同行甲', '123', '9', 98.5, 7), ('shopb', '1234', '8', 25, 3)"));
}

void TestUiMain::startUpShowsBandsCaptionsCellsAndColours() {
    TTestDatabase db;
    Prepare(db);
    TFmMain main(db.connection());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QCOMPARE(main.windowTitle(), QStringLiteral("Corvessa--Tessaly V3.01"));
    QCOMPARE(ApplicationTitle(), main.windowTitle());

    TGridModel* model = main.GridModel();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->columnCount(), 3 * 2 + 4);
    auto band = [model](int column) {
        return model->headerData(column, Qt::Horizontal, TGridModel::BandCaptionRole).toString();
    };
    QCOMPARE(band(0), QString());
    QCOMPARE(band(2), QStringLiteral("同行甲"));
    QCOMPARE(band(7), QStringLiteral("ShopB"));
    QCOMPARE(band(9), QStringLiteral("自己(我的店)"));
    QCOMPARE(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("差价"));
    QCOMPARE(model->headerData(9, Qt::Horizontal).toString(), QStringLiteral("本期售出"));

    auto text = [model](int row, int column) { return model->index(row, column).data().toString(); };
    QCOMPARE(text(0, 1), QStringLiteral("杯子"));
    QCOMPARE(text(1, 1), QStringLiteral("我的盘子"));
    QCOMPARE(text(0, 2), QStringLiteral("98.50"));
    QCOMPARE(text(0, 3), QStringLiteral("-1.50"));
    QCOMPARE(text(1, 5), QStringLiteral("25.00"));
    QCOMPARE(text(1, 6), QStringLiteral("5.00"));
    QCOMPARE(text(0, 5), QString());

    auto colour = [model](int row, int column, int role) {
        return model->index(row, column).data(role).value<QColor>();
    };
    QCOMPARE(colour(0, 3, Qt::ForegroundRole), QColor(0xFF, 0, 0));    // cheaper rival: red
    QCOMPARE(colour(1, 6, Qt::ForegroundRole), QColor(0x80, 0, 0x80)); // dearer rival: purple
    QCOMPARE(colour(0, 2, Qt::ForegroundRole), QColor(0, 0, 0xFF));    // prices blue
    QCOMPARE(colour(0, 1, Qt::ForegroundRole), QColor(0, 0x80, 0));    // names green
    QCOMPARE(colour(0, 9, Qt::BackgroundRole), QColor(0xC0, 0xDC, 0xC0));
    QCOMPARE(colour(0, 0, Qt::BackgroundRole), QApplication::palette().color(QPalette::Button));
    QVERIFY(model->index(0, 0).data(Qt::FontRole).value<QFont>().bold());
    QVERIFY(!model->index(0, 1).data(Qt::FontRole).value<QFont>().bold());

    // The rules hold for a selected row as well: the model does not know about selection.
    main.SetFocusedRow(0);
    QCOMPARE(colour(0, 3, Qt::ForegroundRole), QColor(0xFF, 0, 0));
}

void TestUiMain::startUpArmsTheTimerFromTheSettingRow() {
    TTestDatabase db;
    Prepare(db);
    TFmMain main(db.connection());
    QVERIFY(!main.UpdateTimer()->isActive());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QVERIFY(main.UpdateTimer()->isActive());
    QCOMPARE(main.UpdateTimer()->interval(), 15 * 60 * 1000);
    QCOMPARE(TFmMain::TimerIntervalFor(14 * 24 * 60 * 60), INT_MAX); // beyond what a timer counts
    main.SetUpdateInterval(15);
    QCOMPARE(main.UpdateTimer()->interval(), 900000);
    main.SetUpdateInterval(60);
    QCOMPARE(main.UpdateTimer()->interval(), 3600000);
}

void TestUiMain::toolBarAndMenuCarryTheirCaptionsInOrder() {
    TTestDatabase db;
    TFmMain main(db.connection());
    auto* toolbar = main.findChild<QToolBar*>(QStringLiteral("tb1"));
    QVERIFY(toolbar);
    QStringList captions;
    for (QAction* action : toolbar->actions())
        captions << action->text();
    // The listed buttons in their order, then the added ones.
    QCOMPARE(captions, (QStringList{QStringLiteral("刷新数据"), QStringLiteral("系统设置"), QStringLiteral("更新所有"),
                                    QStringLiteral("添加同行"), QStringLiteral("添加宝贝"), QStringLiteral("设置宝贝"),
                                    QStringLiteral("删除宝贝"), QStringLiteral("数据导入"), QStringLiteral("升级"),
                                    QStringLiteral("使用说明"), QStringLiteral("关于"), QStringLiteral("退出"),
                                    QStringLiteral("停止更新")}));
    QCOMPARE(toolbar->iconSize(), QSize(32, 32));
    for (QAction* action : toolbar->actions()) {
        QVERIFY2(!action->icon().isNull(), qPrintable(action->text()));
        QCOMPARE(toolbar->widgetForAction(action)->accessibleName(), action->text());
    }
    QStringList menus;
    for (QAction* action : main.menuBar()->actions())
        menus << action->text();
    QCOMPARE(menus, (QStringList{QStringLiteral("系统"), QStringLiteral("操作"), QStringLiteral("帮助")}));
    QStringList operations;
    for (QAction* action : main.menuBar()->actions()[1]->menu()->actions())
        operations << (action->isSeparator() ? QStringLiteral("-") : action->text());
    // Entries added beyond these come after them.
    QCOMPARE(operations.mid(0, 8),
             (QStringList{QStringLiteral("刷新数据"), QStringLiteral("-"), QStringLiteral("添加对手"),
                          QStringLiteral("添加宝贝"), QStringLiteral("-"), QStringLiteral("删除宝贝"),
                          QStringLiteral("-"), QStringLiteral("宝贝设置")}));
    QVERIFY(operations.indexOf(QStringLiteral("读取失败的宝贝(&F)")) > 8);
    for (const char* name : {"btnSetItem", "btnReadPrice", "btnSetAllPrice", "btnOpenURL"}) {
        auto* button = main.findChild<QPushButton*>(QLatin1String(name));
        QVERIFY(button);
        QCOMPARE(button->accessibleName(), button->text());
    }
}

void TestUiMain::withoutRivalsTheDetailListHasOnlyTheOwnRow() {
    TTestDatabase db;
    db.exec(QStringLiteral("insert into Items (ItemID, Price) values ('1', 5)"));
    TFmMain main(db.connection());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QTreeWidget* detail = main.DetailList();
    QCOMPARE(detail->topLevelItemCount(), 1);
    QCOMPARE(detail->topLevelItem(0)->text(0), QStringLiteral("1"));
    QCOMPARE(detail->topLevelItem(0)->text(1), QStringLiteral("自己"));
    QCOMPARE(main.GridModel()->columnCount(), 4);
    QCOMPARE(main.GridModel()->headerData(3, Qt::Horizontal, TGridModel::BandCaptionRole).toString(),
             QStringLiteral("自己()"));
}

void TestUiMain::refreshRowUpdatesOneRowAndLeavesTheDetailList() {
    TTestDatabase db;
    Prepare(db);
    TFmMain main(db.connection());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    const QStringList detailBefore = [&] {
        QStringList texts;
        for (int i = 0; i < main.DetailList()->topLevelItemCount(); ++i)
            texts << main.DetailList()->topLevelItem(i)->text(3);
        return texts;
    }();
    // Qt's own checks of the model's contract run through every change below.
    QAbstractItemModelTester tester(main.GridModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy changed(main.GridModel(), &QAbstractItemModel::dataChanged);
    QSignalSpy reset(main.GridModel(), &QAbstractItemModel::modelReset);
    db.exec(QStringLiteral("update RivalItems set Price=101 where RivalItemID='9'"));
    main.RefreshRow(0);
    QCOMPARE(main.GridModel()->index(0, 3).data().toString(), QStringLiteral("1.00"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).value<QModelIndex>().row(), 0);
    QCOMPARE(reset.count(), 0);
    QStringList detailAfter;
    for (int i = 0; i < main.DetailList()->topLevelItemCount(); ++i)
        detailAfter << main.DetailList()->topLevelItem(i)->text(3);
    QCOMPARE(detailAfter, detailBefore);
}

void TestUiMain::refreshDataRebuildsAfterAShopIsAdded() {
    TTestDatabase db;
    Prepare(db);
    TFmMain main(db.connection());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QAbstractItemModelTester tester(main.GridModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    db.exec(QStringLiteral("insert into Rival (RivalWW) values ('ShopC')"));
    main.Command(QStringLiteral("btnRefresh"))->trigger();
    QCOMPARE(main.GridModel()->columnCount(), 3 * 3 + 4);
    QCOMPARE(main.DetailList()->topLevelItemCount(), 4);
    QCOMPARE(main.DetailList()->topLevelItem(3)->text(1), QStringLiteral("ShopC"));
    QVERIFY(m_boxes.isEmpty());
}

void TestUiMain::theFrozenPartsShowTheirBandsOnly() {
    TTestDatabase db;
    Prepare(db);
    TFmMain main(db.connection());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    TGridView* view = main.GridView();
    auto visible = [](QTableView* part) {
        QList<int> columns;
        for (int c = 0; c < part->model()->columnCount(); ++c)
            if (!part->isColumnHidden(c))
                columns << c;
        return columns;
    };
    QCOMPARE(visible(view->leftPart()), (QList<int>{0, 1}));
    QCOMPARE(visible(view->middlePart()), (QList<int>{2, 3, 4, 5, 6, 7}));
    QCOMPARE(visible(view->rightPart()), (QList<int>{8, 9}));
    // One selection: a row chosen in one part is the focused row in all.
    view->middlePart()->selectRow(1);
    QCOMPARE(main.FocusedRow(), 1);
    QVERIFY(view->leftPart()->selectionModel()->isRowSelected(1, {}));
}

void TestUiMain::exitClosesTheWindow() {
    TTestDatabase db;
    TFmMain main(db.connection());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    main.Command(QStringLiteral("btn5"))->trigger();
    QVERIFY(!main.isVisible());
    main.show();
    main.findChild<QAction*>(QStringLiteral("mniN5"))->trigger();
    QVERIFY(!main.isVisible());
}

QTEST_MAIN(TestUiMain)
#include "tst_ui_main.moc"
