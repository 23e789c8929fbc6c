// How long a reading stored on one desk takes to show on another: a reading is stored as the
// reader stores it (its outcome logged and announced, one write transaction) on one connection
// to a throw-away team database, while another desk's thread waits on a LISTENing connection;
// the delay from the start of the writer's commit to the notice's arrival, and to that desk's
// row being refreshed from the database. 200 readings, one after another.
#include "catalogue/MainData.h"
#include "reader/ReadingLog.h"
#include "store/Connection.h"
#include "store/ReadingNotice.h"
#include "support/BenchFigures.h"
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <libpq-fe.h>
#include <mutex>
#include <sys/select.h>
#include <thread>
#include <vector>

using namespace vantero;
using Clock = std::chrono::steady_clock;

using vantero::bench::LoadAverage;
using vantero::bench::Median;

namespace {

constexpr int kItems = 1000;
constexpr int kRivals = 5;
constexpr int kReadings = 200;

QString ItemId(int i) {
    return QString::number(5000000000LL + i);
}

void Fill(const TConnection& con) {
    TWriteTransaction transaction(con);
    for (int r = 0; r < kRivals; ++r)
        con.exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values (?, ?)"),
                 {QStringLiteral("同行店铺%1").arg(r), QStringLiteral("http://shop%1.taobao.com/").arg(100000 + r)});
    for (int i = 0; i < kItems; ++i) {
        con.exec(QStringLiteral("insert into Items (ItemID, ItemName, URL, Price, SellCount) values (?, ?, ?, ?, ?)"),
                 {ItemId(i), QStringLiteral("夏季新款纯棉短袖T恤 款号%1").arg(i),
                  QStringLiteral("http://item.taobao.com/item.htm?id=%1").arg(ItemId(i)), 50.0 + i % 300, i % 97});
        for (int r = 0; r < kRivals; ++r) {
            const QString rivalId = QString::number(6000000000LL + qint64(i) * kRivals + r);
            con.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                                    "SellCount) values (?, ?, ?, ?, ?, ?, ?)"),
                     {QStringLiteral("同行店铺%1").arg(r), ItemId(i), rivalId, QStringLiteral("同行的宝贝"),
                      QStringLiteral("http://item.taobao.com/item.htm?id=%1").arg(rivalId), 45.0 + (i + r) % 310,
                      (i * r) % 50});
        }
    }
    transaction.Commit();
}

// What the other desk saw of one reading.
struct TSeen {
    QString item;
    Clock::time_point noticed;
    Clock::time_point refreshed;
};

// The other desk: listens, and on each notice refreshes the row of the item it names.
class TListeningDesk {
public:
    explicit TListeningDesk(const QString& target) : m_target(target) {
        m_thread = std::thread([this] { Run(); });
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_listening || m_failed; });
    }
    ~TListeningDesk() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_thread.join();
    }
    bool failed() const { return m_failed; }

    // The next reading the desk saw, waiting at most 30 s; false when none came.
    bool Next(TSeen& seen) {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::seconds(30), [this] { return !m_seen.empty(); }))
            return false;
        seen = m_seen.front();
        m_seen.erase(m_seen.begin());
        return true;
    }

private:
    void Run() {
        PGconn* conn = PQconnectdb(m_target.toUtf8().constData());
        TMainData data{TConnection(m_target)};
        QHash<QString, int> rows;
        try {
            data.ApplySettings();
            data.RefreshAllData();
            for (int row = 0; row < data.grid.rowCount(); ++row)
                rows.insert(data.grid.item(row).ItemID, row);
        } catch (const std::exception&) {
            m_failed = true;
        }
        if (PQstatus(conn) == CONNECTION_OK)
            PQclear(PQexec(conn, ("LISTEN " + kReadingsChannel.toUtf8()).constData()));
        else
            m_failed = true;
        {
            std::lock_guard lock(m_mutex);
            m_listening = true;
        }
        m_changed.notify_all();
        while (!m_failed) {
            {
                std::lock_guard lock(m_mutex);
                if (m_stop)
                    break;
            }
            const int socket = PQsocket(conn);
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(socket, &readable);
            timeval wait{0, 100000}; // looks at m_stop this often
            if (select(socket + 1, &readable, nullptr, nullptr, &wait) <= 0)
                continue;
            const Clock::time_point arrived = Clock::now();
            PQconsumeInput(conn);
            while (PGnotify* notice = PQnotifies(conn)) {
                TSeen seen{QString::fromUtf8(notice->extra), arrived, {}};
                PQfreemem(notice);
                data.RefreshRowData(rows.value(seen.item, -1));
                seen.refreshed = Clock::now();
                {
                    std::lock_guard lock(m_mutex);
                    m_seen.push_back(seen);
                }
                m_changed.notify_all();
            }
        }
        PQfinish(conn);
        TConnection::closeThreadConnections();
    }

    QString m_target;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_listening = false;
    bool m_stop = false;
    bool m_failed = false;
    std::vector<TSeen> m_seen;
};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    vantero::test::TTestDatabase db(vantero::test::TTestEngine::Server);
    const TConnection con = db.connection();
    Fill(con);
    out << "database: " << kItems << " items, " << kRivals << " rivals; load average before: " << LoadAverage() << "\n";
    out.flush();

    std::vector<double> noticed;
    std::vector<double> refreshed;
    {
        TListeningDesk desk(db.path());
        if (desk.failed()) {
            std::fprintf(stderr, "the listening desk could not start\n");
            return 1;
        }
        for (int n = 0; n < kReadings; ++n) {
            const int i = (n * 37) % kItems;
            TReadingOutcome outcome;
            outcome.LocalItemID = ItemId(i);
            outcome.RivalWW = QStringLiteral("同行店铺%1").arg(n % kRivals);
            outcome.RivalItemID = QString::number(6000000000LL + qint64(i) * kRivals + n % kRivals);
            outcome.URL = QStringLiteral("http://item.taobao.com/item.htm?id=%1").arg(outcome.RivalItemID);
            outcome.Code = 0;
            outcome.Price = 40.0 + n % 50;
            outcome.SellCount = n;
            TWriteTransaction transaction(con);
            con.exec(QStringLiteral("update RivalItems set Price=?, SellCount=? where LocalItemID=? and RivalWW=?"),
                     {outcome.Price, outcome.SellCount, outcome.LocalItemID, outcome.RivalWW});
            LogReading(con, outcome, CurrentDateTimeColumn());
            const Clock::time_point committing = Clock::now();
            transaction.Commit();
            TSeen seen;
            if (!desk.Next(seen) || seen.item != outcome.LocalItemID) {
                std::fprintf(stderr, "reading %d: no notice for item %s\n", n, qPrintable(outcome.LocalItemID));
                return 1;
            }
            noticed.push_back(Ms(seen.noticed - committing));
            refreshed.push_back(Ms(seen.refreshed - committing));
        }
    }
    TConnection::closeAll();
    out << "load average after: " << LoadAverage() << "\n";
    out << QStringLiteral("notifydelay readings=%1 notice_median_ms=%2 notice_worst_ms=%3 row_median_ms=%4 "
                          "row_worst_ms=%5\n")
               .arg(kReadings)
               .arg(Median(noticed), 0, 'f', 2)
               .arg(*std::max_element(noticed.begin(), noticed.end()), 0, 'f', 2)
               .arg(Median(refreshed), 0, 'f', 2)
               .arg(*std::max_element(refreshed.begin(), refreshed.end()), 0, 'f', 2);
    return 0;
}
