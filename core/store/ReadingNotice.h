#pragma once

#include <QString>

namespace vantero {

class TConnection;

// On a team database every stored reading (success or failure) is announced to every program
// listening on this channel, the own item's id as payload, once its transaction commits; the
// file has no listeners and is left alone.
inline const QString kReadingsChannel = QStringLiteral("vantero_readings");

void AnnounceReading(const TConnection& con, const QString& localItemID);

} // namespace vantero
