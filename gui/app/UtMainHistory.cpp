// The main window's price history commands: the price chart, the alerts and the export.
#include "app/UtAlerts.h"
#include "app/UtMain.h"
#include "app/UtPriceChart.h"
#include "catalogue/ItemCommands.h"
#include "history/AlertStore.h"
#include "history/ExportSheets.h"
#include "history/NotifySender.h"
#include "net/FailureTexts.h"
#include "widgets/UiMessageBoxes.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTreeWidget>

namespace vantero {

namespace {

// Alerts shown in one tray notice; the rest are counted.
constexpr int kAlertsPerNotice = 3;

const QString kChartCommand = QStringLiteral("价格走势");
const QString kAlertsCommand = QStringLiteral("价格提醒");
const QString kExportCommand = QStringLiteral("导出");
const QString kSelectItemFirst = QStringLiteral("请先在表格中选择一个宝贝");
const QString kExported = QStringLiteral("已导出到 %1");

QString ExportCaption(TExportSource source) {
    switch (source) {
    case TExportSource::Grid:
        return QStringLiteral("比较表格...");
    case TExportSource::Failures:
        return QStringLiteral("读取失败的宝贝...");
    case TExportSource::Alerts:
        return QStringLiteral("价格提醒...");
    case TExportSource::History:
        return QStringLiteral("所选宝贝的价格历史...");
    }
    return {};
}

} // namespace

void TFmMain::BuildHistoryCommands() {
    QMenu* mniN6 = menuBar()->findChild<QMenu*>(QStringLiteral("mniN6"));
    if (!mniN6)
        return;
    mniN6->addSeparator()->setObjectName(QStringLiteral("mniHistorySeparator"));
    // Added entries carry access keys and shortcuts; the listed ones keep their captions as they are.
    QAction* chart = mniN6->addAction(kChartCommand + QStringLiteral("(&G)"));
    chart->setObjectName(QStringLiteral("mniPriceChart"));
    chart->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    connect(chart, &QAction::triggered, this, &TFmMain::btnPriceChartClick);
    QAction* alerts = mniN6->addAction(kAlertsCommand + QStringLiteral("(&T)"));
    alerts->setObjectName(QStringLiteral("mniAlerts"));
    alerts->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(alerts, &QAction::triggered, this, &TFmMain::mniAlertsClick);
    QMenu* exportMenu = mniN6->addMenu(kExportCommand + QStringLiteral("(&E)"));
    exportMenu->setObjectName(QStringLiteral("mniExport"));
    const std::pair<TExportSource, const char*> sources[] = {{TExportSource::Grid, "mniExportGrid"},
                                                             {TExportSource::Failures, "mniExportFailures"},
                                                             {TExportSource::Alerts, "mniExportAlerts"},
                                                             {TExportSource::History, "mniExportHistory"}};
    for (const auto& [source, name] : sources) {
        QAction* action = exportMenu->addAction(ExportCaption(source));
        action->setObjectName(QString::fromLatin1(name));
        if (source == TExportSource::Grid)
            action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
        connect(action, &QAction::triggered, this, [this, source = source] { ExportClick(source); });
    }
}

TFmPriceChart* TFmMain::OpenPriceChart(const QString& itemId, const QString& shop) {
    QString name = itemId;
    for (int row = 0; row < RowCount(); ++row) {
        const TItem& item = m_data.grid.item(row);
        if (item.ItemID == itemId) {
            name = TGridData::DisplayName(item.CustomItemName, item.ItemName);
            break;
        }
    }
    TFmPriceChart* chart = nullptr;
    if (!RunReported(this, [&] { chart = new TFmPriceChart(m_data.con, itemId, name, m_data.RivalAccounts, this); }))
        return nullptr;
    chart->setAttribute(Qt::WA_DeleteOnClose);
    if (!shop.isEmpty())
        chart->HighlightShop(shop);
    chart->show();
    chart->raise();
    return chart;
}

void TFmMain::btnPriceChartClick() {
    const int row = FocusedRow();
    if (row < 0) {
        ShowInfoBox(this, kSelectItemFirst);
        return;
    }
    QString shop;
    const QList<QTreeWidgetItem*> selected = lvDetail->selectedItems();
    if (!selected.isEmpty() && lvDetail->indexOfTopLevelItem(selected.first()) > 0)
        shop = selected.first()->text(kDetailOwner).trimmed();
    OpenPriceChart(m_data.grid.item(row).ItemID, shop);
}

void TFmMain::lvDetailDoubleClick(QTreeWidgetItem* row) {
    const int gridRow = FocusedRow();
    if (!row || gridRow < 0)
        return;
    const int detailRow = lvDetail->indexOfTopLevelItem(row);
    OpenPriceChart(m_data.grid.item(gridRow).ItemID, detailRow > 0 ? row->text(kDetailOwner).trimmed() : QString());
}

TFmAlerts* TFmMain::AlertsWindow(bool create) {
    if (!m_alerts && create) {
        m_alerts = new TFmAlerts(m_data.con, this);
        connect(m_alerts, &TFmAlerts::chartRequested, this,
                [this](const QString& itemId, const QString& shop) { OpenPriceChart(itemId, shop); });
    }
    return m_alerts;
}

void TFmMain::mniAlertsClick() {
    if (isHidden())
        RestoreFromTray(); // from the tray: the alerts open over the program's window
    TFmAlerts* window = AlertsWindow(true);
    RunReported(this, [window] { window->Reload(); });
    window->show();
    window->raise();
    window->activateWindow();
}

QList<TAlert> TFmMain::CheckAlertsNow() {
    // Open charts show what the readings just stored.
    for (TFmPriceChart* chart : findChildren<TFmPriceChart*>(Qt::FindDirectChildrenOnly))
        RunReported(chart, [chart] { chart->Reload(); });
    QList<TAlert> alerts;
    const bool checked = RunReported(this, [&] { alerts = CheckAlerts(m_data.con); });
    ShowUnreadAlerts();
    if (!checked || alerts.isEmpty())
        return alerts;
    if (m_alerts)
        RunReported(m_alerts, [this] { m_alerts->Reload(); });
    // This window stored them, so it sends them to the user's channels; showing alerts never does.
    if (!m_sender) {
        m_sender = std::make_unique<TNotifySender>(m_data.con);
        m_sender->SetReportHandler([this](const TSendReport& report) {
            QMetaObject::invokeMethod(
                this, [this, report] { SendReported(report); }, Qt::QueuedConnection);
        });
    }
    m_sender->SendRound(alerts);
    // Without a tray (or notices on it) the alerts wait in the alerts window.
    if (icon->isVisible() && QSystemTrayIcon::supportsMessages()) {
        QStringList lines;
        for (int i = 0; i < alerts.size() && i < kAlertsPerNotice; ++i)
            lines << AlertTexts::Message(alerts[i]);
        if (alerts.size() > kAlertsPerNotice)
            lines << AlertTexts::ManyNew.arg(alerts.size() - kAlertsPerNotice);
        icon->showMessage(AlertTexts::NotifyTitle, lines.join(u'\n'), QSystemTrayIcon::Information);
    }
    return alerts;
}

void TFmMain::SendReported(const TSendReport& report) {
    if (report.result.ok)
        return;
    if (m_alerts)
        RunReported(m_alerts, [this] { m_alerts->Reload(); });
    // Once per run of failures, and without stopping anything: the box waits beside the window.
    if (report.failedRoundsInRow != kFailedRoundsBeforeNotice)
        return;
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("提示"),
                                NotifyTexts::ChannelFailing.arg(report.channel).arg(kFailedRoundsBeforeNotice) +
                                    QStringLiteral("\n") + report.result.error,
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("boxChannelFailing"));
    box->setAccessibleName(box->text());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

bool TFmMain::ExportTo(TExportSource source, const QString& path) {
    const std::optional<TExportFormat> format = ExportFormatOf(path);
    if (!format)
        return false;
    QString problem;
    const bool built = RunReported(this, [&] {
        TSheet sheet;
        switch (source) {
        case TExportSource::Grid:
            sheet = GridSheet(m_data.grid);
            break;
        case TExportSource::Failures:
            sheet = FailuresSheet(m_data.con);
            break;
        case TExportSource::Alerts:
            sheet = AlertsSheet(m_data.con);
            break;
        case TExportSource::History: {
            const int row = FocusedRow();
            if (row < 0)
                return;
            sheet = HistorySheet(m_data.con, m_data.grid.item(row).ItemID);
            break;
        }
        }
        problem = WriteSheetFile(sheet, path, *format);
    });
    if (!built)
        return false;
    if (!problem.isEmpty()) {
        ShowErrorBox(this, problem);
        return false;
    }
    ShowInfoBox(this, kExported.arg(QDir::toNativeSeparators(path)));
    return true;
}

void TFmMain::ExportClick(TExportSource source) {
    if (source == TExportSource::History && FocusedRow() < 0) {
        ShowInfoBox(this, kSelectItemFirst);
        return;
    }
    const QString xlsx = QStringLiteral("Excel 工作簿 (*.xlsx)");
    const QString csv = QStringLiteral("CSV 文件 (*.csv)");
    QString filter = xlsx;
    QString path =
        QFileDialog::getSaveFileName(this, kExportCommand, QString(), xlsx + QStringLiteral(";;") + csv, &filter);
    if (path.isEmpty())
        return;
    if (!ExportFormatOf(path))
        path += filter == csv ? QStringLiteral(".csv") : QStringLiteral(".xlsx");
    ExportTo(source, path);
}

} // namespace vantero
