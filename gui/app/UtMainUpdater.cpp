// Starting and finishing the background update.
#include "app/UtMain.h"
#include "catalogue/SharedRound.h"
#include "catalogue/SharedRoundThr.h"
#include "reader/UtReadAllItemThr.h"
#include "reader/UtReadItemThr.h"
#include "store/PageOutcomes.h"
#include "widgets/UiMessageBoxes.h"

#include <QAction>
#include <QTimer>
#include <QToolButton>

namespace vantero {

namespace {

// The main window's side of the background update; runs on the main thread.
class TMainUpdaterHost final : public TUpdaterHost {
public:
    explicit TMainUpdaterHost(TFmMain* window) : m_window(window) {}

    void ShowStatus(int panel, const QString& text) override { m_window->SetStatusText(panel, text); }
    int RowCount() override { return m_window->RowCount(); }
    std::optional<TUpdaterRow> RowAt(int position) override {
        const TItem* item = m_window->ItemAt(position);
        if (!item)
            return std::nullopt;
        return TUpdaterRow{item->ItemID, item->ItemName, item->URL};
    }
    void RefreshRow(int position) override { m_window->RefreshRow(position); }
    QString OwnAccount() override { return m_window->Data().OwnAccount; }

private:
    TFmMain* m_window;
};

} // namespace

void TFmMain::StartUpdater() {
    if (m_data.con.isServer()) {
        // On a team database every desk reads its share of one round instead of every page.
        m_roundWorker = new TSharedRoundThr(m_data.con, TSharedRoundThr::WindowWorkerName(), Handle());
        connect(m_roundWorker, &TSharedRoundThr::statusText, this, &TFmMain::SetStatusText);
        connect(m_roundWorker, &TSharedRoundThr::pageRead, this,
                [this](const QString& itemId) { RefreshAnnouncedRows({itemId}); });
        connect(m_roundWorker, &TSharedRoundThr::progressText, this, &TFmMain::SetRoundPanelText);
        m_roundWorker->start();
    } else {
        Updater = new TReadAllItemThr(m_data.con, std::make_unique<TMainUpdaterHost>(this), Handle());
        Updater->start();
    }
    if (QAction* action = Command(QStringLiteral("btnUpdateItem")))
        action->setEnabled(false);
    if (QAction* action = Command(QStringLiteral("btnStopUpdate")))
        action->setEnabled(true);
}

void TFmMain::btnStopUpdateClick() {
    if (m_roundWorker && !m_roundWorker->HasEnded())
        m_roundWorker->Stop();
    else if (Updater && !Updater->HasEnded())
        Updater->RequestFinish();
    else
        return;
    if (QAction* action = Command(QStringLiteral("btnStopUpdate")))
        action->setEnabled(false);
}

void TFmMain::btnUpdateItemClick() {
    if (UpdateRunning()) {
        ShowInfoBox(this, UpdaterTexts::Running);
        return;
    }
    StartUpdater();
}

void TFmMain::tmrTimer() {
    if (UpdateRunning())
        return;
    StartUpdater();
}

void TFmMain::OnReadAllFinished() {
    // A late message of an updater stopped at closing must not end the run now going on.
    if ((Updater && !Updater->HasEnded()) || (m_roundWorker && !m_roundWorker->HasEnded()))
        return;
    if (Updater || m_roundWorker) {
        TReadAllItemThr::Tally tally;
        if (Updater) {
            Updater->wait(); // the message is its last step: this returns at once
            tally = Updater->Counts();
        } else {
            m_roundWorker->wait();
            tally = m_roundWorker->Counts();
        }
        // A run that could not store says so once, in place of its tally.
        const QString summary = !tally.stoppedBecause.isEmpty()
                                    ? tally.stoppedBecause
                                    : OutcomeTexts::RunSummary.arg(tally.stored).arg(tally.refused + tally.failed);
        m_summary->setText(summary);
        m_summary->setAccessibleDescription(summary);
        m_summary->setVisible(true);
        delete Updater;
        Updater = nullptr;
        delete m_roundWorker;
        m_roundWorker = nullptr;
    }
    if (QAction* action = Command(QStringLiteral("btnUpdateItem")))
        action->setEnabled(true);
    if (QAction* action = Command(QStringLiteral("btnStopUpdate")))
        action->setEnabled(false);
    CheckAlertsNow();
}

void TFmMain::StopBackgroundWork() {
    // No new run once the window is closing.
    tmr->stop();
    if (Updater) {
        Updater->Stop();
        Updater->wait();
        delete Updater;
        Updater = nullptr;
    }
    if (m_roundWorker) {
        // The page in progress goes back to the round; the other workers read it. A server that
        // does not answer must not hold the window open: its claim then runs out there instead.
        m_roundWorker->Stop();
        if (!m_roundWorker->wait(kRoundGiveBackMs)) {
            m_roundWorker->Abandon();
            m_roundWorker->wait();
        }
        delete m_roundWorker;
        m_roundWorker = nullptr;
    }
    TReadItem::StopAll();
}

} // namespace vantero
