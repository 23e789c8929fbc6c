#pragma once

#include "catalogue/GridData.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QPalette>

namespace vantero {

// The palette colour that stands for a colour of the cell rules.
QColor CellColor(TCellColor color, const QPalette& palette);

// The comparison grid as a table model over TGridData: DisplayRole serves the cell texts, the
// colour rules come through ForegroundRole, BackgroundRole and FontRole, and the header tells
// each column's band so the views can draw the band row. A cell whose page's last attempt failed
// is drawn grey and italic with a small mark, and its tooltip says why (StaleRole tells it).
class TGridModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Role {
        BandRole = Qt::UserRole + 1,
        BandCaptionRole,
        BandFixedRightRole,
        ColumnWidthRole,
        // Cells: whether the cell shows its page's last good values after a failed attempt.
        StaleRole
    };

    explicit TGridModel(TGridData& data, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    TGridData& grid() { return m_data; }

    // Bracket a change of layout or of all rows.
    void beginRebuild() { beginResetModel(); }
    void endRebuild() { endResetModel(); }
    // One row's cells changed.
    void rowChanged(int row);
    void removeGridRow(int row);

private:
    TGridData& m_data;
};

} // namespace vantero
