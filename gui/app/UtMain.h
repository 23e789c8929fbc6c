#pragma once

#include "catalogue/MainData.h"
#include "common/WindowMessages.h"
#include "dialogs/MainWindowCalls.h"
#include "history/AlertRules.h"

#include <QMainWindow>

#include <array>
#include <memory>

class QAction;
class QLabel;
class QPushButton;
class QSplitter;
class QSystemTrayIcon;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vantero {

class TCollapsingSplitter;
class TGridModel;
class TGridView;
class TFmUpdateing;
class TFmLogin;
class TFmWeb;
class TFmManual;
enum class TVendorPage;
class TReadAllItemThr;
class TSharedRoundThr;
class TFmAlerts;
class TNotifySender;
struct TSendReport;
class TFmPriceChart;
class TStatusPanel;
class TReadingListener;
enum class TExportSource;

// Texts of the main window.
namespace MainTexts {
inline const QString EntryTitle = QStringLiteral("Corvessa--Tessaly  v2.02(20110929) (定做版)");
inline const QString Caption = QStringLiteral("Corvessa--Tessaly V3.01");
} // namespace MainTexts

// The main window: tool bar, menu, comparison grid, detail panel, status bar, tray icon and
// the auto-update timer. Owns the database connection and the record sets (in Data()).
class TFmMain final : public QMainWindow, public TMainWindowCalls {
    Q_OBJECT
public:
    explicit TFmMain(TConnection connection, QWidget* parent = nullptr);
    ~TFmMain() override;

    TMainData& Data() { return m_data; }
    TWindowHandle Handle() const { return m_registration.handle(); }

    // What the dialogs ask of the window.
    QWidget* DialogParent() override { return this; }
    const TMainData& MainData() const override { return m_data; }
    void ItemRowsChanged() override { ReloadItemRows(); }
    void RivalsChanged() override { RefreshAll(); }
    void RenameItem(const QString& itemId, const QString& name) override;
    void SettingsSaved(qint64 minutes, const QString& ownAccount) override;
    void OwnAccountSaved(const QString& ownAccount) override;

    // Refresh cycle and its steps.
    void ApplySettings();
    void LoadRivals();
    void RefreshAll();
    void FillAllRows();    // re-fills all rows from qry as it stands, then lstClick
    void ReloadItemRows(); // re-opens qry on Items, then FillAllRows
    void RefreshRow(int position);
    void BuildDetailRows();
    void lstClick();

    // Grid rows for the other windows.
    int RowCount() const;
    int FocusedRow() const; // -1 without a focused row
    void SetFocusedRow(int row);
    const TItem* ItemAt(int row) const;
    void SetCellText(int row, int column, const QString& text);
    TGridModel* GridModel() const { return m_gridModel; }
    TGridView* GridView() const { return m_grid; }
    QTreeWidget* DetailList() const { return lvDetail; }

    // The auto-update interval; the countdown restarts only when the interval changes.
    // Minutes beyond what the timer can count are clamped to its largest interval.
    void SetUpdateInterval(qint64 minutes);
    QTimer* UpdateTimer() const { return tmr; }
    static int TimerIntervalFor(qint64 minutes);

    void SetStatusText(int panel, const QString& text);
    QString StatusText(int panel) const;

    QAction* Command(const QString& objectName) const;

    // One page read with the wait dialog, as the detail panel reads: the result code, or -1 when
    // the wait was cancelled (the reading then goes on by itself). A finished reading refreshes
    // the grid row of its own item.
    int ReadPageWaiting(const QString& address, const QString& localItemId, const QString& account,
                        const QString& ownItemId);
    // The summary of the last background run beside the status panels ("本次更新：…").
    QString RunSummaryText() const;
    // The unread alerts' status panel text; empty while it is hidden (no unread alert).
    QString UnreadAlertsText() const;
    // Whether the first steps show over the (empty) grid.
    bool GuideShown() const;
    QLabel* Guide() const { return m_guide; }
    static constexpr int kDetailOutcome = 6; // the detail list's column of the last attempt
    static constexpr int kDetailOutcomeWidth = 220;
    // What a double click on the tray icon does: the window comes back as the user left it.
    void RestoreFromTray();
    bool UpdateRunning() const { return Updater != nullptr || m_roundWorker != nullptr; }

public slots:
    void btnRefreshClick();
    void btnSettingClick();
    void mniOwnShopClick();
    void btnUpdateItemClick();
    void btn3Click();
    void btn4Click();
    void btn6Click();
    void btnDelClick();
    void btndataImportClick();
    void btnUpdateClick();
    void btnManualClick();
    void btn2Click();
    void btn5Click();
    void mniN5Click();
    void btnReadPriceClick();
    void btnSetAllPriceClick();
    void btnOpenURLClick();
    void tmrTimer();
    void btnFailuresClick();   // "读取失败的宝贝"
    void btnStopUpdateClick(); // "停止更新"

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void BuildToolBar();
    void BuildMenu();
    void BuildCentre();
    void BuildStatusBar();
    void BuildGuide();
    void BuildTray();
    QAction* AddCommand(const QString& name, const QString& caption, const QString& icon, void (TFmMain::*handler)());

    // Window messages.
    void OnReadItemResult(qintptr wparam, qintptr lparam);
    void OnReadAllFinished();
    void OnUpdateVersion(qintptr lparam);
    void StartUpdateCheck();
    // Stops work that must not outlive the window (called when it closes).
    void StopBackgroundWork();

    TWindowRegistration m_registration{this};
    TMainData m_data;
    TGridModel* m_gridModel = nullptr;
    TGridView* m_grid = nullptr;
    QToolBar* tb1 = nullptr;
    TCollapsingSplitter* spl1 = nullptr;
    QTreeWidget* lvDetail = nullptr;
    QPushButton* btnSetItem = nullptr;
    QPushButton* btnReadPrice = nullptr;
    QPushButton* btnSetAllPrice = nullptr;
    QPushButton* btnOpenURL = nullptr;
    std::array<TStatusPanel*, 3> m_panels{};
    QToolButton* m_summary = nullptr; // after the three panels; a click opens the failure list
    QToolButton* m_unread = nullptr;  // after the summary: unread alerts; a click opens them
    QLabel* m_guide = nullptr;        // the first steps, over an empty grid
    void ShowUnreadAlerts();
    bool m_restoreMaximized = true; // the window opens maximised
    QSystemTrayIcon* icon = nullptr;
    QTimer* tmr = nullptr;
    bool m_shown = false;

    // Single readings of the detail panel.
    void ReadDetailRow(int row, bool reportMissing);
    void ShowDetailOf(int gridRow); // fills the detail rows for that grid row's item
    void FitDetailColumns();
    int GridRowOf(const QString& itemId) const;
    void ShowDetailOutcomes(const QString& itemId); // the detail rows' last-attempt column
    TFmUpdateing* FmUpdateing = nullptr;
    quint64 m_readingToken = 0;
    bool m_readingAll = false;       // "更新本页所有宝贝" is reading its rows
    bool m_stopAllRequested = false; // its wait dialog's "全部停止" was pressed
    QString m_detailItemID;          // the own item the detail list shows; empty when none

    // Background update: the ordinary round on a file, one worker of the shared round on a team
    // database (at most one of them at a time).
    TReadAllItemThr* Updater = nullptr;
    TSharedRoundThr* m_roundWorker = nullptr;
    void StartUpdater();

    // Vendor pages.
    void ShowVendorPage(TVendorPage page);
    TFmWeb* m_web = nullptr;
    TFmManual* m_manual = nullptr;

    // Rendered readings (UtMainBrowser.cpp): the login window, the retry option, each detail
    // row's reading mode.
    void BuildBrowserEntries();
    void ShowReadModeMenu(const QPoint& at);
    TFmLogin* m_login = nullptr;

public:
    // The vendor page window; null until first needed.
    TFmWeb* WebWindow() const { return m_web; }
    // "本机使用手册" (F1): the manual shipped with the program; null until first needed.
    void mniManualClick();
    TFmManual* ManualWindow() const { return m_manual; }
    // "登录网站": the login window on the profile beside the database; null until first needed.
    void mniLoginClick();
    TFmLogin* LoginWindow() const { return m_login; }
    // The detail row's page as the reading modes key it: own item id, rival account ('' own).
    std::pair<QString, QString> DetailPage(int row) const;

    // Price history: the chart of an item (a shop's line picked out), the alerts window, the
    // export of the grid, failures, alerts or the focused item's history to a file.
    TFmPriceChart* OpenPriceChart(const QString& itemId, const QString& shop = {});
    TFmAlerts* AlertsWindow(bool create);
    // After readings: redraws open charts and looks for new alerts in what the readings stored,
    // shown in the tray where there is one.
    QList<TAlert> CheckAlertsNow();
    // A channel's outcome of a round: failures reach the alerts window, a third failed round in
    // a row a notice.
    void SendReported(const TSendReport& report);
    // Writes the export to path, its format by the suffix; reports the outcome in a box.
    bool ExportTo(TExportSource source, const QString& path);
    QPushButton* PriceChartButton() const { return btnPriceChart; }
    void btnPriceChartClick();
    void mniAlertsClick();

    // The database this window works on ("团队数据库…"): the status panel that names it, the
    // listener for other desks' readings (team database only; null on a file), and the
    // database the user chose to open next (empty unless the window closed to switch).
    QLabel* DatabasePanel() const { return m_databasePanel; }
    TReadingListener* Listener() const { return m_listener; }
    // The shared round's progress over all workers (team database only; hidden on a file), its
    // text, and a fresh look at the round.
    TStatusPanel* RoundPanel() const { return m_roundPanel; }
    QString RoundPanelText() const;
    void ShowRoundProgress();
    QString NextDatabase() const { return m_nextDatabase; }
    void mniTeamDatabaseClick();
    // Opens the window anew on target: this one closes, the program opens the next.
    void SwitchDatabase(const QString& target);

private:
    void BuildDatabaseEntries();
    void RefreshAnnouncedRows(const QStringList& itemIds);
    QLabel* m_databasePanel = nullptr;
    TStatusPanel* m_roundPanel = nullptr;
    QTimer* m_roundPanelLater = nullptr; // gathers the round's looks of many notices into one
    void SetRoundPanelText(const QString& text);
    TReadingListener* m_listener = nullptr;
    QString m_nextDatabase;

    void BuildHistoryCommands();
    void ExportClick(TExportSource source);
    void lvDetailDoubleClick(QTreeWidgetItem* row);
    QPushButton* btnPriceChart = nullptr;
    TFmAlerts* m_alerts = nullptr;
    std::unique_ptr<TNotifySender> m_sender;
};

} // namespace vantero
