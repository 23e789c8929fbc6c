#include "store/ReadingNotice.h"

#include "store/Connection.h"

namespace vantero {

void AnnounceReading(const TConnection& con, const QString& localItemID) {
    if (!con.isServer())
        return;
    // pg_notify rather than NOTIFY: the payload is a bound value, and it is sent at commit, so a
    // listener that re-reads the item sees the reading.
    con.exec(QStringLiteral("SELECT pg_notify('") + kReadingsChannel + QStringLiteral("', ?)"), {localItemID});
}

} // namespace vantero
