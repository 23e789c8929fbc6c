#pragma once

#include <QEvent>
#include <QObject>

namespace vantero {

// Window messages between worker threads and windows.
inline constexpr unsigned WM_ADDITEM_RESULT = 1524;
inline constexpr unsigned WM_READITEM_RESULT = 1525;
inline constexpr unsigned WM_READALL_FINISHED = 1526;
inline constexpr unsigned WM_UPDATE_VERSION = 1682;

// A handle names a window for posting across threads; 0 names no window.
using TWindowHandle = quintptr;

class TWindowMessageEvent final : public QEvent {
public:
    TWindowMessageEvent(unsigned msg, qintptr wparam, qintptr lparam)
        : QEvent(eventType()), Msg(msg), WParam(wparam), LParam(lparam) {}
    static QEvent::Type eventType();

    const unsigned Msg;
    const qintptr WParam;
    const qintptr LParam;
};

// Posts msg to the window from any thread; queued, handled later on the window's thread as a
// TWindowMessageEvent. A handle whose window is gone (or 0) makes the post do nothing.
bool PostMessageToWindow(TWindowHandle window, unsigned msg, qintptr wparam = 0, qintptr lparam = 0);

// Gives a window its handle for as long as this object lives; make it a member of the window.
class TWindowRegistration final {
public:
    explicit TWindowRegistration(QObject* window);
    ~TWindowRegistration();
    TWindowRegistration(const TWindowRegistration&) = delete;
    TWindowRegistration& operator=(const TWindowRegistration&) = delete;

    TWindowHandle handle() const { return m_handle; }

private:
    TWindowHandle m_handle;
};

} // namespace vantero
