#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <thread>

namespace vantero {

// Listens on a team database for the readings other programs store (ReadingNotice.h), on a
// connection and a thread of its own, so a window's rows follow every desk without a refresh.
// The signals reach receivers on their own threads, queued: a receiver that is gone gets
// nothing. A lost or refused connection is tried again every few seconds; what was announced
// while it was away is unknown, so reconnecting asks for everything to be read again.
class TReadingListener final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TReadingListener)
public:
    // Starts listening on target (a server target; a file has no announcements).
    explicit TReadingListener(const QString& target, QObject* parent = nullptr);
    // Stops the thread and closes its connection; waits for a connection attempt in progress.
    ~TReadingListener() override;

    // Whether the listener's connection stands and listens (for tests and status texts).
    bool Listening() const { return m_listening; }

signals:
    // The own item ids announced since the last signal, each once, oldest first.
    void itemsAnnounced(const QStringList& itemIds);
    // The listener (re)connected after a loss: announcements may have been missed.
    void announcementsMissed();

private:
    void Run();
    bool Wait(int socket, int ms); // false when stopped

    const QString m_target;
    int m_wake = -1; // an eventfd that ends a wait when the listener stops
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_listening{false};
    std::thread m_thread;
};

} // namespace vantero
