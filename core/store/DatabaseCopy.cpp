#include "store/DatabaseCopy.h"

#include "store/Connection.h"
#include "store/DataImport.h"
#include "store/DatabaseError.h"
#include "store/ServerSchema.h"
#include "store/ServerSession.h"
#include "store/Statement.h"

namespace vantero {

namespace {

// The table's columns in their order (without the row id), or none when it is missing.
QStringList ColumnsOf(const TConnection& con, const QString& table) {
    QStringList columns;
    if (con.isServer()) {
        for (const QString& column : con.server()->ColumnsOf(table)) {
            if (column != QLatin1String("rowid") &&
                !(table == QLatin1String("Alerts") && column == QLatin1String("alertid")))
                columns << column;
        }
        return columns;
    }
    TStatement info(con, QStringLiteral("SELECT name FROM pragma_table_info(?)"));
    info.Bind({table});
    while (info.Step()) {
        // The alerts' AlertID is their row id.
        const QString column = info.Text(0).toLower();
        if (!(table == QLatin1String("Alerts") && column == QLatin1String("alertid")))
            columns << column;
    }
    return columns;
}

// An option's value as the program writes it into the file: the server keeps every value as
// text, and a number comes back as the number it was.
QVariant OptionValue(const QVariant& value) {
    if (value.typeId() != QMetaType::QString)
        return value;
    const QString text = value.toString();
    bool ok = false;
    const qlonglong integer = text.toLongLong(&ok);
    if (ok && QString::number(integer) == text)
        return integer;
    const double real = text.toDouble(&ok);
    if (ok && QString::number(real, 'g', QLocale::FloatingPointShortest) == text)
        return real;
    return value;
}

// The first table of the target that holds rows (the single settings row aside), or none.
QString FirstTableWithRows(const TConnection& target) {
    for (const QString& table : AllTableNames()) {
        const qint64 rows = target.value(QStringLiteral("SELECT count(*) FROM %1").arg(table)).toLongLong();
        if (rows > (table == QLatin1String("Setting") ? 1 : 0))
            return table;
    }
    return {};
}

// A bulk load leaves the server's planner without statistics until its autovacuum comes round
// (minutes, or never for a small change): the first refreshes would be planned blind, a large
// join even compiled. Inside the copy's transaction, so the statistics are those of its rows.
void AnalyzeServerTables(const TConnection& con) {
    if (con.isServer())
        con.server()->Run("ANALYZE " + AllTableNames().join(QStringLiteral(", ")).toUtf8());
}

} // namespace

qint64 TCopyCounts::total() const {
    qint64 sum = 0;
    for (const auto& [table, rows] : this->rows)
        sum += rows;
    return sum;
}

TRefusable<TCopyCounts> CopyDatabase(const QString& source, const QString& target, bool merge) {
    if (source == target || (!IsServerTarget(source) && !IsServerTarget(target) && IsSameFile(source, target)))
        return TRefusal{CopyTexts::SameDatabase};
    // The source as it is: a file is checked, never prepared (that could write to it).
    if (!IsServerTarget(source)) {
        QString reason;
        if (!CheckImportSource(source, &reason))
            return TRefusal{reason};
    }
    const QString problem = PrepareDatabaseFile(target);
    if (!problem.isEmpty())
        throw TDatabaseError(problem);
    const TConnection from(source);
    const TConnection to(target);

    TCopyCounts counts;
    if (merge) {
        TDataImport import(to);
        QString message;
        if (!import.ConnectSource(source, &message))
            return TRefusal{message};
        TWriteTransaction transaction(to);
        counts.rows << qMakePair(QStringLiteral("Items"), qint64(import.ImportItems()))
                    << qMakePair(QStringLiteral("Rival"), qint64(import.ImportRivals()))
                    << qMakePair(QStringLiteral("RivalItems"), qint64(import.ImportRivalItems()));
        AnalyzeServerTables(to);
        transaction.Commit();
        return counts;
    }

    TWriteTransaction transaction(to);
    if (const QString full = FirstTableWithRows(to); !full.isEmpty())
        return TRefusal{CopyTexts::NotEmpty.arg(full)};
    const TReadTransaction snapshot(from);
    for (const QString& table : AllTableNames()) {
        const QStringList present = ColumnsOf(from, table);
        if (present.isEmpty()) {
            counts.rows << qMakePair(table, qint64(0));
            continue;
        }
        const QStringList wanted = ColumnsOf(to, table);
        QStringList columns;
        for (const QString& column : present) {
            if (wanted.contains(column))
                columns << column;
        }
        to.exec(QStringLiteral("DELETE FROM %1").arg(table));
        TStatement read(from,
                        QStringLiteral("SELECT rowid, %1 FROM %2 ORDER BY rowid").arg(columns.join(u", "), table));
        read.Bind({});
        const bool options = table == QLatin1String("Options");
        const qsizetype width = columns.size() + 1;
        const QString id = table == QLatin1String("Alerts") ? QStringLiteral("alertid") : QStringLiteral("rowid");
        qint64 rows = 0;
        if (to.isServer()) {
            // One stream for the whole table rather than a round trip a row.
            rows = to.server()->CopyRows(table, QStringList{id} + columns, [&](std::vector<QByteArray>& values) {
                if (!read.Step())
                    return false;
                values.resize(size_t(width));
                for (qsizetype i = 0; i < width; ++i)
                    values[size_t(i)] = ServerValueText(read.Value(int(i)));
                return true;
            });
        } else {
            TStatement add(to, QStringLiteral("INSERT INTO %1 (rowid, %2) VALUES (?%3)")
                                   .arg(table, columns.join(u", "), QStringLiteral(", ?").repeated(columns.size())));
            QVariantList values;
            values.reserve(width);
            while (read.Step()) {
                values.clear();
                for (qsizetype i = 0; i < width; ++i)
                    values << (options ? OptionValue(read.Value(int(i))) : read.Value(int(i)));
                add.Reset();
                add.Bind(values);
                add.Step();
                ++rows;
            }
        }
        if (to.isServer()) {
            // The server hands out row ids after the highest one copied.
            to.value(QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', '%2'), "
                                    "greatest((SELECT max(%2) FROM %1), 1), (SELECT count(*) > 0 FROM %1))")
                         .arg(table.toLower(), id));
        }
        counts.rows << qMakePair(table, rows);
    }
    AnalyzeServerTables(to);
    transaction.Commit();
    return counts;
}

} // namespace vantero
