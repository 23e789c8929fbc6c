#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
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
    // Stops the thread and closes its connection. A connection attempt in progress is left to
    // end on its own (a server that does not answer holds it up to the connection timeout), so a
    // window closes at once; nothing it finds reaches this object any more.
    ~TReadingListener() override;

    // Whether the listener's connection stands and listens (for tests and status texts).
    bool Listening() const;

signals:
    // The own item ids announced since the last signal, each once, oldest first.
    void itemsAnnounced(const QStringList& itemIds);
    // The listener (re)connected after a loss: announcements may have been missed.
    void announcementsMissed();

private:
    struct TShared;
    static void Run(const std::shared_ptr<TShared>& shared);

    // What the thread uses, kept alive by the thread itself when it outlives this object.
    std::shared_ptr<TShared> m_shared;
    std::thread m_thread;
};

} // namespace vantero
