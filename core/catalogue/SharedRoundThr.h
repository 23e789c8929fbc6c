#pragma once

#include "common/WindowMessages.h"
#include "reader/UtReadAllItemThr.h"
#include "store/Connection.h"
#include "store/ServerSession.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>

namespace vantero {

class TSharedRoundWorker;

// The window's background update on a team database: one more worker of the shared round, on a
// thread and a connection of its own. It joins the open round (or opens one with every page of
// the catalogue as the database holds it), reads pages of it until none is left or Stop, and
// posts WM_READALL_FINISHED to mainWindow as its last step, however the run ended. Its texts,
// the rows it read and the round's progress reach the window as queued signals, as values.
class TSharedRoundThr final : public QThread {
    Q_OBJECT
public:
    TSharedRoundThr(TConnection connection, QString worker, TWindowHandle mainWindow, QObject* parent = nullptr);
    // Stops a run that has not ended and waits for it.
    ~TSharedRoundThr() override;

    // This desk's name as a worker of the round: the user's name and the host's, marked as a window.
    static QString WindowWorkerName();

    // From any thread: the page in progress is given back to the round at once (another worker
    // reads it) and nothing further starts.
    void Stop();
    // From any thread, for a program that must end now: Stop, and the round's statement in
    // progress ends at once even when the server does not answer (its claim then runs out on the
    // server instead of being given back).
    void Abandon();
    // Set just before WM_READALL_FINISHED is posted.
    bool HasEnded() const { return m_ended.load(std::memory_order_acquire); }
    // Read after the run has ended: this worker's readings, and why it stopped early (if so).
    TReadAllItemThr::Tally Counts() const;
    bool WasStopped() const;

signals:
    void statusText(int panel, const QString& text);
    // A page of the round this worker read and stored or marked failed, by its own item.
    void pageRead(const QString& ownItemID);
    // The round's progress over all workers, as its status panel shows it.
    void progressText(const QString& text);

protected:
    void run() override;

private:
    void Execute();
    void ShowProgress();

    TConnection m_connection;
    QString m_worker;
    TWindowHandle m_mainWindow;

    mutable std::mutex m_mutex; // guards the fields below
    bool m_stopping = false;
    bool m_abandoned = false;
    // The break of this thread's server session, there before the session so that a connection
    // still being made can be given up too.
    const std::shared_ptr<TServerBreak> m_break = std::make_shared<TServerBreak>();
    TSharedRoundWorker* m_running = nullptr;
    TReadAllItemThr::Tally m_tally;

    std::atomic<bool> m_ended{false};
};

} // namespace vantero
