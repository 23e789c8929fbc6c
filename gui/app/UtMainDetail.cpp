// The detail list and the commands that act on the focused item.
#include "app/UtFailures.h"
#include "app/UtMain.h"
#include "app/UtUpdateing.h"
#include "catalogue/ItemCommands.h"
#include "common/TextHelpers.h"
#include "dialogs/UtItemURL.h"
#include "reader/UtReadItemThr.h"
#include "store/PageOutcomes.h"
#include "widgets/UiGridModel.h"
#include "widgets/UiMessageBoxes.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>

namespace vantero {

namespace {

const QString kSelectToOpen = QStringLiteral("请先选择您需要查看的宝贝");

} // namespace

void TFmMain::BuildDetailRows() {
    lvDetail->setUpdatesEnabled(false);
    lvDetail->clear();
    m_detailItemID.clear();
    auto addRow = [this](int number, const QString& owner) {
        auto* row = new QTreeWidgetItem(lvDetail, {QString::number(number), owner, {}, {}, {}, {}});
        row->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
    };
    addRow(1, QStringLiteral("自己"));
    for (int r = 0; r < m_data.RivalAccounts.size(); ++r)
        addRow(r + 2, m_data.RivalAccounts[r]);
    FitDetailColumns();
    lvDetail->setUpdatesEnabled(true);
}

void TFmMain::FitDetailColumns() {
    // The listed columns keep their widths where the list has room: "宝贝名称" 400, and
    // "最后更新时间" the rest, never less than its longest text needs (in a narrow window the name
    // gives way so the times stay whole). The last reading's result comes after them at a fixed
    // width; where there is no room for it, the list scrolls sideways to it.
    const int fixed[] = {50, 100, 80};
    const QFontMetrics metrics = lvDetail->fontMetrics();
    const int padding = 2 * (lvDetail->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, lvDetail) + 1) + 8;
    int timeNeeded = metrics.horizontalAdvance(FormatDateTime(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59))));
    timeNeeded = std::max(timeNeeded, metrics.horizontalAdvance(lvDetail->headerItem()->text(kDetailTime)));
    for (int row = 0; row < lvDetail->topLevelItemCount(); ++row)
        timeNeeded = std::max(timeNeeded, metrics.horizontalAdvance(lvDetail->topLevelItem(row)->text(kDetailTime)));
    timeNeeded += padding;
    const int room = lvDetail->viewport()->width() - fixed[0] - fixed[1] - fixed[2];
    const int name = std::clamp(room - timeNeeded, 80, 400);
    const int time = std::max(timeNeeded, room - name - kDetailOutcomeWidth);
    lvDetail->setColumnWidth(kDetailCaption, fixed[0]);
    lvDetail->setColumnWidth(kDetailOwner, fixed[1]);
    lvDetail->setColumnWidth(kDetailName, name);
    lvDetail->setColumnWidth(kDetailPrice, fixed[2]);
    lvDetail->setColumnWidth(kDetailTime, time);
    lvDetail->setColumnWidth(kDetailOutcome, kDetailOutcomeWidth);
}

void TFmMain::lstClick() {
    const int row = FocusedRow();
    for (QPushButton* button : {btnSetItem, btnReadPrice, btnSetAllPrice, btnOpenURL, btnPriceChart})
        button->setEnabled(row >= 0);
    if (row < 0 || lvDetail->topLevelItemCount() == 0)
        return;
    RunReported(this, [this, row] { ShowDetailOf(row); });
}

void TFmMain::ShowDetailOf(int gridRow) {
    const TItem item = m_data.grid.item(gridRow);
    m_detailItemID.clear();
    auto setTexts = [this](int row, const QStringList& texts) {
        QTreeWidgetItem* line = lvDetail->topLevelItem(row);
        for (int i = 0; i < texts.size(); ++i)
            line->setText(kDetailName + i, texts[i]);
    };
    setTexts(0, OwnDetailTexts(item));
    OpenDetailReadings(m_data.qryDetail, item.ItemID);
    for (int row = 1; row < lvDetail->topLevelItemCount(); ++row)
        setTexts(row, RivalDetailTexts(m_data.qryDetail, lvDetail->topLevelItem(row)->text(kDetailOwner)));
    ShowDetailOutcomes(item.ItemID);
    m_detailItemID = item.ItemID;
    FitDetailColumns();
}

void TFmMain::ShowDetailOutcomes(const QString& itemId) {
    const QList<TPageStatus> statuses = ItemPageStatuses(m_data.con, itemId);
    for (int row = 0; row < lvDetail->topLevelItemCount(); ++row) {
        QTreeWidgetItem* line = lvDetail->topLevelItem(row);
        const QByteArray shop = row == 0 ? QByteArray() : TPageStatuses::Key(line->text(kDetailOwner));
        QString text;
        for (const TPageStatus& status : statuses) {
            if (TPageStatuses::Key(status.RivalWW) == shop)
                text = status.ResultText();
        }
        line->setText(kDetailOutcome, text);
        // A failure's reason rarely fits the column; pointing at it shows the whole text.
        line->setToolTip(kDetailOutcome, text);
    }
}

int TFmMain::GridRowOf(const QString& itemId) const {
    const int focused = FocusedRow();
    if (focused >= 0 && m_data.grid.item(focused).ItemID == itemId)
        return focused;
    for (int row = 0; row < RowCount(); ++row) {
        if (m_data.grid.item(row).ItemID == itemId)
            return row;
    }
    return -1;
}

void TFmMain::ReadDetailRow(int row, bool reportMissing) {
    const int gridRow = FocusedRow();
    if (gridRow < 0 || row < 0 || row >= lvDetail->topLevelItemCount())
        return;
    // The rival addresses come from the list's readings: when the list does not show the focused
    // item (a refresh rebuilt it), bring it in step first, so that a reading is always stored
    // under the item whose details are shown.
    if (m_detailItemID.isEmpty() || m_detailItemID != m_data.grid.item(gridRow).ItemID) {
        if (!RunReported(this, [this, gridRow] { ShowDetailOf(gridRow); }))
            return;
    }
    const TItem item = m_data.grid.item(gridRow);

    QString account;
    QString address;
    QString localItemId;
    if (row == 0) {
        account = m_data.OwnAccount;
        address = item.URL;
    } else {
        account = TrimBlanks(lvDetail->topLevelItem(row)->text(kDetailOwner));
        if (!RunReported(this, [&] { address = RivalItemAddress(m_data.qryDetail, account); }))
            return;
        if (address.isEmpty()) {
            if (reportMissing)
                ShowInfoBox(this, ItemTexts::RivalItemMissing.arg(account));
            return;
        }
        localItemId = item.ItemID;
    }

    const int code = ReadPageWaiting(address, localItemId, account, item.ItemID);
    if (code < 0)
        return; // the reading goes on and stores its result by itself
    const QString message = ReadResultMessage(code);
    if (!message.isEmpty())
        ShowInfoBox(this, message);
}

int TFmMain::ReadPageWaiting(const QString& address, const QString& localItemId, const QString& account,
                             const QString& ownItemId) {
    auto* reader = new TReadItem(m_data.con);
    reader->URL = address;
    reader->TargetWnd = Handle();
    reader->LocalItemID = localItemId;
    reader->ExpectedSeller = account;
    reader->OwnItemID = ownItemId;
    reader->FreeWhenDone = true;
    reader->ResultMsg = WM_READITEM_RESULT;
    reader->Token = qintptr(++m_readingToken);
    const qintptr token = reader->Token;
    reader->start(); // releases itself; not touched after this

    TFmUpdateing dialog(this);
    dialog.Token = token;
    dialog.lbTip->setText(ItemTexts::Reading.arg(account));
    dialog.OfferStopAll(m_readingAll);
    FmUpdateing = &dialog;
    const int closing = dialog.exec();
    FmUpdateing = nullptr;
    if (closing == TFmUpdateing::StopAll)
        m_stopAllRequested = true;
    if (closing != QDialog::Accepted)
        return -1;
    CheckAlertsNow();
    // The row of the item that was read, wherever it is now, also after a failure, which marks
    // its cells stale; the detail list stays as it is.
    const int position = GridRowOf(ownItemId);
    if (position >= 0)
        RunReported(this, [this, position] { RefreshRow(position); });
    return dialog.ResultCode;
}

void TFmMain::OnReadItemResult(qintptr wparam, qintptr lparam) {
    // Only the result of the reading the open wait dialog stands for; a late result of a
    // cancelled reading is dropped.
    if (!FmUpdateing || lparam != FmUpdateing->Token)
        return;
    FmUpdateing->ResultCode = int(wparam);
    FmUpdateing->accept();
}

void TFmMain::btnReadPriceClick() {
    lvDetail->setFocus();
    const QList<QTreeWidgetItem*> selected = lvDetail->selectedItems();
    if (selected.isEmpty()) {
        ShowInfoBox(this, ItemTexts::SelectDetailRow);
        return;
    }
    ReadDetailRow(lvDetail->indexOfTopLevelItem(selected.first()), true);
}

void TFmMain::btnSetAllPriceClick() {
    m_readingAll = true;
    m_stopAllRequested = false;
    for (int row = 0; row < lvDetail->topLevelItemCount() && !m_stopAllRequested; ++row)
        ReadDetailRow(row, false);
    m_readingAll = false;
}

void TFmMain::btnOpenURLClick() {
    const QList<QTreeWidgetItem*> selected = lvDetail->selectedItems();
    if (selected.isEmpty()) {
        // Says why nothing opens, as its neighbours do.
        ShowInfoBox(this, kSelectToOpen);
        return;
    }
    const QString address = TrimBlanks(selected.first()->text(kDetailURL));
    if (!address.isEmpty() && address != ItemTexts::MappingNotSet)
        OpenAddress(address);
    else
        ShowInfoBox(this, ItemTexts::NoAddressToOpen);
}

void TFmMain::btnDelClick() {
    const int row = FocusedRow();
    if (row < 0)
        return;
    const TItem item = m_data.grid.item(row);
    RunReported(this, [this, &item] {
        if (!LocateItem(m_data.qry, item.ItemID))
            return;
        if (!AskYesNo(this, ItemTexts::AskDelete.arg(item.ItemName), false))
            return;
        // The question's wait let the background update re-read rows through qry, which moves
        // its current record: find the item again right before deleting it.
        if (!LocateItem(m_data.qry, item.ItemID))
            return;
        DeleteLocatedItem(m_data.qry, m_data.con, item.ItemID);
        if (m_detailItemID == item.ItemID)
            m_detailItemID.clear();
        m_gridModel->removeGridRow(GridRowOf(item.ItemID));
        lstClick();
        ShowInfoBox(this, ItemTexts::Deleted.arg(item.ItemName));
    });
}

void TFmMain::btnFailuresClick() {
    TFmFailures dialog(this);
    dialog.exec();
}

void TFmMain::btn6Click() {
    const int row = FocusedRow();
    if (row < 0)
        return;
    const TItem& item = m_data.grid.item(row);
    TFmItemURL dialog(this);
    dialog.setProperty("ItemID", item.ItemID);
    dialog.setProperty("ItemName", item.ItemName);
    dialog.setProperty("ItemURL", item.URL);
    dialog.exec();
    // A mapping set or deleted there changes what the detail list's commands read: the list
    // shows the focused row afresh, so "更新所选宝贝" finds the new address.
    lstClick();
}

} // namespace vantero
