// Starting and finishing the background update.
#include "app/UiMessageBoxes.h"
#include "app/UtMain.h"

namespace vantero {

void TFmMain::btnUpdateItemClick() {
    ShowInfoBox(this, MainTexts::NotYet);
}

void TFmMain::tmrTimer() {}

void TFmMain::OnReadAllFinished() {}

void TFmMain::StopBackgroundWork() {}

} // namespace vantero
