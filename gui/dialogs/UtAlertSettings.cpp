#include "dialogs/UtAlertSettings.h"

#include "history/AlertStore.h"
#include "widgets/UiMessageBoxes.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantero {

TFmAlertSettings::TFmAlertSettings(TConnection connection, QWidget* parent)
    : QDialog(parent), m_con(std::move(connection)) {
    setObjectName(QStringLiteral("FmAlertSettings"));
    setWindowTitle(AlertSettingTexts::Caption);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    chkAlertsOn = new QCheckBox(AlertSettingTexts::AlertsOn, this);
    chkAlertsOn->setObjectName(QStringLiteral("chkAlertsOn"));
    chkAlertsOn->setAccessibleName(AlertSettingTexts::AlertsOn);

    auto* percentLabel = new QLabel(AlertSettingTexts::PercentLabel, this);
    spnPercent = new QDoubleSpinBox(this);
    spnPercent->setObjectName(QStringLiteral("spnPercent"));
    spnPercent->setAccessibleName(AlertSettingTexts::PercentLabel);
    spnPercent->setRange(kMinAlertPercent, kMaxAlertPercent);
    spnPercent->setDecimals(1);
    spnPercent->setSingleStep(1);
    spnPercent->setSuffix(AlertSettingTexts::PercentSuffix);
    percentLabel->setBuddy(spnPercent);
    auto* afterLabel = new QLabel(AlertSettingTexts::PercentAfter, this);
    auto* note = new QLabel(AlertSettingTexts::Note, this);
    note->setWordWrap(true);
    note->setAccessibleName(AlertSettingTexts::Note);

    btnSave = new QPushButton(AlertSettingTexts::Save, this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnSave->setAccessibleName(AlertSettingTexts::Save);
    btnSave->setDefault(true);
    btnClose = new QPushButton(AlertSettingTexts::Cancel, this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAccessibleName(AlertSettingTexts::Cancel);

    auto* percentRow = new QHBoxLayout;
    percentRow->addWidget(percentLabel);
    percentRow->addWidget(spnPercent);
    percentRow->addWidget(afterLabel);
    percentRow->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnSave);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(chkAlertsOn);
    layout->addLayout(percentRow);
    layout->addWidget(note);
    layout->addStretch();
    layout->addLayout(buttons);
    setMinimumWidth(320);

    connect(chkAlertsOn, &QCheckBox::toggled, spnPercent, &QWidget::setEnabled);
    connect(btnSave, &QPushButton::clicked, this, &TFmAlertSettings::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);

    RunReported(this, [this] {
        const TAlertSettings settings = ReadAlertSettings(m_con);
        chkAlertsOn->setChecked(settings.on);
        spnPercent->setValue(settings.percent);
        spnPercent->setEnabled(settings.on);
    });
}

void TFmAlertSettings::btnSaveClick() {
    const TAlertSettings settings{chkAlertsOn->isChecked(), spnPercent->value()};
    if (RunReported(this, [&] { WriteAlertSettings(m_con, settings); }))
        accept();
}

} // namespace vantero
