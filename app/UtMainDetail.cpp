// The detail list and the commands that act on the focused item.
#include "app/UiMessageBoxes.h"
#include "app/UtMain.h"

#include <QPushButton>
#include <QTreeWidget>

namespace vantero {

void TFmMain::BuildDetailRows() {
    lvDetail->setUpdatesEnabled(false);
    lvDetail->clear();
    auto addRow = [this](int number, const QString& owner) {
        auto* row = new QTreeWidgetItem(lvDetail, {QString::number(number), owner, {}, {}, {}, {}});
        row->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
    };
    addRow(1, QStringLiteral("自己"));
    for (int r = 0; r < m_data.RivalAccounts.size(); ++r)
        addRow(r + 2, m_data.RivalAccounts[r]);
    lvDetail->setUpdatesEnabled(true);
}

void TFmMain::lstClick() {
    const bool focused = FocusedRow() >= 0;
    for (QPushButton* button : {btnSetItem, btnReadPrice, btnSetAllPrice, btnOpenURL})
        button->setEnabled(focused);
}

void TFmMain::btn6Click() {
    ShowInfoBox(this, MainTexts::NotYet);
}

void TFmMain::btnDelClick() {
    ShowInfoBox(this, MainTexts::NotYet);
}

void TFmMain::btnReadPriceClick() {
    ShowInfoBox(this, MainTexts::NotYet);
}

void TFmMain::btnSetAllPriceClick() {
    ShowInfoBox(this, MainTexts::NotYet);
}

void TFmMain::btnOpenURLClick() {
    ShowInfoBox(this, MainTexts::NotYet);
}

void TFmMain::OnReadItemResult(qintptr wparam, qintptr lparam) {
    Q_UNUSED(wparam);
    Q_UNUSED(lparam);
}

} // namespace vantero
