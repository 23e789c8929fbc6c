#pragma once

#include "store/PageOutcomes.h"

#include <QDateTime>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QStringList>

#include <optional>

namespace vantero {

// The periods the price chart offers.
enum class TChartPeriod { Week, Month, All };
QString PeriodCaption(TChartPeriod period); // "7 天", "30 天", "全部"

// One shop's line in the chart: its price as steps (a price holds until the next change; a
// reading without a price breaks the line), its sales the same way, and its history rows.
struct TChartLine {
    QString shop; // "自己" or the rival's account
    bool own = false;
    QList<QList<QPointF>> priceSegments; // x: milliseconds since the epoch, y: price
    QList<QPointF> salesSteps;
    QList<THistoryRow> rows; // every row of the page, oldest first
    QList<qint64> times;     // each row's reading time, milliseconds since the epoch
    // The readings drawn as points: every one of the visible span while there are few, else only
    // the prices whose line is too short to see (a price that failed again soon after).
    QList<QPointF> priceMarks;
    QList<QPointF> salesMarks;
};

struct TChartData {
    // The time axis, in milliseconds since the epoch: from a little before the first reading of
    // the period (the period's start when it holds none) to now.
    qint64 from = 0;
    qint64 to = 0;                  // now, or the newest reading if it is later; every line ends here
    qint64 axisTo = 0;              // a little after to, so that the newest readings' points are whole
    qint64 periodStart = 0;         // where the period begins; rows before it are not visible
    QList<TChartLine> lines;        // the own page first, then the rivals in the given order
    QList<THistoryRow> visibleRows; // the rows read within the period, newest first
    bool hasPrices = false;
    double minPrice = 0;
    double maxPrice = 0;
    qint64 maxSales = 0;
};

// The chart of an own item's history (as ItemHistory gives it) over a period ending at now.
// Rivals come in rivalOrder (the shops' order; matched without regard to case and blanks),
// shops not in it after them by name.
TChartData BuildChartData(const QList<THistoryRow>& history, const QStringList& rivalOrder, TChartPeriod period,
                          const QDateTime& now);

// The step shape of one page's rows (oldest first, times in milliseconds beside them) between
// from and to: the price in force at from starts the line, each change steps at its time, the
// last price holds until to.
QList<QList<QPointF>> PriceSteps(const QList<THistoryRow>& rows, const QList<qint64>& times, qint64 from, qint64 to);
QList<QPointF> SalesSteps(const QList<THistoryRow>& rows, const QList<qint64>& times, qint64 from, qint64 to);

// How many readings of one line in the visible span are each drawn as a point.
inline constexpr int kMarkedReadings = 30;

// The rows of the visible period whose shops are shown (shown[i] for data.lines[i]; missing means
// shown), newest first.
QList<THistoryRow> ShownRows(const TChartData& data, const QList<bool>& shown);

// Maps an axis's values to pixels in a plot area: x in milliseconds since the epoch, y upwards.
struct TChartScale {
    QRectF plot;
    double xMin = 0;
    double xMax = 1;
    double yMin = 0;
    double yMax = 1;
    QPointF ToPixels(QPointF value) const;
};

// The line a pointer at cursor (pixels) is on: the shown line whose drawn shape passes nearest,
// if within tolerance pixels. Sales lines count only when a sales scale is given.
struct TChartHit {
    int line = -1;
    bool sales = false;
};
TChartHit NearestLine(const TChartData& data, const QList<bool>& shown, const TChartScale& price,
                      const std::optional<TChartScale>& sales, QPointF cursor, double tolerance);

// The row in force at a moment: the last one read at or before it; null before the first.
const THistoryRow* RowInForce(const TChartLine& line, qint64 msecs);

// The time axis labels for a visible span: hours for a day or two, days up to two months,
// months beyond.
QString TimeAxisFormat(qint64 spanMsecs);

} // namespace vantero
