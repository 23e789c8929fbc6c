#include "dialogs/UtAlertSettings.h"

#include "history/AlertStore.h"
#include "history/NotifySender.h"
#include "widgets/UiMessageBoxes.h"
#include "widgets/UiWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
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

    auto* channels = new QGroupBox(AlertSettingTexts::Channels, this);
    channels->setObjectName(QStringLiteral("grpChannels"));
    lvChannels = NewRowList(channels, QStringLiteral("lvChannels"), AlertSettingTexts::ChannelList);
    lvChannels->setColumnCount(4);
    lvChannels->setHeaderLabels(
        {ChannelEditTexts::Name, ChannelEditTexts::Kind, AlertSettingTexts::Address, AlertSettingTexts::State});
    const int widths[] = {110, 120, 220, 50};
    for (int i = 0; i < 4; ++i)
        lvChannels->setColumnWidth(i, widths[i]);
    lvChannels->setMinimumHeight(110);
    auto channelButton = [channels](const QString& name, const QString& caption) {
        auto* button = new QPushButton(caption, channels);
        button->setObjectName(name);
        button->setAccessibleName(caption);
        return button;
    };
    btnAddChannel = channelButton(QStringLiteral("btnAddChannel"), AlertSettingTexts::AddChannel);
    btnEditChannel = channelButton(QStringLiteral("btnEditChannel"), AlertSettingTexts::EditChannel);
    btnRemoveChannel = channelButton(QStringLiteral("btnRemoveChannel"), AlertSettingTexts::RemoveChannel);
    btnTestChannel = channelButton(QStringLiteral("btnTestChannel"), AlertSettingTexts::TestChannel);
    lblSecretsWhere = new QLabel(channels);
    lblSecretsWhere->setObjectName(QStringLiteral("lblSecretsWhere"));
    lblSecretsWhere->setWordWrap(true);
    lblTestResult = new QLabel(channels);
    lblTestResult->setObjectName(QStringLiteral("lblTestResult"));
    lblTestResult->setWordWrap(true);
    auto* channelButtons = new QHBoxLayout;
    channelButtons->addWidget(btnAddChannel);
    channelButtons->addWidget(btnEditChannel);
    channelButtons->addWidget(btnRemoveChannel);
    channelButtons->addStretch();
    channelButtons->addWidget(btnTestChannel);
    auto* channelLayout = new QVBoxLayout(channels);
    channelLayout->addWidget(lvChannels, 1);
    channelLayout->addLayout(channelButtons);
    channelLayout->addWidget(lblTestResult);
    channelLayout->addWidget(lblSecretsWhere);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(chkAlertsOn);
    layout->addLayout(percentRow);
    layout->addWidget(note);
    layout->addWidget(channels, 1);
    layout->addLayout(buttons);
    setMinimumWidth(540);

    connect(btnAddChannel, &QPushButton::clicked, this, &TFmAlertSettings::btnAddChannelClick);
    connect(btnEditChannel, &QPushButton::clicked, this, &TFmAlertSettings::btnEditChannelClick);
    connect(btnRemoveChannel, &QPushButton::clicked, this, &TFmAlertSettings::btnRemoveChannelClick);
    connect(btnTestChannel, &QPushButton::clicked, this, &TFmAlertSettings::btnTestChannelClick);
    connect(lvChannels, &QTreeWidget::itemDoubleClicked, this, &TFmAlertSettings::btnEditChannelClick);
    connect(lvChannels, &QTreeWidget::currentItemChanged, this, [this] {
        const bool chosen = lvChannels->currentItem() != nullptr;
        btnEditChannel->setEnabled(chosen);
        btnRemoveChannel->setEnabled(chosen);
        btnTestChannel->setEnabled(chosen);
    });
    ReloadChannels();

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

TFmAlertSettings::~TFmAlertSettings() = default;

void TFmAlertSettings::ReloadChannels() {
    const QString current = lvChannels->currentItem() ? lvChannels->currentItem()->text(0) : QString();
    m_channels = LoadChannels();
    lvChannels->clear();
    for (const TNotifyChannel& channel : std::as_const(m_channels)) {
        const QString address = channel.kind == TChannelKind::Email
                                    ? channel.server + QStringLiteral(" → ") + channel.to.join(QStringLiteral(", "))
                                    : MaskedAddress(TSecretStore::Lookup(channel.name).webhook);
        auto* row = new QTreeWidgetItem(lvChannels, {channel.name, ChannelKindTexts::Name(channel.kind), address,
                                                     channel.enabled ? AlertSettingTexts::On : AlertSettingTexts::Off});
        row->setToolTip(2, address);
        if (channel.name == current)
            lvChannels->setCurrentItem(row);
    }
    const bool chosen = lvChannels->currentItem() != nullptr;
    btnEditChannel->setEnabled(chosen);
    btnRemoveChannel->setEnabled(chosen);
    btnTestChannel->setEnabled(chosen);
    lblSecretsWhere->setText(AlertSettingTexts::SecretsWhere.arg(TSecretStore::Where()));
    lblSecretsWhere->setAccessibleName(lblSecretsWhere->text());
}

void TFmAlertSettings::btnAddChannelClick() {
    TFmChannelEdit editor(std::nullopt, this);
    if (editor.exec() == QDialog::Accepted)
        ReloadChannels();
}

void TFmAlertSettings::btnEditChannelClick() {
    QTreeWidgetItem* row = lvChannels->currentItem();
    if (!row)
        return;
    const qsizetype at = lvChannels->indexOfTopLevelItem(row);
    TFmChannelEdit editor(m_channels.value(at), this);
    if (editor.exec() == QDialog::Accepted)
        ReloadChannels();
}

void TFmAlertSettings::btnRemoveChannelClick() {
    QTreeWidgetItem* row = lvChannels->currentItem();
    if (!row)
        return;
    const QString name = row->text(0);
    if (!AskYesNo(this, AlertSettingTexts::RemoveQuestion.arg(name), false))
        return;
    if (const TRefusableVoid removed = RemoveChannel(name); !removed)
        ShowErrorBox(this, removed.refusal());
    ReloadChannels();
}

void TFmAlertSettings::btnTestChannelClick() {
    QTreeWidgetItem* row = lvChannels->currentItem();
    if (!row)
        return;
    const TNotifyChannel channel = m_channels.value(lvChannels->indexOfTopLevelItem(row));
    if (!m_sender) {
        m_sender = std::make_unique<TNotifySender>(m_con);
        m_sender->SetReportHandler([this](const TSendReport& report) {
            QMetaObject::invokeMethod(
                this, [this, report] { TestReported(report); }, Qt::QueuedConnection);
        });
    }
    lblTestResult->setText(AlertSettingTexts::Testing.arg(channel.name));
    btnTestChannel->setEnabled(false);
    m_sender->SendTest(channel);
}

void TFmAlertSettings::TestReported(const TSendReport& report) {
    lblTestResult->setText(report.result.ok ? AlertSettingTexts::TestSent.arg(report.channel)
                                            : AlertSettingTexts::TestFailed.arg(report.channel, report.result.error));
    lblTestResult->setAccessibleName(lblTestResult->text());
    btnTestChannel->setEnabled(lvChannels->currentItem() != nullptr);
}

TFmChannelEdit::TFmChannelEdit(const std::optional<TNotifyChannel>& channel, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FmChannelEdit"));
    setWindowTitle(channel ? ChannelEditTexts::EditCaption : ChannelEditTexts::AddCaption);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto edit = [this](const QString& name, const QString& caption, bool secret = false) {
        auto* field = new QLineEdit(this);
        field->setObjectName(name);
        field->setAccessibleName(caption);
        if (secret)
            field->setEchoMode(QLineEdit::Password);
        return field;
    };
    auto combo = [this](const QString& name, const QString& caption, const QStringList& entries) {
        auto* box = new QComboBox(this);
        box->setObjectName(name);
        box->setAccessibleName(caption);
        box->addItems(entries);
        return box;
    };
    edtName = edit(QStringLiteral("edtName"), ChannelEditTexts::Name);
    QStringList kinds;
    for (TChannelKind kind : {TChannelKind::DingTalk, TChannelKind::WeCom, TChannelKind::Feishu, TChannelKind::Email,
                              TChannelKind::Webhook})
        kinds << ChannelKindTexts::Name(kind);
    cbKind = combo(QStringLiteral("cbKind"), ChannelEditTexts::Kind, kinds);
    edtWebhook = edit(QStringLiteral("edtWebhook"), ChannelEditTexts::Webhook, true);
    edtSecret = edit(QStringLiteral("edtSecret"), ChannelEditTexts::Secret, true);
    cbFormat = combo(QStringLiteral("cbFormat"), ChannelEditTexts::Format,
                     {ChannelEditTexts::FormatText, ChannelEditTexts::FormatCard});
    edtServer = edit(QStringLiteral("edtServer"), ChannelEditTexts::Server);
    cbSecurity = combo(QStringLiteral("cbSecurity"), ChannelEditTexts::Security,
                       {ChannelEditTexts::StartTls, ChannelEditTexts::Tls, ChannelEditTexts::Plain});
    edtFrom = edit(QStringLiteral("edtFrom"), ChannelEditTexts::From);
    edtTo = edit(QStringLiteral("edtTo"), ChannelEditTexts::To);
    edtUser = edit(QStringLiteral("edtUser"), ChannelEditTexts::User);
    edtPassword = edit(QStringLiteral("edtPassword"), ChannelEditTexts::Password, true);
    chkEnabled = new QCheckBox(ChannelEditTexts::Enabled, this);
    chkEnabled->setObjectName(QStringLiteral("chkEnabled"));
    chkEnabled->setAccessibleName(ChannelEditTexts::Enabled);
    chkEnabled->setChecked(true);
    btnSave = new QPushButton(AlertSettingTexts::Save, this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnSave->setAccessibleName(AlertSettingTexts::Save);
    btnSave->setDefault(true);
    btnClose = new QPushButton(AlertSettingTexts::Cancel, this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAccessibleName(AlertSettingTexts::Cancel);

    m_form = new QFormLayout;
    m_form->addRow(ChannelEditTexts::Name, edtName);
    m_form->addRow(ChannelEditTexts::Kind, cbKind);
    m_form->addRow(ChannelEditTexts::Webhook, edtWebhook);
    m_form->addRow(ChannelEditTexts::Secret, edtSecret);
    m_form->addRow(ChannelEditTexts::Format, cbFormat);
    m_form->addRow(ChannelEditTexts::Server, edtServer);
    m_form->addRow(ChannelEditTexts::Security, cbSecurity);
    m_form->addRow(ChannelEditTexts::From, edtFrom);
    m_form->addRow(ChannelEditTexts::To, edtTo);
    m_form->addRow(ChannelEditTexts::User, edtUser);
    m_form->addRow(ChannelEditTexts::Password, edtPassword);
    m_form->addRow(QString(), chkEnabled);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnSave);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(m_form);
    layout->addLayout(buttons);
    setMinimumWidth(460);

    if (channel) {
        m_oldName = channel->name;
        edtName->setText(channel->name);
        cbKind->setCurrentIndex(int(channel->kind));
        cbFormat->setCurrentIndex(channel->feishuCard ? 1 : 0);
        edtServer->setText(channel->server);
        cbSecurity->setCurrentIndex(int(channel->security));
        edtFrom->setText(channel->from);
        edtTo->setText(channel->to.join(QStringLiteral(", ")));
        edtUser->setText(channel->user);
        chkEnabled->setChecked(channel->enabled);
        // Stored secrets are never shown again: an empty field keeps them.
        const TChannelSecrets stored = TSecretStore::Lookup(channel->name);
        if (!stored.webhook.isEmpty())
            edtWebhook->setPlaceholderText(ChannelEditTexts::Kept);
        if (!stored.secret.isEmpty())
            edtSecret->setPlaceholderText(ChannelEditTexts::Kept);
        if (!stored.password.isEmpty())
            edtPassword->setPlaceholderText(ChannelEditTexts::Kept);
    }
    ShowKindRows();
    connect(cbKind, &QComboBox::currentIndexChanged, this, &TFmChannelEdit::ShowKindRows);
    connect(btnSave, &QPushButton::clicked, this, &TFmChannelEdit::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

void TFmChannelEdit::ShowKindRows() {
    const auto kind = TChannelKind(cbKind->currentIndex());
    const bool mail = kind == TChannelKind::Email;
    m_form->setRowVisible(edtWebhook, !mail);
    m_form->setRowVisible(edtSecret, kind == TChannelKind::DingTalk || kind == TChannelKind::Feishu);
    m_form->setRowVisible(cbFormat, kind == TChannelKind::Feishu);
    for (QWidget* field :
         {static_cast<QWidget*>(edtServer), static_cast<QWidget*>(cbSecurity), static_cast<QWidget*>(edtFrom),
          static_cast<QWidget*>(edtTo), static_cast<QWidget*>(edtUser), static_cast<QWidget*>(edtPassword)})
        m_form->setRowVisible(field, mail);
    adjustSize();
}

void TFmChannelEdit::btnSaveClick() {
    TNotifyChannel channel;
    channel.name = edtName->text().trimmed();
    channel.kind = TChannelKind(cbKind->currentIndex());
    channel.enabled = chkEnabled->isChecked();
    channel.feishuCard = cbFormat->currentIndex() == 1;
    channel.server = edtServer->text().trimmed();
    channel.security = TMailSecurity(cbSecurity->currentIndex());
    channel.from = edtFrom->text().trimmed();
    for (const QString& to :
         edtTo->text().split(QRegularExpression(QStringLiteral("[,;，；\\s]+")), Qt::SkipEmptyParts))
        channel.to << to;
    channel.user = edtUser->text().trimmed();
    const bool mail = channel.kind == TChannelKind::Email;
    const TChannelSecrets secrets{mail ? QString() : edtWebhook->text().trimmed(),
                                  mail ? QString() : edtSecret->text().trimmed(),
                                  mail ? edtPassword->text() : QString()};
    const TRefusableVoid stored = PutChannel(channel, secrets, m_oldName);
    if (!stored) {
        ShowErrorBox(this, stored.refusal());
        return;
    }
    accept();
}

void TFmAlertSettings::btnSaveClick() {
    const TAlertSettings settings{chkAlertsOn->isChecked(), spnPercent->value()};
    if (RunReported(this, [&] { WriteAlertSettings(m_con, settings); }))
        accept();
}

} // namespace vantero
