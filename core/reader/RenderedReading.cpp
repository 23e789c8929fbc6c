// The item reader's rendered reading: the page loaded in the offscreen browser, its scripts run,
// and the document read with the same extraction, seller check and store as a direct reading.
#include "common/MarketHosts.h"
#include "common/TextHelpers.h"
#include "net/WebAddress.h"
#include "reader/BrowserEngine.h"
#include "reader/PageText.h"
#include "reader/ReadModes.h"
#include "reader/UtReadItemThr.h"

#include <QElapsedTimer>
#include <QUrl>

namespace vantero {

namespace {

// The document comes as Unicode; handed on as UTF-8 it reads as a page that says so.
const QByteArray kRenderedType = QByteArrayLiteral("text/html; charset=utf-8");

} // namespace

void TReadItem::TakeFinalAddress(const QUrl& requested, const TRenderedPage& page) {
    // Where the browser ended, when that is not where it started (a redirect, or a script
    // that moved on): the extraction tells login pages by it.
    const QUrl reached(page.finalUrl);
    const auto same = QUrl::StripTrailingSlash | QUrl::NormalizePathSegments;
    m_finalUrl = reached.isEmpty() || reached.adjusted(same) == requested.adjusted(same) ? QUrl() : reached;
}

bool TReadItem::StartsInBrowser() const {
    if (!TBrowserEngine::Available())
        return false;
    if (ReadModeOverride >= 0)
        return ReadModeOverride == rmBrowser;
    return ReadModeForReading(m_connection, URL, LocalItemID, ExpectedSeller) == rmBrowser;
}

bool TReadItem::RetryInBrowser() const {
    if (!TBrowserEngine::Available() || StopRequested() || ReadModeOverride == rmDirect)
        return false;
    // Only a page that showed no item, or a login or block page in front of it: a download that
    // failed would fail the same way there, and a page that says its item is gone stays gone.
    if ((!TrimBlanks(ItemID).isEmpty() && !Fields.blocked()) || Fields.gone)
        return false;
    // And only where scripts may still bring the item: a page of the marketplace's own hosts, a
    // wall, or an item shell (item data of its own, the id still to come). A mistyped address
    // elsewhere is answered at once.
    const QString host = QUrl(TrimBlanks(URL)).host().toLower();
    auto onDomain = [&host](const char* domain) {
        const QString suffix = QLatin1String(domain);
        return host.endsWith(suffix) || host == suffix.mid(1);
    };
    const bool market = onDomain(MARKET_DOMAIN) || onDomain(MALL_DOMAIN);
    const bool shell =
        Fields.kind == TPageKind::Read &&
        ((Fields.itemName.source != TFieldSource::None && Fields.itemName.source != TFieldSource::DocumentTitle) ||
         Fields.sellerNick.source != TFieldSource::None || Fields.shopName.source != TFieldSource::None ||
         Fields.priceState != TPriceState::Missing);
    if (!market && !Fields.blocked() && !shell)
        return false;
    return BrowserFallbackOn(m_connection);
}

QByteArray TReadItem::RenderedDownload(QByteArray* contentType) {
    const QString address = TrimBlanks(URL);
    const QUrl url(address);
    if (const QString problem = WebAddressProblem(address); !problem.isEmpty()) {
        m_addressRefused = true;
        throw TRenderFailure{problem};
    }
    // The fields are looked for with the reading's own extraction: the page is ready when it
    // would read as an item, or once it has stayed a login or block page for a while (a script
    // may still replace a wall it showed first, such as a login the profile's cookies pass).
    // A page that shows no item and has stopped changing for a while is no item page: it is
    // not waited for up to the limit, which is kept for pages still being built.
    const TBrowserEngine::Limits limits = TBrowserEngine::RenderLimits();
    QElapsedTimer walled;
    QElapsedTimer unchanged;
    QByteArray lastDocument;
    auto fieldsFound = [this, &url, &limits, &walled, &unchanged, &lastDocument](const TRenderedPage& page) {
        TakeFinalAddress(url, page);
        ParsePage(TPageText(page.html, kRenderedType));
        if (!TrimBlanks(ItemID).isEmpty())
            return true;
        if (!Fields.blocked()) {
            walled.invalidate();
            if (!unchanged.isValid() || page.html != lastDocument) {
                lastDocument = page.html;
                unchanged.start();
                return false;
            }
            return unchanged.elapsed() >= limits.noItemSettleMs;
        }
        if (!walled.isValid())
            walled.start();
        return walled.elapsed() >= limits.wallSettleMs;
    };
    TRenderedPage page = TBrowserEngine::Render(
        url.toString(), TBrowserEngine::ProfileFolder(m_connection.path()), fieldsFound,
        [this] { return StopRequested(); }, ReaderTexts::Stopped);
    *contentType = kRenderedType;
    return std::move(page.html);
}

} // namespace vantero
