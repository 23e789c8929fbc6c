#include "dialogs/utSetting.h"

#include "catalogue/Settings.h"
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
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnSave);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(4);
    layout->addWidget(intervalLabel);
    layout->addLayout(intervalRow);
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
}

void TFmSetting::btnSaveClick() {
    const int minutes = ParseUpdateMinutes(edtUpdateTimeOut->text());
    if (!IsAllowedUpdateMinutes(minutes)) {
        ShowPlainBox(this, SettingTexts::TooShort);
        edtUpdateTimeOut->setFocus();
        return;
    }
    // A new row gets the account in use, so saving the interval never empties it; an existing
    // row's account is left as it is.
    const QString accountInUse = m_main->MainData().OwnAccount;
    std::optional<QString> ownAccount;
    if (!m_rowExists)
        ownAccount = accountInUse;
    // A failed store changes neither the timer nor the account in use.
    if (!RunReported(this, [&] { StoreSettings(qry, minutes, ownAccount); }))
        return;
    m_main->SettingsSaved(minutes, accountInUse);
    ShowPlainBox(this, SettingTexts::Saved);
    accept();
}

void TFmSetting::btnCloseClick() {
    reject();
}

} // namespace vantero
