#include "app/UiWidgets.h"

#include <QTreeWidget>

namespace vantero {

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

} // namespace vantero
