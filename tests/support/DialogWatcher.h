#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

namespace vantero::test {

// Calls back when a dialog of type T is shown (from the application's event stream, so a dialog
// that closes at once is seen too); the callback runs once the dialog's own loop is running.
template <typename T> class TDialogWatcher final : public QObject {
public:
    explicit TDialogWatcher(std::function<void(T*)> onShown) : m_onShown(std::move(onShown)) {
        qApp->installEventFilter(this);
    }
    ~TDialogWatcher() override { qApp->removeEventFilter(this); }
    int shown = 0; // dialogs of type T shown so far

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* dialog = qobject_cast<T*>(watched)) {
                ++shown;
                QPointer<T> guard(dialog);
                QTimer::singleShot(0, this, [this, guard] {
                    if (guard && guard->isVisible())
                        m_onShown(guard);
                });
            }
        }
        return false;
    }

private:
    std::function<void(T*)> m_onShown;
};

} // namespace vantero::test
