#pragma once

#include <QString>
#include <QVariant>

namespace vantero {

// A column value read at a type: empty columns read as empty text or 0, text that is no number
// as 0. The record sets and the import read values the same way through these.
QString ValueAsString(const QVariant& value);
double ValueAsFloat(const QVariant& value);
qint64 ValueAsInteger(const QVariant& value);

} // namespace vantero
