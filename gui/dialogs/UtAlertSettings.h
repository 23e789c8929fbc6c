#pragma once

#include "store/Connection.h"

#include <QDialog>

class QCheckBox;
class QDoubleSpinBox;
class QPushButton;

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
} // namespace AlertSettingTexts

// The alert switches: on or off, and the percentage of a price change that is reported. Kept in
// the database's options; OK stores them, Cancel changes nothing.
class TFmAlertSettings final : public QDialog {
    Q_OBJECT
public:
    explicit TFmAlertSettings(TConnection connection, QWidget* parent = nullptr);

    QCheckBox* chkAlertsOn = nullptr;
    QDoubleSpinBox* spnPercent = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnClose = nullptr;

public slots:
    void btnSaveClick();

private:
    TConnection m_con;
};

} // namespace vantero
