#include "app/UiWindowSize.h"

#include <QEvent>
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

} // namespace

void KeepOuterSize(QWidget* window, QSize outer) {
    new TOuterSizeKeeper(window, outer);
}

} // namespace vantero
