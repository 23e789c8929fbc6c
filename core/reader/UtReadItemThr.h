#pragma once

#include "common/WindowMessages.h"
#include "net/FailureTexts.h"
#include "reader/PageFields.h"
#include "store/Connection.h"

#include <QString>
#include <QThread>
#include <QUrl>

#include <atomic>

namespace vantero {

class TPageText;
struct TRenderedPage;

// Texts of the item reader; the download's own failures are in net/FailureTexts.h.
namespace ReaderTexts {
inline const QString WrongSeller = QStringLiteral("卖家不匹配");
inline const QString Stopped = QStringLiteral("读取已被中止");
inline const QString Unknown = QStringLiteral("读取宝贝时发生未知错误");
} // namespace ReaderTexts

// Reads one item page on a thread of its own: downloads it, takes title, seller, price, item id
// and sales out of it, checks the seller, stores the reading, and posts the result code to the
// window that started it. Create, set the inputs, start() (or ReadHere() on a worker thread that
// would only wait for it); never run it twice.
class TReadItem final : public QThread {
    Q_OBJECT
public:
    enum ResultCodes { rcUpdated = 0, rcAdded = 1, rcWrongSeller = 2, rcNoItem = 3, rcFailed = 4 };

    explicit TReadItem(TConnection connection, QObject* parent = nullptr);
    ~TReadItem() override;

    static QString ResultName(int code);

    // Inputs, set before start().
    QString URL;
    TWindowHandle TargetWnd = 0;
    QString LocalItemID;
    QString ExpectedSeller;
    bool FreeWhenDone = false;
    unsigned ResultMsg = WM_READITEM_RESULT;
    // The own item whose page is read, when the starter knows it: an own page that fails before
    // its item id is read has its outcome recorded under it.
    QString OwnItemID;
    // Travels as the result message's LParam, so a starter can tell its reading's result from
    // a late one of an earlier, abandoned reading.
    qintptr Token = 0;
    // How the page is read: -1 as the page's stored choice says (TReadMode), or a TReadMode for
    // this reading. Rendered readings happen only where the browser engine runs.
    int ReadModeOverride = -1;

    // Outputs, read after the result message arrived or Finished is seen set.
    double Price = 0;
    QString ErrorText;
    // The reading could not be stored because the database cannot take writes now (a full disk,
    // a read-only file): no further reading can be either.
    bool CannotStore = false;
    QString ItemName;
    QString SellerNick;
    QString ItemID;
    int ResultCode = rcUpdated;
    int SellCount = 0;
    bool ReadInBrowser = false; // the outputs come from the rendered page
    // The page named no seller account; its shop name matched the expected seller's stored one.
    bool SellerByShopName = false;
    // Where the direct download's time went (DNS, connect, TLS, first byte, body), in the stored
    // form of THttpTiming; '' when the page was not downloaded directly.
    QString Timing;
    std::atomic<bool> Finished{false};
    // Every field with where it came from, and whether the page was a login or block page.
    TItemFields Fields;

    bool IsFinished() const { return Finished.load(std::memory_order_acquire); }

    // Download limits. A page that does not answer within connectMs, or whose body is not read
    // within readMs, fails; so does a body over maxBytes. Tests shorten them.
    struct Limits {
        int connectMs = 30000;
        int readMs = 30000;
        qint64 maxBytes = 16 * 1024 * 1024;
    };
    static Limits DownloadLimits();
    static void SetDownloadLimits(const Limits& limits);

    // Asks every running reader to stop (a stopped download is a failure) and waits for them.
    // Called when the program ends, so no reader outlives the database or the application.
    static void StopAll();

    // The whole reading on the calling thread, for a starter that is itself a worker and would
    // only wait for the reading (the background updater): the same steps, result and message.
    void ReadHere();
    // Ends a running reading as a failure at its next step; thread-safe, also for ReadHere().
    void RequestStop();

    // Parses a page into the outputs, as a reading does (exposed for tests and tools); URL is the
    // address that was read.
    void ParsePage(const TPageText& page);
    // Text conversions of the price and sales fields; 0 when the text is not a number.
    static double ConvertPrice(const QString& text);
    static int ConvertSales(const QString& text);

protected:
    void run() override;

private:
    void Execute();
    QByteArray Download(QByteArray* contentType, QUrl* finalUrl);
    // The rendered reading (reader/RenderedReading.cpp): whether this reading starts in the
    // browser, whether a direct one goes there after what it found, and the page as rendered.
    bool StartsInBrowser() const;
    bool RetryInBrowser() const;
    QByteArray RenderedDownload(QByteArray* contentType);
    void TakeFinalAddress(const QUrl& requested, const TRenderedPage& page);
    bool SellerMatches();
    void StoreReading();

    bool StopRequested() const;

    TConnection m_connection;
    QUrl m_finalUrl;               // where the download ended after redirects
    bool m_addressRefused = false; // refused before anything was downloaded
    std::atomic<bool> m_stopRequested{false};
};

} // namespace vantero
