#include "reader/UtReadItemThr.h"

#include "common/TextHelpers.h"
#include "net/HttpEngine.h"
#include "net/WebAddress.h"
#include "reader/BrowserEngine.h"
#include "reader/PageFields.h"
#include "reader/PageText.h"
#include "reader/ReadModes.h"
#include "reader/ReadingLog.h"
#include "store/DatabaseError.h"
#include "store/RecordSet.h"

#include <QMutex>
#include <QSet>
#include <QUrl>

#include <tuple>

namespace vantero {

namespace {

struct TReadFailure {
    QString text;
};

constexpr int kMaxRedirects = 15;

QMutex gRegistryMutex;
QSet<TReadItem*> gRunning;
QMutex gLimitsMutex;
TReadItem::Limits gLimits;

} // namespace

TReadItem::TReadItem(TConnection connection, QObject* parent) : QThread(parent), m_connection(std::move(connection)) {}

TReadItem::~TReadItem() {
    // A starter that releases a reader before it ended must not leave a thread behind.
    if (isRunning()) {
        RequestStop();
        wait();
    }
}

QString TReadItem::ResultName(int code) {
    switch (code) {
    case rcUpdated:
        return QStringLiteral("rcUpdated");
    case rcAdded:
        return QStringLiteral("rcAdded");
    case rcWrongSeller:
        return QStringLiteral("rcWrongSeller");
    case rcNoItem:
        return QStringLiteral("rcNoItem");
    case rcFailed:
        return QStringLiteral("rcFailed");
    default:
        return QStringLiteral("unknown");
    }
}

TReadItem::Limits TReadItem::DownloadLimits() {
    QMutexLocker lock(&gLimitsMutex);
    return gLimits;
}

void TReadItem::SetDownloadLimits(const Limits& limits) {
    QMutexLocker lock(&gLimitsMutex);
    gLimits = limits;
}

void TReadItem::RequestStop() {
    m_stopRequested.store(true, std::memory_order_relaxed);
}

bool TReadItem::StopRequested() const {
    return m_stopRequested.load(std::memory_order_relaxed);
}

void TReadItem::ReadHere() {
    Execute();
}

void TReadItem::StopAll() {
    QList<TReadItem*> running;
    {
        QMutexLocker lock(&gRegistryMutex);
        running = gRunning.values();
        for (TReadItem* reader : std::as_const(running))
            reader->RequestStop();
    }
    for (TReadItem* reader : std::as_const(running))
        reader->wait();
}

void TReadItem::run() {
    {
        QMutexLocker lock(&gRegistryMutex);
        gRunning.insert(this);
    }
    Execute();
    {
        QMutexLocker lock(&gRegistryMutex);
        gRunning.remove(this);
    }
    // This thread's database connection goes with the thread.
    TConnection::closeThreadConnections();
}

double TReadItem::ConvertPrice(const QString& text) {
    return ConvertPriceText(text);
}

int TReadItem::ConvertSales(const QString& text) {
    return ConvertSalesText(text);
}

void TReadItem::ParsePage(const TPageText& page) {
    // A rendered document is read by its structure alone.
    Fields = ReadItemFields(page, QUrl(TrimBlanks(URL)), m_finalUrl, ReadInBrowser);
    // A page too short to read leaves every field as cleared.
    if (Fields.kind != TPageKind::Read)
        return;
    ItemName = Fields.itemName.text;
    SellerNick = Fields.sellerNick.text;
    Price = Fields.priceValue;
    ItemID = Fields.itemId.text;
    SellCount = Fields.sellCountValue;
}

QByteArray TReadItem::Download(QByteArray* contentType, QUrl* finalUrl) {
    // Surrounding blanks are no part of an address; the stored URL stays as it was typed.
    const QUrl url(TrimBlanks(URL));
    if (const QString problem = WebAddressProblem(URL); !problem.isEmpty()) {
        m_addressRefused = true;
        throw TReadFailure{problem};
    }
    const Limits limits = DownloadLimits();
    try {
        THttpResponse response = HttpGet(
            url, {limits.connectMs, limits.readMs, limits.maxBytes, kMaxRedirects}, [this] { return StopRequested(); },
            ReaderTexts::Stopped);
        *contentType = response.contentType;
        *finalUrl = response.finalUrl;
        Timing = response.timing.storedText();
        return std::move(response.body);
    } catch (const THttpFailure& failure) {
        Timing = failure.timing.storedText();
        throw TReadFailure{failure.text};
    }
}

void TReadItem::Execute() {
    Finished.store(false, std::memory_order_relaxed);
    if (FreeWhenDone) {
        // Released on the starter's thread once the run has ended; nobody touches it after start.
        connect(this, &QThread::finished, this, [this] {
            wait();
            deleteLater();
        });
    }
    ItemID.clear();
    Price = 0;
    m_addressRefused = false;
    CannotStore = false;
    try {
        QByteArray contentType;
        ReadInBrowser = StartsInBrowser();
        QByteArray body = ReadInBrowser ? RenderedDownload(&contentType) : Download(&contentType, &m_finalUrl);
        ParsePage(TPageText(std::move(body), contentType));
        if (!ReadInBrowser && RetryInBrowser()) {
            // A retry that fails leaves the direct reading's outcome standing, unless stopped.
            const auto direct = std::tuple(ItemName, SellerNick, ItemID, Price, SellCount, Fields, m_finalUrl);
            try {
                ReadInBrowser = true;
                body = RenderedDownload(&contentType);
                ParsePage(TPageText(std::move(body), contentType));
                // A browser that found no item either did not improve on the direct reading, whose
                // outcome (a wall's reason included) stands.
                if (TrimBlanks(ItemID).isEmpty()) {
                    ReadInBrowser = false;
                    std::tie(ItemName, SellerNick, ItemID, Price, SellCount, Fields, m_finalUrl) = direct;
                }
            } catch (const TRenderFailure&) {
                if (StopRequested())
                    throw;
                ReadInBrowser = false;
                std::tie(ItemName, SellerNick, ItemID, Price, SellCount, Fields, m_finalUrl) = direct;
            }
        }
        // A login or verification page is a failed reading with its reason, not an item without id;
        // so is a page that says its item is gone.
        if (Fields.blocked())
            throw TReadFailure{Fields.blockText};
        if (Fields.gone)
            throw TReadFailure{PageTexts::Gone};
        if (TrimBlanks(ItemID).isEmpty()) {
            ResultCode = rcNoItem;
        } else if (!SellerMatches()) {
            ResultCode = rcWrongSeller;
            ErrorText = ReaderTexts::WrongSeller;
        } else if (Fields.priceState != TPriceState::Found) {
            // No price, or one of 0 or less, is no reading: the last good one stays.
            throw TReadFailure{Fields.priceState == TPriceState::Invalid ? PageTexts::InvalidPrice
                                                                         : PageTexts::NoPrice};
        } else {
            ResultCode = rcUpdated;
            StoreReading();
        }
    } catch (const TReadFailure& failure) {
        ResultCode = rcFailed;
        ErrorText = failure.text;
    } catch (const TRenderFailure& failure) {
        ResultCode = rcFailed;
        ErrorText = failure.text;
    } catch (const TDatabaseError& error) {
        ResultCode = rcFailed;
        ErrorText = error.text();
        CannotStore = error.cannotStore();
        if (error.fault() == TDatabaseFault::DiskFull)
            ErrorText = error.detail().isEmpty()
                            ? StoreTexts::ReadingNotStored
                            : StoreTexts::WithDetail.arg(StoreTexts::ReadingNotStored, error.detail());
    } catch (const std::exception& error) {
        ResultCode = rcFailed;
        ErrorText = QString::fromUtf8(error.what());
    } catch (...) {
        // Whatever went wrong, the starter still gets its result.
        ResultCode = rcFailed;
        ErrorText = ReaderTexts::Unknown;
    }
    // A reading stopped because the program ends says nothing about the page; an address that
    // was refused unread is no page at all and is not kept (it may hold a password).
    if (ResultCode != rcUpdated && ResultCode != rcAdded && !StopRequested() && !m_addressRefused)
        LogFailedReading(m_connection, *this);
    const TWindowHandle target = TargetWnd;
    const unsigned message = ResultMsg;
    const int code = ResultCode;
    const qintptr token = Token;
    // Finished comes last: after it the starter may release this object.
    PostMessageToWindow(target, message, code, token);
    Finished.store(true, std::memory_order_release);
}

bool TReadItem::SellerMatches() {
    const QString expected = LowerAscii(TrimBlanks(ExpectedSeller));
    if (expected == LowerAscii(TrimBlanks(SellerNick)))
        return true;
    // A page that names no seller account but its shop: the shop's name decides, compared with
    // the name stored for the expected seller (an empty stored name never matches).
    if (!TrimBlanks(SellerNick).isEmpty() || TrimBlanks(Fields.shopName.text).isEmpty())
        return false;
    const QString stored = ExpectedShopName(m_connection, LocalItemID, ExpectedSeller);
    if (stored.isEmpty() || stored != TrimBlanks(Fields.shopName.text))
        return false;
    // The row keys on the expected account, as every other reading of this seller does.
    SellerNick = TrimBlanks(ExpectedSeller);
    SellerByShopName = true;
    Fields.sellerNick.text = SellerNick;
    Fields.sellerNick.source = TFieldSource::ShopName;
    Fields.sellerNick.detail = QStringLiteral("店铺名称“%1”与所存店铺名称相同").arg(stored);
    return true;
}

void TReadItem::StoreReading() {
    const bool own = TrimBlanks(LocalItemID).isEmpty();
    // The rows this reading reads and writes: the item row it looks up by id, and the page's
    // outcome and history. Readings of other pages store at the same time.
    const QStringList keys = {
        (own ? QStringLiteral("Items\x1f") : QStringLiteral("RivalItems\x1f")) + TrimBlanks(ItemID),
        own ? PageKey(TrimBlanks(ItemID), QString()) : PageKey(TrimBlanks(LocalItemID), TrimBlanks(ExpectedSeller))};
    TWriteTransaction transaction(m_connection, keys);
    TRecordSet rs(m_connection);
    if (own)
        rs.Reopen(QStringLiteral("select * from Items where ItemID=?"), {ItemID});
    else
        rs.Reopen(QStringLiteral("select * from RivalItems where RivalItemID=?"), {ItemID});
    int code = rcUpdated;
    if (rs.RecordCount() > 0) {
        rs.First();
        rs.Edit();
    } else {
        code = rcAdded;
        rs.Append();
    }
    const QString now = CurrentDateTimeColumn(); // LastUpdated as stored
    if (own) {
        rs.FieldByName(QStringLiteral("ItemName")).SetAsString(ItemName);
        rs.FieldByName(QStringLiteral("ItemID")).SetAsString(ItemID);
        rs.FieldByName(QStringLiteral("URL")).SetAsString(URL);
        rs.FieldByName(QStringLiteral("Price")).SetAsFloat(Price);
        rs.FieldByName(QStringLiteral("SellCount")).SetAsInteger(SellCount);
        rs.FieldByName(QStringLiteral("LastUpdated")).SetAsString(now);
    } else {
        rs.FieldByName(QStringLiteral("RivalWW")).SetAsString(SellerNick);
        rs.FieldByName(QStringLiteral("LocalItemID")).SetAsString(LocalItemID);
        rs.FieldByName(QStringLiteral("RivalItemID")).SetAsString(ItemID);
        rs.FieldByName(QStringLiteral("ItemName")).SetAsString(ItemName);
        rs.FieldByName(QStringLiteral("URL")).SetAsString(URL);
        rs.FieldByName(QStringLiteral("SellCount")).SetAsInteger(SellCount);
        rs.FieldByName(QStringLiteral("Price")).SetAsFloat(Price);
        rs.FieldByName(QStringLiteral("LastUpdated")).SetAsString(now);
    }
    // One statement writes the whole row, in one transaction with the lookup before it, so a
    // failed store leaves nothing half-written and is reported as a failure, never as an added
    // row, and two readers of the same item never both add it.
    rs.Post();
    // The page's outcome and history go with the reading, or neither does.
    LogReading(m_connection, StoredOutcomeOf(*this, code), now);
    transaction.Commit();
    ResultCode = code;
}

} // namespace vantero
