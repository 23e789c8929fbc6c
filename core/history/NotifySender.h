#pragma once

#include "history/AlertRules.h"
#include "history/NotifyChannels.h"
#include "history/NotifyMessages.h"
#include "store/Connection.h"

#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vantero {

// A channel failing this many rounds in a row is reported once.
inline constexpr int kFailedRoundsBeforeNotice = 3;

struct TSendOptions {
    int tries = 3;
    int backoffMs = 3000;  // before the second try; doubled before each further one
    int timeoutMs = 20000; // one try, from connecting to the answer
    QString caFile;        // certificates to trust instead of the system's (tests)
    // At a clean end, how long rounds still being sent may take before what is left of them is
    // recorded as not sent; a transfer then ends within about a second more.
    int closeGraceMs = 2000;
};

// The outcome of one message to one channel, after its tries.
struct TSendResult {
    bool ok = false;
    int tries = 0;
    QString error; // Chinese, empty when sent
};

// Sends message to channel now, on the calling thread, trying as often as options say. stop, when
// set, ends a transfer or a wait between tries within a tenth of a second.
TSendResult SendMessage(const TNotifyChannel& channel, const TChannelSecrets& secrets, const TNotifyMessage& message,
                        const TSendOptions& options, const std::atomic<bool>* stop = nullptr);

// What the sender reports of each channel at the end of a round, and of each test.
struct TSendReport {
    QString channel;
    bool test = false;
    qint64 round = 0; // the first alert of the round
    TSendResult result;
    int failedRoundsInRow = 0; // counting this round; 0 for a test or when it went through
};

// The last rounds' outcome of a channel: how many rounds in a row, up to the newest, failed.
// Messages left unsent because the program ended are not the channel's failures.
int FailedRoundsInRow(const TConnection& con, const QString& channel);

// Sends the alerts a process stores to the user's channels, on a thread of its own: handing a
// round over returns at once, so readings never wait for a robot or a mail server. Each
// channel's outcome is written to AlertSends on the sender's own connection to the file.
class TNotifySender final {
public:
    using TReportHandler = std::function<void(const TSendReport&)>;

    explicit TNotifySender(TConnection con, TSendOptions options = {});
    // A closing program waits for robots only briefly: rounds still being sent get the options'
    // grace, then the transfer in progress ends and every message of a round not sent by then
    // is recorded in AlertSends as "程序退出，未发送" (and reported), so no alert leaves unaccounted.
    // Tests waiting are dropped.
    ~TNotifySender();
    TNotifySender(const TNotifySender&) = delete;
    TNotifySender& operator=(const TNotifySender&) = delete;

    // Called on the sender thread after each channel's round and each test.
    void SetReportHandler(TReportHandler handler);
    // The channels are those of the user's list at the time the round is sent; disabled ones are left out.
    void SendRound(const QList<TAlert>& alerts);
    void SendTest(const TNotifyChannel& channel);
    // Waits until everything handed over is done; false when ms (negative: no limit) passed first.
    bool WaitIdle(int ms = -1);

private:
    struct TJob {
        QList<TAlert> alerts;
        std::optional<TNotifyChannel> testChannel;
    };
    void Run();
    void SendRoundNow(const QList<TAlert>& alerts);
    // Records alerts of a round as not sent to channel because the program ends.
    void RecordUnsent(qint64 round, const QString& channel, const QList<TAlert>& alerts);
    void Report(const TSendReport& report);

    TConnection m_con;
    TSendOptions m_options;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<TJob> m_jobs;
    bool m_busy = false;
    bool m_sendingRound = false;
    std::atomic<bool> m_stop{false};
    TReportHandler m_handler;
    std::thread m_thread;
};

} // namespace vantero
