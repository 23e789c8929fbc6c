#pragma once

#include "history/PriceChartData.h"
#include "store/Connection.h"

#include <QAbstractTableModel>
#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QListWidget;
class QTableView;

class QChart;
class QGraphicsSimpleTextItem;
class QChartView;
class QDateTimeAxis;
class QValueAxis;

namespace vantero {

// Texts of the price chart window.
namespace ChartTexts {
inline const QString Caption = QStringLiteral("价格走势 - %1");
inline const QString ShowSales = QStringLiteral("显示销量");
inline const QString Period = QStringLiteral("时间范围：");
inline const QString TimeAxis = QStringLiteral("时间");
inline const QString PriceAxis = QStringLiteral("价格（元）");
inline const QString SalesAxis = QStringLiteral("销量");
inline const QString NoHistory = QStringLiteral("暂无价格记录");
inline const QString Shops = QStringLiteral("店铺（勾选显示）");
inline const QString Hover = QStringLiteral("%1\n价格：%2\n销量：%3\n时间：%4");
inline const QString NoPrice = QStringLiteral("无价格");
} // namespace ChartTexts

// The rows of the visible period as a table: time, shop, price, sales.
class TChartRowsModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void SetRows(QList<THistoryRow> rows);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<THistoryRow> m_rows;
};

// The price history of one own item: the own price and every rival's as step lines over a
// chosen period, sales on a second axis on request, a list of the shops to show or hide, and
// the period's readings as a table.
class TFmPriceChart final : public QDialog {
    Q_OBJECT
public:
    TFmPriceChart(TConnection connection, QString itemId, const QString& itemName, QStringList rivalOrder,
                  QWidget* parent = nullptr);
    ~TFmPriceChart() override;

    // Reads the item's history again and redraws.
    void Reload();
    void SetPeriod(TChartPeriod period);
    TChartPeriod Period() const { return m_period; }
    void SetShowSales(bool show);
    // Draws that shop's line boldly (empty: none); the list selects it.
    void HighlightShop(const QString& shop);

    const TChartData& Data() const { return m_data; }
    QChart* Chart() const { return m_chart; }
    QGraphicsSimpleTextItem* SalesTitle() const { return m_salesTitle; }
    QChartView* ChartView() const { return m_view; }
    QTableView* Table() const { return m_table; }
    QListWidget* ShopList() const { return m_shops; }
    QString ItemID() const { return m_itemId; }
    // The text hovering a line at a moment shows (exposed for tests).
    QString HoverText(int line, qint64 msecs) const;
    // The line under a point of the chart view's viewport, and the one the pointer last hovered.
    TChartHit LineAt(QPoint viewportPos) const;
    int HoveredLine() const { return m_hovered; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Redraw();
    QList<bool> ShownLines() const;
    void ApplyPens();
    void FitTimeTicks();
    void PlaceSalesTitle();
    QColor LineColor(int line) const;

    TConnection m_con;
    QString m_itemId;
    QStringList m_rivalOrder;
    QList<THistoryRow> m_history;
    TChartData m_data;
    TChartPeriod m_period = TChartPeriod::Month;
    bool m_showSales = false;
    QString m_highlight;
    int m_hovered = -1;

    QLabel* lblItem = nullptr;
    QButtonGroup* m_periods = nullptr;
    QCheckBox* chkSales = nullptr;
    QChart* m_chart = nullptr;
    QChartView* m_view = nullptr;
    QDateTimeAxis* m_timeAxis = nullptr;
    QValueAxis* m_priceAxis = nullptr;
    QValueAxis* m_salesAxis = nullptr; // in the chart only while sales are shown
    QGraphicsSimpleTextItem* m_salesTitle = nullptr;
    QListWidget* m_shops = nullptr;
    QTableView* m_table = nullptr;
    TChartRowsModel* m_rows = nullptr;
};

} // namespace vantero
