#include "dialogs/UtAddItem.h"

#include "common/TextHelpers.h"
#include "dialogs/MainWindowCalls.h"
#include "dialogs/UtOwnShop.h"
#include "reader/UtReadItemThr.h"
#include "widgets/UiMessageBoxes.h"
#include "widgets/UiStatusPanels.h"
#include "widgets/UiWindowSize.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QVBoxLayout>

namespace vantero {

TFmAddItem::TFmAddItem(TMainWindowCalls* main) : QDialog(main->DialogParent()), m_main(main) {
    setObjectName(QStringLiteral("FmAddItem"));
    setWindowTitle(AddItemTexts::Caption);
    // No close box and no system menu: a running reading cannot be walked away from.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    KeepOuterSize(this, QSize(547, 210));

    auto* urlLabel = new QLabel(AddItemTexts::UrlLabel, this);
    edtURL = new QLineEdit(this);
    edtURL->setObjectName(QStringLiteral("edtURL"));
    edtURL->setAccessibleName(AddItemTexts::UrlLabel.trimmed());
    urlLabel->setBuddy(edtURL);

    btnOK = new QPushButton(AddItemTexts::Ok, this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setAccessibleName(AddItemTexts::Ok);
    btnOK->setDefault(true);
    btnClose = new QPushButton(AddItemTexts::Close, this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAccessibleName(AddItemTexts::Close);

    stat = new QStatusBar(this);
    stat->setObjectName(QStringLiteral("stat"));
    stat->setSizeGripEnabled(false);
    m_statusPanel = new TStatusPanel(stat);
    m_statusPanel->setObjectName(QStringLiteral("statPanel0"));
    // Without a fixed accessible name the label exposes its shown text.
    m_statusPanel->setAccessibleDescription(QStringLiteral("状态栏"));
    stat->addWidget(m_statusPanel, 1);

    auto* urlRow = new QHBoxLayout;
    urlRow->addWidget(urlLabel);
    urlRow->addWidget(edtURL, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addLayout(urlRow);
    layout->addStretch();
    layout->addLayout(buttons);
    layout->addWidget(stat);

    connect(btnOK, &QPushButton::clicked, this, &TFmAddItem::btnOKClick);
    connect(btnClose, &QPushButton::clicked, this, &TFmAddItem::btnCloseClick);

    // On the screen's centre like the other dialogs, not on the main window's.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TFmAddItem::~TFmAddItem() = default; // a reader still running is stopped and waited for

QString TFmAddItem::StatusText() const {
    return m_statusPanel->text();
}

void TFmAddItem::SetStatusText(const QString& text) {
    m_statusPanel->SetText(text);
}

void TFmAddItem::SetButtonsEnabled(bool enabled) {
    btnOK->setEnabled(enabled);
    btnClose->setEnabled(enabled);
}

void TFmAddItem::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFmAddItem::FormShow() {
    SetButtonsEnabled(!IsReading());
    edtURL->clear();
    edtURL->setFocus();
}

void TFmAddItem::btnOKClick() {
    if (IsReading())
        return;
    m_reader = std::make_unique<TReadItem>(m_main->MainData().con);
    m_reader->URL = edtURL->text(); // as typed: the reader keeps the address it was given
    m_reader->TargetWnd = m_registration.handle();
    m_reader->LocalItemID.clear();
    m_reader->ExpectedSeller = m_main->MainData().OwnAccount;
    m_reader->FreeWhenDone = false;
    m_reader->ResultMsg = WM_ADDITEM_RESULT;
    m_reader->Token = ++m_token;
    m_reader->start();
    SetButtonsEnabled(false);
    SetStatusText(AddItemTexts::Reading);
}

void TFmAddItem::btnCloseClick() {
    close();
}

void TFmAddItem::reject() {
    if (!IsReading())
        QDialog::reject();
}

void TFmAddItem::closeEvent(QCloseEvent* event) {
    if (IsReading())
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void TFmAddItem::customEvent(QEvent* event) {
    if (event->type() != TWindowMessageEvent::eventType()) {
        QDialog::customEvent(event);
        return;
    }
    const auto* message = static_cast<TWindowMessageEvent*>(event);
    // Only the result of the reading this dialog is waiting for counts.
    if (message->Msg == WM_ADDITEM_RESULT && IsReading() && message->LParam == m_token)
        OnAddItemResult(message->WParam);
}

void TFmAddItem::OnAddItemResult(qintptr code) {
    SetButtonsEnabled(true);
    SetStatusText(QString());
    const QString name = m_reader->ItemName;
    const QString errorText = m_reader->ErrorText;
    QString box;
    bool askOwnAccount = false;
    switch (code) {
    case TReadItem::rcUpdated:
        SetStatusText(AddItemTexts::Updated.arg(name));
        box = StatusText();
        break;
    case TReadItem::rcAdded:
        SetStatusText(AddItemTexts::Added.arg(name));
        box = StatusText();
        break;
    case TReadItem::rcWrongSeller:
        box = AddItemTexts::NotYours;
        askOwnAccount = TrimBlanks(m_main->MainData().OwnAccount).isEmpty();
        break;
    case TReadItem::rcNoItem:
    case TReadItem::rcFailed:
        SetStatusText(AddItemTexts::Failed + errorText);
        box = AddItemTexts::FailedBox + errorText;
        break;
    default:
        box = AddItemTexts::Unknown;
        break;
    }
    // The result is posted at the very end of the run, so this waits only for its clean-up.
    m_reader->wait();
    m_reader.reset();
    RunReported(this, [this] { m_main->ItemRowsChanged(); });
    if (!TrimBlanks(box).isEmpty())
        ShowInfoBox(this, box);
    // Refused for want of an own account, not for a wrong page: lead to where it is set.
    if (askOwnAccount && AskYesNo(this, AddItemTexts::AskOwnAccount, true)) {
        TFmOwnShop ownShop(m_main);
        ownShop.edtWW->setFocus();
        ownShop.exec();
    }
}

} // namespace vantero
