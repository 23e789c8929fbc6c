#include "store/Connection.h"

#include "common/StoreTexts.h"
#include "store/AddedTables.h"
#include "store/DatabaseError.h"
#include "store/Schema.h"
#include "store/ServerSchema.h"
#include "store/ServerSession.h"
#include "store/Statement.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThreadStorage>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantero {

namespace {

std::atomic<int> busyTimeoutMs{15000};

QString NextConnectionName() {
    static QAtomicInteger<int> counter;
    return QStringLiteral("vantero-%1").arg(counter.fetchAndAddRelaxed(1));
}

struct TPooled {
    sqlite3* db = nullptr;
    dev_t device = 0;
    ino_t inode = 0;
};

// Idle raw connections, by file. A pooled connection is used by one thread at a time.
struct TPool {
    QMutex mutex;
    QHash<QString, QList<TPooled>> idle;
    int idleCount = 0;
};

constexpr int kMaxIdle = 16;

TPool& pool() {
    static TPool instance;
    return instance;
}

bool FileIdentity(const QString& path, dev_t* device, ino_t* inode) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    *device = info.st_dev;
    *inode = info.st_ino;
    return true;
}

void GiveBack(const QString& path, TPooled pooled) {
    TPool& p = pool();
    {
        QMutexLocker lock(&p.mutex);
        if (p.idleCount < kMaxIdle) {
            p.idle[path].append(pooled);
            ++p.idleCount;
            return;
        }
    }
    TStatement::ForgetConnection(pooled.db);
    sqlite3_close_v2(pooled.db);
}

// The connections this thread uses, one per file or server database; given back or removed
// when the thread ends.
struct ThreadConnections {
    QHash<QString, QString> nameByPath;
    QHash<QString, TPooled> handles;
    QHash<QString, TServerSession*> servers;

    ~ThreadConnections() { closeAll(); }

    void closeAll() {
        qDeleteAll(servers);
        servers.clear();
        for (auto it = handles.cbegin(); it != handles.cend(); ++it)
            GiveBack(it.key(), it.value());
        handles.clear();
        for (const QString& name : std::as_const(nameByPath)) {
            {
                QSqlDatabase db = QSqlDatabase::database(name, false);
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        }
        nameByPath.clear();
    }
};

QThreadStorage<ThreadConnections*>& threadConnections() {
    static QThreadStorage<ThreadConnections*> storage;
    return storage;
}

int NativeCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? code : SQLITE_ERROR;
}

// The user's sentence for a failure of the engine met through Qt's driver on the file at path.
TDatabaseError ErrorOf(const QSqlError& error, const QString& path) {
    return DescribeEngineFailure(NativeCode(error),
                                 error.databaseText().isEmpty() ? error.text() : error.databaseText(), path);
}

[[noreturn]] void Raise(const QSqlError& error, const QString& path) {
    throw ErrorOf(error, path);
}

const char* SqlType(TColumnType type) {
    switch (type) {
    case TColumnType::Float:
        return "REAL";
    case TColumnType::Integer:
        return "INTEGER";
    case TColumnType::DateTime:
        return "TEXT";
    case TColumnType::Text:
        break;
    }
    return "TEXT COLLATE NOCASE";
}

// This thread's connections; a connection without a file has none.
ThreadConnections* MyConnections(const QString& path) {
    if (path.isEmpty())
        throw TDatabaseError(QStringLiteral("没有数据库连接"));
    auto& storage = threadConnections();
    if (!storage.hasLocalData())
        storage.setLocalData(new ThreadConnections);
    return storage.localData();
}

} // namespace

void DistrustSchema(QSqlDatabase& db) {
    QSqlQuery pragma(db);
    pragma.exec(QStringLiteral("PRAGMA trusted_schema=OFF"));
}

TDatabaseError EngineError(sqlite3* db) {
    const char* file = sqlite3_db_filename(db, "main");
    return DescribeEngineFailure(sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)),
                                 QFile::decodeName(file ? file : ""));
}

QString EngineErrorText(sqlite3* db) {
    return EngineError(db).text();
}

TConnection::TConnection(QString path) : m_path(std::move(path)), m_server(IsServerTarget(m_path)) {}

TServerSession* TConnection::server() const {
    ThreadConnections* mine = MyConnections(m_path);
    if (auto it = mine->servers.constFind(m_path); it != mine->servers.cend())
        return *it;
    auto* session = new TServerSession(m_path);
    mine->servers.insert(m_path, session);
    return session;
}

QString TConnection::place() const {
    return m_server ? ServerPlace(m_path) : QDir::toNativeSeparators(m_path);
}

void TConnection::setBusyTimeout(int ms) {
    busyTimeoutMs.store(ms);
}

QSqlDatabase TConnection::database() const {
    if (m_server)
        throw TDatabaseError(StoreTexts::FileOnly.arg(place()));
    ThreadConnections* mine = MyConnections(m_path);
    if (auto it = mine->nameByPath.constFind(m_path); it != mine->nameByPath.cend())
        return QSqlDatabase::database(*it, false);

    const QString name = NextConnectionName();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs.load()));
    if (!db.open()) {
        const QSqlError error = db.lastError();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        Raise(error, m_path);
    }
    DistrustSchema(db);
    QSqlQuery pragma(db);
    pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    mine->nameByPath.insert(m_path, name);
    return db;
}

sqlite3* TConnection::handle() const {
    if (m_server)
        throw TDatabaseError(StoreTexts::FileOnly.arg(place()));
    ThreadConnections* mine = MyConnections(m_path);
    if (auto it = mine->handles.constFind(m_path); it != mine->handles.cend())
        return it->db;

    TPooled chosen;
    dev_t device = 0;
    ino_t inode = 0;
    const bool known = FileIdentity(m_path, &device, &inode);
    QList<TPooled> stale;
    {
        TPool& p = pool();
        QMutexLocker lock(&p.mutex);
        QList<TPooled>& idle = p.idle[m_path];
        // One opened on a file since replaced at the same path is of no use any more.
        while (!idle.isEmpty()) {
            TPooled candidate = idle.takeLast();
            --p.idleCount;
            if (known && candidate.device == device && candidate.inode == inode) {
                chosen = candidate;
                break;
            }
            stale.append(candidate);
        }
    }
    for (const TPooled& old : std::as_const(stale)) {
        TStatement::ForgetConnection(old.db);
        sqlite3_close_v2(old.db);
    }
    if (!chosen.db) {
        sqlite3* db = nullptr;
        const QByteArray name = QFile::encodeName(m_path);
        const int rc = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            const TDatabaseError error =
                DescribeEngineFailure(db ? sqlite3_extended_errcode(db) : rc,
                                      QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)), m_path);
            sqlite3_close_v2(db);
            throw error;
        }
        sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        sqlite3_busy_timeout(db, busyTimeoutMs.load());
        sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
        chosen = {db, device, inode};
    }
    mine->handles.insert(m_path, chosen);
    return chosen.db;
}

void TConnection::exec(const QString& sql, const QVariantList& values) const {
    TStatement statement(*this, sql);
    statement.Bind(values);
    while (statement.Step()) {
    }
}

QVariant TConnection::value(const QString& sql, const QVariantList& values) const {
    TStatement statement(*this, sql);
    statement.Bind(values);
    if (!statement.Step())
        return {};
    return statement.Kind(0) == TCellKind::Blob ? QVariant() : statement.Value(0);
}

qint64 TConnection::insert(const QString& sql, const QVariantList& values) const {
    TStatement statement(*this, sql);
    statement.Bind(values);
    while (statement.Step()) {
    }
    return statement.InsertedRowId();
}

namespace {

// Every reading is its own write transaction: the statements that begin and end one are kept
// prepared like any other instead of being parsed each time.
const QString kBeginImmediate = QStringLiteral("BEGIN IMMEDIATE");
const QString kCommit = QStringLiteral("COMMIT");
const QString kRollback = QStringLiteral("ROLLBACK");

int StepKept(sqlite3* handle, const QString& sql) {
    try {
        TStatement statement(handle, sql);
        return sqlite3_step(statement.Handle());
    } catch (const TDatabaseError&) {
        return SQLITE_ERROR; // the engine's message stays on the connection
    }
}

} // namespace

TReadTransaction::TReadTransaction(const TConnection& con) {
    if (con.isServer()) {
        TServerSession* server = con.server();
        if (!server->InTransaction()) {
            server->Begin(false);
            m_server = server;
        }
        return;
    }
    sqlite3* handle = con.handle();
    if (sqlite3_get_autocommit(handle) && sqlite3_exec(handle, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK)
        m_handle = handle;
}

TReadTransaction::~TReadTransaction() {
    // Only reads ran inside: ending it cannot lose anything.
    if (m_server) {
        if (m_server->InTransaction()) {
            try {
                m_server->Commit();
            } catch (const TDatabaseError&) {
                m_server->Rollback();
            }
        }
        return;
    }
    if (m_handle && !sqlite3_get_autocommit(m_handle))
        sqlite3_exec(m_handle, "COMMIT", nullptr, nullptr, nullptr);
}

TWriteTransaction::TWriteTransaction(const TConnection& con) : TWriteTransaction(con, QStringList()) {}

TWriteTransaction::TWriteTransaction(const TConnection& con, const QStringList& keys) {
    if (con.isServer()) {
        TServerSession* server = con.server();
        if (!server->InTransaction()) {
            server->Begin(true, keys);
            m_server = server;
        }
        return;
    }
    sqlite3* handle = con.handle();
    if (!sqlite3_get_autocommit(handle))
        return;
    // IMMEDIATE: the write lock comes first (waiting out other writers up to the busy time-out),
    // so the read inside cannot be overtaken by another writer before the write.
    if (StepKept(handle, kBeginImmediate) != SQLITE_DONE)
        throw EngineError(handle);
    m_handle = handle;
}

TWriteTransaction::~TWriteTransaction() {
    if (m_server && m_server->InTransaction())
        m_server->Rollback();
    if (m_handle && !sqlite3_get_autocommit(m_handle))
        StepKept(m_handle, kRollback);
}

void TWriteTransaction::Commit() {
    if (m_server) {
        TServerSession* server = m_server;
        m_server = nullptr;
        try {
            server->Commit();
        } catch (...) {
            server->Rollback();
            throw;
        }
        return;
    }
    if (!m_handle)
        return;
    if (StepKept(m_handle, kCommit) != SQLITE_DONE) {
        const TDatabaseError error = EngineError(m_handle);
        StepKept(m_handle, kRollback);
        m_handle = nullptr;
        throw error;
    }
    m_handle = nullptr;
}

void TConnection::closeThreadConnections() {
    auto& storage = threadConnections();
    if (storage.hasLocalData())
        storage.localData()->closeAll();
}

void TConnection::closeAll() {
    auto& storage = threadConnections();
    if (storage.hasLocalData())
        storage.setLocalData(nullptr); // deletes it, giving its connections back
    QList<TPooled> idle;
    {
        TPool& p = pool();
        QMutexLocker lock(&p.mutex);
        for (const QList<TPooled>& list : std::as_const(p.idle))
            idle += list;
        p.idle.clear();
        p.idleCount = 0;
    }
    for (const TPooled& pooled : std::as_const(idle)) {
        TStatement::ForgetConnection(pooled.db);
        sqlite3_close_v2(pooled.db);
    }
}

namespace {

// Indexes this program makes on its tables; SQLite's own (for keys) have no statement.
const QStringList& OwnIndexNames() {
    static const QStringList names =
        QStringList{QStringLiteral("ItemsByItemID"), QStringLiteral("RivalItemsByLocalItemID"),
                    QStringLiteral("RivalItemsByRivalItemID"), QStringLiteral("RivalItemsByRivalWW")} +
        AddedIndexNames();
    return names;
}

// What a file carries on our tables that this program never makes: a trigger runs its own
// statements inside ours (it can empty a table or never end), a generated column computes
// whatever its author chose on every read, an unknown index evaluates its expressions on every
// write. Names each one in Chinese; empty when there is none.
QString ForeignSchemaObjects(QSqlDatabase& db, bool sourceOnly) {
    QStringList ours;
    for (const TTableDef& table : DatabaseTables())
        ours << QString::fromLatin1(table.name).toLower();
    if (!sourceOnly) {
        for (const QString& name : AddedTableNames())
            ours << name.toLower();
    }
    QStringList found;
    QSqlQuery objects(db);
    objects.setForwardOnly(true);
    objects.exec(QStringLiteral("SELECT type, name, tbl_name, sql FROM main.sqlite_master "
                                "WHERE type IN ('trigger', 'index') ORDER BY type, name"));
    while (objects.next()) {
        const QString type = objects.value(0).toString();
        const QString name = objects.value(1).toString();
        const QString table = objects.value(2).toString();
        if (type == QLatin1String("trigger")) {
            // Every trigger: one on another table can still write into ours.
            found << StoreTexts::ForeignTrigger.arg(name, table);
        } else if (ours.contains(table.toLower()) && !objects.value(3).isNull() &&
                   !OwnIndexNames().contains(name, Qt::CaseInsensitive)) {
            found << StoreTexts::ForeignIndex.arg(name, table);
        }
    }
    objects.finish();
    QSqlQuery tables(db);
    tables.setForwardOnly(true);
    tables.exec(QStringLiteral("SELECT name FROM main.sqlite_master WHERE type='table'"));
    QStringList present;
    while (tables.next()) {
        if (ours.contains(tables.value(0).toString().toLower()))
            present << tables.value(0).toString();
    }
    tables.finish();
    for (const QString& table : std::as_const(present)) {
        QSqlQuery info(db);
        info.setForwardOnly(true);
        // hidden 2 and 3: a virtual or a stored generated column.
        info.prepare(QStringLiteral("SELECT name FROM pragma_table_xinfo(?) WHERE hidden IN (2, 3)"));
        info.addBindValue(table);
        info.exec();
        while (info.next())
            found << StoreTexts::GeneratedColumn.arg(table, info.value(0).toString());
    }
    if (found.isEmpty())
        return {};
    return StoreTexts::ForeignObjects.arg(found.join(StoreTexts::ListSeparator));
}

// sourceOnly: the tables an import reads, as far as present, must be real tables; what is
// missing is the import's own failure to report.
bool CheckLayout(const QString& path, QString* reason, bool checkIntegrity, bool sourceOnly) {
    auto fail = [reason](const QString& text) {
        if (reason)
            *reason = text;
        return false;
    };
    if (IsServerTarget(path))
        return fail(StoreTexts::FileOnly.arg(TConnection(path).place()));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("无法读取文件（%1）").arg(file.errorString()));
    const QByteArray header = file.read(16);
    file.close();
    if (header != QByteArrayView("SQLite format 3\0", 16))
        return fail(QStringLiteral("文件不是本程序的数据库（不是 SQLite 数据库，可能是 Access 文件或其他文件）"));

    const QString name = NextConnectionName();
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs.load()));
        if (!db.open()) {
            ok = fail(ErrorOf(db.lastError(), path).text());
        } else {
            DistrustSchema(db);
            QSqlQuery probe(db);
            if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
                // A full disk, a read-only folder or another program's lock, not damage, is what
                // usually stops the first read: the engine's code and the file system tell which.
                ok = fail(ErrorOf(probe.lastError(), path).text());
            } else {
                int sourceTables = 0;
                for (const TTableDef& table : DatabaseTables()) {
                    const QLatin1String tableName(table.name);
                    if (sourceOnly && tableName != QLatin1String("Items") && tableName != QLatin1String("Rival") &&
                        tableName != QLatin1String("RivalItems"))
                        continue;
                    // A view (one may never end), a virtual table or a temporary object of the
                    // same name is no table of ours.
                    QSqlQuery kind(db);
                    kind.prepare(QStringLiteral("SELECT type, sql FROM main.sqlite_master WHERE name=? COLLATE NOCASE "
                                                "UNION ALL SELECT type, sql FROM temp.sqlite_master "
                                                "WHERE name=? COLLATE NOCASE"));
                    kind.addBindValue(QLatin1String(table.name));
                    kind.addBindValue(QLatin1String(table.name));
                    kind.exec();
                    int real = 0;
                    int other = 0;
                    while (kind.next()) {
                        const bool isTable = kind.value(0).toString() == QLatin1String("table") &&
                                             !kind.value(1).toString().trimmed().startsWith(
                                                 QLatin1String("CREATE VIRTUAL"), Qt::CaseInsensitive);
                        ++(isTable ? real : other);
                    }
                    if (sourceOnly && real + other == 0)
                        continue;
                    if (sourceOnly)
                        ++sourceTables;
                    if (real != 1 || other != 0) {
                        ok = fail(real == 0 && other == 0
                                      ? QStringLiteral("数据库中缺少表 %1").arg(QLatin1String(table.name))
                                      : QStringLiteral("数据库中的 %1 不是普通的表").arg(QLatin1String(table.name)));
                        break;
                    }
                    if (sourceOnly)
                        continue;
                    QSqlQuery info(db);
                    info.exec(QStringLiteral("PRAGMA main.table_info(%1)").arg(QLatin1String(table.name)));
                    QStringList present;
                    while (info.next())
                        present << info.value(1).toString().toLower();
                    if (present.isEmpty()) {
                        ok = fail(QStringLiteral("数据库中缺少表 %1").arg(QLatin1String(table.name)));
                        break;
                    }
                    for (const TColumnDef& column : table.columns) {
                        if (!present.contains(QString::fromLatin1(column.name).toLower())) {
                            ok = fail(QStringLiteral("表 %1 中缺少列 %2")
                                          .arg(QLatin1String(table.name), QLatin1String(column.name)));
                            break;
                        }
                    }
                    if (!ok)
                        break;
                }
                if (ok && sourceOnly && sourceTables == 0)
                    ok = fail(StoreTexts::NoCatalogueTables);
                // The tables the program adds, where present, must be tables too: an index on a
                // view of that name cannot be made.
                for (const QString& added : AddedTableNames()) {
                    if (!ok || sourceOnly)
                        break;
                    QSqlQuery kind(db);
                    kind.prepare(QStringLiteral("SELECT type FROM main.sqlite_master WHERE name=? COLLATE NOCASE "
                                                "AND NOT (type='table' AND sql NOT LIKE 'CREATE VIRTUAL%')"));
                    kind.addBindValue(added);
                    if (kind.exec() && kind.next())
                        ok = fail(QStringLiteral("数据库中的 %1 不是普通的表").arg(added));
                }
                if (ok) {
                    const QString foreign = ForeignSchemaObjects(db, sourceOnly);
                    if (!foreign.isEmpty())
                        ok = fail(foreign);
                }
                if (ok && checkIntegrity) {
                    QSqlQuery check(db);
                    if (!check.exec(QStringLiteral("PRAGMA quick_check(1)")) || !check.next() ||
                        check.value(0).toString() != QLatin1String("ok"))
                        ok = fail(QStringLiteral("数据库文件已损坏"));
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace

bool CheckDatabaseLayout(const QString& path, QString* reason, bool checkIntegrity) {
    return CheckLayout(path, reason, checkIntegrity, false);
}

bool CheckImportSource(const QString& path, QString* reason) {
    return CheckLayout(path, reason, false, true);
}

void CreateDatabaseFile(const QString& path) {
    // Written under a temporary name and renamed, so a crash never leaves a half-made file.
    const QString temp = path + QStringLiteral(".new");
    QFile::remove(temp);
    // The seller's business data is theirs alone: the file is made readable by its owner only
    // before anything is in it, and the engine gives its -wal and -shm files the same mode.
    {
        const int fd = ::open(QFile::encodeName(temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            throw DescribeFileFailure(errno, temp);
        ::close(fd);
    }
    const QString name = NextConnectionName();
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(temp);
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            DistrustSchema(db);
            QStringList statements;
            for (const TTableDef& table : DatabaseTables()) {
                QStringList columns;
                for (const TColumnDef& column : table.columns)
                    columns << QStringLiteral("%1 %2").arg(QLatin1String(column.name),
                                                           QLatin1String(SqlType(column.type)));
                statements
                    << QStringLiteral("CREATE TABLE %1 (%2)").arg(QLatin1String(table.name), columns.join(u", "));
            }
            statements << QStringLiteral("CREATE INDEX ItemsByItemID ON Items (ItemID)")
                       << QStringLiteral("CREATE INDEX RivalItemsByLocalItemID ON RivalItems (LocalItemID)")
                       << QStringLiteral("CREATE INDEX RivalItemsByRivalItemID ON RivalItems (RivalItemID)")
                       << QStringLiteral("CREATE INDEX RivalItemsByRivalWW ON RivalItems (RivalWW)")
                       << QStringLiteral("INSERT INTO Setting (UpdateTimeOut, WW) VALUES (NULL, '')");
            QSqlQuery query(db);
            for (const QString& sql : std::as_const(statements)) {
                if (!query.exec(sql)) {
                    error = query.lastError().text();
                    break;
                }
            }
            if (error.isEmpty()) {
                try {
                    AddMissingTables(db);
                } catch (const TDatabaseError& e) {
                    error = e.text();
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (error.isEmpty() && !QFile::rename(temp, path))
        error = QStringLiteral("无法写入文件");
    if (!error.isEmpty()) {
        QFile::remove(temp);
        throw TDatabaseError(
            QStringLiteral("无法创建数据库文件 \"%1\"：%2").arg(QDir::toNativeSeparators(path), error));
    }
}

QString PrepareDatabaseFile(const QString& path) {
    if (IsServerTarget(path))
        return PrepareServerDatabase(TConnection(path));
    const QString shown = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    if (!QFileInfo::exists(path)) {
        try {
            CreateDatabaseFile(path);
        } catch (const TDatabaseError& e) {
            return e.text();
        }
    } else {
        QString reason;
        if (!CheckDatabaseLayout(path, &reason, true)) {
            // A sentence that already names the file stands alone.
            if (reason.contains(shown))
                return reason;
            return QStringLiteral("无法使用数据库文件 \"%1\"：%2").arg(shown, reason);
        }
    }
    // WAL lets worker threads write while the window reads; the mode stays with the file.
    const QString name = NextConnectionName();
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs.load()));
        if (!db.open()) {
            error = ErrorOf(db.lastError(), path).text();
        } else {
            DistrustSchema(db);
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL"))) {
                error = ErrorOf(query.lastError(), path).text();
            } else {
                query.finish();
                try {
                    AddMissingTables(db);
                } catch (const TDatabaseError& e) {
                    error = e.text();
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

namespace {

// The stored form of a local date and time.
QString ColumnText(int year, int month, int day, int hour, int minute, int second) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
    return QString::fromLatin1(text);
}

} // namespace

QString DateTimeToColumn(const QDateTime& value) {
    if (!value.isValid())
        return {};
    const QDateTime local = value.toLocalTime();
    const QDate date = local.date();
    const QTime time = local.time();
    return ColumnText(date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second());
}

QString CurrentDateTimeColumn() {
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    timespec steady{};
    clock_gettime(CLOCK_MONOTONIC, &steady);
    return LocalDateTimeColumn(qint64(wall.tv_sec), qint64(steady.tv_sec));
}

QString LocalDateTimeColumn(qint64 wallSeconds, qint64 steadySeconds) {
    // localtime_r keeps the zone it read, where QDateTime reads the zone file again on every
    // call (a tenth of what storing a reading costs); a zone changed meanwhile is picked up
    // within a minute. Steady time, so a clock set back does not stop the re-reading.
    constexpr qint64 kNever = -1;
    static std::atomic<qint64> zoneReadAt{kNever};
    const qint64 last = zoneReadAt.load(std::memory_order_relaxed);
    if (last == kNever || steadySeconds < last || steadySeconds - last >= 60) {
        tzset();
        zoneReadAt.store(steadySeconds, std::memory_order_relaxed);
    }
    const time_t seconds = time_t(wallSeconds);
    tm local{};
    if (!localtime_r(&seconds, &local))
        return DateTimeToColumn(QDateTime::fromSecsSinceEpoch(wallSeconds));
    return ColumnText(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

QDateTime DateTimeFromColumn(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    // The stored form is read by hand: the generic format parser costs a hundred times more,
    // and every grid row reads one.
    if (trimmed.size() == 19 && trimmed[4] == u'-' && trimmed[7] == u'-' && trimmed[10] == u' ' &&
        trimmed[13] == u':' && trimmed[16] == u':') {
        auto number = [&trimmed](int from, int length) {
            int value = 0;
            for (int i = from; i < from + length; ++i) {
                const QChar c = trimmed[i];
                if (c < u'0' || c > u'9')
                    return -1;
                value = value * 10 + (c.unicode() - u'0');
            }
            return value;
        };
        const QDate date(number(0, 4), number(5, 2), number(8, 2));
        const QTime time(number(11, 2), number(14, 2), number(17, 2));
        if (date.isValid() && time.isValid())
            return QDateTime(date, time);
    }
    QDateTime value = QDateTime::fromString(trimmed, Qt::ISODate);
    if (value.isValid())
        value = value.toLocalTime();
    return value;
}

} // namespace vantero
