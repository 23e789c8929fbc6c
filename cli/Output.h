#pragma once

#include <QJsonArray>
#include <QStringList>
#include <QTextStream>

namespace vantero::cli {

// One CSV line (RFC 4180: fields with commas, quotes or line breaks quoted, CRLF ending).
void WriteCsvLine(QTextStream& out, const QStringList& fields);
QJsonArray ToJsonArray(const QStringList& fields);
// Prints a JSON document, indented.
void WriteJson(QTextStream& out, const QJsonValue& value);
// A table as CSV (header line first) or as a JSON array of objects keyed by the header.
void WriteTable(QTextStream& out, const QStringList& header, const QList<QStringList>& rows, bool json);

} // namespace vantero::cli
