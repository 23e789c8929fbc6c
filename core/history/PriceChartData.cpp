#include "history/PriceChartData.h"

#include "catalogue/ItemCommands.h"
#include "common/TextHelpers.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace vantero {

namespace {

constexpr qint64 kHour = 3600 * 1000;
constexpr qint64 kDay = 24 * kHour;
constexpr qint64 kMinute = 60 * 1000;
// The shortest time axis: a single fresh reading still gets readable labels around it.
constexpr qint64 kMinSpan = 15 * kMinute;

// The reading time of a stored date-time in milliseconds since the epoch, -1 when unreadable.
// A chart reads thousands; converting each through the time zone costs more than the rest of
// the chart, so the zone's offset is looked up once per hour of the local clock.
class TTimeReader {
public:
    qint64 Msecs(const QString& text) {
        if (text.size() == 19 && text[4] == u'-' && text[7] == u'-' && text[10] == u' ' && text[13] == u':' &&
            text[16] == u':') {
            auto number = [&text](int from, int length) {
                int value = 0;
                for (int i = from; i < from + length; ++i) {
                    const QChar c = text[i];
                    if (c < u'0' || c > u'9')
                        return -1;
                    value = value * 10 + (c.unicode() - u'0');
                }
                return value;
            };
            const QDate date(number(0, 4), number(5, 2), number(8, 2));
            const int hour = number(11, 2);
            const int minute = number(14, 2);
            const int second = number(17, 2);
            if (date.isValid() && QTime::isValid(hour, minute, second)) {
                const qint64 key = date.toJulianDay() * 24 + hour;
                auto it = m_offsets.find(key);
                if (it == m_offsets.end())
                    it = m_offsets.insert(key, QDateTime(date, QTime(hour, 30)).offsetFromUtc());
                const qint64 local =
                    (date.toJulianDay() - kEpochDay) * kDay + ((hour * 60 + minute) * 60 + second) * qint64(1000);
                return local - qint64(*it) * 1000;
            }
        }
        const QDateTime time = DateTimeFromColumn(text);
        return time.isValid() ? time.toMSecsSinceEpoch() : -1;
    }

private:
    static constexpr qint64 kEpochDay = 2440588; // the Julian day of 1970-01-01
    QHash<qint64, int> m_offsets;
};

// Index of the first time after msecs.
qsizetype FirstAfter(const QList<qint64>& times, qint64 msecs) {
    return std::upper_bound(times.begin(), times.end(), msecs) - times.begin();
}

} // namespace

QString PeriodCaption(TChartPeriod period) {
    switch (period) {
    case TChartPeriod::Week:
        return QStringLiteral("7 天");
    case TChartPeriod::Month:
        return QStringLiteral("30 天");
    case TChartPeriod::All:
        break;
    }
    return QStringLiteral("全部");
}

QList<QList<QPointF>> PriceSteps(const QList<THistoryRow>& rows, const QList<qint64>& times, qint64 from, qint64 to) {
    QList<QList<QPointF>> segments;
    QList<QPointF> current;
    const qsizetype first = FirstAfter(times, from);
    std::optional<double> held;
    if (first > 0 && rows[first - 1].price) {
        held = rows[first - 1].price;
        current.append(QPointF(double(from), *held));
    }
    for (qsizetype i = first; i < rows.size() && times[i] <= to; ++i) {
        const double at = double(times[i]);
        if (held)
            current.append(QPointF(at, *held));
        if (rows[i].price) {
            current.append(QPointF(at, *rows[i].price));
        } else if (!current.isEmpty()) {
            segments.append(current);
            current.clear();
        }
        held = rows[i].price;
    }
    if (held && !current.isEmpty())
        current.append(QPointF(double(to), *held));
    if (!current.isEmpty())
        segments.append(current);
    return segments;
}

QList<QPointF> SalesSteps(const QList<THistoryRow>& rows, const QList<qint64>& times, qint64 from, qint64 to) {
    QList<QPointF> points;
    const qsizetype first = FirstAfter(times, from);
    std::optional<qint64> held;
    if (first > 0) {
        held = rows[first - 1].sellCount;
        points.append(QPointF(double(from), double(*held)));
    }
    for (qsizetype i = first; i < rows.size() && times[i] <= to; ++i) {
        const double at = double(times[i]);
        if (held)
            points.append(QPointF(at, double(*held)));
        points.append(QPointF(at, double(rows[i].sellCount)));
        held = rows[i].sellCount;
    }
    if (held)
        points.append(QPointF(double(to), double(*held)));
    return points;
}

QList<THistoryRow> ShownRows(const TChartData& data, const QList<bool>& shown) {
    QSet<QString> hidden;
    bool ownHidden = false;
    for (qsizetype i = 0; i < data.lines.size(); ++i) {
        if (shown.value(i, true))
            continue;
        if (data.lines[i].own)
            ownHidden = true;
        else
            hidden.insert(data.lines[i].shop.toCaseFolded());
    }
    if (!ownHidden && hidden.isEmpty())
        return data.visibleRows;
    QList<THistoryRow> rows;
    for (const THistoryRow& row : data.visibleRows) {
        const bool isHidden = row.isOwn() ? ownHidden : hidden.contains(TrimBlanks(row.rivalWW).toCaseFolded());
        if (!isHidden)
            rows.append(row);
    }
    return rows;
}

QPointF TChartScale::ToPixels(QPointF value) const {
    const double x = xMax > xMin ? (value.x() - xMin) / (xMax - xMin) : 0;
    const double y = yMax > yMin ? (value.y() - yMin) / (yMax - yMin) : 0;
    return QPointF(plot.left() + x * plot.width(), plot.bottom() - y * plot.height());
}

namespace {

double DistanceToPiece(QPointF p, QPointF a, QPointF b) {
    const QPointF ab = b - a;
    const double length2 = QPointF::dotProduct(ab, ab);
    const double t = length2 > 0 ? std::clamp(QPointF::dotProduct(p - a, ab) / length2, 0.0, 1.0) : 0.0;
    const QPointF nearest = a + t * ab;
    return std::hypot(p.x() - nearest.x(), p.y() - nearest.y());
}

double DistanceToShape(QPointF cursor, const QList<QPointF>& points, const TChartScale& scale) {
    double best = std::numeric_limits<double>::infinity();
    QPointF previous;
    for (qsizetype i = 0; i < points.size(); ++i) {
        const QPointF at = scale.ToPixels(points[i]);
        best = std::min(best, i == 0 ? std::hypot(cursor.x() - at.x(), cursor.y() - at.y())
                                     : DistanceToPiece(cursor, previous, at));
        previous = at;
    }
    return best;
}

} // namespace

TChartHit NearestLine(const TChartData& data, const QList<bool>& shown, const TChartScale& price,
                      const std::optional<TChartScale>& sales, QPointF cursor, double tolerance) {
    TChartHit hit;
    double best = tolerance;
    for (qsizetype i = 0; i < data.lines.size(); ++i) {
        if (!shown.value(i, true))
            continue;
        const TChartLine& line = data.lines[i];
        for (const QList<QPointF>& segment : line.priceSegments) {
            const double distance = DistanceToShape(cursor, segment, price);
            if (distance <= best) {
                best = distance;
                hit = {int(i), false};
            }
        }
        if (sales) {
            const double distance = DistanceToShape(cursor, line.salesSteps, *sales);
            if (distance < best) {
                best = distance;
                hit = {int(i), true};
            }
        }
    }
    return hit;
}

const THistoryRow* RowInForce(const TChartLine& line, qint64 msecs) {
    const qsizetype after = FirstAfter(line.times, msecs);
    return after > 0 ? &line.rows[after - 1] : nullptr;
}

QString TimeAxisFormat(qint64 spanMsecs) {
    if (spanMsecs <= 2 * kDay)
        return QStringLiteral("MM-dd HH:mm");
    if (spanMsecs <= 62 * kDay)
        return QStringLiteral("MM-dd");
    return QStringLiteral("yyyy-MM");
}

TChartData BuildChartData(const QList<THistoryRow>& history, const QStringList& rivalOrder, TChartPeriod period,
                          const QDateTime& now) {
    TChartData data;
    // Each reading time is worked out once: the pages are sorted and searched by it.
    struct TPage {
        TChartLine line;
        QList<std::pair<qint64, qsizetype>> order; // time, index into history
    };
    QList<TPage> pages;
    QHash<QString, qsizetype> pageOf;
    qint64 earliest = -1;
    qint64 latest = -1;
    TTimeReader times;
    for (qsizetype i = 0; i < history.size(); ++i) {
        const THistoryRow& row = history[i];
        const qint64 at = times.Msecs(row.readAt);
        if (at < 0)
            continue;
        earliest = earliest < 0 ? at : std::min(earliest, at);
        latest = std::max(latest, at);
        const QString key = TrimBlanks(row.rivalWW).toCaseFolded();
        auto it = pageOf.find(key);
        if (it == pageOf.end()) {
            TPage page;
            page.line.own = row.isOwn();
            page.line.shop = page.line.own ? ItemTexts::Own : TrimBlanks(row.rivalWW);
            pages.append(page);
            it = pageOf.insert(key, pages.size() - 1);
        }
        pages[*it].order.append({at, i});
    }
    for (TPage& page : pages) {
        // Stable: rows of one second keep the order they were written in.
        std::stable_sort(page.order.begin(), page.order.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        page.line.rows.reserve(page.order.size());
        page.line.times.reserve(page.order.size());
        for (const auto& [at, index] : std::as_const(page.order)) {
            page.line.rows.append(history[index]);
            page.line.times.append(at);
        }
    }

    // Own first, then the rivals in the shops' order, the others by name.
    auto rank = [&rivalOrder](const TChartLine& line) -> qsizetype {
        if (line.own)
            return -1;
        for (qsizetype i = 0; i < rivalOrder.size(); ++i) {
            if (TrimBlanks(rivalOrder[i]).compare(line.shop, Qt::CaseInsensitive) == 0)
                return i;
        }
        return rivalOrder.size();
    };
    std::stable_sort(pages.begin(), pages.end(), [&rank](const TPage& a, const TPage& b) {
        const qsizetype ra = rank(a.line);
        const qsizetype rb = rank(b.line);
        return ra != rb ? ra < rb : a.line.shop.compare(b.line.shop, Qt::CaseInsensitive) < 0;
    });

    const qint64 nowMs = now.toMSecsSinceEpoch();
    data.to = std::max(nowMs, latest);
    switch (period) {
    case TChartPeriod::Week:
        data.periodStart = data.to - 7 * kDay;
        break;
    case TChartPeriod::Month:
        data.periodStart = data.to - 30 * kDay;
        break;
    case TChartPeriod::All:
        data.periodStart = earliest >= 0 ? earliest : data.to - kDay;
        break;
    }
    // The axis starts at the period's first reading: a new item's few readings fill the chart
    // instead of a sliver at its right edge. Without a reading in the period, the prices held
    // from before fill the whole period.
    qint64 firstInPeriod = -1;
    for (const TPage& page : std::as_const(pages)) {
        const auto it = std::lower_bound(page.line.times.begin(), page.line.times.end(), data.periodStart);
        if (it != page.line.times.end() && *it <= data.to)
            firstInPeriod = firstInPeriod < 0 ? *it : std::min(firstInPeriod, *it);
    }
    data.from = data.periodStart;
    if (firstInPeriod >= 0) {
        const qint64 margin = std::max<qint64>((data.to - firstInPeriod) / 20, kMinute);
        data.from = std::min(firstInPeriod - margin, data.to - kMinSpan);
        if (period != TChartPeriod::All)
            data.from = std::max(data.from, data.periodStart);
    }
    data.axisTo = data.to + std::max<qint64>((data.to - data.from) / 50, kMinute / 2);

    QList<std::pair<qint64, const THistoryRow*>> visible;
    for (TPage& page : pages) {
        TChartLine& line = page.line;
        line.priceSegments = PriceSteps(line.rows, line.times, data.from, data.to);
        line.salesSteps = SalesSteps(line.rows, line.times, data.from, data.to);
        for (const QList<QPointF>& segment : std::as_const(line.priceSegments)) {
            for (const QPointF& point : segment) {
                data.minPrice = data.hasPrices ? std::min(data.minPrice, point.y()) : point.y();
                data.maxPrice = data.hasPrices ? std::max(data.maxPrice, point.y()) : point.y();
                data.hasPrices = true;
            }
        }
        for (const QPointF& point : std::as_const(line.salesSteps))
            data.maxSales = std::max(data.maxSales, qint64(point.y()));
        const qsizetype first =
            std::lower_bound(line.times.begin(), line.times.end(), data.periodStart) - line.times.begin();
        qsizetype last = first;
        for (; last < line.rows.size() && line.times[last] <= data.to; ++last)
            visible.append({line.times[last], &line.rows[last]});
        const bool markAll = last - first <= kMarkedReadings;
        for (qsizetype i = first; i < last; ++i) {
            if (markAll) {
                line.salesMarks.append(QPointF(double(line.times[i]), double(line.rows[i].sellCount)));
                if (line.rows[i].price)
                    line.priceMarks.append(QPointF(double(line.times[i]), *line.rows[i].price));
            }
        }
        if (!markAll) {
            // A price that failed again soon after draws a line too short to see.
            const double shortest = double(data.to - data.from) / 100;
            for (const QList<QPointF>& segment : std::as_const(line.priceSegments)) {
                if (segment.last().x() - segment.first().x() < shortest)
                    line.priceMarks.append(segment.first());
            }
        }
    }
    std::stable_sort(visible.begin(), visible.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second->rowId > b.second->rowId;
    });
    data.visibleRows.reserve(visible.size());
    for (const auto& [at, row] : std::as_const(visible))
        data.visibleRows.append(*row);
    data.lines.reserve(pages.size());
    for (TPage& page : pages)
        data.lines.append(std::move(page.line));
    return data;
}

} // namespace vantero
