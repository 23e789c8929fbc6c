#include "store/DataImport.h"

#include "common/StoreTexts.h"
#include "store/DatabaseError.h"
#include "store/RecordSet.h"
#include "store/ServerSession.h"
#include "store/Statement.h"
#include "store/Values.h"

#include <QAtomicInteger>
#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <filesystem>
#include <sqlite3.h>
#include <system_error>

namespace vantero {

namespace {

enum class TKind { Text, Float, Integer, DateTime };

QString NextSourceName() {
    static QAtomicInteger<int> counter;
    return QStringLiteral("vantero-import-%1").arg(counter.fetchAndAddRelaxed(1));
}

int NativeCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? code : SQLITE_ERROR;
}

QString EngineText(const QSqlError& error) {
    return (error.databaseText().isEmpty() ? error.text() : error.databaseText()).trimmed();
}

// A read of the import file that failed: a lock, damage or I/O as for any database file, else
// (a table or column the file lacks) the table that could not be read; the engine's words follow.
[[noreturn]] void RaiseSource(const QSqlError& error, const QString& path, const QString& table) {
    const int code = NativeCode(error);
    if ((code & 0xff) != SQLITE_ERROR)
        throw DescribeEngineFailure(code, EngineText(error), path);
    const QString sentence = StoreTexts::ImportTableUnreadable.arg(table, QDir::toNativeSeparators(path));
    const QString detail = EngineText(error);
    throw TDatabaseError(detail.isEmpty() ? sentence : StoreTexts::WithDetail.arg(sentence, detail),
                         TDatabaseFault::Other, detail);
}

} // namespace

struct TDataImport::TCopiedColumn {
    QString name;
    TKind kind;
};

bool IsSameFile(const QString& first, const QString& second) {
    std::error_code error;
    const bool same = std::filesystem::equivalent(std::filesystem::path(first.toStdString()),
                                                  std::filesystem::path(second.toStdString()), error);
    return !error && same;
}

TDataImport::TDataImport(TConnection target) : m_target(std::move(target)) {}

TDataImport::~TDataImport() {
    CloseSource();
}

void TDataImport::CloseSource() {
    m_sourceIsTarget = false;
    m_serverSource = TConnection();
    if (m_sourceName.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_sourceName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_sourceName);
    m_sourceName.clear();
}

bool TDataImport::ConnectSource(const QString& path, QString* message) {
    CloseSource();
    auto refuse = [&](const QString& reason) {
        if (message)
            *message = ImportTexts::ConnectFailed + QLatin1Char('"') + path + QStringLiteral("\" ") + reason;
        return false;
    };

    // The file in use needs no second connection: every row it holds is already present, and a
    // reader on the live file could only get in the way of the program's own writers.
    if (!m_target.isNull() && IsSameFile(path, m_target.path())) {
        m_sourceIsTarget = true;
        return true;
    }

    if (IsServerTarget(path)) {
        const TConnection server(path);
        if (!m_target.isNull() && m_target.path() == path) {
            m_sourceIsTarget = true;
            return true;
        }
        try {
            server.value(QStringLiteral("SELECT count(*) FROM Items"));
        } catch (const TDatabaseError& e) {
            return refuse(e.text());
        }
        m_serverSource = server;
        return true;
    }

    QString reason;
    if (!CheckImportSource(path, &reason))
        return refuse(reason);

    const QString name = NextSourceName();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=60000"));
        if (!db.open()) {
            reason = DescribeEngineFailure(NativeCode(db.lastError()), EngineText(db.lastError()), path).text();
        } else {
            DistrustSchema(db);
            // A damaged file is refused now rather than failing halfway through the copy.
            QSqlQuery check(db);
            if (!check.exec(QStringLiteral("PRAGMA quick_check")))
                reason =
                    DescribeEngineFailure(NativeCode(check.lastError()), EngineText(check.lastError()), path).text();
            else if (!check.next() || check.value(0).toString() != QLatin1String("ok"))
                reason = StoreTexts::WithDetail.arg(StoreTexts::Damaged.arg(QDir::toNativeSeparators(path)),
                                                    check.value(0).toString());
        }
        if (!reason.isEmpty())
            db.close();
    }
    if (!reason.isEmpty()) {
        QSqlDatabase::removeDatabase(name);
        return refuse(reason);
    }
    m_sourceName = name;
    return true;
}

int TDataImport::CopyTable(const QString& table, const QString& keys, const QList<TCopiedColumn>& columns) {
    if (m_sourceIsTarget)
        return 0;
    if (m_sourceName.isEmpty() && m_serverSource.isNull())
        throw TDatabaseError(StoreTexts::ImportNotConnected);

    // The source rows are read completely before the first append, so a read failure leaves
    // this table of the target untouched.
    const QString select = QStringLiteral("select * from ") + table;
    QList<QVariantList> rows;
    if (!m_serverSource.isNull()) {
        TStatement query(m_serverSource, select);
        query.Bind({});
        QList<int> positions;
        for (const TCopiedColumn& column : columns) {
            int at = -1;
            for (int i = 0; i < query.ColumnCount() && at < 0; ++i) {
                if (query.ColumnName(i).compare(column.name, Qt::CaseInsensitive) == 0)
                    at = i;
            }
            if (at < 0)
                throw TDatabaseError(StoreTexts::ImportColumnMissing.arg(table, m_serverSource.place(), column.name));
            positions << at;
        }
        while (query.Step()) {
            QVariantList values;
            values.reserve(positions.size());
            for (int at : std::as_const(positions))
                values << query.Value(at);
            rows << values;
        }
    } else {
        const QSqlDatabase source = QSqlDatabase::database(m_sourceName, false);
        const QString path = source.databaseName();
        QSqlQuery query(source);
        query.setForwardOnly(true);
        if (!query.exec(select))
            RaiseSource(query.lastError(), path, table);
        const QSqlRecord record = query.record();
        QList<int> positions;
        for (const TCopiedColumn& column : columns) {
            const int at = record.indexOf(column.name);
            if (at < 0)
                throw TDatabaseError(
                    StoreTexts::ImportColumnMissing.arg(table, QDir::toNativeSeparators(path), column.name));
            positions << at;
        }
        while (query.next()) {
            QVariantList values;
            values.reserve(positions.size());
            for (int at : std::as_const(positions))
                values << query.value(at);
            rows << values;
        }
        if (query.lastError().isValid())
            RaiseSource(query.lastError(), path, table);
    }

    const QStringList keyNames = keys.split(u';');
    QList<int> keyColumns;
    for (const QString& key : keyNames) {
        for (int i = 0; i < columns.size(); ++i) {
            if (columns[i].name.compare(key, Qt::CaseInsensitive) == 0)
                keyColumns << i;
        }
    }

    TRecordSet qryMain(m_target);
    qryMain.Reopen(select);
    int appended = 0;
    for (const QVariantList& values : std::as_const(rows)) {
        QStringList keyValues;
        for (int i : std::as_const(keyColumns))
            keyValues << ValueAsString(values[i]);
        if (qryMain.Locate(keys, keyValues))
            continue;
        qryMain.Append();
        for (int i = 0; i < columns.size(); ++i) {
            TField field = qryMain.FieldByName(columns[i].name);
            switch (columns[i].kind) {
            case TKind::Text:
                field.SetAsString(ValueAsString(values[i]));
                break;
            case TKind::Float:
                field.SetAsFloat(ValueAsFloat(values[i]));
                break;
            case TKind::Integer:
                field.SetAsInteger(ValueAsInteger(values[i]));
                break;
            case TKind::DateTime:
                field.SetAsDateTime(DateTimeFromColumn(ValueAsString(values[i])));
                break;
            }
        }
        // One insert statement: the row is in the file whole, or (on failure) not at all.
        qryMain.Post();
        ++appended;
    }
    return appended;
}

int TDataImport::ImportItems() {
    return CopyTable(QStringLiteral("Items"), QStringLiteral("ItemID"),
                     {{QStringLiteral("ItemID"), TKind::Text},
                      {QStringLiteral("ItemName"), TKind::Text},
                      {QStringLiteral("URL"), TKind::Text},
                      {QStringLiteral("Price"), TKind::Float},
                      {QStringLiteral("SellCount"), TKind::Integer},
                      {QStringLiteral("LastUpdated"), TKind::DateTime}});
}

int TDataImport::ImportRivals() {
    return CopyTable(QStringLiteral("Rival"), QStringLiteral("RivalWW"),
                     {{QStringLiteral("RivalWW"), TKind::Text},
                      {QStringLiteral("ShopURL"), TKind::Text},
                      {QStringLiteral("ShopName"), TKind::Text},
                      {QStringLiteral("ShopClass"), TKind::Text},
                      {QStringLiteral("ShopType"), TKind::Text}});
}

int TDataImport::ImportRivalItems() {
    return CopyTable(QStringLiteral("RivalItems"), QStringLiteral("LocalItemID;RivalItemID"),
                     {{QStringLiteral("RivalWW"), TKind::Text},
                      {QStringLiteral("LocalItemID"), TKind::Text},
                      {QStringLiteral("RivalItemID"), TKind::Text},
                      {QStringLiteral("ItemName"), TKind::Text},
                      {QStringLiteral("URL"), TKind::Text},
                      {QStringLiteral("Price"), TKind::Float},
                      {QStringLiteral("SellCount"), TKind::Integer},
                      {QStringLiteral("LastUpdated"), TKind::DateTime}});
}

} // namespace vantero
