#include "store/AddedTables.h"

#include "store/Connection.h"
#include "store/DatabaseError.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace vantero {

namespace {

// Dates are in the stored date-time form of the catalogue ("2026-01-31 08:05:00", local time).
const char* const kStatements[] = {
    "CREATE TABLE IF NOT EXISTS ReadingStatus ("
    " LocalItemID TEXT NOT NULL COLLATE NOCASE,"
    " RivalWW TEXT NOT NULL DEFAULT '' COLLATE NOCASE,"
    " RivalItemID TEXT NOT NULL DEFAULT '' COLLATE NOCASE,"
    " URL TEXT NOT NULL DEFAULT '',"
    " LastAttempt TEXT,"
    " LastCode INTEGER,"
    " LastText TEXT NOT NULL DEFAULT '',"
    " LastSuccess TEXT,"
    " FailedInRow INTEGER NOT NULL DEFAULT 0,"
    " PRIMARY KEY (LocalItemID, RivalWW))",
    "CREATE TABLE IF NOT EXISTS PriceHistory ("
    " LocalItemID TEXT NOT NULL COLLATE NOCASE,"
    " RivalWW TEXT NOT NULL DEFAULT '' COLLATE NOCASE,"
    " RivalItemID TEXT NOT NULL DEFAULT '' COLLATE NOCASE,"
    " ReadAt TEXT NOT NULL,"
    " Price REAL,"
    " SellCount INTEGER NOT NULL DEFAULT 0)",
    // A page's rows in the order they were written: every reading compares itself with its page's
    // last row, found at the end of the page's part without sorting the page's history.
    "CREATE INDEX IF NOT EXISTS PriceHistoryByPage ON PriceHistory (LocalItemID, RivalWW)",
    "CREATE TABLE IF NOT EXISTS Alerts ("
    " AlertID INTEGER PRIMARY KEY,"
    " CreatedAt TEXT NOT NULL,"
    " Kind INTEGER NOT NULL,"
    " LocalItemID TEXT NOT NULL COLLATE NOCASE,"
    " RivalWW TEXT NOT NULL DEFAULT '' COLLATE NOCASE,"
    " OldPrice REAL,"
    " NewPrice REAL,"
    " OwnPrice REAL,"
    " IsRead INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX IF NOT EXISTS AlertsByTime ON Alerts (CreatedAt)",
    // One row per alert and channel it was sent to, written once its tries are over. Round is the
    // first alert of the round the message belonged to; Channel is the channel's name.
    "CREATE TABLE IF NOT EXISTS AlertSends ("
    " AlertID INTEGER NOT NULL,"
    " Round INTEGER NOT NULL,"
    " Channel TEXT NOT NULL,"
    " SentAt TEXT NOT NULL,"
    " Ok INTEGER NOT NULL,"
    " Tries INTEGER NOT NULL,"
    " ErrorText TEXT NOT NULL DEFAULT '')",
    "CREATE INDEX IF NOT EXISTS AlertSendsByAlert ON AlertSends (AlertID)",
    "CREATE INDEX IF NOT EXISTS AlertSendsByChannel ON AlertSends (Channel, Round)",
    "CREATE TABLE IF NOT EXISTS Options (Name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, Value)",
    "CREATE TABLE IF NOT EXISTS ReadModes ("
    " LocalItemID TEXT NOT NULL COLLATE NOCASE,"
    " RivalWW TEXT NOT NULL DEFAULT '' COLLATE NOCASE,"
    " Mode INTEGER NOT NULL DEFAULT 0,"
    " PRIMARY KEY (LocalItemID, RivalWW))",
    // The refresh cycle reads only the failing pages: found without a pass over every page.
    "CREATE INDEX IF NOT EXISTS ReadingStatusFailing ON ReadingStatus (LocalItemID) WHERE FailedInRow > 0",
    // The grid read in one pass joins each item to its rivals' readings by this key, compared
    // ASCII case aside as the grid's lookups compare it.
    "CREATE INDEX IF NOT EXISTS RivalItemsByLocalItemIDNoCase ON RivalItems (LocalItemID COLLATE NOCASE)",
};

// Where each page's last download spent its time, beside its outcome; files made before it was
// kept get the column once.
void AddTimingColumn(QSqlQuery& query) {
    if (!query.exec(QStringLiteral("SELECT 1 FROM pragma_table_info('ReadingStatus') WHERE name='LastTiming'")))
        throw TDatabaseError(query.lastError().text());
    const bool present = query.next();
    query.finish();
    if (!present &&
        !query.exec(QStringLiteral("ALTER TABLE ReadingStatus ADD COLUMN LastTiming TEXT NOT NULL DEFAULT ''")))
        throw TDatabaseError(query.lastError().text());
}

} // namespace

const QStringList& AddedTableNames() {
    static const QStringList names = {QStringLiteral("ReadingStatus"), QStringLiteral("PriceHistory"),
                                      QStringLiteral("Alerts"),        QStringLiteral("Options"),
                                      QStringLiteral("ReadModes"),     QStringLiteral("AlertSends")};
    return names;
}

const QStringList& AddedIndexNames() {
    // Taken from the statements that make them, so an index added there is never refused as a
    // stranger's.
    static const QStringList names = [] {
        const QString prefix = QStringLiteral("CREATE INDEX IF NOT EXISTS ");
        QStringList found;
        for (const char* statement : kStatements) {
            const QString text = QString::fromUtf8(statement);
            if (text.startsWith(prefix))
                found << text.mid(prefix.size()).section(u' ', 0, 0);
        }
        return found;
    }();
    return names;
}

void AddMissingTables(QSqlDatabase& db) {
    QSqlQuery query(db);
    auto run = [&query, &db](const QString& sql) {
        if (!query.exec(sql)) {
            const QSqlError error = query.lastError();
            throw DescribeEngineFailure(error.nativeErrorCode().toInt(), error.text(), db.databaseName());
        }
    };
    // IMMEDIATE: two programs starting on one file add the tables once, one after the other.
    run(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        // The page index first kept the reading time after the page, which ordered a page's rows
        // by time instead of by row: it is made again in its present form, once.
        run(QStringLiteral("SELECT sql FROM sqlite_master WHERE type='index' AND name='PriceHistoryByPage'"));
        if (query.next() && query.value(0).toString().contains(QLatin1String("ReadAt"))) {
            query.finish();
            run(QStringLiteral("DROP INDEX PriceHistoryByPage"));
        }
        query.finish();
        for (const char* statement : kStatements)
            run(QString::fromLatin1(statement));
        AddTimingColumn(query);
        run(QStringLiteral("COMMIT"));
    } catch (...) {
        query.exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

QVariant ReadOption(const TConnection& con, const QString& name, const QVariant& fallback) {
    const QVariant value = con.value(QStringLiteral("SELECT Value FROM Options WHERE Name=?"), {name});
    return value.isNull() ? fallback : value;
}

void WriteOption(const TConnection& con, const QString& name, const QVariant& value) {
    con.exec(QStringLiteral("INSERT INTO Options (Name, Value) VALUES (?, ?) "
                            "ON CONFLICT(Name) DO UPDATE SET Value=excluded.Value"),
             {name, value});
}

} // namespace vantero
