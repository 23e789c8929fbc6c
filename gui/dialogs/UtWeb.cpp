#include "dialogs/UtWeb.h"

#include "widgets/UiWebFailure.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWebEngineView>

namespace vantero {

TFmWeb::TFmWeb(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("FmWeb"));
    setWindowTitle(QStringLiteral("软件升级"));
    setAccessibleName(windowTitle());
    // Closing hides: the window and its page are kept for the next use.
    setAttribute(Qt::WA_DeleteOnClose, false);
    // Not counted as a main window: closing the main window ends the program even while this
    // window is shown.
    setAttribute(Qt::WA_QuitOnClose, false);

    wb = new QWebEngineView(this);
    wb->setObjectName(QStringLiteral("wb"));
    wb->setAccessibleName(windowTitle());
    ShowChineseErrorPages(wb);

    auto* pnl1 = new QWidget(this);
    pnl1->setObjectName(QStringLiteral("pnl1"));
    btnClose = new QPushButton(QStringLiteral("关闭"), pnl1);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAccessibleName(btnClose->text());
    connect(btnClose, &QPushButton::clicked, this, &TFmWeb::btnCloseClick);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &TFmWeb::btnCloseClick);
    auto* panelLayout = new QHBoxLayout(pnl1);
    panelLayout->addStretch(1);
    panelLayout->addWidget(btnClose);

    stat = new QStatusBar(this);
    stat->setObjectName(QStringLiteral("stat"));
    stat->setAccessibleName(QStringLiteral("状态栏"));
    auto* panel = new QLabel(stat);
    panel->setObjectName(QStringLiteral("statPanel0"));
    stat->addWidget(panel, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(wb, 1);
    layout->addWidget(pnl1);
    layout->addWidget(stat);
    resize(631, 469);
}

void TFmWeb::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_placed)
        return;
    m_placed = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFmWeb::ShowPage(const QString& caption, const QUrl& address) {
    setWindowTitle(caption);
    wb->setAccessibleName(caption);
    m_address = address;
    wb->setUrl(address);
    show();
    raise();
    activateWindow();
}

void TFmWeb::btnCloseClick() {
    close();
}

} // namespace vantero
