// Update check, vendor pages and the About box.
#include "app/UtMain.h"
#include "dialogs/UtAbout.h"
#include "dialogs/UtManual.h"
#include "dialogs/UtWeb.h"
#include "vendor/utCheckUpdate.h"

namespace vantero {

void TFmMain::StartUpdateCheck() {
    // An unconfigured build has no service to ask; its check would only end in silence.
    if (!VendorHostConfigured(VendorDownloadHost()))
        return;
    auto* check = new TCheckUpdate;
    check->SoftName = kSoftName;
    check->TargetWnd = Handle();
    check->start();
}

void TFmMain::OnUpdateVersion(qintptr lparam) {
    if (lparam <= CurrentVersion)
        return;
    ShowVendorPage(TVendorPage::UpgradePage);
    SetStatusText(0, QStringLiteral("已有新版,请点软件升级进行升级．"));
}

void TFmMain::ShowVendorPage(TVendorPage page) {
    // Made once, as a child so that it goes with the main window; hidden and shown after that.
    if (!m_web)
        m_web = new TFmWeb(this);
    m_web->ShowPage(VendorPageCaption(page), VendorPageAddress(page));
}

void TFmMain::btnUpdateClick() {
    ShowVendorPage(TVendorPage::UpgradePage);
}

void TFmMain::btnManualClick() {
    ShowVendorPage(TVendorPage::ManualPage);
}

void TFmMain::mniManualClick() {
    if (!m_manual)
        m_manual = new TFmManual(this);
    m_manual->show();
    m_manual->raise();
    m_manual->activateWindow();
}

void TFmMain::btn2Click() {
    TFmAbout about(this);
    about.exec();
}

} // namespace vantero
