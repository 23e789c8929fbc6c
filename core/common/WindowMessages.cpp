#include "common/WindowMessages.h"

#include <QCoreApplication>
#include <QHash>
#include <QMutex>

namespace vantero {

namespace {

struct Registry {
    QMutex mutex;
    QHash<TWindowHandle, QObject*> windows;
    TWindowHandle next = 1;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

} // namespace

QEvent::Type TWindowMessageEvent::eventType() {
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

bool PostMessageToWindow(TWindowHandle window, unsigned msg, qintptr wparam, qintptr lparam) {
    if (window == 0)
        return false;
    Registry& r = registry();
    // Held while posting, so the window cannot unregister (and be destroyed) in between.
    QMutexLocker lock(&r.mutex);
    QObject* target = r.windows.value(window);
    if (!target)
        return false;
    QCoreApplication::postEvent(target, new TWindowMessageEvent(msg, wparam, lparam));
    return true;
}

TWindowRegistration::TWindowRegistration(QObject* window) {
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    m_handle = r.next++;
    r.windows.insert(m_handle, window);
}

TWindowRegistration::~TWindowRegistration() {
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    r.windows.remove(m_handle);
}

} // namespace vantero
