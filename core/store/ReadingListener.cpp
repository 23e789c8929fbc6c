#include "store/ReadingListener.h"

#include "store/DatabaseError.h"
#include "store/ReadingNotice.h"
#include "store/ServerSession.h"

#include <QScopeGuard>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace vantero {

namespace {
// Between two connection attempts: soon enough that a restarted server is followed within
// seconds, rare enough not to load a server that is down.
constexpr int kRetryMs = 3000;
} // namespace

struct TReadingListener::TShared {
    explicit TShared(const QString& target_) : target(target_), wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~TShared() {
        if (wake >= 0)
            ::close(wake);
    }
    Q_DISABLE_COPY_MOVE(TShared)

    // Waits for the socket (or only the time when socket < 0); false when stopped.
    bool Wait(int socket, int ms) const {
        pollfd fds[2] = {{wake, POLLIN, 0}, {socket, POLLIN, 0}};
        // Without a wake descriptor a stop is seen at the next timeout.
        const int timeout = wake >= 0 ? ms : std::min(ms, 200);
        ::poll(fds, socket >= 0 ? 2 : 1, timeout);
        return !stop;
    }

    const QString target;
    const int wake; // an eventfd that ends a wait when the listener stops
    std::atomic<bool> stop{false};
    std::atomic<bool> listening{false};
    // Guards owner and connecting: the owner is cleared under it, so no signal is emitted on
    // an object being destroyed, and a connection attempt is never begun after the stop.
    std::mutex lock;
    TReadingListener* owner = nullptr;
    bool connecting = false;
};

TReadingListener::TReadingListener(const QString& target, QObject* parent)
    : QObject(parent), m_shared(std::make_shared<TShared>(target)) {
    m_shared->owner = this;
    m_thread = std::thread([shared = m_shared] { Run(shared); });
}

TReadingListener::~TReadingListener() {
    bool connecting = false;
    {
        const std::lock_guard<std::mutex> guard(m_shared->lock);
        m_shared->stop = true;
        m_shared->owner = nullptr;
        connecting = m_shared->connecting;
    }
    const quint64 one = 1;
    if (m_shared->wake >= 0 && ::write(m_shared->wake, &one, sizeof one) < 0) {
        // the waits time out by themselves; the stop flag ends the loop then
    }
    // A wait ends at once; a connection attempt is not waited for.
    if (connecting)
        m_thread.detach();
    else
        m_thread.join();
}

bool TReadingListener::Listening() const {
    return m_shared->listening;
}

void TReadingListener::Run(const std::shared_ptr<TShared>& shared) {
    // Emits on the owner while it lives; queued connections carry the values to receivers.
    const auto announce = [&shared](auto&& emitOn) {
        const std::lock_guard<std::mutex> guard(shared->lock);
        if (shared->owner)
            emitOn(shared->owner);
    };
    bool missed = false; // a connection stood before and was lost
    while (!shared->stop) {
        std::unique_ptr<TServerSession> session;
        try {
            {
                const std::lock_guard<std::mutex> guard(shared->lock);
                if (shared->stop)
                    return;
                shared->connecting = true;
            }
            const auto attempted = qScopeGuard([&shared] {
                const std::lock_guard<std::mutex> guard(shared->lock);
                shared->connecting = false;
            });
            session = std::make_unique<TServerSession>(shared->target);
            session->Run("LISTEN " + kReadingsChannel.toLatin1());
        } catch (const TDatabaseError&) {
            session.reset();
            missed = true; // the window's rows were read without us
            if (!shared->Wait(-1, kRetryMs))
                return;
            continue;
        }
        shared->listening = true;
        if (missed)
            announce([](TReadingListener* owner) { emit owner->announcementsMissed(); });
        try {
            while (shared->Wait(session->Socket(), 1000)) {
                QStringList ids;
                for (const QString& id : session->TakeNotifications()) {
                    if (!ids.contains(id))
                        ids << id;
                }
                if (!ids.isEmpty())
                    announce([&ids](TReadingListener* owner) { emit owner->itemsAnnounced(ids); });
            }
        } catch (const TDatabaseError&) {
            missed = true;
        }
        shared->listening = false;
    }
}

} // namespace vantero
