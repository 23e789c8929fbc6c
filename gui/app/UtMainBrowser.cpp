// The main window's entries of the rendered reading: "登录网站", the retry option, the reading
// mode of each page in the detail list's context menu; and the TLS session option beside them.
#include "app/UtMain.h"
#include "catalogue/ItemCommands.h"
#include "catalogue/Settings.h"
#include "common/TextHelpers.h"
#include "dialogs/UtLogin.h"
#include "reader/BrowserEngine.h"
#include "reader/ReadModes.h"
#include "widgets/UiMessageBoxes.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QTreeWidget>

namespace vantero {

namespace {

const QString kRetryCaption = QStringLiteral("直接读取找不到宝贝时用浏览器重试");

} // namespace

void TFmMain::BuildBrowserEntries() {
    // After the specified entries of the operations menu.
    if (auto* menu = menuBar()->findChild<QMenu*>(QStringLiteral("mniN6"))) {
        menu->addSeparator()->setObjectName(QStringLiteral("mniBrowserSep"));
        QAction* login = menu->addAction(LoginTexts::Caption + QStringLiteral("(&L)"));
        login->setObjectName(QStringLiteral("mniLogin"));
        login->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
        connect(login, &QAction::triggered, this, &TFmMain::mniLoginClick);
        QAction* retry = menu->addAction(kRetryCaption + QStringLiteral("(&R)"));
        retry->setObjectName(QStringLiteral("mniBrowserRetry"));
        retry->setCheckable(true);
        // Read when the menu opens: another program on the same file may have changed it.
        connect(menu, &QMenu::aboutToShow, this,
                [this, retry] { RunReported(this, [&] { retry->setChecked(BrowserFallbackOn(m_data.con)); }); });
        connect(retry, &QAction::triggered, this,
                [this](bool on) { RunReported(this, [&] { SetBrowserFallback(m_data.con, on); }); });
        QAction* resume = menu->addAction(SettingTexts::TlsResume);
        resume->setObjectName(QStringLiteral("mniTlsResume"));
        resume->setCheckable(true);
        connect(menu, &QMenu::aboutToShow, this,
                [this, resume] { RunReported(this, [&] { resume->setChecked(TlsResumeOn(m_data.con)); }); });
        connect(resume, &QAction::triggered, this,
                [this](bool on) { RunReported(this, [&] { SetTlsResume(m_data.con, on); }); });
    }
    lvDetail->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvDetail, &QWidget::customContextMenuRequested, this, &TFmMain::ShowReadModeMenu);
}

std::pair<QString, QString> TFmMain::DetailPage(int row) const {
    if (m_detailItemID.isEmpty() || row < 0 || row >= lvDetail->topLevelItemCount())
        return {};
    if (row == 0)
        return {m_detailItemID, QString()};
    return {m_detailItemID, TrimBlanks(lvDetail->topLevelItem(row)->text(kDetailOwner))};
}

void TFmMain::ShowReadModeMenu(const QPoint& at) {
    QTreeWidgetItem* line = lvDetail->itemAt(at);
    if (!line)
        return;
    const auto [itemId, account] = DetailPage(lvDetail->indexOfTopLevelItem(line));
    if (itemId.isEmpty())
        return;
    TReadMode mode = rmDirect;
    if (!RunReported(this, [&] { mode = PageReadMode(m_data.con, itemId, account); }))
        return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("mnuReadMode"));
    auto* group = new QActionGroup(&menu);
    for (const auto& [value, caption] :
         {std::pair{rmDirect, ReadModeTexts::Direct}, std::pair{rmBrowser, ReadModeTexts::Browser}}) {
        QAction* action = menu.addAction(caption);
        action->setObjectName(value == rmDirect ? QStringLiteral("mniDirect") : QStringLiteral("mniBrowser"));
        action->setCheckable(true);
        action->setChecked(value == mode);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, itemId, account, value] {
            RunReported(this, [&] { SetPageReadMode(m_data.con, itemId, account, value); });
        });
    }
    menu.exec(lvDetail->viewport()->mapToGlobal(at));
}

void TFmMain::mniLoginClick() {
    if (!m_login)
        m_login = new TFmLogin(TBrowserEngine::ProfileFolder(m_data.con.path()), this);
    m_login->ShowLogin();
}

} // namespace vantero
