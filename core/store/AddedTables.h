#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

class QSqlDatabase;

namespace vantero {

class TConnection;

// Tables the program keeps beside the four of the catalogue. They are added to a file that lacks
// them at start-up (an older program ignores them), the delivered file has them, and the import
// copies none of them.
//
// ReadingStatus: one row per page, the own item's (RivalWW '') or a rival's, keyed by the own
// item and the rival account: the last attempt's time, code and text, the last success, and the
// number of failed attempts in a row.
// PriceHistory: one row per successful reading whose price or sales differ from the page's
// previous row (and the first reading of a page); Price NULL means the page showed no price.
// Alerts: notices about rival prices and failing own pages, kept until marked read.
// AlertSends: what became of each alert on each channel it was sent to (sent, or the error).
// Options: program options that the settings dialog does not hold, by name.
// ReadModes: how a page is read when it is not read directly.
const QStringList& AddedTableNames();
// The indexes made on them.
const QStringList& AddedIndexNames();

// Creates whichever added tables and indexes db lacks, in one transaction; throws TDatabaseError.
void AddMissingTables(QSqlDatabase& db);

// An option's stored value, or fallback when it was never set.
QVariant ReadOption(const TConnection& con, const QString& name, const QVariant& fallback = {});
void WriteOption(const TConnection& con, const QString& name, const QVariant& value);

} // namespace vantero
