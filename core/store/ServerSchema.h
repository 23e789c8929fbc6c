#pragma once

#include <QString>
#include <QStringList>

namespace vantero {

class TConnection;

// Makes a team database on a server usable at start-up: the catalogue's four tables with one
// settings row and the added tables, each made when missing, in one transaction. Every table
// keeps a row id column (the alerts: AlertID) as the file does; key columns compare ASCII letters
// without case through lower(column COLLATE "C") indexes. Returns an empty string when the
// database is usable, otherwise a Chinese message naming server and database.
QString PrepareServerDatabase(const TConnection& con);

// The tables of a database of this program, in the order a copy writes them.
QStringList AllTableNames();

} // namespace vantero
