// Update check, vendor pages and the About box.
#include "app/UiMessageBoxes.h"
#include "app/UtMain.h"

namespace vantero {

void TFmMain::StartUpdateCheck() {}

void TFmMain::OnUpdateVersion(qintptr lparam) {
    Q_UNUSED(lparam);
}

void TFmMain::btnUpdateClick() {
    ShowInfoBox(this, MainTexts::NotYet);
}

void TFmMain::btnManualClick() {
    ShowInfoBox(this, MainTexts::NotYet);
}

void TFmMain::btn2Click() {
    ShowInfoBox(this, MainTexts::NotYet);
}

} // namespace vantero
