#include "store/ReadingListener.h"

#include "store/DatabaseError.h"
#include "store/ReadingNotice.h"
#include "store/ServerSession.h"

#include <algorithm>
#include <memory>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vantero {

namespace {
// Between two connection attempts: soon enough that a restarted server is followed within
// seconds, rare enough not to load a server that is down.
constexpr int kRetryMs = 3000;
} // namespace

TReadingListener::TReadingListener(const QString& target, QObject* parent)
    : QObject(parent), m_target(target), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    m_thread = std::thread([this] { Run(); });
}

TReadingListener::~TReadingListener() {
    m_stop = true;
    const quint64 one = 1;
    if (m_wake >= 0 && ::write(m_wake, &one, sizeof one) < 0) {
        // the waits time out by themselves; the stop flag ends the loop then
    }
    if (m_thread.joinable())
        m_thread.join();
    if (m_wake >= 0)
        ::close(m_wake);
}

bool TReadingListener::Wait(int socket, int ms) {
    pollfd fds[2] = {{m_wake, POLLIN, 0}, {socket, POLLIN, 0}};
    // Without a wake descriptor a stop is seen at the next timeout.
    const int timeout = m_wake >= 0 ? ms : std::min(ms, 200);
    ::poll(fds, socket >= 0 ? 2 : 1, timeout);
    return !m_stop;
}

void TReadingListener::Run() {
    bool missed = false; // a connection stood before and was lost
    while (!m_stop) {
        std::unique_ptr<TServerSession> session;
        try {
            session = std::make_unique<TServerSession>(m_target);
            session->Run("LISTEN " + kReadingsChannel.toLatin1());
        } catch (const TDatabaseError&) {
            session.reset();
            missed = true; // the window's rows were read without us
            if (!Wait(-1, kRetryMs))
                return;
            continue;
        }
        m_listening = true;
        if (missed)
            emit announcementsMissed();
        try {
            while (Wait(session->Socket(), 1000)) {
                QStringList ids;
                for (const QString& id : session->TakeNotifications()) {
                    if (!ids.contains(id))
                        ids << id;
                }
                if (!ids.isEmpty())
                    emit itemsAnnounced(ids);
            }
        } catch (const TDatabaseError&) {
            missed = true;
        }
        m_listening = false;
    }
}

} // namespace vantero
