#pragma once

#include "store/PageOutcomes.h"

#include <QDateTime>
#include <QList>
#include <QPointF>
#include <QStringList>

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
};

struct TChartData {
    qint64 from = 0; // the visible period, in milliseconds since the epoch
    qint64 to = 0;
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

// The row in force at a moment: the last one read at or before it; null before the first.
const THistoryRow* RowInForce(const TChartLine& line, qint64 msecs);

// The time axis labels for a visible span: hours for a day or two, days up to two months,
// months beyond.
QString TimeAxisFormat(qint64 spanMsecs);

} // namespace vantero
