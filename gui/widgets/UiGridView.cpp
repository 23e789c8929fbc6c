#include "widgets/UiGridView.h"

#include "widgets/UiGridModel.h"

#include <QGridLayout>
#include <QHelpEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace vantero {

namespace {

// The cell rules hold for selected cells too, so selection is shown as a frame around the
// focused row instead of the style's highlight fill.
class TGridDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem plain(option);
        const bool selected = plain.state & QStyle::State_Selected;
        plain.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
        QStyledItemDelegate::paint(painter, plain, index);
        if (selected) {
            // A frame around the whole row: top and bottom in every cell, the sides at the row's
            // first and last cells.
            painter->save();
            QPen pen(option.palette.color(QPalette::Highlight));
            pen.setWidth(2);
            painter->setPen(pen);
            const QRect r = option.rect.adjusted(1, 1, -1, -1);
            painter->drawLine(r.topLeft(), r.topRight());
            painter->drawLine(r.bottomLeft(), r.bottomRight());
            if (index.column() == 0)
                painter->drawLine(r.topLeft(), r.bottomLeft());
            if (index.model() && index.column() == index.model()->columnCount() - 1)
                painter->drawLine(r.topRight(), r.bottomRight());
            painter->restore();
        }
    }
};

} // namespace

TBandedHeader::TBandedHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(false);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignCenter);
}

QSize TBandedHeader::sizeHint() const {
    QSize size = QHeaderView::sizeHint();
    const int row = fontMetrics().height() + 10;
    size.setHeight(2 * row);
    return size;
}

bool TBandedHeader::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip && model()) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const int logical = logicalIndexAt(help->pos());
        if (logical >= 0 && help->pos().y() < height() / 2) {
            const QString caption =
                model()->headerData(logical, Qt::Horizontal, TGridModel::BandCaptionRole).toString();
            QFont bold = font();
            bold.setBold(true);
            int width = 0;
            const int band = bandOf(logical);
            for (int i = 0; i < count(); ++i) {
                if (bandOf(i) == band && !isSectionHidden(i))
                    width += sectionSize(i);
            }
            if (QFontMetrics(bold).horizontalAdvance(caption) > width - 8) {
                QToolTip::showText(help->globalPos(), caption, this);
                return true;
            }
        }
    }
    return QHeaderView::viewportEvent(event);
}

int TBandedHeader::bandOf(int logicalIndex) const {
    if (!model())
        return -1;
    const QVariant band = model()->headerData(logicalIndex, Qt::Horizontal, TGridModel::BandRole);
    return band.isValid() ? band.toInt() : -1;
}

void TBandedHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    const int half = rect.height() / 2;
    const QRect columnRect(rect.left(), rect.top() + half, rect.width(), rect.height() - half);

    // The band cell spans the visible sections of the same band.
    const int band = bandOf(logicalIndex);
    int first = logicalIndex;
    int last = logicalIndex;
    while (first > 0 && bandOf(first - 1) == band)
        --first;
    while (last + 1 < count() && bandOf(last + 1) == band)
        ++last;
    int left = rect.left();
    int right = rect.right();
    for (int i = first; i <= last; ++i) {
        if (isSectionHidden(i))
            continue;
        const int pos = sectionViewportPosition(i);
        left = std::min(left, pos);
        right = std::max(right, pos + sectionSize(i) - 1);
    }
    const QRect bandRect(left, rect.top(), right - left + 1, half);

    QStyleOptionHeader option;
    initStyleOption(&option);
    option.state |= QStyle::State_Enabled;
    option.textAlignment = Qt::AlignCenter;
    option.position = QStyleOptionHeader::Middle;

    painter->save();
    painter->setClipRect(rect.left(), rect.top(), rect.width(), half);
    option.rect = bandRect;
    QFont bold = painter->font();
    bold.setBold(true);
    painter->setFont(bold);
    // A caption longer than its band ends in "…"; the tool tip has it whole.
    const QString caption = model()->headerData(logicalIndex, Qt::Horizontal, TGridModel::BandCaptionRole).toString();
    option.text = QFontMetrics(bold).elidedText(caption, Qt::ElideRight, std::max(0, bandRect.width() - 8));
    style()->drawControl(QStyle::CE_Header, &option, painter, this);
    painter->restore();

    option.rect = columnRect;
    option.text = model()->headerData(logicalIndex, Qt::Horizontal, Qt::DisplayRole).toString();
    style()->drawControl(QStyle::CE_Header, &option, painter, this);
}

TGridPartView::TGridPartView(QWidget* parent) : QTableView(parent) {
    setHorizontalHeader(new TBandedHeader(this));
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setItemDelegate(new TGridDelegate(this));
    // Rows are the grid's unit: Tab leaves the grid for the next control instead of walking
    // through its cells.
    setTabKeyNavigation(false);
}

TGridView::TGridView(QWidget* parent)
    : QWidget(parent), m_left(new TGridPartView(this)), m_middle(new TGridPartView(this)),
      m_right(new TGridPartView(this)) {
    // The middle part's horizontal scroll bar takes height from its rows' viewport; the fixed
    // parts stop the same height above the bottom, so all three viewports are equally high and
    // their rows line up at every scroll position, the last one included. (A bottom viewport
    // margin would not do: the table view resets its margins to make room for its header.)
    m_layout = new QGridLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_layout->addWidget(m_left, 0, 0);
    m_layout->addWidget(m_middle, 0, 1, 2, 1);
    m_layout->addWidget(m_right, 0, 2);
    m_layout->setColumnStretch(1, 1);
    m_layout->setRowStretch(0, 1);
    m_left->setAccessibleName(QStringLiteral("宝贝列表"));
    m_middle->setAccessibleName(QStringLiteral("同行价格"));
    m_right->setAccessibleName(QStringLiteral("自己的价格"));

    for (TGridPartView* view : {m_left, m_right}) {
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }
    // One stop in the Tab order: the name part; the others follow the shared selection.
    m_middle->setFocusPolicy(Qt::ClickFocus);
    m_right->setFocusPolicy(Qt::ClickFocus);
    m_right->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_middle->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_middle->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_layout->setRowMinimumHeight(1, m_middle->horizontalScrollBar()->sizeHint().height());

    const TGridPartView* parts[] = {m_left, m_middle, m_right};
    for (const TGridPartView* from : parts) {
        for (const TGridPartView* to : parts) {
            if (from != to)
                connect(from->verticalScrollBar(), &QScrollBar::valueChanged, to->verticalScrollBar(),
                        &QScrollBar::setValue);
        }
        connect(from, &QTableView::clicked, this, [this](const QModelIndex& index) { emit rowClicked(index.row()); });
    }
}

void TGridView::setModel(TGridModel* model) {
    m_model = model;
    m_left->setModel(model);
    m_middle->setModel(model);
    m_right->setModel(model);
    m_selection = m_left->selectionModel();
    m_middle->setSelectionModel(m_selection);
    m_right->setSelectionModel(m_selection);
    connect(m_selection, &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { emit currentRowChanged(current.isValid() ? current.row() : -1); });
    connect(model, &QAbstractItemModel::modelReset, this, &TGridView::applyLayout);
    applyLayout();
}

void TGridView::applyLayout() {
    if (!m_model)
        return;
    const TGridData& grid = m_model->grid();
    const int columns = grid.columnCount();
    const int firstOwn = columns - 2;
    for (int c = 0; c < columns; ++c) {
        const int width = grid.columns()[c].width;
        m_left->setColumnHidden(c, c >= 2);
        m_middle->setColumnHidden(c, c < 2 || c >= firstOwn);
        m_right->setColumnHidden(c, c < firstOwn);
        for (TGridPartView* view : {m_left, m_middle, m_right})
            view->setColumnWidth(c, width);
    }
    // The middle part stays even without rivals: it takes up the free width, so band 0 keeps to
    // the left edge and the own band to the right one.
    fitFixedPart(m_left);
    fitFixedPart(m_right);
}

void TGridView::fitFixedPart(TGridPartView* view) {
    int width = view->frameWidth() * 2;
    for (int c = 0; c < (m_model ? m_model->columnCount() : 0); ++c) {
        if (!view->isColumnHidden(c))
            width += view->columnWidth(c);
    }
    if (view->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn)
        width += view->verticalScrollBar()->sizeHint().width();
    view->setFixedWidth(width);
}

int TGridView::currentRow() const {
    if (!m_selection)
        return -1;
    const QModelIndex current = m_selection->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TGridView::setCurrentRow(int row) {
    if (!m_selection || !m_model)
        return;
    if (row < 0 || row >= m_model->rowCount()) {
        m_selection->clear();
        return;
    }
    const QModelIndex index = m_model->index(row, 0);
    m_selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

} // namespace vantero
