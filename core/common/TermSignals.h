#pragma once

#include <QObject>

class QSocketNotifier;

namespace vantero {

// SIGTERM, SIGINT and SIGHUP (systemctl stop, Ctrl+C, a logout) turned into a Qt signal on the
// main thread, so the program ends the way its own exit does instead of dying with the database
// half closed. The handler only writes to a pipe; everything else happens in the event loop.
class TTermSignals final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TTermSignals)
public:
    // Installs the handlers (once) and returns the object that reports them; call on the main
    // thread after the application object exists.
    static TTermSignals& Install();
    // The installed object, or null when the program did not install the handlers (tests).
    static TTermSignals* Installed();
    // Whether one of the signals has arrived since Install(); safe from any thread.
    static bool Received();
    // Readable from a signal's arrival until the main thread takes it (-1: not installed): a
    // wait that blocks the main thread can watch it and give up, as the program is ending.
    static int PendingFd();

signals:
    // Emitted on the main thread, once per signal arrived, with its number.
    void received(int signalNumber);

private:
    TTermSignals();
    void Drain();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace vantero
