// Commands that open the catalogue, settings and import dialogs.
#include "app/UtMain.h"

#include "app/UiMessageBoxes.h"
#include "dialogs/utDataImport.h"

namespace vantero {

void TFmMain::btnSettingClick() { ShowInfoBox(this, MainTexts::NotYet); }

void TFmMain::btn3Click() { ShowInfoBox(this, MainTexts::NotYet); }

void TFmMain::btn4Click() { ShowInfoBox(this, MainTexts::NotYet); }

void TFmMain::btndataImportClick() {
    {
        TFmDataImport dialog(m_data.con, this);
        dialog.exec();
    }
    // Rebuilt whether or not anything came in.
    RunReported(this, [this] { RefreshAll(); });
}

} // namespace vantero
