#pragma once

#include <QSplitter>
#include <QSplitterHandle>
#include <QString>

#include <functional>

class QTreeWidget;
class QWidget;

namespace vantero {

// A flat list of rows that are read, never edited: no tree lines, one whole row selected at a
// time, a cell cut short shows its whole text when pointed at. Named for automation and screen
// readers.
QTreeWidget* NewRowList(QWidget* parent, const QString& objectName, const QString& accessibleName);

// Draws grid lines between the list's cells, both ways. Done by painting, not by a style sheet:
// a style sheet on the items takes over their drawing and loses the selected row's text colours.
void ShowGridLines(QTreeWidget* list);

// Runs action whenever widget changes size.
void OnResize(QWidget* widget, std::function<void()> action);

// A splitter whose bar, clicked without dragging, collapses the last pane and a second click
// brings it back at the size it had; dragging works as usual.
class TCollapsingSplitter final : public QSplitter {
    Q_OBJECT
public:
    explicit TCollapsingSplitter(Qt::Orientation orientation, QWidget* parent = nullptr);
    void toggleLastPane();
    bool lastPaneCollapsed() const;

protected:
    QSplitterHandle* createHandle() override;

private:
    int m_restoreSize = 0;
};

} // namespace vantero
