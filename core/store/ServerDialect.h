#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace vantero {

// A statement of the program (written for the file's engine) as the database server runs it.
struct TServerStatementText {
    QString text;
    int parameters = 0;
    // An INSERT into one of our tables, made to hand back the new row's id.
    bool returnsRowId = false;
};

// Rewrites a statement once, where the two engines differ: "?" becomes "$n"; comparisons and
// ordering on key columns compare ASCII letters without case (as the file's NOCASE columns do,
// and no other letters); "select *" names the table's own columns (without the row id the
// server keeps as a column); the row id of the alerts is their AlertID; an insert returns the
// row id it made; group_concat is string_agg. columnsOf gives a table's columns on the server.
TServerStatementText TranslateForServer(const QString& sql,
                                        const std::function<QStringList(const QString& table)>& columnsOf);

// The spelling of a column as the program's tables name it ("ItemID" for the server's "itemid").
QString CanonicalColumnName(const QString& serverName);

// Whether a column of this table compares without regard to ASCII case.
bool IsCaseBlindColumn(const QString& table, const QString& column);

} // namespace vantero
