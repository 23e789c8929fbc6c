#include "app/UtPriceChart.h"

#include "catalogue/GridData.h"
#include "catalogue/ItemCommands.h"
#include "widgets/UiWindowSettings.h"
#include "widgets/UiWindowSize.h"

#include <QButtonGroup>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCursor>
#include <QDateTimeAxis>
#include <QFontMetrics>
#include <QGraphicsSimpleTextItem>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QScatterSeries>
#include <QSettings>
#include <QSplitter>
#include <QTableView>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

namespace vantero {

namespace {

const char* const kLineKey = "chartLine";
const char* const kSalesKey = "sales";
const QString kPeriodSetting = QStringLiteral("PriceChart/Period");
const QString kSalesSetting = QStringLiteral("PriceChart/ShowSales");
// How far from a line the pointer may be and still be on it.
constexpr double kHoverPixels = 6;

QString PriceText(const std::optional<double>& price) {
    return price ? FormatPrice(*price) : ChartTexts::NoPrice;
}

} // namespace

void TChartRowsModel::SetRows(QList<THistoryRow> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int TChartRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TChartRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 4;
}

QVariant TChartRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const THistoryRow& row = m_rows[index.row()];
    if (role == Qt::TextAlignmentRole)
        return index.column() >= 2 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return {};
    switch (index.column()) {
    case 0:
        return row.readAt; // the stored form reads the same on every desktop
    case 1:
        return row.isOwn() ? ItemTexts::Own : row.rivalWW;
    case 2:
        return PriceText(row.price);
    case 3:
        return QString::number(row.sellCount);
    }
    return {};
}

QVariant TChartRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QStringList captions = {QStringLiteral("时间"), QStringLiteral("店主"), QStringLiteral("价格"),
                                         QStringLiteral("销量")};
    return captions.value(section);
}

TFmPriceChart::TFmPriceChart(TConnection connection, QString itemId, const QString& itemName, QStringList rivalOrder,
                             QWidget* parent)
    : QDialog(parent), m_con(std::move(connection)), m_itemId(std::move(itemId)), m_rivalOrder(std::move(rivalOrder)) {
    setObjectName(QStringLiteral("FmPriceChart"));
    setWindowTitle(ChartTexts::Caption.arg(itemName));
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    setAttribute(Qt::WA_DeleteOnClose, false);
    FitOnScreen(this, QSize(1100, 720));
    {
        const QSettings settings(WindowSettingsFile(), QSettings::IniFormat);
        const int period = settings.value(kPeriodSetting, int(m_period)).toInt();
        if (period >= int(TChartPeriod::Week) && period <= int(TChartPeriod::All))
            m_period = TChartPeriod(period);
        m_showSales = settings.value(kSalesSetting, false).toBool();
    }

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    lblItem = new QLabel(itemName, this);
    lblItem->setObjectName(QStringLiteral("lblItem"));
    lblItem->setAccessibleName(itemName);
    QFont bold = lblItem->font();
    bold.setBold(true);
    lblItem->setFont(bold);
    top->addWidget(lblItem, 1);
    auto* periodLabel = new QLabel(ChartTexts::Period, this);
    top->addWidget(periodLabel);
    m_periods = new QButtonGroup(this);
    const std::pair<TChartPeriod, const char*> periods[] = {
        {TChartPeriod::Week, "rbWeek"}, {TChartPeriod::Month, "rbMonth"}, {TChartPeriod::All, "rbAll"}};
    for (const auto& [period, name] : periods) {
        auto* button = new QRadioButton(PeriodCaption(period), this);
        button->setObjectName(QString::fromLatin1(name));
        button->setAccessibleName(PeriodCaption(period));
        m_periods->addButton(button, int(period));
        top->addWidget(button);
    }
    m_periods->button(int(m_period))->setChecked(true);
    connect(m_periods, &QButtonGroup::idClicked, this, [this](int id) { SetPeriod(TChartPeriod(id)); });
    chkSales = new QCheckBox(ChartTexts::ShowSales, this);
    chkSales->setObjectName(QStringLiteral("chkSales"));
    chkSales->setAccessibleName(ChartTexts::ShowSales);
    chkSales->setChecked(m_showSales);
    connect(chkSales, &QCheckBox::toggled, this, &TFmPriceChart::SetShowSales);
    top->addSpacing(16);
    top->addWidget(chkSales);
    layout->addLayout(top);

    auto* vertical = new QSplitter(Qt::Vertical, this);
    vertical->setObjectName(QStringLiteral("splChart"));
    auto* horizontal = new QSplitter(Qt::Horizontal, vertical);

    m_chart = new QChart;
    m_chart->legend()->hide(); // the shop list beside the chart is the legend; it scrolls
    m_chart->setMargins(QMargins(4, 4, 16, 4));
    m_timeAxis = new QDateTimeAxis(m_chart);
    m_timeAxis->setTitleText(ChartTexts::TimeAxis);
    m_timeAxis->setTickCount(7);
    m_priceAxis = new QValueAxis(m_chart);
    m_priceAxis->setTitleText(ChartTexts::PriceAxis);
    m_priceAxis->setLabelFormat(QStringLiteral("%.2f"));
    m_salesAxis = new QValueAxis;
    // The sales axis is titled by an upright text above it: the chart turns a right axis's title
    // a quarter clockwise, and two Chinese characters turned that way at the window's font size
    // run into one dark block.
    m_salesTitle = new QGraphicsSimpleTextItem(ChartTexts::SalesAxis, m_chart);
    m_salesTitle->setFont(m_priceAxis->titleFont());
    m_salesTitle->setBrush(palette().color(QPalette::WindowText));
    m_salesTitle->setZValue(10); // above the chart's background
    m_salesTitle->setVisible(false);
    m_salesAxis->setLabelFormat(QStringLiteral("%d"));
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    connect(m_chart, &QChart::plotAreaChanged, this, [this] {
        FitTimeTicks();
        PlaceSalesTitle();
    });
    m_chart->addAxis(m_priceAxis, Qt::AlignLeft);
    m_view = new QChartView(m_chart, horizontal);
    m_view->setObjectName(QStringLiteral("chvPrice"));
    m_view->setAccessibleName(QStringLiteral("价格走势图"));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumSize(500, 300);
    // The pointer picks the nearest line itself: the series' own hover takes whichever is drawn on
    // top, however close another passes.
    m_view->viewport()->setMouseTracking(true);
    m_view->viewport()->installEventFilter(this);

    m_shops = new QListWidget(horizontal);
    m_shops->setObjectName(QStringLiteral("lstShops"));
    m_shops->setAccessibleName(ChartTexts::Shops);
    m_shops->setToolTip(ChartTexts::Shops);
    m_shops->setMaximumWidth(220);
    connect(m_shops, &QListWidget::itemChanged, this, [this](QListWidgetItem*) {
        ApplyPens();
        m_rows->SetRows(ShownRows(m_data, ShownLines()));
    });
    connect(m_shops, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        m_highlight = item ? item->data(Qt::UserRole).toString() : QString();
        ApplyPens();
    });
    horizontal->addWidget(m_view);
    horizontal->addWidget(m_shops);
    horizontal->setStretchFactor(0, 1);

    m_rows = new TChartRowsModel(this);
    m_table = new QTableView(vertical);
    m_table->setObjectName(QStringLiteral("tblRows"));
    m_table->setAccessibleName(QStringLiteral("价格记录"));
    m_table->setModel(m_rows);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(22);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(0, 170);
    m_table->setColumnWidth(1, 160);
    m_table->setColumnWidth(2, 90);
    vertical->addWidget(horizontal);
    vertical->addWidget(m_table);
    vertical->setStretchFactor(0, 3);
    vertical->setStretchFactor(1, 1);
    layout->addWidget(vertical, 1);

    Reload();
}

TFmPriceChart::~TFmPriceChart() {
    // The sales axis belongs to the chart only while it is shown.
    if (!m_chart->axes().contains(m_salesAxis))
        delete m_salesAxis;
}

void TFmPriceChart::Reload() {
    m_history = ItemHistory(m_con, m_itemId);
    Redraw();
}

void TFmPriceChart::SetPeriod(TChartPeriod period) {
    if (QAbstractButton* button = m_periods->button(int(period)))
        button->setChecked(true);
    if (period == m_period)
        return;
    m_period = period;
    QSettings(WindowSettingsFile(), QSettings::IniFormat).setValue(kPeriodSetting, int(period));
    Redraw();
}

void TFmPriceChart::SetShowSales(bool show) {
    if (chkSales->isChecked() != show)
        chkSales->setChecked(show); // comes back here through the signal
    if (show == m_showSales)
        return;
    m_showSales = show;
    QSettings(WindowSettingsFile(), QSettings::IniFormat).setValue(kSalesSetting, show);
    Redraw();
}

void TFmPriceChart::HighlightShop(const QString& shop) {
    for (int i = 0; i < m_shops->count(); ++i) {
        if (m_shops->item(i)->data(Qt::UserRole).toString().compare(shop.trimmed(), Qt::CaseInsensitive) == 0) {
            m_shops->setCurrentRow(i);
            return;
        }
    }
    m_highlight.clear();
    ApplyPens();
}

QColor TFmPriceChart::LineColor(int line) const {
    if (line < m_data.lines.size() && m_data.lines[line].own)
        return QColor(0x20, 0x20, 0x20);
    // Ten well-told-apart colours first, then hues a golden angle apart.
    static const QRgb first[] = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd,
                                 0x8c564b, 0xe377c2, 0x17becf, 0xbcbd22, 0x7f7f7f};
    const int rival = line - ((!m_data.lines.isEmpty() && m_data.lines.first().own) ? 1 : 0);
    if (rival >= 0 && rival < 10)
        return QColor(first[rival]);
    return QColor::fromHsv((rival * 137) % 360, 200, 190);
}

QString TFmPriceChart::HoverText(int line, qint64 msecs) const {
    if (line < 0 || line >= m_data.lines.size())
        return {};
    const TChartLine& chartLine = m_data.lines[line];
    const THistoryRow* row = RowInForce(chartLine, msecs);
    if (!row)
        return {};
    return ChartTexts::Hover.arg(chartLine.shop, PriceText(row->price), QString::number(row->sellCount), row->readAt);
}

QList<bool> TFmPriceChart::ShownLines() const {
    QList<bool> shown;
    for (int i = 0; i < m_shops->count(); ++i)
        shown << (m_shops->item(i)->checkState() == Qt::Checked);
    return shown;
}

TChartHit TFmPriceChart::LineAt(QPoint viewportPos) const {
    const QPointF scenePos = m_view->mapToScene(viewportPos);
    const QPointF chartPos = m_chart->mapFromScene(scenePos);
    const QRectF plot = m_chart->plotArea();
    if (!plot.adjusted(-kHoverPixels, -kHoverPixels, kHoverPixels, kHoverPixels).contains(chartPos))
        return {};
    auto scaleOf = [&](const QValueAxis* axis) {
        return TChartScale{plot, double(m_timeAxis->min().toMSecsSinceEpoch()),
                           double(m_timeAxis->max().toMSecsSinceEpoch()), axis->min(), axis->max()};
    };
    std::optional<TChartScale> sales;
    if (m_showSales)
        sales = scaleOf(m_salesAxis);
    return NearestLine(m_data, ShownLines(), scaleOf(m_priceAxis), sales, chartPos, kHoverPixels);
}

bool TFmPriceChart::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view->viewport()) {
        if (event->type() == QEvent::MouseMove) {
            const QPoint pos = static_cast<QMouseEvent*>(event)->position().toPoint();
            const TChartHit hit = LineAt(pos);
            m_hovered = hit.line;
            if (hit.line >= 0) {
                const QPointF value = m_chart->mapToValue(m_chart->mapFromScene(m_view->mapToScene(pos)));
                QToolTip::showText(m_view->viewport()->mapToGlobal(pos), HoverText(hit.line, qint64(value.x())),
                                   m_view->viewport());
            } else {
                QToolTip::hideText();
            }
        } else if (event->type() == QEvent::Leave) {
            m_hovered = -1;
            QToolTip::hideText();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFmPriceChart::PlaceSalesTitle() {
    const QRectF plot = m_chart->plotArea();
    const QRectF text = m_salesTitle->boundingRect();
    // Above the axis's labels, right-aligned to the chart's edge so that a wide number fits under it.
    const qreal right = m_chart->rect().right() - m_chart->margins().right();
    m_salesTitle->setPos(std::max(plot.right(), right - text.width()), std::max(0.0, plot.top() - text.height() - 8));
}

void TFmPriceChart::FitTimeTicks() {
    // As many time labels as fit side by side: more would be cut to "…" on a small window.
    const QFontMetrics metrics(m_timeAxis->labelsFont());
    const int label =
        metrics.horizontalAdvance(QDateTime(QDate(2026, 12, 31), QTime(23, 59)).toString(m_timeAxis->format())) + 16;
    const int ticks = std::clamp(int(m_chart->plotArea().width()) / label + 1, 2, 7);
    if (ticks != m_timeAxis->tickCount())
        m_timeAxis->setTickCount(ticks);
}

void TFmPriceChart::Redraw() {
    m_data = BuildChartData(m_history, m_rivalOrder, m_period, QDateTime::currentDateTime());
    m_view->setUpdatesEnabled(false);
    m_chart->removeAllSeries();

    m_timeAxis->setFormat(TimeAxisFormat(m_data.axisTo - m_data.from));
    FitTimeTicks();
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(m_data.from), QDateTime::fromMSecsSinceEpoch(m_data.axisTo));
    double low = m_data.hasPrices ? m_data.minPrice : 0;
    double high = m_data.hasPrices ? m_data.maxPrice : 1;
    const double pad = std::max((high - low) * 0.08, high * 0.02 + 0.01);
    m_priceAxis->setRange(std::max(0.0, low - pad), high + pad);
    m_priceAxis->applyNiceNumbers();
    m_salesAxis->setRange(0, std::max<double>(10, double(m_data.maxSales) * 1.1));
    m_salesAxis->applyNiceNumbers();
    // Added and removed rather than hidden, so the plot gives its labels room.
    const bool salesAxisShown = m_chart->axes(Qt::Vertical).contains(m_salesAxis);
    if (m_showSales && !salesAxisShown) {
        m_chart->addAxis(m_salesAxis, Qt::AlignRight);
    } else if (!m_showSales && salesAxisShown) {
        m_chart->removeAxis(m_salesAxis);
    }
    m_chart->setTitle(m_data.lines.isEmpty() ? ChartTexts::NoHistory : QString());
    // Room above the plot for the sales title.
    m_chart->setMargins(QMargins(4, m_showSales ? int(m_salesTitle->boundingRect().height()) + 4 : 4, 16, 4));
    m_salesTitle->setVisible(m_showSales);
    PlaceSalesTitle();

    // Keep the shops' ticks across a redraw.
    QHash<QString, bool> shown;
    for (int i = 0; i < m_shops->count(); ++i)
        shown.insert(m_shops->item(i)->data(Qt::UserRole).toString(), m_shops->item(i)->checkState() == Qt::Checked);
    const QSignalBlocker blocker(m_shops);
    m_shops->clear();

    for (int line = 0; line < m_data.lines.size(); ++line) {
        const TChartLine& chartLine = m_data.lines[line];
        const QColor color = LineColor(line);
        auto attach = [&](QXYSeries* series, QValueAxis* axis, bool sales) {
            series->setName(chartLine.shop);
            series->setProperty(kLineKey, line);
            series->setProperty(kSalesKey, sales);
            m_chart->addSeries(series);
            series->attachAxis(m_timeAxis);
            series->attachAxis(axis);
        };
        for (const QList<QPointF>& segment : chartLine.priceSegments) {
            auto* series = new QLineSeries;
            series->replace(segment);
            attach(series, m_priceAxis, false);
        }
        if (!chartLine.priceMarks.isEmpty()) {
            auto* marks = new QScatterSeries;
            marks->setMarkerShape(QScatterSeries::MarkerShapeCircle);
            marks->setMarkerSize(7);
            marks->replace(chartLine.priceMarks);
            attach(marks, m_priceAxis, false);
        }
        if (m_showSales && !chartLine.salesSteps.isEmpty()) {
            auto* series = new QLineSeries;
            series->replace(chartLine.salesSteps);
            attach(series, m_salesAxis, true);
            if (!chartLine.salesMarks.isEmpty()) {
                auto* marks = new QScatterSeries;
                marks->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
                marks->setMarkerSize(6);
                marks->replace(chartLine.salesMarks);
                attach(marks, m_salesAxis, true);
            }
        }

        QPixmap swatch(14, 14);
        swatch.fill(color);
        auto* item = new QListWidgetItem(QIcon(swatch), chartLine.shop, m_shops);
        item->setData(Qt::UserRole, chartLine.shop);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(shown.value(chartLine.shop, true) ? Qt::Checked : Qt::Unchecked);
        if (chartLine.shop.compare(m_highlight, Qt::CaseInsensitive) == 0)
            m_shops->setCurrentItem(item);
    }
    ApplyPens();
    m_rows->SetRows(ShownRows(m_data, ShownLines()));
    m_view->setUpdatesEnabled(true);
}

void TFmPriceChart::ApplyPens() {
    const QList<bool> visible = ShownLines();
    const QList<QAbstractSeries*> all = m_chart->series();
    for (QAbstractSeries* abstract : all) {
        auto* series = static_cast<QXYSeries*>(abstract);
        const int line = series->property(kLineKey).toInt();
        const bool sales = series->property(kSalesKey).toBool();
        const bool own = line < m_data.lines.size() && m_data.lines[line].own;
        const bool highlighted = !m_highlight.isEmpty() && line < m_data.lines.size() &&
                                 m_data.lines[line].shop.compare(m_highlight, Qt::CaseInsensitive) == 0;
        const QColor color = LineColor(line);
        if (auto* marks = qobject_cast<QScatterSeries*>(series)) {
            marks->setColor(sales ? QColor(Qt::white) : color);
            marks->setBorderColor(color);
            marks->setMarkerSize(highlighted ? 10 : sales ? 6 : 7);
        } else {
            QPen pen(color);
            pen.setWidthF(highlighted ? 3.5 : own ? 2.5 : 1.5);
            if (sales)
                pen.setStyle(Qt::DashLine);
            series->setPen(pen);
        }
        series->setVisible(visible.value(line, true));
    }
}

} // namespace vantero
