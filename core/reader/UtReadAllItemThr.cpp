#include "reader/UtReadAllItemThr.h"

#include "common/StoreTexts.h"
#include "common/TextHelpers.h"
#include "reader/UtReadItemThr.h"
#include "store/RecordSet.h"

#include <QLocale>
#include <QMetaObject>

#include <condition_variable>
#include <exception>
#include <utility>

namespace vantero {

namespace {

// Raised on the updater's thread once a stop was requested; ends the run, never one row only.
struct TUpdaterStopped {};
// Raised once the user asked the run to end after the reading in progress.
struct TUpdaterFinishing {};
// A reading that could not be stored: the run ends with this text.
struct TCannotStore {
    QString text;
};

const QString kSelectMappedRivals = QStringLiteral("select * from RivalItems where LocalItemID=? and RivalItemID<>''");

} // namespace

QString StatusDateTime(const QDateTime& value) {
    return FormatDateTime(value);
}

namespace UpdaterTexts {

QString Started(const QDateTime& at) {
    return QStringLiteral("后台更新线程在 ") + StatusDateTime(at) + QStringLiteral(" 启动 ");
}

QString Progress(const QString& itemName) {
    return QStringLiteral("后台正在更新 \"") + itemName + QStringLiteral("\" 及其所对应的宝贝...");
}

QString AllDone(const QDateTime& at) {
    return QStringLiteral("所有宝贝已在 ") + StatusDateTime(at) + QStringLiteral(" 完成更新");
}

QString Finished(const QDateTime& at) {
    return QStringLiteral("后台更新线程在 ") + StatusDateTime(at) + QStringLiteral(" 完成 ");
}

QString Stopped(const QDateTime& at, int rowsDone, int rows) {
    return QStringLiteral("更新已于 %1 停止（已更新 %2/%3）").arg(StatusDateTime(at)).arg(rowsDone).arg(rows);
}

} // namespace UpdaterTexts

// One step handed to the host's thread. Either the host runs it (finished) or a stop drops it
// before it ran (dropped); both happen on the host's thread, so they never overlap.
struct TReadAllItemThr::THandOver {
    std::mutex mutex;
    std::condition_variable settled;
    bool finished = false;
    bool dropped = false;
    std::exception_ptr error;
};

TReadAllItemThr::TReadAllItemThr(TConnection connection, std::unique_ptr<TUpdaterHost> host, TWindowHandle mainWindow,
                                 QObject* parent)
    : QThread(parent), m_connection(std::move(connection)), m_host(std::move(host)), m_mainWindow(mainWindow) {}

TReadAllItemThr::~TReadAllItemThr() {
    if (isRunning()) {
        Stop();
        wait();
    }
}

void TReadAllItemThr::Stop() {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    // The host's thread is about to wait for this thread: a step waiting for it would never run.
    if (m_pending) {
        std::lock_guard pendingLock(m_pending->mutex);
        m_pending->dropped = true;
        m_pending->settled.notify_all();
    }
    if (CurrentReader)
        CurrentReader->RequestStop();
}

void TReadAllItemThr::RequestFinish() {
    std::lock_guard lock(m_mutex);
    m_finishing = true;
}

TReadAllItemThr::Tally TReadAllItemThr::Counts() const {
    std::lock_guard lock(m_mutex);
    return m_tally;
}

void TReadAllItemThr::run() {
    Execute();
}

void TReadAllItemThr::CheckStop() {
    std::lock_guard lock(m_mutex);
    ThrowIfStopping();
}

void TReadAllItemThr::ThrowIfStopping() const {
    if (m_stopping)
        throw TUpdaterStopped{};
}

void TReadAllItemThr::OnHostThread(const std::function<void()>& step) {
    auto handOver = std::make_shared<THandOver>();
    {
        std::lock_guard lock(m_mutex);
        ThrowIfStopping();
        m_pending = handOver;
    }
    // Queued to the host object: if the host goes away first, the step is dropped with it.
    QMetaObject::invokeMethod(
        m_host.get(),
        [handOver, step] {
            {
                std::lock_guard lock(handOver->mutex);
                if (handOver->dropped)
                    return;
            }
            std::exception_ptr error;
            try {
                step();
            } catch (...) {
                error = std::current_exception();
            }
            std::lock_guard lock(handOver->mutex);
            handOver->error = error;
            handOver->finished = true;
            handOver->settled.notify_all();
        },
        Qt::QueuedConnection);
    bool finished = false;
    std::exception_ptr error;
    {
        std::unique_lock lock(handOver->mutex);
        handOver->settled.wait(lock, [&] { return handOver->finished || handOver->dropped; });
        finished = handOver->finished;
        error = handOver->error;
    }
    {
        std::lock_guard lock(m_mutex);
        m_pending.reset();
    }
    if (!finished)
        throw TUpdaterStopped{};
    if (error)
        std::rethrow_exception(error);
}

void TReadAllItemThr::ShowStarted() {
    const QString text = UpdaterTexts::Started(StartTime);
    OnHostThread([this, text] { m_host->ShowStatus(kTimePanel, text); });
}

void TReadAllItemThr::ShowProgress() {
    const QString text = StatusText;
    OnHostThread([this, text] { m_host->ShowStatus(kProgressPanel, text); });
}

void TReadAllItemThr::RefreshCurrentRow(int nextPosition) {
    const int position = RowIndex;
    std::exception_ptr refreshError;
    OnHostThread([this, position, nextPosition, &refreshError] {
        try {
            m_host->RefreshRow(position);
        } catch (...) {
            refreshError = std::current_exception();
        }
        // The next row is taken right after, in the same hand-over: one wait for the host per
        // row instead of two, and the same order of effects.
        if (nextPosition >= 0) {
            try {
                TakeRowOnHost(nextPosition);
            } catch (...) {
                m_next = {true, std::nullopt}; // that row fails: it is passed over
            }
        }
    });
    if (refreshError)
        std::rethrow_exception(refreshError);
}

void TReadAllItemThr::TakeRowOnHost(int position) {
    m_next = {true, m_host->RowAt(position)};
    // The settings dialog may change the own account while a run goes on: each own page is
    // checked against the account as it is when its row is taken.
    m_ownAccount = m_host->OwnAccount();
    if (m_next.row)
        m_host->ShowStatus(kProgressPanel, UpdaterTexts::Progress(m_next.row->ItemName));
}

void TReadAllItemThr::ShowFinished() {
    const QString text = UpdaterTexts::Finished(FinishTime);
    OnHostThread([this, text] { m_host->ShowStatus(kTimePanel, text); });
}

void TReadAllItemThr::RunReader(const QString& url, const QString& localItemID, const QString& expectedSeller,
                                const QString& ownItemID) {
    auto reader = std::make_unique<TReadItem>(m_connection);
    reader->URL = url;
    reader->TargetWnd = 0; // the updater has no window: the result message reaches nobody
    reader->LocalItemID = localItemID;
    reader->ExpectedSeller = expectedSeller;
    reader->OwnItemID = ownItemID;
    reader->FreeWhenDone = false;
    reader->ResultMsg = WM_READITEM_RESULT;
    {
        std::lock_guard lock(m_mutex);
        ThrowIfStopping();
        if (m_finishing)
            throw TUpdaterFinishing{};
        CurrentReader = reader.get();
    }
    // Every reading is bounded by the reader's own time-outs.
    reader->ReadHere();
    std::lock_guard lock(m_mutex);
    CurrentReader = nullptr;
    ++m_tally.readings;
    switch (reader->ResultCode) {
    case TReadItem::rcUpdated:
    case TReadItem::rcAdded:
        ++m_tally.stored;
        break;
    case TReadItem::rcWrongSeller:
    case TReadItem::rcNoItem:
        ++m_tally.refused;
        break;
    default:
        ++m_tally.failed;
        break;
    }
    // Every further page would be downloaded for nothing.
    if (reader->CannotStore)
        throw TCannotStore{reader->ErrorText};
}

void TReadAllItemThr::ProcessRow(TRecordSet& rs, int position, bool last) {
    RowIndex = position;
    // The row's values are copied on the host's thread, which owns the rows and may rebuild them;
    // its progress text goes up in the same hand-over.
    if (!m_next.taken) {
        try {
            OnHostThread([this, position] { TakeRowOnHost(position); });
        } catch (...) {
            m_next = {}; // never left for the next position
            throw;
        }
    }
    const std::optional<TUpdaterRow> row = std::exchange(m_next, {}).row;
    if (!row)
        return; // the position no longer exists, or taking it failed
    StatusText = UpdaterTexts::Progress(row->ItemName);

    bool readAny = false;
    try {
        RunReader(row->URL, QString(), m_ownAccount, row->ItemID);
        readAny = true;

        rs.Close();
        rs.SetSQL(kSelectMappedRivals, {row->ItemID});
        rs.Open();
        for (rs.First(); !rs.Eof(); rs.Next()) {
            const QString url = rs.FieldByName(QStringLiteral("URL")).AsString();
            if (!TrimBlanks(url).isEmpty())
                RunReader(url, row->ItemID, rs.FieldByName(QStringLiteral("RivalWW")).AsString());
        }
    } catch (const TUpdaterFinishing&) {
        // What was read of the row so far shows before the run ends.
        if (readAny)
            RefreshCurrentRow(-1);
        throw;
    }

    RefreshCurrentRow(last ? -1 : position + 1);
}

void TReadAllItemThr::Execute() {
    try {
        StartTime = QDateTime::currentDateTime();
        ShowStarted();
        {
            TRecordSet rs(m_connection);
            // Taken once: rows added during the run are not visited.
            int n = 0;
            OnHostThread([this, &n] { n = m_host->RowCount(); });
            m_rows = n;
            for (int i = 0; i < n; ++i) {
                CheckStop();
                {
                    std::lock_guard lock(m_mutex);
                    if (m_finishing)
                        throw TUpdaterFinishing{};
                }
                try {
                    ProcessRow(rs, i, i + 1 == n);
                } catch (const TUpdaterStopped&) {
                    throw;
                } catch (const TUpdaterFinishing&) {
                    throw;
                } catch (const TCannotStore&) {
                    throw;
                } catch (...) {
                    // A failed row is passed over; its readings made so far stay stored.
                }
                m_rowsDone = i + 1;
            }
            StatusText = UpdaterTexts::AllDone(QDateTime::currentDateTime());
            ShowProgress();
            rs.Close();
        }
        FinishTime = QDateTime::currentDateTime();
        ShowFinished();
    } catch (const TUpdaterFinishing&) {
        // A stopped run did not complete: the start text stays, the progress panel says so.
        m_finishedEarly = true;
        FinishTime = QDateTime::currentDateTime();
        StatusText = UpdaterTexts::Stopped(FinishTime, m_rowsDone, m_rows);
        try {
            ShowProgress();
        } catch (...) {
        }
    } catch (const TCannotStore& stop) {
        // Its end texts say it stopped, and why, never that everything was updated.
        m_finishedEarly = true;
        try {
            {
                std::lock_guard lock(m_mutex);
                m_tally.stoppedBecause = StoreTexts::RoundStopped.arg(stop.text);
            }
            StatusText = StoreTexts::RoundStopped.arg(stop.text);
            ShowProgress();
            FinishTime = QDateTime::currentDateTime();
            const QString text = StoreTexts::RoundStoppedAt.arg(StatusDateTime(FinishTime));
            OnHostThread([this, text] { m_host->ShowStatus(kTimePanel, text); });
        } catch (...) {
        }
    } catch (...) {
        // A stop or a failure outside the rows ends the run; it still reports its end below,
        // so the window never keeps waiting for an updater that is gone.
    }
    TConnection::closeThreadConnections();
    m_ended.store(true, std::memory_order_release);
    PostMessageToWindow(m_mainWindow, WM_READALL_FINISHED, 0, 0);
}

} // namespace vantero
