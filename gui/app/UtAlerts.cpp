#include "app/UtAlerts.h"

#include "catalogue/GridData.h"
#include "catalogue/ItemCommands.h"
#include "common/TextHelpers.h"
#include "dialogs/UtAlertSettings.h"
#include "history/AlertStore.h"
#include "store/Connection.h"
#include "widgets/UiMessageBoxes.h"
#include "widgets/UiWidgets.h"
#include "widgets/UiWindowSize.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace vantero {

namespace {

enum { kTime, kKind, kItem, kShop, kOld, kNew, kOwn, kState, kSendFailures, kColumns };

QString Price(const std::optional<double>& value) {
    return value ? FormatPrice(*value) : QString();
}

} // namespace

TFmAlerts::TFmAlerts(TConnection connection, QWidget* parent) : QDialog(parent), m_con(std::move(connection)) {
    setObjectName(QStringLiteral("FmAlerts"));
    setWindowTitle(AlertWindowTexts::Caption);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    FitOnScreen(this, QSize(980, 480));

    lblUnread = new QLabel(this);
    lblUnread->setObjectName(QStringLiteral("lblUnread"));
    chkShowRead = new QCheckBox(AlertWindowTexts::ShowRead, this);
    chkShowRead->setObjectName(QStringLiteral("chkShowRead"));
    chkShowRead->setAccessibleName(AlertWindowTexts::ShowRead);
    connect(chkShowRead, &QCheckBox::toggled, this, [this] { RunReported(this, [this] { Reload(); }); });

    lvAlerts = NewRowList(this, QStringLiteral("lvAlerts"), AlertWindowTexts::Caption);
    lvAlerts->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvAlerts->setUniformRowHeights(true);
    lvAlerts->setColumnCount(kColumns);
    lvAlerts->setHeaderLabels({QStringLiteral("时间"), QStringLiteral("类型"), QStringLiteral("宝贝名称"),
                               QStringLiteral("同行"), QStringLiteral("原价格"), QStringLiteral("新价格"),
                               QStringLiteral("自己的价格"), QStringLiteral("状态"), AlertWindowTexts::SendFailures});
    int widths[] = {150, 150, 230, 100, 70, 70, 80, 60, 260};
    // The time column holds the longest time of the locale's format.
    widths[0] = std::max(widths[0], lvAlerts->fontMetrics().horizontalAdvance(
                                        FormatDateTime(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)))) +
                                        16);
    for (int i = 0; i < kColumns; ++i)
        lvAlerts->setColumnWidth(i, widths[i]);
    connect(lvAlerts, &QTreeWidget::itemDoubleClicked, this, [this] { btnChartClick(); });

    auto addButton = [this](const QString& name, const QString& caption) {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(name);
        button->setAccessibleName(caption);
        return button;
    };
    btnMarkRead = addButton(QStringLiteral("btnMarkRead"), AlertWindowTexts::MarkRead);
    btnMarkAllRead = addButton(QStringLiteral("btnMarkAllRead"), AlertWindowTexts::MarkAllRead);
    btnChart = addButton(QStringLiteral("btnChart"), AlertWindowTexts::Chart);
    btnSettings = addButton(QStringLiteral("btnSettings"), AlertWindowTexts::Settings);
    btnClose = addButton(QStringLiteral("btnClose"), AlertWindowTexts::Close);
    connect(btnMarkRead, &QPushButton::clicked, this, &TFmAlerts::btnMarkReadClick);
    connect(btnMarkAllRead, &QPushButton::clicked, this, &TFmAlerts::btnMarkAllReadClick);
    connect(btnChart, &QPushButton::clicked, this, &TFmAlerts::btnChartClick);
    connect(btnSettings, &QPushButton::clicked, this, &TFmAlerts::btnSettingsClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);

    auto* top = new QHBoxLayout;
    top->addWidget(lblUnread, 1);
    top->addWidget(chkShowRead);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnMarkRead);
    buttons->addWidget(btnMarkAllRead);
    buttons->addWidget(btnChart);
    buttons->addStretch();
    buttons->addWidget(btnSettings);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(lvAlerts, 1);
    layout->addLayout(buttons);

    RunReported(this, [this] { Reload(); });
}

void TFmAlerts::Reload() {
    TAlertFilter filter;
    filter.newestFirst = true;
    filter.unreadOnly = !chkShowRead->isChecked();
    m_alerts = ListAlerts(m_con, filter);
    const int unread = UnreadAlertCount(m_con);
    lblUnread->setText(AlertWindowTexts::Unread.arg(unread));
    lblUnread->setAccessibleName(lblUnread->text());

    lvAlerts->setUpdatesEnabled(false);
    lvAlerts->clear();
    for (int i = 0; i < m_alerts.size(); ++i) {
        const TAlert& alert = m_alerts[i];
        // Shown as every other list shows a time; a text that is no time stays as stored.
        const QDateTime created = DateTimeFromColumn(alert.createdAt);
        auto* row = new QTreeWidgetItem(
            lvAlerts, {created.isValid() ? FormatDateTime(created) : alert.createdAt, AlertTexts::KindName(alert.kind),
                       alert.itemName.isEmpty() ? alert.localItemID : alert.itemName,
                       alert.rivalWW.isEmpty() ? ItemTexts::Own : alert.rivalWW, Price(alert.oldPrice),
                       Price(alert.newPrice), Price(alert.ownPrice),
                       alert.isRead ? QStringLiteral("已读") : QStringLiteral("未读"), alert.sendFailures});
        row->setData(0, Qt::UserRole, i);
        QString message = AlertTexts::Message(alert);
        if (!alert.sendFailures.isEmpty()) {
            message += u'\n' + AlertWindowTexts::SendFailures + QStringLiteral("：") + alert.sendFailures;
            row->setForeground(kSendFailures, QColor(0xC0, 0x00, 0x00));
        }
        for (int column = 0; column < kColumns; ++column) {
            row->setToolTip(column, message);
            if (column >= kOld && column <= kOwn)
                row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        }
        if (alert.kind == TAlertKind::Undercut)
            row->setForeground(kNew, QColor(0xFF, 0x00, 0x00));
        if (!alert.isRead) {
            QFont font = lvAlerts->font();
            font.setBold(true);
            for (int column = 0; column < kColumns; ++column)
                row->setFont(column, font);
        }
    }
    lvAlerts->setUpdatesEnabled(true);
    btnMarkAllRead->setEnabled(unread > 0);
}

void TFmAlerts::btnMarkReadClick() {
    QList<qint64> ids;
    for (QTreeWidgetItem* row : lvAlerts->selectedItems())
        ids << m_alerts.value(row->data(0, Qt::UserRole).toInt()).id;
    if (ids.isEmpty())
        return;
    RunReported(this, [&] {
        MarkAlertsRead(m_con, ids);
        Reload();
    });
}

void TFmAlerts::btnMarkAllReadClick() {
    RunReported(this, [this] {
        MarkAllAlertsRead(m_con);
        Reload();
    });
}

void TFmAlerts::btnSettingsClick() {
    TFmAlertSettings dialog(m_con, this);
    dialog.exec();
}

void TFmAlerts::btnChartClick() {
    QTreeWidgetItem* row = lvAlerts->currentItem();
    if (!row)
        return;
    const TAlert alert = m_alerts.value(row->data(0, Qt::UserRole).toInt());
    emit chartRequested(alert.localItemID, alert.rivalWW);
}

} // namespace vantero
