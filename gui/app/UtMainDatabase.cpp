// The database the window works on: the team database's menu entry, the status panel naming the
// database, and the live rows of a team database (other desks' readings).
#include "app/UiProgram.h"
#include "app/UtMain.h"
#include "catalogue/SharedRound.h"
#include "dialogs/UtTeamDatabase.h"
#include "store/DatabaseError.h"
#include "store/ReadingListener.h"
#include "widgets/UiGridModel.h"
#include "widgets/UiStatusPanels.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

namespace vantero {

namespace {
// The panel never takes more than this from the bar; the whole text is in its tool tip.
constexpr int kDatabasePanelWidth = 260;
// Other desks' readings come in bursts: the round's progress is looked at once per burst.
constexpr int kRoundPanelDelayMs = 500;
} // namespace

void TFmMain::BuildDatabaseEntries() {
    // After the specified entries of "系统": which database the window works on.
    if (auto* system = menuBar()->findChild<QMenu*>(QStringLiteral("mniN1"))) {
        system->addSeparator()->setObjectName(QStringLiteral("mniTeamDatabaseSeparator"));
        QAction* action = system->addAction(TeamDatabaseTexts::Command);
        action->setObjectName(QStringLiteral("mniTeamDatabase"));
        connect(action, &QAction::triggered, this, &TFmMain::mniTeamDatabaseClick);
    }

    const QString text = DatabasePanelText(m_data.con.path());
    m_databasePanel = new QLabel(this);
    m_databasePanel->setObjectName(QStringLiteral("statDatabase"));
    m_databasePanel->setText(m_databasePanel->fontMetrics().elidedText(text, Qt::ElideMiddle, kDatabasePanelWidth));
    m_databasePanel->setToolTip(text);
    m_databasePanel->setAccessibleName(text);
    if (auto* panels = findChild<TStatusPanels*>(QStringLiteral("statPanels")))
        panels->AddTrailing(m_databasePanel);

    // After the database panel: the shared round's progress over every worker of the team.
    // Given little room it ends in "…" and keeps its whole text in the tool tip.
    m_roundPanel = new TStatusPanel(this);
    m_roundPanel->setObjectName(QStringLiteral("statSharedRound"));
    m_roundPanel->setAccessibleName(QStringLiteral("共享轮次进度"));
    m_roundPanel->setVisible(false);
    if (auto* panels = findChild<TStatusPanels*>(QStringLiteral("statPanels")))
        panels->AddTrailing(m_roundPanel);
    m_roundPanelLater = new QTimer(this);
    m_roundPanelLater->setSingleShot(true);
    m_roundPanelLater->setInterval(kRoundPanelDelayMs);
    connect(m_roundPanelLater, &QTimer::timeout, this, &TFmMain::ShowRoundProgress);

    if (m_data.con.isServer()) {
        m_listener = new TReadingListener(m_data.con.path(), this);
        connect(m_listener, &TReadingListener::itemsAnnounced, this, &TFmMain::RefreshAnnouncedRows);
        connect(m_listener, &TReadingListener::announcementsMissed, this, [this] {
            QStringList all;
            for (int row = 0; row < RowCount(); ++row)
                all << m_data.grid.item(row).ItemID;
            RefreshAnnouncedRows(all);
        });
    }
}

QString TFmMain::RoundPanelText() const {
    return m_roundPanel->isHidden() ? QString() : m_roundPanel->text();
}

void TFmMain::SetRoundPanelText(const QString& text) {
    m_roundPanel->SetText(text);
    m_roundPanel->setAccessibleDescription(text);
    m_roundPanel->setVisible(true);
}

void TFmMain::ShowRoundProgress() {
    if (!m_data.con.isServer())
        return;
    try {
        SetRoundPanelText(SharedRoundProgressText(SharedRoundProgress(m_data.con)));
    } catch (const TDatabaseError&) {
        // A look nobody asked for: the panel keeps its text until the server answers again.
    }
}

void TFmMain::RefreshAnnouncedRows(const QStringList& itemIds) {
    if (m_roundPanelLater && !m_roundPanelLater->isActive())
        m_roundPanelLater->start();
    // Before the first refresh cycle there are no rows to follow; an own item another desk added
    // waits for "刷新数据" as on a file.
    bool detail = false;
    try {
        for (const QString& id : itemIds) {
            const int row = GridRowOf(id);
            if (row < 0)
                continue;
            RefreshRow(row);
            detail = detail || id == m_detailItemID;
        }
    } catch (const TDatabaseError&) {
        // Another desk's reading is no action of this user: a failing server shows on the
        // user's own next step, not in a box that pops up by itself.
        return;
    }
    if (detail)
        lstClick();
}

void TFmMain::mniTeamDatabaseClick() {
    TFmTeamDatabase dialog(this, m_data.con.path(), DefaultDatabaseFile());
    if (dialog.exec() != QDialog::Accepted || dialog.Chosen() == m_data.con.path())
        return;
    RememberDatabase(dialog.Chosen());
    SwitchDatabase(dialog.Chosen());
}

void TFmMain::SwitchDatabase(const QString& target) {
    m_nextDatabase = target;
    close();
}

} // namespace vantero
