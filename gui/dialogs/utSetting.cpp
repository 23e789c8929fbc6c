#include "dialogs/utSetting.h"

#include "catalogue/Settings.h"
#include "common/TextHelpers.h"
#include "dialogs/MainWindowCalls.h"
#include "widgets/UiMessageBoxes.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include <optional>

namespace vantero {

TFmSetting::TFmSetting(TMainWindowCalls* main)
    : QDialog(main->DialogParent()), m_main(main), qry(main->MainData().con) {
    setObjectName(QStringLiteral("FmSetting"));
    setWindowTitle(SettingTexts::Caption);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* intervalLabel = new QLabel(SettingTexts::IntervalLabel, this);
    edtUpdateTimeOut = new QLineEdit(this);
    edtUpdateTimeOut->setObjectName(QStringLiteral("edtUpdateTimeOut"));
    edtUpdateTimeOut->setAccessibleName(SettingTexts::IntervalLabel);
    intervalLabel->setBuddy(edtUpdateTimeOut);
    auto* minutesLabel = new QLabel(SettingTexts::Minutes, this);

    auto* wwLabel = new QLabel(SettingTexts::OwnAccountLabel, this);
    edtWW = new QLineEdit(this);
    edtWW->setObjectName(QStringLiteral("edtWW"));
    edtWW->setAccessibleName(SettingTexts::OwnAccountLabel);
    wwLabel->setBuddy(edtWW);

    btnSave = new QPushButton(SettingTexts::Save, this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnSave->setAccessibleName(SettingTexts::Save);
    btnSave->setDefault(true);
    btnClose = new QPushButton(SettingTexts::Cancel, this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAccessibleName(SettingTexts::Cancel);

    auto* intervalRow = new QHBoxLayout;
    intervalRow->addWidget(edtUpdateTimeOut);
    intervalRow->addWidget(minutesLabel);
    auto* wwRow = new QHBoxLayout;
    wwRow->addWidget(wwLabel);
    wwRow->addWidget(edtWW, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnSave);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(4);
    layout->addWidget(intervalLabel);
    layout->addLayout(intervalRow);
    layout->addLayout(wwRow);
    layout->addStretch();
    layout->addLayout(buttons);
    // A fixed client size; a size constraint on the layout would override it with its hint.
    setFixedSize(239, 138);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    connect(btnSave, &QPushButton::clicked, this, &TFmSetting::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &TFmSetting::btnCloseClick);
    FormCreate();
}

void TFmSetting::FormCreate() {
    edtUpdateTimeOut->clear();
}

void TFmSetting::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        RunReported(this, [this] { LoadSettings(); });
}

void TFmSetting::LoadSettings() {
    const TSettingValues values = vantero::LoadSettings(qry);
    m_rowExists = values.rowExists;
    edtUpdateTimeOut->setText(values.updateTimeOut);
    // Without a row the file holds no account: the box shows the one in use, so saving the
    // interval writes that account rather than an empty one.
    m_shownAccount = values.rowExists ? values.ownAccount : m_main->MainData().OwnAccount;
    edtWW->setText(m_shownAccount);
}

void TFmSetting::btnSaveClick() {
    const int minutes = ParseUpdateMinutes(edtUpdateTimeOut->text());
    if (!IsAllowedUpdateMinutes(minutes)) {
        ShowPlainBox(this, SettingTexts::TooShort);
        edtUpdateTimeOut->setFocus();
        return;
    }
    // The account is written only when the user changed it (or the file has no row to keep it
    // in); an account the user did not touch is never emptied by saving the interval.
    const QString typed = TrimBlanks(edtWW->text());
    const bool changed = typed != TrimBlanks(m_shownAccount);
    std::optional<QString> ownAccount;
    if (changed || !m_rowExists)
        ownAccount = typed;
    // A failed store changes neither the timer nor the account in use.
    if (!RunReported(this, [&] { StoreSettings(qry, minutes, ownAccount); }))
        return;
    m_main->SettingsSaved(minutes, ownAccount ? *ownAccount : m_main->MainData().OwnAccount);
    ShowPlainBox(this, SettingTexts::Saved);
    accept();
}

void TFmSetting::btnCloseClick() {
    reject();
}

} // namespace vantero
