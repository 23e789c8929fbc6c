// Commands that open the catalogue, settings and import dialogs.
#include "app/UtMain.h"
#include "catalogue/GridData.h"
#include "catalogue/ItemCommands.h"
#include "dialogs/UtAddItem.h"
#include "dialogs/UtOwnShop.h"
#include "dialogs/UtRival.h"
#include "dialogs/utDataImport.h"
#include "dialogs/utSetting.h"
#include "widgets/UiMessageBoxes.h"

namespace vantero {

void TFmMain::RenameItem(const QString& itemId, const QString& name) {
    for (int row = 0; row < RowCount(); ++row) {
        TItem& item = m_data.grid.item(row);
        if (item.ItemID != itemId)
            continue;
        item.CustomItemName = name;
        SetCellText(row, 1, TGridData::DisplayName(name, item.ItemName));
    }
    StoreCustomName(m_data.qry, itemId, name);
}

void TFmMain::SettingsSaved(qint64 minutes, const QString& ownAccount) {
    SetUpdateInterval(minutes);
    OwnAccountSaved(ownAccount);
}

void TFmMain::OwnAccountSaved(const QString& ownAccount) {
    const bool changed = m_data.OwnAccount != ownAccount;
    m_data.OwnAccount = ownAccount;
    // The own band's caption names the account: it shows the new one at once.
    if (changed)
        RunReported(this, [this] { RefreshAll(); });
}

void TFmMain::btnSettingClick() {
    TFmSetting dialog(this);
    dialog.exec();
}

void TFmMain::mniOwnShopClick() {
    TFmOwnShop dialog(this);
    dialog.exec();
}

void TFmMain::btn3Click() {
    TFmRival dialog(this, this);
    dialog.exec();
}

void TFmMain::btn4Click() {
    TFmAddItem dialog(this);
    dialog.exec();
}

void TFmMain::btndataImportClick() {
    {
        TFmDataImport dialog(m_data.con, this);
        dialog.exec();
    }
    // Rebuilt whether or not anything came in.
    RunReported(this, [this] { RefreshAll(); });
}

} // namespace vantero
