#include "reader/UtReadItemThr.h"

#include "common/TextHelpers.h"
#include "net/HttpEngine.h"
#include "reader/BrowserEngine.h"
#include "reader/PageFields.h"
#include "reader/PageText.h"
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
    Fields = ReadItemFields(page, QUrl(TrimBlanks(URL)), m_finalUrl);
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
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty())
        throw TReadFailure{NetTexts::BadAddress};
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
            } catch (const TRenderFailure&) {
                if (StopRequested())
                    throw;
                ReadInBrowser = false;
                std::tie(ItemName, SellerNick, ItemID, Price, SellCount, Fields, m_finalUrl) = direct;
            }
        }
        // A login or verification page is a failed reading with its reason, not an item without id.
        if (Fields.blocked())
            throw TReadFailure{Fields.blockText};
        if (TrimBlanks(ItemID).isEmpty()) {
            ResultCode = rcNoItem;
        } else if (LowerAscii(TrimBlanks(ExpectedSeller)) != LowerAscii(TrimBlanks(SellerNick))) {
            ResultCode = rcWrongSeller;
            ErrorText = ReaderTexts::WrongSeller;
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
    } catch (const std::exception& error) {
        ResultCode = rcFailed;
        ErrorText = QString::fromUtf8(error.what());
    } catch (...) {
        // Whatever went wrong, the starter still gets its result.
        ResultCode = rcFailed;
        ErrorText = ReaderTexts::Unknown;
    }
    // A reading stopped because the program ends says nothing about the page.
    if (ResultCode != rcUpdated && ResultCode != rcAdded && !StopRequested())
        LogFailedReading(m_connection, *this);
    const TWindowHandle target = TargetWnd;
    const unsigned message = ResultMsg;
    const int code = ResultCode;
    const qintptr token = Token;
    // Finished comes last: after it the starter may release this object.
    PostMessageToWindow(target, message, code, token);
    Finished.store(true, std::memory_order_release);
}

void TReadItem::StoreReading() {
    TWriteTransaction transaction(m_connection);
    TRecordSet rs(m_connection);
    const bool own = TrimBlanks(LocalItemID).isEmpty();
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
