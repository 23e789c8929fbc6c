#include "widgets/UiGridModel.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace vantero {

QColor CellColor(TCellColor color, const QPalette& palette) {
    switch (color) {
    case TCellColor::ButtonFace:
        return palette.color(QPalette::Button);
    case TCellColor::InfoBackground:
        return palette.color(QPalette::ToolTipBase);
    case TCellColor::InactiveCaptionText:
        // Qt has no role for it; a pale blue of the same purpose keeps blue prices legible.
        return QColor(0xDE, 0xE8, 0xF8);
    case TCellColor::Green:
        return QColor(0x00, 0x80, 0x00);
    case TCellColor::Blue:
        return QColor(0x00, 0x00, 0xFF);
    case TCellColor::Purple:
        return QColor(0x80, 0x00, 0x80);
    case TCellColor::Red:
        return QColor(0xFF, 0x00, 0x00);
    case TCellColor::MoneyGreen:
        return QColor(0xC0, 0xDC, 0xC0);
    case TCellColor::Unchanged:
        break;
    }
    return {};
}

namespace {

const QColor kStaleText(0x80, 0x80, 0x80);

// The small mark of a stale cell: an amber dot.
QPixmap StaleMark() {
    static const QPixmap mark = [] {
        QPixmap pixmap(8, 8);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xE0, 0x90, 0x00));
        painter.drawEllipse(1, 1, 6, 6);
        return pixmap;
    }();
    return mark;
}

} // namespace

TGridModel::TGridModel(TGridData& data, QObject* parent) : QAbstractTableModel(parent), m_data(data) {}

int TGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_data.rowCount();
}

int TGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_data.columnCount();
}

QVariant TGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_data.rowCount() || index.column() >= m_data.columnCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return m_data.cell(index.row(), index.column());
    case Qt::ToolTipRole: {
        const QString text = m_data.cell(index.row(), index.column());
        if (!m_data.IsStale(index.row(), index.column()))
            return text;
        const QString why = m_data.PageStatus(index.row(), m_data.columns()[index.column()].band)->StaleText();
        return text.isEmpty() ? why : text + u'\n' + why;
    }
    case StaleRole:
        return m_data.IsStale(index.row(), index.column());
    case Qt::DecorationRole: {
        // One mark per stale page, on its band's first cell; the own page's goes in band 0 only,
        // the own band's narrow price column keeps its room for the number.
        const int band = m_data.columns()[index.column()].band;
        if (band != m_data.rivalCount() + 1 && m_data.bands()[band].firstColumn == index.column() &&
            m_data.IsStale(index.row(), index.column()))
            return StaleMark();
        return {};
    }
    case Qt::TextAlignmentRole:
        return index.column() == 1 ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::ForegroundRole:
    case Qt::BackgroundRole:
    case Qt::FontRole: {
        const TCellStyle style =
            CellStyleFor(index.column(), m_data.columnCount() - 1, m_data.cell(index.row(), index.column()));
        const bool stale = m_data.IsStale(index.row(), index.column());
        if (role == Qt::FontRole) {
            QFont font;
            font.setBold(style.bold);
            font.setItalic(stale);
            return font;
        }
        if (stale && role == Qt::ForegroundRole)
            return kStaleText;
        const TCellColor color = role == Qt::ForegroundRole ? style.font : style.background;
        if (color == TCellColor::Unchanged)
            return {};
        return CellColor(color, QPalette());
    }
    default:
        return {};
    }
}

QVariant TGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_data.columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    const TGridColumn& column = m_data.columns()[section];
    const TGridBand& band = m_data.bands()[column.band];
    switch (role) {
    case Qt::DisplayRole:
        return column.caption;
    case Qt::AccessibleTextRole:
        // The band caption is only painted; screen readers get it with the column's caption.
        return band.caption.isEmpty() ? column.caption : band.caption + u' ' + column.caption;
    case Qt::AccessibleDescriptionRole:
        return band.caption;
    case BandRole:
        return column.band;
    case BandCaptionRole:
        return band.caption;
    case BandFixedRightRole:
        return band.fixedRight;
    case ColumnWidthRole:
        return column.width;
    default:
        return {};
    }
}

Qt::ItemFlags TGridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void TGridModel::rowChanged(int row) {
    if (row >= 0 && row < m_data.rowCount())
        emit dataChanged(index(row, 0), index(row, m_data.columnCount() - 1));
}

void TGridModel::removeGridRow(int row) {
    if (row < 0 || row >= m_data.rowCount())
        return;
    beginRemoveRows({}, row, row);
    m_data.RemoveRow(row);
    endRemoveRows();
}

} // namespace vantero
