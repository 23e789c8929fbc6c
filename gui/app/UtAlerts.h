#pragma once

#include "history/AlertRules.h"
#include "store/Connection.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace vantero {

// Texts of the alerts window.
namespace AlertWindowTexts {
inline const QString Caption = QStringLiteral("价格提醒");
inline const QString Unread = QStringLiteral("未读提醒：%1 条");
inline const QString ShowRead = QStringLiteral("显示已读的提醒");
inline const QString MarkRead = QStringLiteral("标为已读");
inline const QString MarkAllRead = QStringLiteral("全部标为已读");
inline const QString Settings = QStringLiteral("提醒设置");
inline const QString Chart = QStringLiteral("价格走势");
inline const QString Close = QStringLiteral("关闭");
inline const QString SendFailures = QStringLiteral("发送失败");
} // namespace AlertWindowTexts

// The stored alerts, newest first: unread ones until marked read (read ones on request), with
// the alert switches one click away.
class TFmAlerts final : public QDialog {
    Q_OBJECT
public:
    explicit TFmAlerts(TConnection connection, QWidget* parent = nullptr);

    // Reads the alerts again (after a run found new ones).
    void Reload();
    const QList<TAlert>& Alerts() const { return m_alerts; }

    QTreeWidget* lvAlerts = nullptr;
    QLabel* lblUnread = nullptr;
    QCheckBox* chkShowRead = nullptr;
    QPushButton* btnMarkRead = nullptr;
    QPushButton* btnMarkAllRead = nullptr;
    QPushButton* btnSettings = nullptr;
    QPushButton* btnChart = nullptr;
    QPushButton* btnClose = nullptr;

signals:
    // The price chart of an alert's item was asked for, with its shop to pick out.
    void chartRequested(const QString& itemId, const QString& shop);

public slots:
    void btnMarkReadClick();
    void btnMarkAllReadClick();
    void btnSettingsClick();
    void btnChartClick();

private:
    TConnection m_con;
    QList<TAlert> m_alerts;
};

} // namespace vantero
