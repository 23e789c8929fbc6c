#pragma once

#include <QString>

class QTreeWidget;
class QWidget;

namespace vantero {

// A flat list of rows that are read, never edited: no tree lines, one whole row selected at a
// time. Named for automation and screen readers.
QTreeWidget* NewRowList(QWidget* parent, const QString& objectName, const QString& accessibleName);

} // namespace vantero
