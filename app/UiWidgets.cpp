#include "app/UiWidgets.h"

#include <QEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTreeWidget>

namespace vantero {

namespace {

class TGridLineDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

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

} // namespace

QTreeWidget* NewRowList(QWidget* parent, const QString& objectName, const QString& accessibleName) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(objectName);
    list->setAccessibleName(accessibleName);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return list;
}

void ShowGridLines(QTreeWidget* list) {
    list->setItemDelegate(new TGridLineDelegate(list));
}

void OnResize(QWidget* widget, std::function<void()> action) {
    new TResizeWatcher(widget, std::move(action));
}

} // namespace vantero
