// What a seller reads and where the keys go: the web and login windows show a Chinese page when a
// page cannot be loaded, message boxes are wide enough for their caption, and Tab reaches every
// control of every dialog, each with an accessible name.
#include "app/UtAlerts.h"
#include "app/UtFailures.h"
#include "app/UtMain.h"
#include "app/UtPriceChart.h"
#include "dialogs/UtAbout.h"
#include "dialogs/UtAddItem.h"
#include "dialogs/UtAlertSettings.h"
#include "dialogs/UtItemURL.h"
#include "dialogs/UtLogin.h"
#include "dialogs/UtManual.h"
#include "dialogs/UtOwnShop.h"
#include "dialogs/UtRival.h"
#include "dialogs/UtWeb.h"
#include "dialogs/utDataImport.h"
#include "dialogs/utSetting.h"
#include "net/FailureTexts.h"
#include "reader/BrowserEngine.h"
#include "support/HistoryData.h"
#include "support/TestDatabase.h"
#include "widgets/UiMessageBoxes.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QSet>
#include <QStandardPaths>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <functional>
#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

// An address on this machine where nothing listens: the connection is refused at once.
QUrl RefusedAddress() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return {};
    const quint16 port = server.serverPort();
    server.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1/page").arg(port));
}

QString PageText(QWebEngineView* view) {
    QString text;
    bool done = false;
    view->page()->toPlainText([&](const QString& result) {
        text = result;
        done = true;
    });
    // The page answers from its own process; a loaded machine may take its time.
    QDeadlineTimer deadline(30000);
    while (!done && !deadline.hasExpired())
        QTest::qWait(20);
    return text;
}

// Whether focus on reached stands for widget: itself or the widget its focus goes to.
bool Stands(QWidget* reached, QWidget* widget) {
    for (QWidget* w = widget; w; w = w->focusProxy()) {
        if (w == reached)
            return true;
    }
    return false;
}

// The controls of window that Tab should reach: shown, enabled, taking focus by Tab, and not the
// inside of another control (a scroll area's bars and viewport, a focus proxy's target).
QList<QWidget*> TabControls(QWidget* window) {
    QList<QWidget*> controls;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus))
            continue;
        if (qobject_cast<QScrollBar*>(w))
            continue;
        bool inner = false;
        for (QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget()) {
            if (auto* area = qobject_cast<QAbstractScrollArea*>(p); area && area->viewport()->isAncestorOf(w))
                inner = true;
            if (p->focusProxy() == w)
                inner = true;
        }
        if (!inner)
            controls << w;
    }
    return controls;
}

// The name a screen reader gives the focused control: its own, or that of the control it stands for.
QString AccessibleNameOf(QWidget* widget, QWidget* window) {
    for (QWidget* w = widget; w && w != window->parentWidget(); w = w->parentWidget()) {
        if (!w->accessibleName().isEmpty())
            return w->accessibleName();
        if (w->focusProxy() == nullptr && w != widget)
            break;
    }
    return {};
}

} // namespace

class TestUiWords : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        TBrowserEngine::Start();
    }
    void vendorWindowShowsAChinesePageWhenTheServerRefuses();
    void loginWindowShowsAChinesePageWhenTheServerRefuses();
    void messageBoxesAreWideEnoughForTheirCaption_data();
    void messageBoxesAreWideEnoughForTheirCaption();
    void tabReachesEveryControlOfEveryDialog_data();
    void tabReachesEveryControlOfEveryDialog();
    void trayNoticeAndTrayMenuOpenTheAlerts();
};

void TestUiWords::vendorWindowShowsAChinesePageWhenTheServerRefuses() {
    const QUrl address = RefusedAddress();
    QVERIFY(address.isValid());
    TFmWeb window;
    window.ShowPage(QStringLiteral("使用说明"), address);
    QTRY_VERIFY_WITH_TIMEOUT(PageText(window.Browser()).contains(NetTexts::Refused), 60000);
    const QString text = PageText(window.Browser());
    QVERIFY2(text.contains(QStringLiteral("无法打开页面")), qPrintable(text));
    QVERIFY2(text.contains(address.toString()), qPrintable(text));
    // The Chinese sentence comes first; the engine's words only in brackets after it.
    QVERIFY2(text.indexOf(NetTexts::Refused) < text.indexOf(QStringLiteral("ERR_")) ||
                 !text.contains(QStringLiteral("ERR_")),
             qPrintable(text));
}

void TestUiWords::loginWindowShowsAChinesePageWhenTheServerRefuses() {
    const QUrl address = RefusedAddress();
    QVERIFY(address.isValid());
    TTestDatabase db;
    TFmLogin window(TBrowserEngine::ProfileFolder(db.path()));
    window.ShowLogin(address);
    QTRY_VERIFY_WITH_TIMEOUT(PageText(window.Browser()).contains(NetTexts::Refused), 60000);
    QVERIFY(!PageText(window.Browser()).contains(QStringLiteral("This site can")));
}

void TestUiWords::messageBoxesAreWideEnoughForTheirCaption_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("kind");
    QTest::newRow("the program's caption over a one-word box") << QStringLiteral("Corvessa--Tessaly 3.01") << 0;
    QTest::newRow("a long caption") << QStringLiteral("Corvessa--Tessaly 3.01 网店商品价格搜集 同行比价") << 0;
    QTest::newRow("提示 over an error") << QString() << 1;
    QTest::newRow("提示 over a question") << QString() << 2;
}

void TestUiWords::messageBoxesAreWideEnoughForTheirCaption() {
    QFETCH(QString, title);
    QFETCH(int, kind);
    SetMessageBoxHook({});
    const QString before = ApplicationTitle();
    if (!title.isEmpty())
        SetApplicationTitle(title);
    QString seenTitle;
    int seenWidth = 0;
    int titleBar = 0;
    // The box is modal: answered from the event loop once it is up.
    QTimer closer;
    closer.setInterval(50);
    connect(&closer, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seenTitle = box->windowTitle();
        seenWidth = box->width();
        titleBar = box->style()->pixelMetric(QStyle::PM_TitleBarHeight);
        box->done(QMessageBox::No);
    });
    closer.start();
    if (kind == 0)
        ShowPlainBox(nullptr, QStringLiteral("好"));
    else if (kind == 1)
        ShowErrorBox(nullptr, QStringLiteral("错"));
    else
        AskYesNo(nullptr, QStringLiteral("是吗？"), false);
    closer.stop();
    SetApplicationTitle(before);
    QVERIFY(!seenTitle.isEmpty());
    // The caption and the title bar's three buttons side by side.
    const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
    QVERIFY2(seenWidth >= metrics.horizontalAdvance(seenTitle) + 3 * titleBar,
             qPrintable(QStringLiteral("%1 px for \"%2\"").arg(seenWidth).arg(seenTitle)));
}

void TestUiWords::tabReachesEveryControlOfEveryDialog_data() {
    QTest::addColumn<QString>("dialog");
    for (const char* name : {"关于", "添加宝贝", "添加同行", "宝贝设置", "系统设置", "数据导入", "本机使用手册",
                             "价格提醒", "读取失败的宝贝", "价格走势", "提醒设置", "我的店铺"})
        QTest::newRow(name) << QString::fromUtf8(name);
}

void TestUiWords::tabReachesEveryControlOfEveryDialog() {
    QFETCH(QString, dialog);
    SetMessageBoxHook([](TBoxKind, const QString&, const QString&) { return false; });
    TTestDatabase db;
    THistoryDemo demo;
    demo.points = 12;
    demo.rivals = 2;
    const QStringList rivals = WriteHistoryDemo(db.connection(), demo);
    TFmMain main(db.connection());
    main.show();
    main.SetFocusedRow(0);
    main.lstClick();
    std::unique_ptr<QWidget> window;
    if (dialog == QStringLiteral("关于"))
        window = std::make_unique<TFmAbout>();
    else if (dialog == QStringLiteral("添加宝贝"))
        window = std::make_unique<TFmAddItem>(&main);
    else if (dialog == QStringLiteral("添加同行"))
        window = std::make_unique<TFmRival>(&main);
    else if (dialog == QStringLiteral("宝贝设置"))
        window = std::make_unique<TFmItemURL>(&main);
    else if (dialog == QStringLiteral("系统设置"))
        window = std::make_unique<TFmSetting>(&main);
    else if (dialog == QStringLiteral("数据导入"))
        window = std::make_unique<TFmDataImport>(db.connection());
    else if (dialog == QStringLiteral("本机使用手册"))
        window = std::make_unique<TFmManual>();
    else if (dialog == QStringLiteral("价格提醒"))
        window = std::make_unique<TFmAlerts>(db.connection());
    else if (dialog == QStringLiteral("读取失败的宝贝"))
        window = std::make_unique<TFmFailures>(&main);
    else if (dialog == QStringLiteral("提醒设置"))
        window = std::make_unique<TFmAlertSettings>(db.connection());
    else if (dialog == QStringLiteral("我的店铺"))
        window = std::make_unique<TFmOwnShop>(&main);
    else
        window = std::make_unique<TFmPriceChart>(db.connection(), demo.itemId, demo.itemName, rivals);
    window->setParent(nullptr, window->windowFlags() | Qt::Window);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->activateWindow();
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == window.get(), 30000);
    const QList<QWidget*> controls = TabControls(window.get());
    QVERIFY(!controls.isEmpty());
    if (!QApplication::focusWidget() || !window->isAncestorOf(QApplication::focusWidget()))
        controls.first()->setFocus(Qt::TabFocusReason);
    QSet<QWidget*> reached;
    QStringList unnamed;
    for (int i = 0; i < 2 * controls.size() + 4; ++i) {
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus && window->isAncestorOf(focus)); // Tab never leaves the window
        reached.insert(focus);
        if (AccessibleNameOf(focus, window.get()).isEmpty())
            unnamed << QString::fromLatin1(focus->metaObject()->className()) + u' ' + focus->objectName();
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    QVERIFY(reached.size() >= std::min<qsizetype>(controls.size(), 2)); // Tab does move
    QStringList missed;
    for (QWidget* control : controls) {
        bool found = false;
        for (QWidget* r : std::as_const(reached))
            found = found || Stands(r, control);
        if (!found)
            missed << QString::fromLatin1(control->metaObject()->className()) + u' ' + control->objectName();
    }
    QVERIFY2(missed.isEmpty(), qPrintable(QStringLiteral("not reached by Tab: ") + missed.join(QStringLiteral(", "))));
    unnamed.removeDuplicates();
    QVERIFY2(unnamed.isEmpty(),
             qPrintable(QStringLiteral("no accessible name: ") + unnamed.join(QStringLiteral(", "))));
}

// Where a tray exists, a click on its notice and its menu's 价格提醒 open the alerts window; the
// menu holds the four entries. Driven through the tray's own signals: offscreen there is no tray.
void TestUiWords::trayNoticeAndTrayMenuOpenTheAlerts() {
    TTestDatabase db;
    TFmMain main(db.connection());
    main.show();
    auto* icon = main.findChild<QSystemTrayIcon*>();
    QVERIFY(icon);
    QMenu* menu = icon->contextMenu();
    QVERIFY(menu);
    QStringList captions;
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator())
            captions << action->text();
    }
    QCOMPARE(captions, (QStringList{QStringLiteral("显示主窗口"), QStringLiteral("价格提醒"),
                                    QStringLiteral("更新所有"), QStringLiteral("退出")}));
    auto alertsShown = [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<TFmAlerts*>(w) && w->isVisible())
                return static_cast<TFmAlerts*>(w);
        }
        return static_cast<TFmAlerts*>(nullptr);
    };
    QVERIFY(!alertsShown());
    emit icon->messageClicked();
    QTRY_VERIFY_WITH_TIMEOUT(alertsShown(), 30000);
    alertsShown()->close();
    QTRY_VERIFY_WITH_TIMEOUT(!alertsShown(), 30000);
    menu->actions()[1]->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(alertsShown(), 30000);
}

QTEST_MAIN(TestUiWords)
#include "tst_ui_words.moc"
