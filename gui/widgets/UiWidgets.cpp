#include "widgets/UiWidgets.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QTreeWidget>

namespace vantero {

namespace {

// A cell whose text is cut to "…" shows it whole when pointed at, unless it has a tip of its own.
class TCutTextDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event && view && event->type() == QEvent::ToolTip && index.isValid() &&
            index.data(Qt::ToolTipRole).isNull()) {
            const QString text = index.data(Qt::DisplayRole).toString();
            if (!text.isEmpty() && sizeHint(option, index).width() > option.rect.width()) {
                QToolTip::showText(event->globalPos(), text, view, option.rect);
                return true;
            }
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
};

class TGridLineDelegate final : public TCutTextDelegate {
public:
    using TCutTextDelegate::TCutTextDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Mid));
        const QRect r = option.rect;
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->restore();
    }
};

class TResizeWatcher final : public QObject {
public:
    TResizeWatcher(QWidget* widget, std::function<void()> action) : QObject(widget), m_action(std::move(action)) {
        widget->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize)
            m_action();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_action;
};

class TCollapsingHandle final : public QSplitterHandle {
public:
    TCollapsingHandle(Qt::Orientation orientation, TCollapsingSplitter* parent)
        : QSplitterHandle(orientation, parent), m_splitter(parent) {}

protected:
    void mousePressEvent(QMouseEvent* event) override {
        m_pressAt = event->globalPosition().toPoint();
        QSplitterHandle::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        QSplitterHandle::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton &&
            (event->globalPosition().toPoint() - m_pressAt).manhattanLength() < QApplication::startDragDistance())
            m_splitter->toggleLastPane();
    }

private:
    TCollapsingSplitter* m_splitter;
    QPoint m_pressAt;
};

} // namespace

TCollapsingSplitter::TCollapsingSplitter(Qt::Orientation orientation, QWidget* parent)
    : QSplitter(orientation, parent) {}

QSplitterHandle* TCollapsingSplitter::createHandle() {
    return new TCollapsingHandle(orientation(), this);
}

bool TCollapsingSplitter::lastPaneCollapsed() const {
    const QList<int> panes = sizes();
    return !panes.isEmpty() && panes.last() == 0;
}

void TCollapsingSplitter::toggleLastPane() {
    QList<int> panes = sizes();
    if (panes.size() < 2)
        return;
    const int total = panes[panes.size() - 2] + panes.last();
    if (panes.last() > 0) {
        m_restoreSize = panes.last();
        panes.last() = 0;
    } else {
        const QSize hint = widget(count() - 1)->sizeHint();
        const int wanted = m_restoreSize > 0               ? m_restoreSize
                           : orientation() == Qt::Vertical ? hint.height()
                                                           : hint.width();
        panes.last() = std::min(wanted, total);
    }
    panes[panes.size() - 2] = total - panes.last();
    setSizes(panes);
}

QTreeWidget* NewRowList(QWidget* parent, const QString& objectName, const QString& accessibleName) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(objectName);
    list->setAccessibleName(accessibleName);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setItemDelegate(new TCutTextDelegate(list));
    return list;
}

void ShowGridLines(QTreeWidget* list) {
    list->setItemDelegate(new TGridLineDelegate(list));
}

void OnResize(QWidget* widget, std::function<void()> action) {
    new TResizeWatcher(widget, std::move(action));
}

} // namespace vantero
