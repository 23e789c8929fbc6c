// The price chart's data: step lines, breaks where a page showed no price, the periods, the
// order of the shops, the table's rows and the time axis labels.
#include "history/PriceChartData.h"

#include <QTest>

using namespace vantero;

namespace {

const QDateTime kNow(QDate(2026, 12, 9), QTime(12, 0));

qint64 HoursAgo(double hours) {
    return kNow.toMSecsSinceEpoch() - qint64(hours * 3600 * 1000);
}

// Rows of one page from "hoursAgo:price" pairs ("-" for no price), oldest first.
QList<THistoryRow> Rows(const QString& rival, const QString& readings, qint64* rowId) {
    QList<THistoryRow> rows;
    for (const QString& part : readings.split(u' ', Qt::SkipEmptyParts)) {
        const QStringList pair = part.split(u':');
        THistoryRow row;
        row.rowId = ++*rowId;
        row.localItemID = QStringLiteral("1");
        row.rivalWW = rival;
        row.readAt = DateTimeToColumn(QDateTime::fromMSecsSinceEpoch(HoursAgo(pair[0].toDouble())));
        if (pair[1] != QLatin1String("-"))
            row.price = pair[1].toDouble();
        row.sellCount = rows.size() * 10;
        rows << row;
    }
    return rows;
}

QList<qint64> TimesOf(const QList<THistoryRow>& rows) {
    QList<qint64> times;
    for (const THistoryRow& row : rows)
        times << row.readAtTime().toMSecsSinceEpoch();
    return times;
}

// A line's segments as "hoursAgo:price ..." joined by " | ".
QString Describe(const QList<QList<QPointF>>& segments) {
    QStringList parts;
    for (const QList<QPointF>& segment : segments) {
        QStringList points;
        for (const QPointF& point : segment)
            points << QStringLiteral("%1:%2")
                          .arg((kNow.toMSecsSinceEpoch() - qint64(point.x())) / 3600000.0)
                          .arg(point.y());
        parts << points.join(u' ');
    }
    return parts.join(QStringLiteral(" | "));
}

} // namespace

class TestChartData : public QObject {
    Q_OBJECT
private slots:
    void priceStepsHoldEachPriceUntilTheNextChange_data();
    void priceStepsHoldEachPriceUntilTheNextChange();
    void salesStepTheSameWayAndNeverBreak();
    void periodsCutTheLinesAndTheTableRows();
    void timeAxisFitsTheReadingsOfThePeriod_data();
    void timeAxisFitsTheReadingsOfThePeriod();
    void readingsAreDrawnAsPointsWhileFewAndLonePricesAlways();
    void untickedShopsLeaveTheTable();
    void pointerPicksTheNearestShownLineWithinAFewPixels();
    void ownLineFirstThenShopsInTheirOrder();
    void hoverFindsTheRowInForce();
    void timeAxisAdaptsFromHoursToMonths_data();
    void timeAxisAdaptsFromHoursToMonths();
};

void TestChartData::priceStepsHoldEachPriceUntilTheNextChange_data() {
    QTest::addColumn<QString>("rows");
    QTest::addColumn<double>("fromHoursAgo");
    QTest::addColumn<QString>("segments");
    QTest::newRow("one price holds until now") << "10:50" << 24.0 << "10:50 0:50";
    QTest::newRow("a change steps") << "10:50 4:45" << 24.0 << "10:50 4:50 4:45 0:45";
    QTest::newRow("the price in force starts the period") << "30:60 10:50" << 24.0 << "24:60 10:60 10:50 0:50";
    QTest::newRow("no price breaks the line") << "10:50 6:- 4:45" << 24.0 << "10:50 6:50 | 4:45 0:45";
    QTest::newRow("no price at the start") << "30:- 10:50" << 24.0 << "10:50 0:50";
    QTest::newRow("ends without a price") << "10:50 2:-" << 24.0 << "10:50 2:50";
    QTest::newRow("nothing before the period but no price") << "" << 24.0 << "";
}

void TestChartData::priceStepsHoldEachPriceUntilTheNextChange() {
    QFETCH(QString, rows);
    QFETCH(double, fromHoursAgo);
    QFETCH(QString, segments);
    qint64 id = 0;
    const QList<THistoryRow> page = Rows(QStringLiteral("甲店"), rows, &id);
    QCOMPARE(Describe(PriceSteps(page, TimesOf(page), HoursAgo(fromHoursAgo), kNow.toMSecsSinceEpoch())), segments);
}

void TestChartData::salesStepTheSameWayAndNeverBreak() {
    qint64 id = 0;
    const QList<THistoryRow> page = Rows(QStringLiteral("甲店"), QStringLiteral("30:60 10:- 4:45"), &id);
    const QList<QPointF> sales = SalesSteps(page, TimesOf(page), HoursAgo(24), kNow.toMSecsSinceEpoch());
    QList<double> values;
    for (const QPointF& point : sales)
        values << point.y();
    QCOMPARE(values, (QList<double>{0, 0, 10, 10, 20, 20}));
}

void TestChartData::periodsCutTheLinesAndTheTableRows() {
    qint64 id = 0;
    QList<THistoryRow> history = Rows(QString(), QStringLiteral("1000:100 100:98"), &id);
    history << Rows(QStringLiteral("甲店"), QStringLiteral("900:90 500:95 2:97"), &id);
    const TChartData week = BuildChartData(history, {QStringLiteral("甲店")}, TChartPeriod::Week, kNow);
    QCOMPARE(week.periodStart, HoursAgo(7 * 24));
    QCOMPARE(week.from, HoursAgo(105)); // the first reading in the week, a twentieth of the span before
    QCOMPARE(week.to, kNow.toMSecsSinceEpoch());
    QVERIFY(week.axisTo > week.to);
    QCOMPARE(week.visibleRows.size(), 2);                           // 100 and 2 hours ago
    QCOMPARE(week.visibleRows[0].price, std::optional<double>(97)); // newest first
    QCOMPARE(Describe(week.lines[1].priceSegments), QStringLiteral("105:95 2:95 2:97 0:97"));
    QCOMPARE(week.minPrice, 95.0);
    QCOMPARE(week.maxPrice, 100.0);
    const TChartData month = BuildChartData(history, {}, TChartPeriod::Month, kNow);
    QCOMPARE(month.visibleRows.size(), 3);
    QCOMPARE(month.from, HoursAgo(525));
    const TChartData all = BuildChartData(history, {}, TChartPeriod::All, kNow);
    QCOMPARE(all.from, HoursAgo(1050));
    QCOMPARE(all.visibleRows.size(), 5);
    QCOMPARE(all.minPrice, 90.0);
    QCOMPARE(all.maxSales, 20);
    const TChartData empty = BuildChartData({}, {}, TChartPeriod::All, kNow);
    QVERIFY(empty.lines.isEmpty());
    QVERIFY(!empty.hasPrices);
    QVERIFY(empty.from < empty.to);
}

void TestChartData::timeAxisFitsTheReadingsOfThePeriod_data() {
    QTest::addColumn<QString>("readings");
    QTest::addColumn<int>("period");
    QTest::addColumn<double>("fromHoursAgo");
    // A new database: the readings of the last hours fill the axis in every period.
    QTest::newRow("new item, week") << "3:10 1:11" << int(TChartPeriod::Week) << 3.15;
    QTest::newRow("new item, month") << "3:10 1:11" << int(TChartPeriod::Month) << 3.15;
    QTest::newRow("new item, all") << "3:10 1:11" << int(TChartPeriod::All) << 3.15;
    // A single reading of this moment still gets a quarter of an hour of axis.
    QTest::newRow("one fresh reading") << "0:10" << int(TChartPeriod::Week) << 0.25;
    // Readings older than the period: the held price fills the whole period.
    QTest::newRow("nothing read this week") << "400:10" << int(TChartPeriod::Week) << 168.0;
    // The margin never reaches back beyond the period.
    QTest::newRow("first reading at the week's start") << "167.9:10 1:9" << int(TChartPeriod::Week) << 168.0;
}

void TestChartData::timeAxisFitsTheReadingsOfThePeriod() {
    QFETCH(QString, readings);
    QFETCH(int, period);
    QFETCH(double, fromHoursAgo);
    qint64 id = 0;
    const TChartData data = BuildChartData(Rows(QStringLiteral("甲店"), readings, &id), {}, TChartPeriod(period), kNow);
    QCOMPARE(data.from, HoursAgo(fromHoursAgo));
    QVERIFY(data.axisTo > data.to);
    QVERIFY(data.axisTo - data.to < (data.to - data.from) / 10);
    QVERIFY(!data.lines.first().priceSegments.isEmpty());
    QVERIFY(data.lines.first().priceSegments.first().first().x() >= double(data.from));
}

void TestChartData::readingsAreDrawnAsPointsWhileFewAndLonePricesAlways() {
    qint64 id = 0;
    const TChartData few = BuildChartData(Rows(QStringLiteral("甲店"), QStringLiteral("5:- 4:12 3:- 2:13"), &id), {},
                                          TChartPeriod::Week, kNow);
    QCOMPARE(Describe({few.lines[0].priceMarks}), QStringLiteral("4:12 2:13"));
    QCOMPARE(few.lines[0].salesMarks.size(), 4);
    QCOMPARE(Describe(few.lines[0].priceSegments), QStringLiteral("4:12 3:12 | 2:13 0:13"));

    QStringList many;
    for (int i = kMarkedReadings + 20; i > 0; --i)
        many << QStringLiteral("%1:%2").arg(i).arg(i == 30 ? QStringLiteral("50 29.9:-") : QStringLiteral("-"));
    many.replace(0, QStringLiteral("%1:20").arg(kMarkedReadings + 20));
    // Among many readings only a price whose line is too short to see is a point: one that failed
    // again six minutes later.
    const TChartData crowded =
        BuildChartData(Rows(QStringLiteral("甲店"), many.join(u' '), &id), {}, TChartPeriod::Week, kNow);
    QCOMPARE(Describe({crowded.lines[0].priceMarks}), QStringLiteral("30:50"));
    QVERIFY(crowded.lines[0].salesMarks.isEmpty());
}

void TestChartData::untickedShopsLeaveTheTable() {
    qint64 id = 0;
    QList<THistoryRow> history = Rows(QString(), QStringLiteral("3:10 1:11"), &id);
    history << Rows(QStringLiteral("甲店"), QStringLiteral("2:9"), &id);
    history << Rows(QStringLiteral("Shop B "), QStringLiteral("2.5:8 0.5:8"), &id);
    history[history.size() - 1].rivalWW = QStringLiteral("shop b"); // the same page in another spelling
    const TChartData data =
        BuildChartData(history, {QStringLiteral("甲店"), QStringLiteral("shop b")}, TChartPeriod::Week, kNow);
    QCOMPARE(data.lines.size(), 3);
    QCOMPARE(ShownRows(data, {}).size(), 5);
    QCOMPARE(ShownRows(data, {true, false, true}).size(), 4);
    const QList<THistoryRow> withoutB = ShownRows(data, {true, true, false});
    QCOMPARE(withoutB.size(), 3);
    for (const THistoryRow& row : withoutB)
        QVERIFY(!row.rivalWW.contains(QStringLiteral("b"), Qt::CaseInsensitive));
    const QList<THistoryRow> onlyRivals = ShownRows(data, {false});
    QCOMPARE(onlyRivals.size(), 3);
    for (const THistoryRow& row : onlyRivals)
        QVERIFY(!row.isOwn());
}

void TestChartData::pointerPicksTheNearestShownLineWithinAFewPixels() {
    qint64 id = 0;
    // Two lines two yuan apart over a day; a plot of 1000 x 100 pixels for 0..100 yuan: 2 yuan is 2 pixels.
    QList<THistoryRow> history = Rows(QStringLiteral("甲店"), QStringLiteral("20:50"), &id);
    history << Rows(QStringLiteral("乙店"), QStringLiteral("20:52"), &id);
    history << Rows(QStringLiteral("丙店"), QStringLiteral("20:80 10:- 5:80"), &id);
    const TChartData data = BuildChartData(
        history, {QStringLiteral("甲店"), QStringLiteral("乙店"), QStringLiteral("丙店")}, TChartPeriod::Week, kNow);
    const TChartScale price{QRectF(0, 0, 1000, 100), double(data.from), double(data.axisTo), 0, 100};
    auto at = [&](double hoursAgo, double value) { return price.ToPixels(QPointF(double(HoursAgo(hoursAgo)), value)); };
    QCOMPARE(NearestLine(data, {}, price, std::nullopt, at(15, 50.4), 6).line, 0);
    QCOMPARE(NearestLine(data, {}, price, std::nullopt, at(15, 51.6), 6).line, 1);
    // Far from both, well short of the third.
    QCOMPARE(NearestLine(data, {}, price, std::nullopt, at(15, 70), 6).line, -1);
    // A hidden line is never picked; the next one within reach is.
    QCOMPARE(NearestLine(data, {false, true, true}, price, std::nullopt, at(15, 50.4), 6).line, 1);
    // Too far from every line.
    QCOMPARE(NearestLine(data, {}, price, std::nullopt, at(15, 60), 6).line, -1);
    // The gap of a failed reading is no line; its lone points are.
    QCOMPARE(NearestLine(data, {}, price, std::nullopt, at(8, 80), 6).line, -1);
    QCOMPARE(NearestLine(data, {}, price, std::nullopt, at(12, 80), 6).line, 2);
    // Sales on their own scale, only when given.
    const TChartScale sales{QRectF(0, 0, 1000, 100), double(data.from), double(data.axisTo), 0, 1};
    const TChartHit onSales = NearestLine(data, {}, price, sales, sales.ToPixels(QPointF(double(HoursAgo(15)), 0)), 6);
    QCOMPARE(onSales.line >= 0, true);
    QVERIFY(onSales.sales);
}

void TestChartData::ownLineFirstThenShopsInTheirOrder() {
    qint64 id = 0;
    QList<THistoryRow> history = Rows(QStringLiteral("zeta"), QStringLiteral("5:1"), &id);
    history << Rows(QStringLiteral("乙店"), QStringLiteral("5:1"), &id);
    history << Rows(QStringLiteral("甲店 "), QStringLiteral("5:1"), &id);
    history << Rows(QString(), QStringLiteral("5:1"), &id);
    history << Rows(QStringLiteral("alpha"), QStringLiteral("5:1"), &id);
    const TChartData data =
        BuildChartData(history, {QStringLiteral("甲店"), QStringLiteral("乙店")}, TChartPeriod::Week, kNow);
    QStringList shops;
    for (const TChartLine& line : data.lines)
        shops << line.shop;
    QCOMPARE(shops, (QStringList{QStringLiteral("自己"), QStringLiteral("甲店"), QStringLiteral("乙店"),
                                 QStringLiteral("alpha"), QStringLiteral("zeta")}));
    QVERIFY(data.lines[0].own);
}

void TestChartData::hoverFindsTheRowInForce() {
    qint64 id = 0;
    const QList<THistoryRow> history = Rows(QStringLiteral("甲店"), QStringLiteral("10:50 4:45"), &id);
    const TChartData data = BuildChartData(history, {}, TChartPeriod::Week, kNow);
    const TChartLine& line = data.lines[0];
    QVERIFY(!RowInForce(line, HoursAgo(11)));
    QCOMPARE(RowInForce(line, HoursAgo(10))->price, std::optional<double>(50));
    QCOMPARE(RowInForce(line, HoursAgo(5))->price, std::optional<double>(50));
    QCOMPARE(RowInForce(line, HoursAgo(1))->price, std::optional<double>(45));
}

void TestChartData::timeAxisAdaptsFromHoursToMonths_data() {
    QTest::addColumn<double>("days");
    QTest::addColumn<QString>("format");
    QTest::newRow("a day") << 1.0 << "MM-dd HH:mm";
    QTest::newRow("a week") << 7.0 << "MM-dd";
    QTest::newRow("a month") << 30.0 << "MM-dd";
    QTest::newRow("half a year") << 180.0 << "yyyy-MM";
}

void TestChartData::timeAxisAdaptsFromHoursToMonths() {
    QFETCH(double, days);
    QFETCH(QString, format);
    QCOMPARE(TimeAxisFormat(qint64(days * 24 * 3600 * 1000)), format);
}

QTEST_GUILESS_MAIN(TestChartData)
#include "tst_chartdata.moc"
