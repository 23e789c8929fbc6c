#pragma once

#include "common/WindowMessages.h"
#include "store/Connection.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace vantero {

class TReadItem;
class TRecordSet;

// Texts of the background update.
namespace UpdaterTexts {
inline const QString Running = QStringLiteral("更新程序正在进行中");
QString Started(const QDateTime& at);
QString Progress(const QString& itemName);
QString AllDone(const QDateTime& at);
QString Finished(const QDateTime& at);
// A run the user stopped: when, and how many of its rows were brought up to date.
QString Stopped(const QDateTime& at, int rowsDone, int rows);
} // namespace UpdaterTexts

// A date and time as the status bar shows it: the user's short date, a blank, the long time.
QString StatusDateTime(const QDateTime& value);

// The values of one grid row that the updater needs, copied on the host's thread.
struct TUpdaterRow {
    QString ItemID;
    QString ItemName; // the page title, not the custom name
    QString URL;
};

// What the updater needs from the window that runs it. Lives on the host's (main) thread; every
// call below is made there, handed over by the updater, which waits for it. A failure a call
// raises comes back to the updater as a failure of the row being processed.
class TUpdaterHost : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void ShowStatus(int panel, const QString& text) = 0;
    virtual int RowCount() = 0;
    // The row at position, or nothing when there is no such row (any more).
    virtual std::optional<TUpdaterRow> RowAt(int position) = 0;
    virtual void RefreshRow(int position) = 0;
    virtual QString OwnAccount() = 0;
};

// Brings every reading of the grid up to date: for each row, in order, the own item's page and
// then the page of each mapped rival item, one reading at a time, then a refresh of the row.
// Posts WM_READALL_FINISHED to mainWindow as its last step, however the run ended. Created and
// released on the host's thread; the host is owned by the updater.
class TReadAllItemThr final : public QThread {
    Q_OBJECT
public:
    static constexpr int kTimePanel = 1;
    static constexpr int kProgressPanel = 2;

    TReadAllItemThr(TConnection connection, std::unique_ptr<TUpdaterHost> host, TWindowHandle mainWindow,
                    QObject* parent = nullptr);
    // Stops a run that has not ended and waits for it.
    ~TReadAllItemThr() override;

    TUpdaterHost* Host() const { return m_host.get(); }

    // Called on the host's thread: no further reading or hand-over starts, a pending hand-over
    // is dropped and the reading in progress is abandoned (it stores nothing). Then wait().
    void Stop();
    // Called on the host's thread: the run ends once the reading in progress is stored; the row
    // it belongs to is refreshed and the stop is shown instead of the finish texts.
    void RequestFinish();
    // Read after the run has ended: whether it ended by RequestFinish.
    bool WasFinishedEarly() const { return m_finishedEarly; }
    // Set just before WM_READALL_FINISHED is posted.
    bool HasEnded() const { return m_ended.load(std::memory_order_acquire); }

    // Run state; read from other threads only after the run has ended.
    int RowIndex = 0;
    QString StatusText;
    QDateTime StartTime;
    QDateTime FinishTime;

    // Tally of the readings by result code, for the command-line summary.
    struct Tally {
        int readings = 0;
        int stored = 0;  // codes 0 and 1
        int refused = 0; // codes 2 and 3
        int failed = 0;  // code 4
        // Why the run stopped before its end (a reading that could not be stored); empty when
        // it went through.
        QString stoppedBecause;
    };
    Tally Counts() const;

protected:
    void run() override;

private:
    void Execute();
    void RunReader(const QString& url, const QString& localItemID, const QString& expectedSeller,
                   const QString& ownItemID = {});
    void ShowStarted();
    void ShowProgress();
    // Refreshes the row at RowIndex; when nextPosition is a row, takes that row in the same
    // hand-over, as the next iteration would first thing.
    void RefreshCurrentRow(int nextPosition);
    void ShowFinished();
    void ProcessRow(TRecordSet& rs, int position, bool last);
    // On the host's thread: copies the row at position into m_next and shows its progress text.
    void TakeRowOnHost(int position);

    // Runs step on the host's thread and waits for it; rethrows what it raised.
    void OnHostThread(const std::function<void()>& step);
    void CheckStop();
    // With m_mutex held: ends the run once a stop was requested.
    void ThrowIfStopping() const;

    struct THandOver;

    TConnection m_connection;
    std::unique_ptr<TUpdaterHost> m_host;
    TWindowHandle m_mainWindow;
    QString m_ownAccount;

    // The next row's values, when already taken with the previous row's refresh.
    struct TTakenRow {
        bool taken = false;
        std::optional<TUpdaterRow> row; // nothing when the row is gone or could not be taken
    };
    TTakenRow m_next;

    mutable std::mutex m_mutex; // guards the fields below
    bool m_stopping = false;
    bool m_finishing = false;
    std::shared_ptr<THandOver> m_pending;
    TReadItem* CurrentReader = nullptr;
    Tally m_tally;

    std::atomic<bool> m_ended{false};
    bool m_finishedEarly = false;
    int m_rowsDone = 0;
    int m_rows = 0;
};

} // namespace vantero
