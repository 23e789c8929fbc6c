#pragma once

#include "history/NotifyChannels.h"
#include "store/Connection.h"

#include <QDialog>

#include <memory>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace vantero {

// Texts of the alert switches dialog.
namespace AlertSettingTexts {
inline const QString Caption = QStringLiteral("提醒设置");
inline const QString AlertsOn = QStringLiteral("开启价格提醒");
inline const QString PercentLabel = QStringLiteral("同行价格变动超过");
inline const QString PercentSuffix = QStringLiteral(" %");
inline const QString PercentAfter = QStringLiteral("时提醒");
inline const QString Note = QStringLiteral("同行价格降到低于您的价格，或您的宝贝页面连续 3 次读取失败时，也会提醒。");
inline const QString Save = QStringLiteral("确定");
inline const QString Cancel = QStringLiteral("取消");
inline const QString Channels = QStringLiteral("提醒渠道（新提醒同时发送到这些渠道）");
inline const QString ChannelList = QStringLiteral("提醒渠道");
inline const QString AddChannel = QStringLiteral("添加");
inline const QString EditChannel = QStringLiteral("修改");
inline const QString RemoveChannel = QStringLiteral("删除");
inline const QString TestChannel = QStringLiteral("发送测试消息");
inline const QString SecretsWhere = QStringLiteral("地址、密钥和密码只保存在本机本用户处，不写入数据库：%1");
inline const QString RemoveQuestion = QStringLiteral("确定删除提醒渠道“%1”吗？");
inline const QString Testing = QStringLiteral("正在向“%1”发送测试消息……");
inline const QString TestSent = QStringLiteral("测试消息已发送到“%1”。");
inline const QString TestFailed = QStringLiteral("发送到“%1”失败：%2");
inline const QString Address = QStringLiteral("地址");
inline const QString State = QStringLiteral("状态");
inline const QString On = QStringLiteral("启用");
inline const QString Off = QStringLiteral("停用");
} // namespace AlertSettingTexts

// Texts of the channel editor.
namespace ChannelEditTexts {
inline const QString AddCaption = QStringLiteral("添加提醒渠道");
inline const QString EditCaption = QStringLiteral("修改提醒渠道");
inline const QString Name = QStringLiteral("名称");
inline const QString Kind = QStringLiteral("类型");
inline const QString Webhook = QStringLiteral("机器人地址");
inline const QString Secret = QStringLiteral("签名密钥（可不填）");
inline const QString Format = QStringLiteral("消息形式");
inline const QString FormatText = QStringLiteral("文本");
inline const QString FormatCard = QStringLiteral("卡片");
inline const QString Server = QStringLiteral("邮件服务器（主机:端口）");
inline const QString Security = QStringLiteral("加密方式");
inline const QString StartTls = QStringLiteral("STARTTLS");
inline const QString Tls = QStringLiteral("SSL/TLS");
inline const QString Plain = QStringLiteral("不加密（仅限本机或内网）");
inline const QString From = QStringLiteral("发件人");
inline const QString To = QStringLiteral("收件人（多个用逗号分隔）");
inline const QString User = QStringLiteral("用户名");
inline const QString Password = QStringLiteral("密码");
inline const QString Enabled = QStringLiteral("启用该渠道");
inline const QString Kept = QStringLiteral("已保存，留空则不变");
} // namespace ChannelEditTexts

// One channel: its kind's fields only. OK stores it (the secrets in the keyring or the user's
// file); a refusal is shown and the dialog stays.
class TFmChannelEdit final : public QDialog {
    Q_OBJECT
public:
    // Without a channel: a new one.
    explicit TFmChannelEdit(const std::optional<TNotifyChannel>& channel, QWidget* parent = nullptr);

    QLineEdit* edtName = nullptr;
    QComboBox* cbKind = nullptr;
    QLineEdit* edtWebhook = nullptr;
    QLineEdit* edtSecret = nullptr;
    QComboBox* cbFormat = nullptr;
    QLineEdit* edtServer = nullptr;
    QComboBox* cbSecurity = nullptr;
    QLineEdit* edtFrom = nullptr;
    QLineEdit* edtTo = nullptr;
    QLineEdit* edtUser = nullptr;
    QLineEdit* edtPassword = nullptr;
    QCheckBox* chkEnabled = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnClose = nullptr;

public slots:
    void btnSaveClick();

private:
    void ShowKindRows();
    QFormLayout* m_form = nullptr;
    QString m_oldName;
};

class TNotifySender;
struct TSendReport;

// The alert switches: on or off, and the percentage of a price change that is reported. Kept in
// the database's options; OK stores them, Cancel changes nothing. Below them the user's channels,
// which are the user's own and not the database's: a change there is kept at once.
class TFmAlertSettings final : public QDialog {
    Q_OBJECT
public:
    explicit TFmAlertSettings(TConnection connection, QWidget* parent = nullptr);

    QCheckBox* chkAlertsOn = nullptr;
    QDoubleSpinBox* spnPercent = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnClose = nullptr;
    QTreeWidget* lvChannels = nullptr;
    QPushButton* btnAddChannel = nullptr;
    QPushButton* btnEditChannel = nullptr;
    QPushButton* btnRemoveChannel = nullptr;
    QPushButton* btnTestChannel = nullptr;
    QLabel* lblSecretsWhere = nullptr;
    QLabel* lblTestResult = nullptr;

    ~TFmAlertSettings() override;
    // Reads the channel list again.
    void ReloadChannels();

public slots:
    void btnSaveClick();
    void btnAddChannelClick();
    void btnEditChannelClick();
    void btnRemoveChannelClick();
    void btnTestChannelClick();

private:
    void TestReported(const TSendReport& report);
    TConnection m_con;
    QList<TNotifyChannel> m_channels;
    std::unique_ptr<TNotifySender> m_sender;
};

} // namespace vantero
