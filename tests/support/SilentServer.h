#pragma once

#include <QString>

namespace vantero::test {

// A server on 127.0.0.1 that takes a connection and never answers, as one behind a dropping
// firewall does: a connection attempt to it hangs until its time-out.
class TSilentServer final {
public:
    TSilentServer();
    ~TSilentServer();
    TSilentServer(const TSilentServer&) = delete;
    TSilentServer& operator=(const TSilentServer&) = delete;

    // 0 when no port could be had.
    quint16 Port() const { return m_port; }
    // A team database target on it.
    QString Target() const;
    // The first attempt, taken and then left unanswered (-1 when none came within a minute).
    int Accept();
    // Whether the attempt taken was closed by the other side (its bytes read up to the end,
    // within a minute).
    bool AttemptClosed();

private:
    int m_fd = -1;
    int m_peer = -1;
    quint16 m_port = 0;
};

} // namespace vantero::test
