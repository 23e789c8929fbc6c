#include "widgets/UiWindowSize.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace vantero {

namespace {

class TOuterSizeKeeper final : public QObject {
public:
    TOuterSizeKeeper(QWidget* window, QSize outer) : QObject(window), m_window(window), m_outer(outer) {
        window->resize(outer);
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        // A window manager's frame arrives with a move; the user's own resizing is left alone.
        if (watched == m_window && (type == QEvent::Show || type == QEvent::Move))
            Apply();
        return QObject::eventFilter(watched, event);
    }

private:
    void Apply() {
        const QWindow* handle = m_window->windowHandle();
        if (!handle || m_applying)
            return;
        const QMargins frame = handle->frameMargins();
        if (frame == m_frame)
            return;
        m_frame = frame;
        m_applying = true;
        const QPoint centre = m_window->frameGeometry().center();
        m_window->resize(m_outer.shrunkBy(frame));
        // move() places the frame's top left corner.
        m_window->move(centre - QRect(QPoint(0, 0), m_outer).center());
        m_applying = false;
    }

    QWidget* m_window;
    QSize m_outer;
    QMargins m_frame; // the frame the present size was made for
    bool m_applying = false;
};

// Once a window is shown and its frame is known, moves (and if need be shrinks) it so that the
// frame lies on its screen: the placement before showing can only guess the frame.
class TOnScreenKeeper final : public QObject {
public:
    explicit TOnScreenKeeper(QWidget* window) : QObject(window), m_window(window) { window->installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_window && event->type() == QEvent::Show)
            Apply();
        return QObject::eventFilter(watched, event);
    }

private:
    void Apply() {
        const QScreen* screen = m_window->screen();
        if (!screen)
            return;
        const QRect room = screen->availableGeometry();
        QRect frame = m_window->frameGeometry();
        if (room.contains(frame))
            return;
        const QSize over = (frame.size() - room.size()).expandedTo(QSize(0, 0));
        if (over.width() > 0 || over.height() > 0) {
            m_window->resize(m_window->size() - over);
            frame.setSize(frame.size() - over);
        }
        QPoint shift;
        if (frame.right() > room.right())
            shift.setX(room.right() - frame.right());
        if (frame.left() + shift.x() < room.left())
            shift.setX(room.left() - frame.left());
        if (frame.bottom() > room.bottom())
            shift.setY(room.bottom() - frame.bottom());
        if (frame.top() + shift.y() < room.top())
            shift.setY(room.top() - frame.top());
        // pos() and move() of a window are its frame's.
        m_window->move(m_window->pos() + shift);
    }

    QWidget* m_window;
};

} // namespace

void KeepOuterSize(QWidget* window, QSize outer) {
    new TOuterSizeKeeper(window, outer);
}

void FitOnScreen(QWidget* window, QSize preferred) {
    const QWidget* parent = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        window->resize(preferred);
        return;
    }
    QSize room = screen->availableGeometry().size();
    // The window system frames this window as it framed the parent.
    if (parent)
        room -= parent->frameGeometry().size() - parent->size();
    window->resize(preferred.boundedTo(room));
    new TOnScreenKeeper(window);
}

} // namespace vantero
