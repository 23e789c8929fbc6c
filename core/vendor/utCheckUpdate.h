#pragma once

#include "common/WindowMessages.h"

#include <QByteArray>
#include <QString>
#include <QThread>
#include <QUrl>

namespace vantero {

inline const QString kSoftName = QStringLiteral("vantero");
// The program's own version at the vendor's version service.
inline constexpr int CurrentVersion = 203;

// The vendor's hosts, "host" or "host:port" (port 80 when none). The defaults are the build's
// settings; the command-line tool and the tests may point them elsewhere.
QString VendorDownloadHost();
QString VendorWebHost();
void SetVendorDownloadHost(const QString& host);
void SetVendorWebHost(const QString& host);
// False for an empty host and for the reserved ".invalid" names of an unconfigured build,
// which are never asked.
bool VendorHostConfigured(const QString& host);

enum class TVendorPage { UpgradePage, ManualPage };
QString VendorPageCaption(TVendorPage page);
QUrl VendorPageAddress(TVendorPage page);

// The version number in the service's answer: the value of the first "name=value" line whose
// name is softName (letter case ignored), 0 when there is none or it is not a decimal integer.
int ParseServerVersion(const QByteArray& body, const QString& softName);

// Asks the version service once, blocking the calling thread: the service's version number,
// 0 for an answer without a usable number, 1 when the request failed (no connection, no data
// within readTimeoutMs, an error status). Ends early, as a failure, once the application has gone.
int QueryServerVersion(const QString& host, const QString& softName, int readTimeoutMs);

// The background version check: asks the service, waits, posts WM_UPDATE_VERSION (LParam the
// number) to TargetWnd, waits again and deletes itself. Nobody keeps or waits for it; once the
// application object is gone it posts nothing and ends at once (the application's end gives it a
// moment to leave its thread, so no check outlives the program's statics).
class TCheckUpdate final : public QThread {
    Q_OBJECT
public:
    static constexpr int kReadTimeoutMs = 60000;
    static constexpr int kWaitBeforeReportMs = 3000;
    static constexpr int kWaitAfterReportMs = 1000;

    // Must be created on the application's thread, without a parent.
    TCheckUpdate();
    ~TCheckUpdate() override;

    QString SoftName = kSoftName;
    TWindowHandle TargetWnd = 0;
    QString Host = VendorDownloadHost();
    int ReadTimeoutMs = kReadTimeoutMs;
    int WaitBeforeReportMs = kWaitBeforeReportMs;
    int WaitAfterReportMs = kWaitAfterReportMs;

protected:
    void run() override;
};

} // namespace vantero
