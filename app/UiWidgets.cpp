#include "app/UiWidgets.h"

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

} // namespace vantero
