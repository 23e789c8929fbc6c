// Commands that open the catalogue, settings and import dialogs.
#include "app/UiMessageBoxes.h"
#include "app/UtMain.h"
#include "dialogs/UtRival.h"

namespace vantero {

void TFmMain::btnSettingClick() {
    ShowInfoBox(this, MainTexts::NotYet);
}

void TFmMain::btn3Click() {
    TFmRival dialog(this, this);
    dialog.exec();
}

void TFmMain::btn4Click() {
    ShowInfoBox(this, MainTexts::NotYet);
}

void TFmMain::btndataImportClick() {
    ShowInfoBox(this, MainTexts::NotYet);
}

} // namespace vantero
