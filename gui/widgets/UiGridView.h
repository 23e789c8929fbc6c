#pragma once

#include <QHeaderView>
#include <QTableView>
#include <QWidget>

class QGridLayout;
class QItemSelectionModel;

namespace vantero {

class TGridModel;

// Column header with a band row above the captions; each band's caption is drawn centred across
// the band's columns. Band membership comes from the model's header roles.
class TBandedHeader final : public QHeaderView {
    Q_OBJECT
public:
    explicit TBandedHeader(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    bool viewportEvent(QEvent* event) override;
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    int bandOf(int logicalIndex) const;
};

// One of the three side-by-side parts of the grid.
class TGridPartView final : public QTableView {
    Q_OBJECT
public:
    explicit TGridPartView(QWidget* parent = nullptr);
};

// The comparison grid: the first band fixed at the left, the own band fixed at the right, the
// rival bands scrolling horizontally between them. The three parts share one model and one
// selection, and scroll together vertically.
class TGridView final : public QWidget {
    Q_OBJECT
public:
    explicit TGridView(QWidget* parent = nullptr);
    void setModel(TGridModel* model);

    // Re-applies the column split and widths after the model's layout changed.
    void applyLayout();

    int currentRow() const;
    void setCurrentRow(int row);
    QItemSelectionModel* selectionModel() const { return m_selection; }
    TGridPartView* leftPart() const { return m_left; }
    TGridPartView* middlePart() const { return m_middle; }
    TGridPartView* rightPart() const { return m_right; }

signals:
    void currentRowChanged(int row);
    void rowClicked(int row);

private:
    void fitFixedPart(TGridPartView* view);

    QGridLayout* m_layout;
    TGridModel* m_model = nullptr;
    QItemSelectionModel* m_selection = nullptr;
    TGridPartView* m_left;
    TGridPartView* m_middle;
    TGridPartView* m_right;
};

} // namespace vantero
