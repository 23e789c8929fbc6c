// How the file grows with the reading outcomes and the price history: 5,000 own items with 30
// rival items each, read hourly for 30 days, 2 % of the pages changing price or sales per run.
// Every reading goes through LogReading, the function a reader stores its outcome with; a run's
// readings share one transaction here (a reader commits each on its own, which costs time on the
// disk but not room in the file), so the simulated month takes minutes, not hours.
#include "reader/ReadingLog.h"
#include "reader/UtReadItemThr.h"
#include "support/TestDatabase.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTextStream>

#include <vector>

using namespace vantero;

namespace {

constexpr int kItems = 5000;
constexpr int kRivals = 30;
constexpr int kPages = kItems * (kRivals + 1);
constexpr int kRunsPerDay = 24;
constexpr int kDays = 30;
constexpr double kChangeRate = 0.02;
constexpr int kFullRuns = 3; // runs that read every page; the rest read only the changed ones

struct TPage {
    QString item;
    QString rival;
    QString rivalItem;
    double price;
    int sales;
};

qint64 FileBytes(const QString& path) {
    // The write-ahead log is checkpointed into the file; count both.
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}

void Read(const TConnection& con, const TPage& page, const QString& at) {
    TReadingOutcome outcome;
    outcome.LocalItemID = page.item;
    outcome.RivalWW = page.rival;
    outcome.RivalItemID = page.rivalItem;
    outcome.URL =
        QStringLiteral("http://item.taobao.com/item.htm?id=") + (page.rival.isEmpty() ? page.item : page.rivalItem);
    outcome.Code = TReadItem::rcUpdated;
    outcome.Price = page.price;
    outcome.SellCount = page.sales;
    LogReading(con, outcome, at);
}

} // namespace

int main() {
    QTextStream out(stdout);
    vantero::test::TTestDatabase db;
    const TConnection con = db.connection();
    std::vector<TPage> pages;
    pages.reserve(kPages);
    for (int i = 0; i < kItems; ++i) {
        const QString item = QString::number(5000000000LL + i);
        pages.push_back({item, QString(), QString(), 50.0 + i % 300, i % 97});
        for (int r = 0; r < kRivals; ++r)
            pages.push_back({item, QStringLiteral("同行店铺%1").arg(r),
                             QString::number(6000000000LL + qint64(i) * kRivals + r), 45.0 + (i + r) % 310,
                             (i * r) % 50});
    }
    const qint64 empty = FileBytes(db.path());
    QRandomGenerator random(13);
    QDateTime at = QDateTime(QDate(2026, 11, 1), QTime(0, 0));
    qint64 readings = 0;
    double fullRunMs = 0;
    qint64 afterFirst = 0;
    for (int run = 0; run < kRunsPerDay * kDays; ++run) {
        const QString when = DateTimeToColumn(at);
        std::vector<bool> changed(pages.size(), false);
        for (int n = 0; n < int(kPages * kChangeRate); ++n) {
            const size_t p = size_t(random.bounded(kPages));
            changed[p] = true;
            if (random.bounded(2))
                pages[p].price = std::max(1.0, pages[p].price + (random.bounded(2) ? 1.0 : -1.0));
            else
                pages[p].sales += 1 + int(random.bounded(5));
        }
        QElapsedTimer t;
        t.start();
        {
            TWriteTransaction transaction(con);
            for (size_t p = 0; p < pages.size(); ++p) {
                if (run < kFullRuns || changed[p]) {
                    Read(con, pages[p], when);
                    ++readings;
                }
            }
            transaction.Commit();
        }
        if (run > 0 && run < kFullRuns)
            fullRunMs = std::max(fullRunMs, t.nsecsElapsed() / 1e6);
        if (run == 0) {
            con.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
            afterFirst = FileBytes(db.path());
        }
        if (run == kFullRuns - 1) {
            con.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
            out << "after " << kFullRuns << " full runs: " << FileBytes(db.path()) << " bytes (first run " << afterFirst
                << ")\n";
            out.flush();
        }
        at = at.addSecs(3600);
    }
    con.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    const qint64 historyRows = con.value(QStringLiteral("select count(*) from PriceHistory")).toLongLong();
    const qint64 size = FileBytes(db.path());
    out << "pages=" << kPages << " runs=" << kRunsPerDay * kDays << " readings_logged=" << readings
        << " history_rows=" << historyRows << '\n';
    out << "empty_mb=" << QString::number(empty / 1e6, 'f', 2)
        << " first_run_mb=" << QString::number(afterFirst / 1e6, 'f', 1)
        << " day30_mb=" << QString::number(size / 1e6, 'f', 1)
        << " growth_per_day_mb=" << QString::number((size - afterFirst) / 1e6 / kDays, 'f', 2)
        << " full_run_in_one_transaction_s=" << QString::number(fullRunMs / 1000, 'f', 2) << '\n';
    return 0;
}
