#pragma once

#include "reader/UtReadAllItemThr.h"

#include <QString>

#include <functional>
#include <memory>

namespace vantero {

class TMainData;

// One round over a team database shared by workers on any number of machines. The round's pages
// (each row's own page, then its mapped rivals' pages, in the grid's order, as the ordinary round
// reads them) are rows of RoundClaims; a worker takes the next page nobody holds, or whose
// holder's lease ran out, with SELECT ... FOR UPDATE SKIP LOCKED, reads it, and marks it done or
// failed. A worker reads one page after another and renews its lease while it reads, so a worker
// that dies loses only the page it held. The round ends for every worker when no page is left.

// How long a claim holds without renewal: 60 seconds, or VANTERO_ROUND_LEASE_SECONDS.
int SharedRoundLeaseSeconds();

// How long a stopping worker that must end (a window closing, a termination signal) waits for its
// page to go back to the server before it cuts its connections: giving back is one statement.
inline constexpr int kRoundGiveBackMs = 2000;

// The open round of data's team database, or a new one with every page of data's grid when
// none is open (or the open one has no page left); its id. Throws TDatabaseError.
qint64 JoinSharedRound(TMainData& data);

// Joins the round and reads pages of it as worker until none is left, on a thread of its own
// while the calling thread serves events (a termination signal ends it after the page in
// progress is abandoned; the page goes back to the round, or, when the server does not take it
// within kRoundGiveBackMs, runs out there). Each status text goes to showText.
// The tally counts this worker's readings. Throws TDatabaseError when the server fails.
TReadAllItemThr::Tally RunSharedRound(TMainData& data, const QString& worker,
                                      const std::function<void(const QString&)>& showText);

// A page of the round that a worker has read and marked, as its per-page callback gets it.
struct TSharedRoundPage {
    QString ownItemID;  // the own item (grid row) the page belongs to
    QString rivalWW;    // empty for the own item's page
    int resultCode = 0; // TReadItem's result code
};

// One worker's part of a shared round, for a caller that owns the thread it runs on (the window's
// background update): the loop RunSharedRound runs, without its event handling. The callbacks
// are called on Run's thread.
class TSharedRoundWorker final {
public:
    // panel: TReadAllItemThr::kTimePanel or kProgressPanel, where the window shows the text.
    using ShowText = std::function<void(int panel, const QString& text)>;
    using PageRead = std::function<void(const TSharedRoundPage& page)>;

    TSharedRoundWorker(TConnection connection, qint64 round, const QString& worker, const QString& ownAccount,
                       ShowText showText, PageRead pageRead);
    ~TSharedRoundWorker();
    TSharedRoundWorker(const TSharedRoundWorker&) = delete;
    TSharedRoundWorker& operator=(const TSharedRoundWorker&) = delete;

    // Reads pages until none is left or Stop; the tally of this worker's readings. Throws
    // TDatabaseError when the server fails.
    TReadAllItemThr::Tally Run();
    // From any thread: the page in progress is abandoned and given back to the round at once, and
    // nothing further starts.
    void Stop();
    // From any thread, for a program that must end now: Stop, and the statements in progress end
    // at once even when the server does not answer (the page's claim then runs out on the server).
    void Abandon();

private:
    struct TImpl;
    std::unique_ptr<TImpl> m_impl;
};

// The progress of the newest round over all workers, read in one query.
struct TSharedRoundProgress {
    qint64 round = 0; // 0: no round was ever opened
    bool ended = false;
    int total = 0;   // pages of the round
    int done = 0;    // read and stored
    int failed = 0;  // failed or refused
    int held = 0;    // claimed by a worker whose lease runs
    int workers = 0; // workers holding a claim
};
TSharedRoundProgress SharedRoundProgress(const TConnection& con);

// The round's status panel text: "共享轮次：已读 120/450，失败 3，3 个读取者".
QString SharedRoundProgressText(const TSharedRoundProgress& progress);

} // namespace vantero
