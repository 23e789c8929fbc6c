#include "app/UtMain.h"

#include "catalogue/ItemCommands.h"
#include "catalogue/Settings.h"
#include "history/AlertStore.h"
#include "history/NotifySender.h"
#include "widgets/UiGridModel.h"
#include "widgets/UiGridView.h"
#include "widgets/UiMessageBoxes.h"
#include "widgets/UiStatusPanels.h"
#include "widgets/UiWidgets.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include <climits>

// The icons live in the GUI library, which is static: its resources must be registered by hand.
static void InitResources() {
    Q_INIT_RESOURCE(resources);
}

namespace vantero {

TFmMain::TFmMain(TConnection connection, QWidget* parent) : QMainWindow(parent), m_data(std::move(connection)) {
    InitResources();
    setObjectName(QStringLiteral("FmMain"));
    m_gridModel = new TGridModel(m_data.grid, this);
    tmr = new QTimer(this);
    tmr->setObjectName(QStringLiteral("tmr"));
    connect(tmr, &QTimer::timeout, this, &TFmMain::tmrTimer);
    BuildToolBar();
    BuildMenu();
    BuildCentre();
    BuildBrowserEntries();
    BuildStatusBar();
    BuildTray();
    BuildHistoryCommands();
    BuildDatabaseEntries();
    resize(897, 538);
    FormCreate();
}

TFmMain::~TFmMain() {
    m_sender.reset(); // its reports are posted to this window: it goes first
    StopBackgroundWork();
    // The views and the model read the grid's data, a member that dies before the base class
    // tears the child widgets down: take them down first.
    delete centralWidget();
    delete m_gridModel;
}

void TFmMain::FormCreate() {
    m_data.RivalAccounts.clear();
    m_data.RivalShopURLs.clear();
    setWindowTitle(MainTexts::Caption);
    SetApplicationTitle(MainTexts::Caption);
}

QAction* TFmMain::AddCommand(const QString& name, const QString& caption, const QString& iconName,
                             void (TFmMain::*handler)()) {
    auto* action = new QAction(QIcon(QStringLiteral(":/icons/%1.svg").arg(iconName)), caption, this);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, handler);
    tb1->addAction(action);
    if (QWidget* button = tb1->widgetForAction(action)) {
        button->setObjectName(name);
        button->setAccessibleName(caption);
    }
    return action;
}

QAction* TFmMain::Command(const QString& objectName) const {
    return findChild<QAction*>(objectName);
}

void TFmMain::BuildToolBar() {
    tb1 = new QToolBar(QStringLiteral("工具栏"), this);
    tb1->setObjectName(QStringLiteral("tb1"));
    tb1->setMovable(false);
    tb1->setIconSize(QSize(32, 32));
    tb1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tb1->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, tb1);
    AddCommand(QStringLiteral("btnRefresh"), QStringLiteral("刷新数据"), QStringLiteral("refresh"),
               &TFmMain::btnRefreshClick);
    AddCommand(QStringLiteral("btnSetting"), QStringLiteral("系统设置"), QStringLiteral("settings"),
               &TFmMain::btnSettingClick);
    AddCommand(QStringLiteral("btnUpdateItem"), QStringLiteral("更新所有"), QStringLiteral("update-all"),
               &TFmMain::btnUpdateItemClick);
    AddCommand(QStringLiteral("btn3"), QStringLiteral("添加同行"), QStringLiteral("add-rival"), &TFmMain::btn3Click);
    AddCommand(QStringLiteral("btn4"), QStringLiteral("添加宝贝"), QStringLiteral("add-item"), &TFmMain::btn4Click);
    AddCommand(QStringLiteral("btn6"), QStringLiteral("设置宝贝"), QStringLiteral("map-item"), &TFmMain::btn6Click);
    AddCommand(QStringLiteral("btnDel"), QStringLiteral("删除宝贝"), QStringLiteral("delete"), &TFmMain::btnDelClick);
    AddCommand(QStringLiteral("btndataImport"), QStringLiteral("数据导入"), QStringLiteral("import"),
               &TFmMain::btndataImportClick);
    AddCommand(QStringLiteral("btnUpdate"), QStringLiteral("升级"), QStringLiteral("upgrade"),
               &TFmMain::btnUpdateClick);
    AddCommand(QStringLiteral("btnManual"), QStringLiteral("使用说明"), QStringLiteral("manual"),
               &TFmMain::btnManualClick);
    AddCommand(QStringLiteral("btn2"), QStringLiteral("关于"), QStringLiteral("about"), &TFmMain::btn2Click);
    AddCommand(QStringLiteral("btn5"), QStringLiteral("退出"), QStringLiteral("exit"), &TFmMain::btn5Click);
    // Added after the listed buttons: ends a background run after the reading in progress.
    QAction* stop = AddCommand(QStringLiteral("btnStopUpdate"), QStringLiteral("停止更新"), QStringLiteral("stop"),
                               &TFmMain::btnStopUpdateClick);
    stop->setEnabled(false);
    stop->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    stop->setToolTip(QStringLiteral("停止更新 (Ctrl+Shift+S)：读完当前页面后结束后台更新"));
}

void TFmMain::BuildMenu() {
    QMenuBar* mm = menuBar();
    mm->setObjectName(QStringLiteral("mm"));
    auto addEntry = [this](QMenu* menu, const QString& name, const QString& caption, void (TFmMain::*handler)()) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
    };
    QMenu* mniN1 = mm->addMenu(QStringLiteral("系统"));
    mniN1->setObjectName(QStringLiteral("mniN1"));
    addEntry(mniN1, QStringLiteral("mniN5"), QStringLiteral("退出"), &TFmMain::mniN5Click);

    QMenu* mniN6 = mm->addMenu(QStringLiteral("操作"));
    mniN6->setObjectName(QStringLiteral("mniN6"));
    addEntry(mniN6, QStringLiteral("mniN11"), QStringLiteral("刷新数据"), &TFmMain::btnRefreshClick);
    mniN6->addSeparator()->setObjectName(QStringLiteral("mniN12"));
    addEntry(mniN6, QStringLiteral("mniN7"), QStringLiteral("添加对手"), &TFmMain::btn3Click);
    addEntry(mniN6, QStringLiteral("mniN8"), QStringLiteral("添加宝贝"), &TFmMain::btn4Click);
    mniN6->addSeparator()->setObjectName(QStringLiteral("mniN14"));
    addEntry(mniN6, QStringLiteral("mniN13"), QStringLiteral("删除宝贝"), &TFmMain::btnDelClick);
    mniN6->addSeparator()->setObjectName(QStringLiteral("mniN9"));
    addEntry(mniN6, QStringLiteral("mniN10"), QStringLiteral("宝贝设置"), &TFmMain::btn6Click);
    mniN6->addSeparator()->setObjectName(QStringLiteral("mniFailuresSeparator"));
    addEntry(mniN6, QStringLiteral("mniFailures"), QStringLiteral("读取失败的宝贝(&F)"), &TFmMain::btnFailuresClick);
    Command(QStringLiteral("mniFailures"))->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    addEntry(mniN6, QStringLiteral("mniOwnShop"), OwnShopTexts::Command + QStringLiteral("(&S)"),
             &TFmMain::mniOwnShopClick);

    // F10 opens the menu bar at its first menu; the arrow keys then move through it.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this, [mm] {
        const QList<QAction*> menus = mm->actions();
        if (!menus.isEmpty()) {
            mm->setFocus(Qt::MenuBarFocusReason);
            mm->setActiveAction(menus.first());
        }
    });

    QMenu* mniN2 = mm->addMenu(QStringLiteral("帮助"));
    mniN2->setObjectName(QStringLiteral("mniN2"));
    addEntry(mniN2, QStringLiteral("mniN3"), QStringLiteral("关于"), &TFmMain::btn2Click);
    // After the listed entry: the manual that comes with the program, readable without a network.
    addEntry(mniN2, QStringLiteral("mniManual"), QStringLiteral("本机使用手册(&M)"), &TFmMain::mniManualClick);
    Command(QStringLiteral("mniManual"))->setShortcut(QKeySequence(Qt::Key_F1));
    Command(QStringLiteral("mniManual"))->setShortcutContext(Qt::WindowShortcut);
}

void TFmMain::BuildCentre() {
    spl1 = new TCollapsingSplitter(Qt::Vertical, this);
    spl1->setObjectName(QStringLiteral("spl1"));
    spl1->setHandleWidth(7);
    spl1->setChildrenCollapsible(true);

    m_grid = new TGridView(spl1);
    m_grid->setObjectName(QStringLiteral("lst"));
    m_grid->setModel(m_gridModel);
    connect(m_grid, &TGridView::rowClicked, this, [this] { lstClick(); });
    // The detail list follows the focused row however it moves (mouse, keyboard, refresh).
    connect(m_grid, &TGridView::currentRowChanged, this, [this] { lstClick(); });
    BuildGuide();

    auto* pnl1 = new QWidget(spl1);
    pnl1->setObjectName(QStringLiteral("pnl1"));
    auto* bottom = new QHBoxLayout(pnl1);
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->setSpacing(4);

    lvDetail = NewRowList(pnl1, QStringLiteral("lvDetail"), QStringLiteral("宝贝详细列表"));
    lvDetail->setUniformRowHeights(true);
    lvDetail->setAllColumnsShowFocus(true);
    lvDetail->setColumnCount(7);
    lvDetail->setHeaderLabels({QStringLiteral("序号"), QStringLiteral("店主"), QStringLiteral("宝贝名称"),
                               QStringLiteral("价格"), QStringLiteral("最后更新时间"), QStringLiteral("地址"),
                               QStringLiteral("最后读取结果")});
    lvDetail->setColumnHidden(kDetailURL, true); // the page address is kept, not shown
    lvDetail->header()->setStretchLastSection(false);
    lvDetail->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    OnResize(lvDetail->viewport(), [this] { FitDetailColumns(); });
    ShowGridLines(lvDetail);
    bottom->addWidget(lvDetail, 1);

    auto* pnl2 = new QWidget(pnl1);
    pnl2->setObjectName(QStringLiteral("pnl2"));
    pnl2->setFixedWidth(185);
    auto* buttons = new QVBoxLayout(pnl2);
    buttons->setContentsMargins(8, 4, 8, 4);
    auto addButton = [pnl2, buttons](const QString& name, const QString& caption) {
        auto* button = new QPushButton(caption, pnl2);
        button->setObjectName(name);
        button->setAccessibleName(caption);
        button->setMinimumHeight(28);
        buttons->addWidget(button);
        return button;
    };
    btnSetItem = addButton(QStringLiteral("btnSetItem"), QStringLiteral("设置宝贝"));
    btnReadPrice = addButton(QStringLiteral("btnReadPrice"), QStringLiteral("更新所选宝贝"));
    btnSetAllPrice = addButton(QStringLiteral("btnSetAllPrice"), QStringLiteral("更新本页所有宝贝"));
    btnOpenURL = addButton(QStringLiteral("btnOpenURL"), QStringLiteral("查看宝贝"));
    btnPriceChart = addButton(QStringLiteral("btnPriceChart"), QStringLiteral("价格走势"));
    buttons->addStretch(1);
    connect(btnSetItem, &QPushButton::clicked, this, &TFmMain::btn6Click);
    connect(btnReadPrice, &QPushButton::clicked, this, &TFmMain::btnReadPriceClick);
    connect(btnSetAllPrice, &QPushButton::clicked, this, &TFmMain::btnSetAllPriceClick);
    connect(btnOpenURL, &QPushButton::clicked, this, &TFmMain::btnOpenURLClick);
    connect(btnPriceChart, &QPushButton::clicked, this, &TFmMain::btnPriceChartClick);
    connect(lvDetail, &QTreeWidget::itemDoubleClicked, this, &TFmMain::lvDetailDoubleClick);
    bottom->addWidget(pnl2);

    spl1->addWidget(m_grid);
    spl1->addWidget(pnl1);
    spl1->setStretchFactor(0, 1);
    spl1->setStretchFactor(1, 0);
    spl1->setSizes({400, 152});
    setCentralWidget(spl1);
}

void TFmMain::BuildGuide() {
    // On an empty grid: the first steps, each a link to its dialog.
    QWidget* area = m_grid->middlePart()->viewport();
    m_guide = new QLabel(area);
    m_guide->setObjectName(QStringLiteral("lblGuide"));
    m_guide->setTextFormat(Qt::RichText);
    m_guide->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    m_guide->setWordWrap(true);
    m_guide->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_guide->setAutoFillBackground(false);
    m_guide->setText(
        QStringLiteral("<p><b>开始使用：</b></p><ol>"
                       "<li><a href=\"ownshop\">我的店铺</a>：在“我的旺旺”中填写您自己店铺的旺旺名"
                       "（宝贝页面只写店铺名称时，再填“我的店铺名称”）；</li>"
                       "<li><a href=\"rival\">添加同行</a>：输入同行店铺的地址；</li>"
                       "<li><a href=\"item\">添加宝贝</a>：输入您自己宝贝的地址；</li>"
                       "<li><a href=\"map\">设置宝贝</a>：在表格中选中宝贝，为每个同行填写对应宝贝的地址。</li>"
                       "</ol>"));
    m_guide->setAccessibleName(QStringLiteral("开始使用"));
    m_guide->setAccessibleDescription(m_guide->text());
    connect(m_guide, &QLabel::linkActivated, this, [this](const QString& link) {
        if (link == QLatin1String("ownshop"))
            mniOwnShopClick();
        else if (link == QLatin1String("rival"))
            btn3Click();
        else if (link == QLatin1String("item"))
            btn4Click();
        else if (FocusedRow() >= 0)
            btn6Click();
        else
            ShowInfoBox(this, QStringLiteral("请先添加宝贝，再在表格中选中它"));
    });
    auto place = [this] {
        QWidget* parent = m_guide->parentWidget();
        const int width = std::min(parent->width() - 24, 520);
        m_guide->setFixedWidth(std::max(width, 160));
        m_guide->adjustSize();
        m_guide->move(12, 12);
    };
    OnResize(area, place);
    auto update = [this, place] {
        m_guide->setVisible(RowCount() == 0);
        place();
    };
    connect(m_gridModel, &QAbstractItemModel::modelReset, this, update);
    connect(m_gridModel, &QAbstractItemModel::rowsInserted, this, update);
    connect(m_gridModel, &QAbstractItemModel::rowsRemoved, this, update);
    update();
}

bool TFmMain::GuideShown() const {
    return m_guide && !m_guide->isHidden();
}

void TFmMain::BuildStatusBar() {
    QStatusBar* stat = statusBar();
    stat->setObjectName(QStringLiteral("stat"));
    // Panels of 350 and 250 pixels (wider for a longer text), the third to the end of the bar, then
    // the run summary. On a narrow bar the panels give way as TStatusPanels says; a cut text
    // shows "…" and keeps its whole wording in the tool tip and for screen readers.
    auto* panels = new TStatusPanels({350, 250, 50}, stat);
    panels->setObjectName(QStringLiteral("statPanels"));
    for (int i = 0; i < 3; ++i) {
        TStatusPanel* label = panels->Panel(i);
        label->setObjectName(QStringLiteral("statPanel%1").arg(i));
        // No fixed accessible name: a label then gives screen readers its shown text and tells
        // them when it changes.
        label->setAccessibleDescription(QStringLiteral("状态栏第%1栏").arg(i + 1));
        m_panels[size_t(i)] = label;
    }
    m_summary = new QToolButton(panels);
    m_summary->setObjectName(QStringLiteral("statSummary"));
    m_summary->setAutoRaise(true);
    m_summary->setAccessibleName(QStringLiteral("本次更新结果"));
    m_summary->setToolTip(QStringLiteral("查看读取失败的宝贝"));
    m_summary->setVisible(false); // until a background run has ended
    connect(m_summary, &QToolButton::clicked, this, &TFmMain::btnFailuresClick);
    panels->AddTrailing(m_summary);
    // Alerts must be seen without a tray too: their unread number, a click opens them.
    m_unread = new QToolButton(panels);
    m_unread->setObjectName(QStringLiteral("statUnreadAlerts"));
    m_unread->setAutoRaise(true);
    m_unread->setToolTip(QStringLiteral("打开价格提醒"));
    m_unread->setVisible(false);
    connect(m_unread, &QToolButton::clicked, this, &TFmMain::mniAlertsClick);
    panels->AddTrailing(m_unread);
    stat->addWidget(panels, 1);
}

void TFmMain::ShowUnreadAlerts() {
    int unread = 0;
    try {
        unread = UnreadAlertCount(m_data.con);
    } catch (...) {
        return; // the number waits for the next look; a failing file is reported elsewhere
    }
    const QString text = QStringLiteral("未读提醒：%1").arg(unread);
    m_unread->setText(text);
    m_unread->setAccessibleName(text);
    m_unread->setVisible(unread > 0);
}

QString TFmMain::UnreadAlertsText() const {
    return m_unread->isVisible() ? m_unread->text() : QString();
}

QString TFmMain::RunSummaryText() const {
    return m_summary->text();
}

void TFmMain::BuildTray() {
    icon = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/app.svg")), this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setToolTip(MainTexts::Caption);
    connect(icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            RestoreFromTray();
    });
    // Tray notices are alerts: a click on one opens them.
    connect(icon, &QSystemTrayIcon::messageClicked, this, &TFmMain::mniAlertsClick);
    auto* trayMenu = new QMenu(this);
    trayMenu->setObjectName(QStringLiteral("trayMenu"));
    auto addTrayEntry = [this, trayMenu](const QString& name, const QString& caption, void (TFmMain::*handler)()) {
        QAction* action = trayMenu->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
    };
    addTrayEntry(QStringLiteral("trayShow"), QStringLiteral("显示主窗口"), &TFmMain::RestoreFromTray);
    addTrayEntry(QStringLiteral("trayAlerts"), QStringLiteral("价格提醒"), &TFmMain::mniAlertsClick);
    addTrayEntry(QStringLiteral("trayUpdateAll"), QStringLiteral("更新所有"), &TFmMain::btnUpdateItemClick);
    trayMenu->addSeparator();
    addTrayEntry(QStringLiteral("trayExit"), QStringLiteral("退出"), &TFmMain::btn5Click);
    icon->setContextMenu(trayMenu);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        icon->show();
}

void TFmMain::RestoreFromTray() {
    if (m_restoreMaximized)
        showMaximized();
    else
        showNormal();
    raise();
    activateWindow();
}

void TFmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

void TFmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        // Restoring brings back the state the user left, maximised or not.
        const Qt::WindowStates before = static_cast<QWindowStateChangeEvent*>(event)->oldState();
        if (!(before & Qt::WindowMinimized))
            m_restoreMaximized = (before | windowState()) & Qt::WindowMaximized;
    }
    // Alerts marked read in their window count no more when the user comes back here.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_unread)
        ShowUnreadAlerts();
    // Minimised, the program lives on in the tray only (where a tray exists).
    if (event->type() == QEvent::WindowStateChange && isMinimized() && icon->isVisible())
        QTimer::singleShot(0, this, &QWidget::hide);
}

void TFmMain::closeEvent(QCloseEvent* event) {
    StopBackgroundWork();
    icon->hide();
    QMainWindow::closeEvent(event);
}

void TFmMain::customEvent(QEvent* event) {
    if (event->type() != TWindowMessageEvent::eventType()) {
        QMainWindow::customEvent(event);
        return;
    }
    const auto* message = static_cast<TWindowMessageEvent*>(event);
    switch (message->Msg) {
    case WM_READITEM_RESULT:
        OnReadItemResult(message->WParam, message->LParam);
        break;
    case WM_READALL_FINISHED:
        OnReadAllFinished();
        break;
    case WM_UPDATE_VERSION:
        OnUpdateVersion(message->LParam);
        break;
    default:
        break;
    }
}

void TFmMain::FormShow() {
    RunReported(this, [this] {
        ApplySettings();
        RefreshAll();
    });
    ShowUnreadAlerts();
    StartUpdateCheck();
}

void TFmMain::ApplySettings() {
    const int minutes = m_data.ApplySettings();
    tmr->setInterval(TimerIntervalFor(minutes));
    tmr->start();
    icon->setToolTip(windowTitle());
}

int TFmMain::TimerIntervalFor(qint64 minutes) {
    const qint64 ms = minutes * 60 * 1000;
    return int(std::clamp<qint64>(ms, 1, INT_MAX));
}

void TFmMain::SetUpdateInterval(qint64 minutes) {
    const int interval = TimerIntervalFor(minutes);
    if (interval != tmr->interval())
        tmr->setInterval(interval); // restarts a running countdown
}

void TFmMain::LoadRivals() {
    m_data.LoadRivals();
}

void TFmMain::RefreshAll() {
    m_gridModel->beginRebuild();
    try {
        m_data.RefreshAllData();
    } catch (...) {
        m_gridModel->endRebuild();
        throw;
    }
    m_gridModel->endRebuild();
    lstClick();
    BuildDetailRows();
    ShowRoundProgress();
}

void TFmMain::FillAllRows() {
    m_gridModel->beginRebuild();
    m_data.FillAllRows();
    m_gridModel->endRebuild();
    lstClick();
}

void TFmMain::ReloadItemRows() {
    const int focused = FocusedRow();
    m_data.qry.Reopen(kSelectItems);
    FillAllRows();
    if (focused >= 0)
        SetFocusedRow(std::min(focused, RowCount() - 1));
}

void TFmMain::RefreshRow(int position) {
    if (m_data.RefreshRowData(position))
        m_gridModel->rowChanged(position);
}

int TFmMain::RowCount() const {
    return m_data.grid.rowCount();
}

int TFmMain::FocusedRow() const {
    const int row = m_grid->currentRow();
    return row >= 0 && row < RowCount() ? row : -1;
}

void TFmMain::SetFocusedRow(int row) {
    m_grid->setCurrentRow(row);
}

const TItem* TFmMain::ItemAt(int row) const {
    return row >= 0 && row < RowCount() ? &m_data.grid.item(row) : nullptr;
}

void TFmMain::SetCellText(int row, int column, const QString& text) {
    if (row < 0 || row >= RowCount() || column < 0 || column >= m_data.grid.columnCount())
        return;
    m_data.grid.setCell(row, column, text);
    m_gridModel->rowChanged(row);
}

void TFmMain::SetStatusText(int panel, const QString& text) {
    if (panel >= 0 && panel < 3)
        m_panels[size_t(panel)]->SetText(text);
}

QString TFmMain::StatusText(int panel) const {
    return panel >= 0 && panel < 3 ? m_panels[size_t(panel)]->text() : QString();
}

void TFmMain::btnRefreshClick() {
    RunReported(this, [this] { RefreshAll(); });
}

void TFmMain::btn5Click() {
    close();
}

void TFmMain::mniN5Click() {
    close();
}

} // namespace vantero
