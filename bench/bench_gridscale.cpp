// The grid at scale: 5,000, 20,000 and 50,000 own items with 30 rivals each (every item mapped
// for every rival, two history rows per page). For each size, in one run: the time and peak
// memory of `vantero-cli grid --csv`, of the main window started offscreen until its grid is
// shown, and of the `sqlite3` shell reading the same rows with the same join. Each is a process of
// its own, so each peak is its own. The last line is
//   gridscale time_ratio=X cli_rss_ratio=Y window_mb=Z
// (X: grid --csv over sqlite3 at the largest size; Y: the CLI's peak at the largest size over the
// smallest; Z: the window's peak at the largest size, MB).
//
//   bench_gridscale [SIZES...]   (default 5000 20000 50000)
#include "app/UtMain.h"
#include "store/Connection.h"
#include "support/MeasuredChild.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace vantero;

namespace {

constexpr int kRivals = 30;

// The rows grid --csv prints, as one join, for the shell.
const char* const kJoin =
    "SELECT i.rowid, i.ItemID, i.ItemName, i.CustomItemName, i.Price, i.SellCount, r.RivalWW, r.RivalItemID, "
    "r.Price, r.SellCount FROM Items i LEFT JOIN RivalItems r ON r.LocalItemID = i.ItemID COLLATE NOCASE "
    "ORDER BY i.rowid, r.rowid;";

void Seed(const QString& path, int items) {
    if (const QString problem = PrepareDatabaseFile(path); !problem.isEmpty())
        qFatal("%s", qPrintable(problem));
    {
        TConnection con(path);
        con.exec(QStringLiteral("begin"));
        con.exec(QStringLiteral("update Setting set WW='myshop', UpdateTimeOut=60"));
        for (int r = 0; r < kRivals; ++r)
            con.exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values (?, ?)"),
                     {QStringLiteral("同行店铺%1").arg(r), QStringLiteral("http://shop%1.example.invalid/").arg(r)});
        for (int i = 0; i < items; ++i) {
            const QString id = QString::number(600000000000LL + i);
            con.exec(QStringLiteral("insert into Items (ItemID, ItemName, URL, Price, SellCount, LastUpdated) "
                                    "values (?, ?, ?, ?, ?, '2026-11-01 10:00:00')"),
                     {id, QStringLiteral("纯棉短袖T恤 夏季新款 宽松百搭 %1").arg(i),
                      QStringLiteral("https://item.example.invalid/item.htm?id=") + id, 50.0 + i % 200, i % 1000});
            for (int r = 0; r < kRivals; ++r) {
                const QString ww = QStringLiteral("同行店铺%1").arg(r);
                const QString rivalId = QString::number(700000000000LL + qint64(i) * kRivals + r);
                const double price = 45.0 + (i * 7 + r * 3) % 220 + 0.5;
                con.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, "
                                        "Price, SellCount, LastUpdated) values (?, ?, ?, ?, ?, ?, ?, "
                                        "'2026-11-01 10:00:00')"),
                         {ww, id, rivalId, QStringLiteral("同行的纯棉短袖 %1").arg(i),
                          QStringLiteral("https://item.example.invalid/item.htm?id=") + rivalId, price, (i + r) % 500});
                for (int h = 0; h < 2; ++h)
                    con.exec(QStringLiteral("insert into PriceHistory (LocalItemID, RivalWW, RivalItemID, ReadAt, "
                                            "Price, SellCount) values (?, ?, ?, ?, ?, ?)"),
                             {id, ww, rivalId, QStringLiteral("2026-10-%1 10:00:00").arg(20 + h), price + h, h});
            }
        }
        con.exec(QStringLiteral("commit"));
    }
    TConnection::closeAll();
}

struct TMeasure {
    double seconds = 0;
    double peakMb = 0;
    int exitCode = -1;
};

// Runs a program with its output thrown away; its time and its peak resident memory.
TMeasure Measure(const QStringList& argv, const QString& workDir, const QList<QByteArray>& environment = {}) {
    const QByteArray folder = QFile::encodeName(workDir);
    const TChildCost cost = RunMeasuredChild(argv, [&] {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        for (const QByteArray& setting : environment)
            putenv(const_cast<char*>(setting.constData()));
        return chdir(folder.constData()) == 0;
    });
    return {cost.seconds, cost.peakMb, cost.exitCode};
}

// In a child: the main window on the file in the working directory, shown offscreen until its
// first refresh cycle has filled the grid and the views have taken the rows.
int RunWindow(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TFmMain main(TConnection(QString::fromLatin1(kDatabaseFileName)));
    main.resize(1280, 800);
    main.show(); // the first refresh cycle runs here
    QApplication::processEvents();
    main.grab(); // painted once, as the user sees it
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && qstrcmp(argv[1], "--window") == 0)
        return RunWindow(argc, argv);
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    std::vector<int> sizes;
    for (const QString& arg : app.arguments().mid(1))
        sizes.push_back(arg.toInt());
    if (sizes.empty())
        sizes = {5000, 20000, 50000};
    const QString dir = QCoreApplication::applicationDirPath();
    const QString cli = dir + QStringLiteral("/../vantero-cli");
    const QString self = QCoreApplication::applicationFilePath();

    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9\n")
               .arg(QStringLiteral("items"), 7)
               .arg(QStringLiteral("csv_s"), 7)
               .arg(QStringLiteral("csv_mb"), 7)
               .arg(QStringLiteral("sqlite3_s"), 9)
               .arg(QStringLiteral("sqlite3_mb"), 10)
               .arg(QStringLiteral("window_s"), 9)
               .arg(QStringLiteral("window_mb"), 9)
               .arg(QStringLiteral("xlsx_s"), 7)
               .arg(QStringLiteral("xlsx_mb"), 7);
    out.flush();
    TMeasure firstCsv;
    TMeasure lastCsv;
    TMeasure lastShell;
    TMeasure lastWindow;
    for (const int items : sizes) {
        QTemporaryDir work;
        const QString path = work.filePath(QString::fromLatin1(kDatabaseFileName));
        Seed(path, items);
        // Once, unmeasured: the program adds its own tables and indexes on the first open.
        Measure({cli, QStringLiteral("settings")}, work.path());
        const TMeasure csv = Measure({cli, QStringLiteral("grid"), QStringLiteral("--csv")}, work.path());
        const TMeasure shell = Measure({QStringLiteral("sqlite3"), path, QString::fromLatin1(kJoin)}, work.path());
        const TMeasure window = Measure({self, QStringLiteral("--window")}, work.path(),
                                        {"QT_QPA_PLATFORM=offscreen", "QTWEBENGINE_DISABLE_SANDBOX=1"});
        // The grid exported as a workbook: written row by row from the file.
        const TMeasure xlsx = Measure({cli, QStringLiteral("export"), QStringLiteral("grid"), QStringLiteral("--xlsx"),
                                       work.filePath(QStringLiteral("grid.xlsx"))},
                                      work.path());
        out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9%10\n")
                   .arg(items, 7)
                   .arg(csv.seconds, 7, 'f', 2)
                   .arg(csv.peakMb, 7, 'f', 0)
                   .arg(shell.seconds, 9, 'f', 2)
                   .arg(shell.peakMb, 10, 'f', 0)
                   .arg(window.seconds, 9, 'f', 2)
                   .arg(window.peakMb, 9, 'f', 0)
                   .arg(xlsx.seconds, 7, 'f', 2)
                   .arg(xlsx.peakMb, 7, 'f', 0)
                   .arg(csv.exitCode || shell.exitCode || window.exitCode || xlsx.exitCode
                            ? QStringLiteral("  (exit codes %1 %2 %3 %4)")
                                  .arg(csv.exitCode)
                                  .arg(shell.exitCode)
                                  .arg(window.exitCode)
                                  .arg(xlsx.exitCode)
                            : QString());
        out.flush();
        if (firstCsv.exitCode < 0)
            firstCsv = csv;
        lastCsv = csv;
        lastShell = shell;
        lastWindow = window;
    }
    out << QStringLiteral("gridscale time_ratio=%1 cli_rss_ratio=%2 window_mb=%3\n")
               .arg(lastCsv.seconds / lastShell.seconds, 0, 'f', 2)
               .arg(lastCsv.peakMb / firstCsv.peakMb, 0, 'f', 2)
               .arg(lastWindow.peakMb, 0, 'f', 0);
    return 0;
}
