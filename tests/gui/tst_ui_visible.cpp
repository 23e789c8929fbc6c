// What the user sees of every window: titles as the window system shows them, Qt's own texts in
// Chinese, the grid's frozen edges, legible selections, the detail columns, what screen readers
// read, sizes and placement.
#include "app/UiTranslations.h"
#include "app/UtMain.h"
#include "app/UtUpdateing.h"
#include "dialogs/UtAbout.h"
#include "dialogs/UtAddItem.h"
#include "dialogs/UtItemURL.h"
#include "dialogs/UtOwnShop.h"
#include "dialogs/UtRival.h"
#include "dialogs/UtWeb.h"
#include "dialogs/utDataImport.h"
#include "dialogs/utSetting.h"
#include "support/TestDatabase.h"
#include "widgets/UiGridView.h"
#include "widgets/UiMessageBoxes.h"
#include "widgets/UiStatusPanels.h"
#include "widgets/UiWidgets.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include <cmath>
#include <functional>
#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

// The title a desktop window system shows: Qt's platform windows append " — " and the
// application display name, unless the title already ends with it or no display name is set
// (then applicationDisplayName() falls back to applicationName()).
QString WindowSystemTitle(const QWidget& window) {
    const QWindow* handle = window.windowHandle();
    const QString title = handle ? handle->title() : QString();
    const QString display = QGuiApplication::applicationDisplayName();
    if (display.isEmpty() || display == QCoreApplication::applicationName() || title.endsWith(display))
        return title;
    return title + QStringLiteral(" \u2014 ") + display;
}

// Runs trigger; the first modal message box it opens is handed to inspect, then answered.
void WithRealBox(const std::function<void()>& trigger, const std::function<void(QMessageBox&)>& inspect) {
    bool seen = false;
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->windowHandle() || !box->isVisible())
            return;
        poll->stop();
        seen = true;
        inspect(*box);
        box->done(0);
    });
    poll->start();
    trigger();
    delete poll;
    QVERIFY2(seen, "no message box was shown");
}

double Luminance(QRgb c) {
    auto lin = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(qRed(c)) + 0.7152 * lin(qGreen(c)) + 0.0722 * lin(qBlue(c));
}

// The contrast between a row's background (its most frequent colour) and its most distinct
// pixel, as drawn: 1 means nothing can be read, 21 is black on white.
double DrawnContrast(const QImage& image, const QRect& area) {
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y) | 0xFF000000];
    }
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    }
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const double a = Luminance(background) + 0.05;
        const double b = Luminance(it.key()) + 0.05;
        best = std::max(best, std::max(a, b) / std::min(a, b));
    }
    return best;
}

} // namespace

class TestUiVisible : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowTitlesStandWithoutSuffix_data();
    void windowTitlesStandWithoutSuffix();
    void messageBoxTitlesStandWithoutSuffix_data();
    void messageBoxTitlesStandWithoutSuffix();
    void qtButtonsReadChinese();
    void gridBandsKeepToTheEdges_data();
    void gridBandsKeepToTheEdges();
    void selectedRowsStayLegible_data();
    void selectedRowsStayLegible();
    void detailListShowsWholeTimesAndNoAddress_data();
    void detailListShowsWholeTimesAndNoAddress();
    void statusPanelsExposeTheirTexts_data();
    void statusPanelsExposeTheirTexts();
    void bandCaptionsAndTheItemAddressAreExposed();
    void settingsDialogHasItsClientSize();
    void dialogsOpenOnTheScreensCentre_data();
    void dialogsOpenOnTheScreensCentre();
    void mappingListDrawsGridLines();
    void trayRestoreBringsBackTheStateTheUserLeft_data();
    void trayRestoreBringsBackTheStateTheUserLeft();
    void clickOnTheSplitterBarCollapsesAndRestoresTheDetailPanel();

private:
    std::unique_ptr<TTestDatabase> m_db;
    std::unique_ptr<TFmMain> m_main;
};

void TestUiVisible::initTestCase() {
    QVERIFY(LoadQtChineseTranslations(*QCoreApplication::instance()));
}

void TestUiVisible::init() {
    SetMessageBoxHook({});
    m_db = std::make_unique<TTestDatabase>();
    m_db->exec(QStringLiteral("update Setting set UpdateTimeOut=60, WW='我的店'"));
    m_main = std::make_unique<TFmMain>(m_db->connection());
}

void TestUiVisible::cleanup() {
    SetMessageBoxHook({});
    m_main.reset();
    m_db.reset();
}

using TWindowFactory = std::function<QWidget*(TFmMain*, TTestDatabase&)>;
Q_DECLARE_METATYPE(TWindowFactory)

void TestUiVisible::windowTitlesStandWithoutSuffix_data() {
    QTest::addColumn<TWindowFactory>("make");
    QTest::addColumn<QString>("title");
    QTest::newRow("main") << TWindowFactory([](TFmMain* main, TTestDatabase&) -> QWidget* { return main; })
                          << QStringLiteral("Corvessa--Tessaly V3.01");
    QTest::newRow("add item") << TWindowFactory([](TFmMain* main, TTestDatabase&) -> QWidget* {
        return new TFmAddItem(main);
    }) << QStringLiteral("添加需要跟同比较行价格的宝贝");
    QTest::newRow("rivals") << TWindowFactory([](TFmMain* main, TTestDatabase&) -> QWidget* {
        return new TFmRival(main);
    }) << QStringLiteral("添加对手店铺");
    QTest::newRow("mapping") << TWindowFactory([](TFmMain* main, TTestDatabase&) -> QWidget* {
        return new TFmItemURL(main);
    }) << QStringLiteral("宝贝设置");
    QTest::newRow("settings") << TWindowFactory([](TFmMain* main, TTestDatabase&) -> QWidget* {
        return new TFmSetting(main);
    }) << QStringLiteral("系统设置");
    QTest::newRow("own shop") << TWindowFactory([](TFmMain* main, TTestDatabase&) -> QWidget* {
        return new TFmOwnShop(main);
    }) << QStringLiteral("我的店铺");
    QTest::newRow("import") << TWindowFactory([](TFmMain* main, TTestDatabase& db) -> QWidget* {
        return new TFmDataImport(db.connection(), main);
    }) << QStringLiteral("数据导入...");
    QTest::newRow("about") << TWindowFactory([](TFmMain* main, TTestDatabase&) -> QWidget* {
        return new TFmAbout(main);
    }) << QStringLiteral("关于软件");
    QTest::newRow("wait") << TWindowFactory([](TFmMain* main, TTestDatabase&) -> QWidget* {
        return new TFmUpdateing(main);
    }) << QStringLiteral("正在读取...");
    QTest::newRow("web page") << TWindowFactory([](TFmMain* main, TTestDatabase&) -> QWidget* {
        return new TFmWeb(main);
    }) << QStringLiteral("软件升级");
}

void TestUiVisible::windowTitlesStandWithoutSuffix() {
    QFETCH(TWindowFactory, make);
    QFETCH(QString, title);
    QWidget* window = make(m_main.get(), *m_db);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->windowHandle()->title(), title);
    QCOMPARE(WindowSystemTitle(*window), title);
    window->close();
    if (window != m_main.get())
        delete window;
}

void TestUiVisible::messageBoxTitlesStandWithoutSuffix_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("title");
    QTest::newRow("info") << int(TBoxKind::Info) << QStringLiteral("提示");
    QTest::newRow("error") << int(TBoxKind::Error) << QStringLiteral("提示");
    QTest::newRow("question") << int(TBoxKind::Question) << QStringLiteral("提示");
    QTest::newRow("plain") << int(TBoxKind::Plain) << QStringLiteral("Corvessa--Tessaly V3.01");
}

void TestUiVisible::messageBoxTitlesStandWithoutSuffix() {
    QFETCH(int, kind);
    QFETCH(QString, title);
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    QWidget* owner = m_main.get();
    WithRealBox(
        [&] {
            switch (TBoxKind(kind)) {
            case TBoxKind::Info:
                ShowInfoBox(owner, QStringLiteral("一条消息"));
                break;
            case TBoxKind::Error:
                ShowErrorBox(owner, QStringLiteral("一条消息"));
                break;
            case TBoxKind::Plain:
                ShowPlainBox(owner, QStringLiteral("一条消息"));
                break;
            case TBoxKind::Question:
                AskYesNo(owner, QStringLiteral("一条消息"), false);
                break;
            }
        },
        [&](QMessageBox& box) {
            QCOMPARE(box.windowHandle()->title(), title);
            QCOMPARE(WindowSystemTitle(box), title);
        });
}

void TestUiVisible::qtButtonsReadChinese() {
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    QStringList yesNo;
    WithRealBox([&] { AskYesNo(m_main.get(), QStringLiteral("删除吗？"), false); },
                [&](QMessageBox& box) {
                    yesNo << box.button(QMessageBox::Yes)->text() << box.button(QMessageBox::No)->text();
                });
    QCOMPARE(yesNo.size(), 2);
    QVERIFY2(yesNo[0].startsWith(QStringLiteral("是")), qPrintable(yesNo[0]));
    QVERIFY2(yesNo[1].startsWith(QStringLiteral("否")), qPrintable(yesNo[1]));

    QString ok;
    WithRealBox([&] { ShowInfoBox(m_main.get(), QStringLiteral("好了")); },
                [&](QMessageBox& box) { ok = box.button(QMessageBox::Ok)->text(); });
    QVERIFY2(ok.startsWith(QStringLiteral("确定")), qPrintable(ok));

    // The import's file dialog is Qt's own: its buttons speak Chinese too.
    QFileDialog files(m_main.get());
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.setFileMode(QFileDialog::ExistingFile);
    files.show();
    auto* buttons = files.findChild<QDialogButtonBox*>();
    QVERIFY(buttons);
    QVERIFY2(buttons->button(QDialogButtonBox::Open)->text().startsWith(QStringLiteral("打开")),
             qPrintable(buttons->button(QDialogButtonBox::Open)->text()));
    QVERIFY2(buttons->button(QDialogButtonBox::Cancel)->text().startsWith(QStringLiteral("取消")),
             qPrintable(buttons->button(QDialogButtonBox::Cancel)->text()));
    files.close();
}

void TestUiVisible::gridBandsKeepToTheEdges_data() {
    QTest::addColumn<int>("rivals");
    QTest::addColumn<int>("width");
    for (int rivals : {0, 1, 6}) {
        for (int width : {700, 897, 1600})
            QTest::addRow("%d rivals, %d px", rivals, width) << rivals << width;
    }
}

void TestUiVisible::gridBandsKeepToTheEdges() {
    QFETCH(int, rivals);
    QFETCH(int, width);
    for (int i = 0; i < rivals; ++i)
        m_db->exec(
            QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('同行%1', 'http://s%1.taobao.com/')").arg(i));
    m_db->exec(QStringLiteral("insert into Items (ItemID, ItemName, Price, SellCount) values ('1', '杯子', 10, 1)"));
    m_main->resize(width, 600);
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    QCoreApplication::processEvents();
    auto* grid = m_main->findChild<TGridView*>(QStringLiteral("lst"));
    QVERIFY(grid);
    QCOMPARE(grid->leftPart()->model()->columnCount(), 3 * rivals + 4);
    const QRect left = grid->leftPart()->geometry();
    const QRect right = grid->rightPart()->geometry();
    QCOMPARE(left.left(), 0);
    QCOMPARE(right.right(), grid->width() - 1);
    QVERIFY(grid->width() >= width - 10); // the grid spans the window
    QVERIFY(left.right() < right.left());
    // Whatever lies between belongs to the rival part, so no gap of the window's background shows.
    if (grid->middlePart()->isVisible()) {
        QCOMPARE(grid->middlePart()->geometry().left(), left.right() + 1);
        QCOMPARE(grid->middlePart()->geometry().right(), right.left() - 1);
    } else {
        QCOMPARE(right.left(), left.right() + 1);
    }
}

void TestUiVisible::selectedRowsStayLegible_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<bool>("focused");
    for (const char* list : {"lvDetail", "lv", "dbg"}) {
        QTest::addRow("%s, focused", list) << QString::fromLatin1(list) << true;
        QTest::addRow("%s, focus elsewhere", list) << QString::fromLatin1(list) << false;
    }
}

void TestUiVisible::selectedRowsStayLegible() {
    QFETCH(QString, list);
    QFETCH(bool, focused);
    m_db->exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('同行甲', 'http://a.taobao.com/')"));
    m_db->exec(QStringLiteral("insert into Items (ItemID, ItemName, URL, Price, SellCount, LastUpdated) values "
                              "('1', '玻璃杯子一只', 'http://own/1', 10, 1, '2026-12-09 16:05:33')"));
    m_db->exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                              "SellCount, LastUpdated) values ('同行甲', '1', '9', '同行的杯子', 'http://a/9', 9.5, 3, "
                              "'2026-12-09 16:06:00')"));
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    m_main->SetFocusedRow(0);

    std::unique_ptr<QDialog> dialog;
    if (list == QStringLiteral("lv")) {
        auto* mapping = new TFmItemURL(m_main.get());
        mapping->ItemID = QStringLiteral("1");
        mapping->ItemURL = QStringLiteral("http://own/1");
        dialog.reset(mapping);
    } else if (list == QStringLiteral("dbg")) {
        dialog.reset(new TFmRival(m_main.get()));
    }
    QWidget* window = dialog ? static_cast<QWidget*>(dialog.get()) : m_main.get();
    if (dialog) {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }
    auto* view = window->findChild<QTreeWidget*>(list);
    QVERIFY(view);
    QVERIFY(view->topLevelItemCount() >= 1);
    QTreeWidgetItem* row = view->topLevelItem(view->topLevelItemCount() - 1);
    view->setCurrentItem(row);
    row->setSelected(true);
    if (focused) {
        view->setFocus();
    } else {
        // The user moved on (a button, another window): the selection must still read.
        view->clearFocus();
        window->setFocus();
    }
    QCoreApplication::processEvents();
    const QImage image = view->viewport()->grab().toImage();
    for (int column = 0; column < view->columnCount(); ++column) {
        if (view->isColumnHidden(column) || row->text(column).isEmpty())
            continue;
        const QRect line = view->visualItemRect(row);
        const QRect cell(view->header()->sectionViewportPosition(column), line.top(), view->columnWidth(column),
                         line.height());
        QVERIFY(!cell.intersected(image.rect()).isEmpty());
        const double contrast = DrawnContrast(image, cell.adjusted(2, 2, -2, -2));
        QVERIFY2(
            contrast >= 3.0,
            qPrintable(QStringLiteral("column %1 '%2': contrast %3").arg(column).arg(row->text(column)).arg(contrast)));
    }
}

void TestUiVisible::detailListShowsWholeTimesAndNoAddress_data() {
    QTest::addColumn<int>("width");
    QTest::newRow("restored size") << 897;
    QTest::newRow("narrow") << 720;
    QTest::newRow("wide") << 1600;
}

void TestUiVisible::detailListShowsWholeTimesAndNoAddress() {
    QFETCH(int, width);
    m_db->exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('同行甲', 'http://a.taobao.com/')"));
    m_db->exec(QStringLiteral("insert into Items (ItemID, ItemName, URL, Price, SellCount, LastUpdated) values "
                              "('1', '玻璃杯子一只', 'http://own/1', 10, 1, '2026-12-09 16:05:33')"));
    m_db->exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                              "SellCount, LastUpdated) values ('同行甲', '1', '9', '同行的杯子', 'http://a/9', 9.5, 3, "
                              "'2026-12-28 23:56:58')"));
    m_main->resize(width, 538);
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    m_main->SetFocusedRow(0);
    QCoreApplication::processEvents();
    QTreeWidget* list = m_main->DetailList();

    QStringList shown;
    for (int c = 0; c < list->columnCount(); ++c) {
        if (!list->isColumnHidden(c))
            shown << list->headerItem()->text(c);
    }
    QCOMPARE(shown,
             (QStringList{QStringLiteral("序号"), QStringLiteral("店主"), QStringLiteral("宝贝名称"),
                          QStringLiteral("价格"), QStringLiteral("最后更新时间"), QStringLiteral("最后读取结果")}));
    QCOMPARE(list->columnWidth(0), 50);
    QCOMPARE(list->columnWidth(1), 100);
    QCOMPARE(list->columnWidth(3), 80);

    const int timeColumn = 4;
    const int margin = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        const QString text = list->topLevelItem(row)->text(timeColumn);
        QVERIFY(!text.isEmpty());
        QVERIFY2(list->columnWidth(timeColumn) >= list->fontMetrics().horizontalAdvance(text) + margin,
                 qPrintable(text));
    }
    // The time column ends inside the list, so it is seen whole without scrolling.
    const int right = list->header()->sectionViewportPosition(timeColumn) + list->columnWidth(timeColumn);
    QVERIFY2(right <= list->viewport()->width(), qPrintable(QString::number(right)));
    QCOMPARE(list->header()->sectionViewportPosition(0), 0);
}

static QString AccessibleName(QObject* object) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Name) : QString();
}

void TestUiVisible::statusPanelsExposeTheirTexts_data() {
    QTest::addColumn<QString>("window");
    QTest::newRow("main") << QStringLiteral("main");
    QTest::newRow("add item") << QStringLiteral("add item");
    QTest::newRow("mapping") << QStringLiteral("mapping");
}

void TestUiVisible::statusPanelsExposeTheirTexts() {
    QFETCH(QString, window);
    std::unique_ptr<QDialog> dialog;
    if (window == QStringLiteral("add item"))
        dialog = std::make_unique<TFmAddItem>(m_main.get());
    else if (window == QStringLiteral("mapping"))
        dialog = std::make_unique<TFmItemURL>(m_main.get());
    QWidget* shown = dialog ? static_cast<QWidget*>(dialog.get()) : m_main.get();
    shown->show();
    QVERIFY(QTest::qWaitForWindowExposed(shown));
    auto* bar = shown->findChild<QStatusBar*>(QStringLiteral("stat"));
    QVERIFY(bar);
    QList<QLabel*> panels = bar->findChildren<QLabel*>();
    if (!dialog) {
        // The panel naming the database shows a shortened text; readers get all of it.
        QLabel* database = m_main->DatabasePanel();
        QVERIFY(panels.removeOne(database));
        QCOMPARE(AccessibleName(database), QStringLiteral("数据库文件：") + m_db->path());
        // The shared round's panel is for a team database only.
        QVERIFY(panels.removeOne(m_main->RoundPanel()));
        QVERIFY(m_main->RoundPanel()->isHidden());
    }
    QVERIFY(!panels.isEmpty());
    for (int i = 0; i < panels.size(); ++i) {
        const QString text = QStringLiteral("第%1栏：正在读取宝贝，请稍候...").arg(i + 1);
        if (dialog)
            panels[i]->setText(text);
        else
            m_main->SetStatusText(i, text);
        QCOMPARE(panels[i]->text(), text);
        QCOMPARE(AccessibleName(panels[i]), text);
    }
}

void TestUiVisible::bandCaptionsAndTheItemAddressAreExposed() {
    m_db->exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('同行甲', 'http://a.taobao.com/')"));
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    auto* grid = m_main->findChild<TGridView*>(QStringLiteral("lst"));
    auto headerNames = [](QWidget* view) {
        QStringList names;
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(view);
        for (int i = 0; table && i < table->childCount(); ++i) {
            QAccessibleInterface* child = table->child(i);
            if (child && child->role() == QAccessible::ColumnHeader)
                names << child->text(QAccessible::Name);
        }
        return names;
    };
    const QStringList middle = headerNames(grid->middlePart());
    QVERIFY2(middle.contains(QStringLiteral("同行甲 价格")), qPrintable(middle.join(u'|')));
    QVERIFY2(middle.contains(QStringLiteral("同行甲 差价")), qPrintable(middle.join(u'|')));
    const QStringList right = headerNames(grid->rightPart());
    QVERIFY2(right.contains(QStringLiteral("自己(我的店) 本期售出")), qPrintable(right.join(u'|')));
    QVERIFY2(headerNames(grid->leftPart()).contains(QStringLiteral("宝贝名称")),
             qPrintable(headerNames(grid->leftPart()).join(u'|')));

    TFmItemURL mapping(m_main.get());
    mapping.ItemID = QStringLiteral("1");
    mapping.ItemURL = QStringLiteral("http://item.taobao.com/item.htm?id=1");
    mapping.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mapping));
    QCOMPARE(AccessibleName(mapping.lblItemURL), mapping.ItemURL);
}

void TestUiVisible::settingsDialogHasItsClientSize() {
    TFmSetting dialog(m_main.get());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.geometry().size(), QSize(239, 138));
    // Everything it holds fits inside, each at least as tall as it needs.
    for (QWidget* child : dialog.findChildren<QWidget*>()) {
        if (!child->isVisible() || child->parentWidget() != &dialog)
            continue;
        QVERIFY2(dialog.rect().contains(child->geometry()), qPrintable(child->objectName()));
        QVERIFY2(child->height() >= child->minimumSizeHint().height(), qPrintable(child->objectName()));
    }
}

void TestUiVisible::dialogsOpenOnTheScreensCentre_data() {
    QTest::addColumn<TWindowFactory>("make");
    QTest::newRow("add item") << TWindowFactory(
        [](TFmMain* main, TTestDatabase&) -> QWidget* { return new TFmAddItem(main); });
    QTest::newRow("settings") << TWindowFactory(
        [](TFmMain* main, TTestDatabase&) -> QWidget* { return new TFmSetting(main); });
    QTest::newRow("own shop") << TWindowFactory(
        [](TFmMain* main, TTestDatabase&) -> QWidget* { return new TFmOwnShop(main); });
    QTest::newRow("rivals") << TWindowFactory(
        [](TFmMain* main, TTestDatabase&) -> QWidget* { return new TFmRival(main); });
    QTest::newRow("mapping") << TWindowFactory(
        [](TFmMain* main, TTestDatabase&) -> QWidget* { return new TFmItemURL(main); });
}

void TestUiVisible::dialogsOpenOnTheScreensCentre() {
    QFETCH(TWindowFactory, make);
    // The main window off the screen's centre, so centring on it would show.
    m_main->setGeometry(10, 10, 700, 500);
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    std::unique_ptr<QWidget> dialog(make(m_main.get(), *m_db));
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    const QPoint centre = dialog->screen()->availableGeometry().center();
    const QPoint shown = dialog->geometry().center();
    QVERIFY2(
        (shown - centre).manhattanLength() <= 4,
        qPrintable(QStringLiteral("%1,%2 vs %3,%4").arg(shown.x()).arg(shown.y()).arg(centre.x()).arg(centre.y())));
}

void TestUiVisible::mappingListDrawsGridLines() {
    m_db->exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('同行甲', 'http://a.taobao.com/'), "
                              "('同行乙', 'http://b.taobao.com/')"));
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    TFmItemURL dialog(m_main.get());
    dialog.ItemID = QStringLiteral("1");
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTreeWidget* list = dialog.findChild<QTreeWidget*>(QStringLiteral("lv"));
    QCOMPARE(list->topLevelItemCount(), 2);
    const QImage image = list->viewport()->grab().toImage();
    const QRgb line = list->palette().color(QPalette::Mid).rgb();
    const QRect first = list->visualItemRect(list->topLevelItem(0));
    // A horizontal line under the first row, and a vertical one after the number column.
    const int y = first.bottom();
    const int x = list->header()->sectionViewportPosition(0) + list->columnWidth(0) - 1;
    QCOMPARE(image.pixel(list->columnWidth(0) + 20, y) | 0xFF000000, line | 0xFF000000);
    QCOMPARE(image.pixel(x, first.top() + first.height() / 2) | 0xFF000000, line | 0xFF000000);
}

void TestUiVisible::trayRestoreBringsBackTheStateTheUserLeft_data() {
    QTest::addColumn<bool>("maximised");
    QTest::newRow("maximised") << true;
    QTest::newRow("un-maximised by the user") << false;
}

void TestUiVisible::trayRestoreBringsBackTheStateTheUserLeft() {
    QFETCH(bool, maximised);
    m_main->showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    if (!maximised)
        m_main->showNormal();
    QCOMPARE(m_main->isMaximized(), maximised);
    m_main->setWindowState(m_main->windowState() | Qt::WindowMinimized);
    QVERIFY(m_main->isMinimized());
    m_main->RestoreFromTray();
    QVERIFY(m_main->isVisible());
    QVERIFY(!m_main->isMinimized());
    QCOMPARE(m_main->isMaximized(), maximised);
}

void TestUiVisible::clickOnTheSplitterBarCollapsesAndRestoresTheDetailPanel() {
    m_main->resize(897, 538);
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    auto* spl1 = m_main->findChild<QSplitter*>(QStringLiteral("spl1"));
    QVERIFY(spl1);
    QCOMPARE(spl1->handleWidth(), 7);
    const int before = spl1->sizes().last();
    QVERIFY(before > 0);
    QTest::mouseClick(spl1->handle(1), Qt::LeftButton);
    QCOMPARE(spl1->sizes().last(), 0);
    QTest::mouseClick(spl1->handle(1), Qt::LeftButton);
    QCOMPARE(spl1->sizes().last(), before);
}

QTEST_MAIN(TestUiVisible)
#include "tst_ui_visible.moc"
