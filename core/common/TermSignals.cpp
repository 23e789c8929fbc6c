#include "common/TermSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace vantero {

namespace {

int g_pipe[2] = {-1, -1};
std::atomic<bool> g_received{false};

extern "C" void OnTermSignal(int number) {
    g_received.store(true);
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe already holds a wake-up; nothing else is safe to do here.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

namespace {
TTermSignals* g_instance = nullptr;
}

TTermSignals& TTermSignals::Install() {
    // Lives as long as the process: a signal may arrive at any time until the end.
    if (!g_instance)
        g_instance = new TTermSignals;
    return *g_instance;
}

TTermSignals* TTermSignals::Installed() {
    return g_instance;
}

bool TTermSignals::Received() {
    return g_received.load();
}

int TTermSignals::PendingFd() {
    return g_pipe[0];
}

TTermSignals::TTermSignals() {
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TTermSignals::Drain);
    struct sigaction action = {};
    action.sa_handler = OnTermSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(number, &action, nullptr);
}

void TTermSignals::Drain() {
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1)
        emit received(byte);
}

} // namespace vantero
