#include "app/UtPriceChart.h"

#include "catalogue/GridData.h"
#include "catalogue/ItemCommands.h"
#include "widgets/UiWindowSize.h"

#include <QButtonGroup>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCursor>
#include <QDateTimeAxis>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QSplitter>
#include <QTableView>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

namespace vantero {

namespace {

const char* const kLineKey = "chartLine";

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
    m_salesAxis->setTitleText(ChartTexts::SalesAxis);
    m_salesAxis->setLabelFormat(QStringLiteral("%d"));
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    connect(m_chart, &QChart::plotAreaChanged, this, [this] { FitTimeTicks(); });
    m_chart->addAxis(m_priceAxis, Qt::AlignLeft);
    m_view = new QChartView(m_chart, horizontal);
    m_view->setObjectName(QStringLiteral("chvPrice"));
    m_view->setAccessibleName(QStringLiteral("价格走势图"));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumSize(500, 300);

    m_shops = new QListWidget(horizontal);
    m_shops->setObjectName(QStringLiteral("lstShops"));
    m_shops->setAccessibleName(ChartTexts::Shops);
    m_shops->setToolTip(ChartTexts::Shops);
    m_shops->setMaximumWidth(220);
    connect(m_shops, &QListWidget::itemChanged, this, [this](QListWidgetItem*) { ApplyPens(); });
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
    Redraw();
}

void TFmPriceChart::SetShowSales(bool show) {
    if (chkSales->isChecked() != show)
        chkSales->setChecked(show); // comes back here through the signal
    if (show == m_showSales)
        return;
    m_showSales = show;
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

    m_timeAxis->setFormat(TimeAxisFormat(m_data.to - m_data.from));
    FitTimeTicks();
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(m_data.from), QDateTime::fromMSecsSinceEpoch(m_data.to));
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

    // Keep the shops' ticks across a redraw.
    QHash<QString, bool> shown;
    for (int i = 0; i < m_shops->count(); ++i)
        shown.insert(m_shops->item(i)->data(Qt::UserRole).toString(), m_shops->item(i)->checkState() == Qt::Checked);
    const QSignalBlocker blocker(m_shops);
    m_shops->clear();

    for (int line = 0; line < m_data.lines.size(); ++line) {
        const TChartLine& chartLine = m_data.lines[line];
        const QColor color = LineColor(line);
        auto addSeries = [&](const QList<QPointF>& points, QValueAxis* axis, bool sales) {
            auto* series = new QLineSeries;
            series->setName(chartLine.shop);
            series->setProperty(kLineKey, line);
            series->setProperty("sales", sales);
            series->replace(points);
            m_chart->addSeries(series);
            series->attachAxis(m_timeAxis);
            series->attachAxis(axis);
            connect(series, &QLineSeries::hovered, this, [this, line](const QPointF& point, bool state) {
                if (state)
                    QToolTip::showText(QCursor::pos(), HoverText(line, qint64(point.x())), m_view);
                else
                    QToolTip::hideText();
            });
        };
        for (const QList<QPointF>& segment : chartLine.priceSegments)
            addSeries(segment, m_priceAxis, false);
        if (m_showSales && !chartLine.salesSteps.isEmpty())
            addSeries(chartLine.salesSteps, m_salesAxis, true);

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
    m_rows->SetRows(m_data.visibleRows);
    m_view->setUpdatesEnabled(true);
}

void TFmPriceChart::ApplyPens() {
    QList<bool> visible;
    for (int i = 0; i < m_shops->count(); ++i)
        visible << (m_shops->item(i)->checkState() == Qt::Checked);
    const QList<QAbstractSeries*> all = m_chart->series();
    for (QAbstractSeries* abstract : all) {
        auto* series = static_cast<QLineSeries*>(abstract);
        const int line = series->property(kLineKey).toInt();
        const bool sales = series->property("sales").toBool();
        const bool own = line < m_data.lines.size() && m_data.lines[line].own;
        const bool highlighted = !m_highlight.isEmpty() && line < m_data.lines.size() &&
                                 m_data.lines[line].shop.compare(m_highlight, Qt::CaseInsensitive) == 0;
        QPen pen(LineColor(line));
        pen.setWidthF(highlighted ? 3.5 : own ? 2.5 : 1.5);
        if (sales)
            pen.setStyle(Qt::DashLine);
        series->setPen(pen);
        series->setVisible(visible.value(line, true));
    }
}

} // namespace vantero
