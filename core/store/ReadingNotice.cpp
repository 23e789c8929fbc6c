#include "store/ReadingNotice.h"

#include "store/Connection.h"
#include "store/ServerSession.h"

namespace vantero {

void AnnounceReading(const TConnection& con, const QString& localItemID) {
    if (!con.isServer())
        return;
    // Sent at commit, so a listener that re-reads the item sees the reading; inside a
    // transaction it goes with the commit itself instead of a round trip of its own.
    TServerSession* session = con.server();
    if (session->InTransaction()) {
        session->NotifyAtCommit(kReadingsChannel, localItemID);
        return;
    }
    // pg_notify rather than NOTIFY: the payload is a bound value.
    con.exec(QStringLiteral("SELECT pg_notify('") + kReadingsChannel + QStringLiteral("', ?)"), {localItemID});
}

} // namespace vantero
