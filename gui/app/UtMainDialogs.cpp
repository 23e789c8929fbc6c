// Commands that open the catalogue, settings and import dialogs.
#include "app/UiMessageBoxes.h"
#include "app/UtMain.h"
#include "dialogs/UtAddItem.h"
#include "dialogs/UtRival.h"
#include "dialogs/utDataImport.h"
#include "dialogs/utSetting.h"

namespace vantero {

void TFmMain::btnSettingClick() {
    TFmSetting dialog(this);
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
