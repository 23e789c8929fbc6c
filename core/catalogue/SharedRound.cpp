#include "catalogue/SharedRound.h"

#include "catalogue/GridData.h"
#include "catalogue/MainData.h"
#include "common/StoreTexts.h"
#include "common/TermSignals.h"
#include "common/TextHelpers.h"
#include "reader/UtReadItemThr.h"
#include "store/Connection.h"
#include "store/ServerSession.h"
#include "store/Statement.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <thread>
#include <vector>

namespace vantero {

namespace {

const QString kSelectAllMappedRivals =
    QStringLiteral("select LocalItemID, RivalWW, URL from RivalItems where RivalItemID<>'' order by rowid");

// The server's clock decides every lease, so the workers' clocks need not agree.
const QString kLeaseEnd = QStringLiteral("clock_timestamp() + cast(? as double precision) * interval '1 second'");

// The next page nobody holds (or whose lease ran out), in the round's order; a page another
// worker is taking at this moment is passed over instead of waited for.
const QString kClaim =
    QStringLiteral("update RoundClaims set Worker=?, LeaseEnd=") + kLeaseEnd +
    QStringLiteral(", Tries=Tries+1 where rowid=(select rowid from RoundClaims where RoundID=? and "
                   "State=0 and (LeaseEnd is null or LeaseEnd<clock_timestamp()) order by Seq "
                   "limit 1 for update skip locked) returning rowid, LocalItemID, RivalWW, URL, ItemName");
const QString kRenew = QStringLiteral("update RoundClaims set LeaseEnd=") + kLeaseEnd +
                       QStringLiteral(" where rowid=? and Worker=? and State=0");
const QString kRelease =
    QStringLiteral("update RoundClaims set Worker=null, LeaseEnd=null where rowid=? and Worker=? and State=0");
const QString kMark = QStringLiteral("update RoundClaims set State=?, LeaseEnd=null where rowid=? and State=0");
const QString kLeft = QStringLiteral("select count(*) from RoundClaims where RoundID=? and State=0");
const QString kEnd =
    QStringLiteral("update SharedRounds set EndedAt=clock_timestamp() where rowid=? and EndedAt is null");
// Said when a page goes back to the round or the round ends, so a worker waiting for either
// looks again at once.
const QByteArray kRoundChannel = "vantero_round";
const QString kAnnounce = QStringLiteral("select pg_notify('vantero_round', '')");

constexpr int kDone = 1;
constexpr int kFailed = 2;

// While other workers hold the last pages, a worker looks again when one gives a page back or
// the round ends, and at least this often: one of them may die, and a lease that runs out says
// nothing.
constexpr std::chrono::milliseconds kLookAgain{500};
// How often a waiting worker sees whether it was stopped.
constexpr int kStopLookMs = 50;

struct TClaimedPage {
    qint64 claim = 0;
    QString localItemID;
    QString rivalWW; // empty for the own item's page
    QString url;
    QString itemName;
};

// One worker's run over the round, on a thread of its own.
class TRoundWorker {
public:
    // Without mainContext the texts and pages are handed on on the worker's own thread.
    TRoundWorker(TConnection con, qint64 round, QString worker, QString ownAccount, QObject* mainContext,
                 TSharedRoundWorker::ShowText showText, TSharedRoundWorker::PageRead pageRead = {})
        : m_con(std::move(con)), m_round(round), m_worker(std::move(worker)), m_ownAccount(std::move(ownAccount)),
          m_mainContext(mainContext), m_showText(std::move(showText)), m_pageRead(std::move(pageRead)),
          m_lease(SharedRoundLeaseSeconds()) {}

    void Run() {
        // A connection this thread still has to make can be given up as well.
        const auto mine = std::make_shared<TServerBreak>();
        Watch(mine);
        const TServerBreak::TOnThisThread cutTogether(mine);
        try {
            Watch(m_con.server()->Breaker());
        } catch (...) {
            // Reading the pages meets the same fault and reports it.
        }
        std::thread renewer([this] { RenewLeases(); });
        try {
            Show(TReadAllItemThr::kTimePanel, UpdaterTexts::Started(QDateTime::currentDateTime()));
            ReadPages();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(m_mutex);
            m_ended = true;
        }
        m_wake.notify_all();
        renewer.join();
        TConnection::closeThreadConnections();
    }

    // From any thread: the page in progress is abandoned and given back, nothing further starts.
    void Stop() {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        if (m_reader)
            m_reader->RequestStop();
        m_wake.notify_all();
    }

    // From any thread: Stop, and the statements in progress on the worker's connections end at
    // once however unresponsive the server is.
    void Abandon() {
        Stop();
        std::lock_guard lock(m_mutex);
        m_abandoned = true;
        for (const auto& breaker : m_breaks)
            breaker->Break();
    }

    TReadAllItemThr::Tally tally;
    std::exception_ptr error;

private:
    // A connection of this worker's, for Abandon to cut.
    void Watch(std::shared_ptr<TServerBreak> breaker) {
        std::lock_guard lock(m_mutex);
        if (m_abandoned)
            breaker->Break();
        m_breaks.push_back(std::move(breaker));
    }

    void Show(int panel, const QString& text) {
        if (!m_mainContext) {
            m_showText(panel, text);
            return;
        }
        // The texts go out on the thread that owns the output, in order.
        QMetaObject::invokeMethod(
            m_mainContext, [show = m_showText, panel, text] { show(panel, text); }, Qt::QueuedConnection);
    }

    bool Stopping() {
        std::lock_guard lock(m_mutex);
        return m_stopping;
    }

    void ReadPages() {
        TServerSession* session = m_con.server();
        session->Run("LISTEN " + kRoundChannel);
        QString shownItem;
        while (!Stopping()) {
            // Whatever was said before this look is answered by it.
            session->TakeNotifications();
            const std::optional<TClaimedPage> claimed = Claim();
            if (!claimed) {
                if (m_con.value(kLeft, {m_round}).toLongLong() == 0) {
                    m_con.exec(kEnd, {m_round});
                    m_con.exec(kAnnounce);
                    Show(TReadAllItemThr::kProgressPanel, UpdaterTexts::AllDone(QDateTime::currentDateTime()));
                    Show(TReadAllItemThr::kTimePanel, UpdaterTexts::Finished(QDateTime::currentDateTime()));
                    return;
                }
                WaitForNews(session);
                continue;
            }
            const TClaimedPage& page = *claimed;
            {
                std::lock_guard lock(m_mutex);
                m_claim = page.claim;
            }
            if (page.itemName != shownItem) {
                shownItem = page.itemName;
                Show(TReadAllItemThr::kProgressPanel, UpdaterTexts::Progress(page.itemName));
            }
            const bool finished = ReadPage(page);
            {
                std::lock_guard lock(m_mutex);
                m_claim = 0;
            }
            if (!finished)
                return;
        }
    }

    // Until another worker gives a page back or ends the round, kLookAgain passes, or this one
    // is stopped.
    void WaitForNews(TServerSession* session) {
        const auto until = std::chrono::steady_clock::now() + kLookAgain;
        while (!Stopping() && std::chrono::steady_clock::now() < until) {
            pollfd socket{session->Socket(), POLLIN, 0};
            if (poll(&socket, 1, kStopLookMs) > 0 && !session->TakeNotifications().isEmpty())
                return;
        }
    }

    // The next page, held for this worker, with what reading it needs, in one round trip.
    std::optional<TClaimedPage> Claim() {
        TStatement claim(m_con, kClaim);
        claim.Bind({m_worker, m_lease, m_round});
        if (!claim.Step())
            return std::nullopt;
        TClaimedPage page;
        page.claim = claim.Integer(0);
        page.localItemID = claim.Text(1);
        page.rivalWW = claim.Text(2);
        page.url = claim.Text(3);
        page.itemName = claim.Text(4);
        return page;
    }

    // Reads one claimed page and marks it; false when the run ends here (the page goes back).
    bool ReadPage(const TClaimedPage& page) {
        TReadItem reader(m_con);
        reader.URL = page.url;
        reader.TargetWnd = 0; // no window: the result message reaches nobody
        reader.FreeWhenDone = false;
        reader.ResultMsg = WM_READITEM_RESULT;
        if (page.rivalWW.isEmpty()) {
            reader.ExpectedSeller = m_ownAccount;
            reader.OwnItemID = page.localItemID;
        } else {
            reader.LocalItemID = page.localItemID;
            reader.ExpectedSeller = page.rivalWW;
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) {
                GiveBack(page);
                return false;
            }
            m_reader = &reader;
        }
        reader.ReadHere();
        bool stopped = false;
        {
            std::lock_guard lock(m_mutex);
            m_reader = nullptr;
            stopped = m_stopping;
        }
        if (stopped || reader.CannotStore) {
            // Another worker reads the page at once instead of after the lease.
            GiveBack(page);
            if (reader.CannotStore && !stopped) {
                ++tally.readings;
                ++tally.failed;
                tally.stoppedBecause = StoreTexts::RoundStopped.arg(reader.ErrorText);
                Show(TReadAllItemThr::kProgressPanel, tally.stoppedBecause);
            }
            return false;
        }
        ++tally.readings;
        int state = kFailed;
        switch (reader.ResultCode) {
        case TReadItem::rcUpdated:
        case TReadItem::rcAdded:
            ++tally.stored;
            state = kDone;
            break;
        case TReadItem::rcWrongSeller:
        case TReadItem::rcNoItem:
            ++tally.refused;
            break;
        default:
            ++tally.failed;
            break;
        }
        m_con.exec(kMark, {state, page.claim});
        if (m_pageRead)
            m_pageRead({page.localItemID, page.rivalWW, reader.ResultCode});
        return true;
    }

    void GiveBack(const TClaimedPage& page) {
        m_con.exec(kRelease, {page.claim, m_worker});
        m_con.exec(kAnnounce);
    }

    // On a thread of its own: keeps the page in progress claimed while it is read, however long.
    void RenewLeases() {
        const auto every = std::chrono::milliseconds(m_lease * 1000 / 3);
        const auto mine = std::make_shared<TServerBreak>();
        Watch(mine);
        const TServerBreak::TOnThisThread cutTogether(mine);
        std::unique_lock lock(m_mutex);
        while (!m_wake.wait_for(lock, every, [this] { return m_ended; })) {
            const qint64 claim = m_claim;
            if (claim == 0)
                continue;
            lock.unlock();
            try {
                m_con.exec(kRenew, {m_lease, claim, m_worker});
            } catch (...) {
                // The reading's own statements meet the same fault and report it.
            }
            lock.lock();
        }
        lock.unlock();
        TConnection::closeThreadConnections();
    }

    TConnection m_con;
    qint64 m_round;
    QString m_worker;
    QString m_ownAccount;
    QObject* m_mainContext;
    TSharedRoundWorker::ShowText m_showText;
    TSharedRoundWorker::PageRead m_pageRead;
    int m_lease;

    std::mutex m_mutex; // guards the fields below
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_ended = false;
    bool m_abandoned = false;
    std::vector<std::shared_ptr<TServerBreak>> m_breaks;
    qint64 m_claim = 0;
    TReadItem* m_reader = nullptr;
};

} // namespace

int SharedRoundLeaseSeconds() {
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("VANTERO_ROUND_LEASE_SECONDS", &ok);
    return ok && seconds > 0 ? seconds : 60;
}

qint64 JoinSharedRound(TMainData& data) {
    const TConnection& con = data.con;
    // Serialised with every other writer: two workers starting at once open one round.
    TWriteTransaction transaction(con);
    const QVariant open =
        con.value(QStringLiteral("select rowid from SharedRounds where EndedAt is null order by rowid desc limit 1"));
    if (!open.isNull()) {
        const qint64 round = open.toLongLong();
        if (con.value(kLeft, {round}).toLongLong() > 0) {
            transaction.Commit();
            return round;
        }
        // Its last worker died between marking the last page and ending the round.
        con.exec(kEnd, {round});
    }
    // The pages of ended rounds are of no further use; the rounds themselves stay as a record.
    con.exec(QStringLiteral(
        "delete from RoundClaims where RoundID in (select rowid from SharedRounds where EndedAt is not null)"));
    const qint64 round =
        con.insert(QStringLiteral("insert into SharedRounds (StartedAt) values (clock_timestamp())"), {});
    // Every mapped rival page in one answer, by own item, rather than a query an item.
    QHash<QString, QList<QPair<QString, QString>>> rivalPages; // folded LocalItemID: (RivalWW, URL)
    {
        TStatement rivals(con, kSelectAllMappedRivals);
        rivals.Bind({});
        while (rivals.Step()) {
            const QString url = rivals.Text(2);
            if (!TrimBlanks(url).isEmpty())
                rivalPages[LowerAscii(rivals.Text(0))].append({rivals.Text(1), url});
        }
    }
    // The pages go to the server as one stream.
    int row = 0;
    qsizetype rival = -1; // -1: the row's own page
    qint64 seq = 0;
    const QString roundText = QString::number(round);
    con.server()->CopyRows(QStringLiteral("RoundClaims"),
                           {QStringLiteral("roundid"), QStringLiteral("seq"), QStringLiteral("localitemid"),
                            QStringLiteral("rivalww"), QStringLiteral("url"), QStringLiteral("itemname")},
                           [&](std::vector<QByteArray>& values) {
                               while (row < data.grid.rowCount()) {
                                   const TItem& item = data.grid.item(row);
                                   const QList<QPair<QString, QString>> pages =
                                       rivalPages.value(LowerAscii(item.ItemID));
                                   if (rival >= pages.size()) {
                                       ++row;
                                       rival = -1;
                                       continue;
                                   }
                                   values = {roundText.toUtf8(),
                                             QByteArray::number(seq++),
                                             ServerValueText(item.ItemID),
                                             rival < 0 ? QByteArray("") : ServerValueText(pages[rival].first),
                                             ServerValueText(rival < 0 ? item.URL : pages[rival].second),
                                             ServerValueText(item.ItemName)};
                                   ++rival;
                                   return true;
                               }
                               return false;
                           });
    transaction.Commit();
    return round;
}

TReadAllItemThr::Tally RunSharedRound(TMainData& data, const QString& worker,
                                      const std::function<void(const QString&)>& showText) {
    if (TTermSignals::Received())
        return {};
    const qint64 round = JoinSharedRound(data);
    QEventLoop loop;
    TRoundWorker roundWorker(data.con, round, worker, data.OwnAccount, &loop,
                             [showText](int, const QString& text) { showText(text); });
    // A server that does not answer must not keep a stopped command alive (systemd would kill it).
    QTimer cutOff;
    cutOff.setSingleShot(true);
    cutOff.setInterval(kRoundGiveBackMs);
    QObject::connect(&cutOff, &QTimer::timeout, &loop, [&roundWorker] { roundWorker.Abandon(); });
    if (TTermSignals* termSignals = TTermSignals::Installed())
        QObject::connect(termSignals, &TTermSignals::received, &loop, [&roundWorker, &cutOff] {
            roundWorker.Stop();
            cutOff.start();
        });
    std::thread thread([&roundWorker, &loop] {
        roundWorker.Run();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    thread.join();
    // Texts posted after the quit still go out, in order.
    QCoreApplication::sendPostedEvents(&loop);
    if (roundWorker.error)
        std::rethrow_exception(roundWorker.error);
    return roundWorker.tally;
}

struct TSharedRoundWorker::TImpl {
    TRoundWorker worker;
};

TSharedRoundWorker::TSharedRoundWorker(TConnection connection, qint64 round, const QString& worker,
                                       const QString& ownAccount, ShowText showText, PageRead pageRead)
    : m_impl(new TImpl{TRoundWorker(std::move(connection), round, worker, ownAccount, nullptr, std::move(showText),
                                    std::move(pageRead))}) {}

TSharedRoundWorker::~TSharedRoundWorker() = default;

TReadAllItemThr::Tally TSharedRoundWorker::Run() {
    m_impl->worker.Run();
    if (m_impl->worker.error)
        std::rethrow_exception(m_impl->worker.error);
    return m_impl->worker.tally;
}

void TSharedRoundWorker::Stop() {
    m_impl->worker.Stop();
}

void TSharedRoundWorker::Abandon() {
    m_impl->worker.Abandon();
}

TSharedRoundProgress SharedRoundProgress(const TConnection& con) {
    // The newest round, open or ended: its pages stay until the next round opens. A round with no
    // open page is over even before its last worker has recorded the end.
    TRecordSet rs(con);
    rs.SetSQL(
        QStringLiteral("select r.rowid as RoundID, case when r.EndedAt is null and count(*) filter (where c.State=0)>0 "
                       "then 0 else 1 end as Ended, count(c.rowid) as Total, "
                       "count(*) filter (where c.State=1) as Done, count(*) filter (where c.State=2) as Failed, "
                       "count(*) filter (where c.State=0 and c.LeaseEnd>=clock_timestamp()) as Held, "
                       "count(distinct c.Worker) filter (where c.State=0 and c.LeaseEnd>=clock_timestamp()) as Workers "
                       "from SharedRounds r left join RoundClaims c on c.RoundID=r.rowid "
                       "where r.rowid=(select max(rowid) from SharedRounds) group by r.rowid, r.EndedAt"));
    rs.Open();
    TSharedRoundProgress progress;
    if (!rs.Eof()) {
        progress.round = rs.FieldByName(QStringLiteral("RoundID")).AsInteger();
        progress.ended = rs.FieldByName(QStringLiteral("Ended")).AsInteger() != 0;
        progress.total = int(rs.FieldByName(QStringLiteral("Total")).AsInteger());
        progress.done = int(rs.FieldByName(QStringLiteral("Done")).AsInteger());
        progress.failed = int(rs.FieldByName(QStringLiteral("Failed")).AsInteger());
        progress.held = int(rs.FieldByName(QStringLiteral("Held")).AsInteger());
        progress.workers = int(rs.FieldByName(QStringLiteral("Workers")).AsInteger());
    }
    rs.Close();
    return progress;
}

QString SharedRoundProgressText(const TSharedRoundProgress& progress) {
    if (progress.round == 0)
        return QStringLiteral("共享轮次：尚未开始");
    const QString read = QStringLiteral("共享轮次：已读 %1/%2，失败 %3")
                             .arg(progress.done + progress.failed)
                             .arg(progress.total)
                             .arg(progress.failed);
    if (progress.ended)
        return read + QStringLiteral("，已完成");
    return read + QStringLiteral("，%1 个读取者").arg(progress.workers);
}

} // namespace vantero
