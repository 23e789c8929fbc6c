// The price history windows offscreen: the commands added to the main window, the price chart,
// the alerts window with its switches dialog, the check after a background run, and the export.
#include "app/UtAlerts.h"
#include "app/UtMain.h"
#include "app/UtPriceChart.h"
#include "common/TextHelpers.h"
#include "dialogs/UtAlertSettings.h"
#include "history/AlertStore.h"
#include "history/ExportSheets.h"
#include "support/HistoryData.h"
#include "support/TestDatabase.h"
#include "widgets/UiMessageBoxes.h"
#include "widgets/UiWindowSettings.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTimeAxis>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGraphicsSimpleTextItem>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScatterSeries>
#include <QSettings>
#include <QStandardPaths>
#include <QTableView>
#include <QToolTip>
#include <QTreeWidget>
#include <QtTest>

using namespace vantero;
using namespace vantero::test;

namespace {

// The visible lines (the readings' points not counted).
int VisibleSeries(const TFmPriceChart& chart) {
    int count = 0;
    for (QAbstractSeries* series : chart.Chart()->series())
        count += series->isVisible() && series->type() == QAbstractSeries::SeriesTypeLine ? 1 : 0;
    return count;
}

int VisibleMarks(const TFmPriceChart& chart) {
    int count = 0;
    for (QAbstractSeries* series : chart.Chart()->series())
        count += series->isVisible() && series->type() == QAbstractSeries::SeriesTypeScatter ? 1 : 0;
    return count;
}

// The demo item with five rivals and four weeks of history, in a shown main window.
struct TDemoWindow {
    TTestDatabase db;
    THistoryDemo demo;
    QStringList rivals;
    std::unique_ptr<TFmMain> main;

    TDemoWindow() {
        rivals = WriteHistoryDemo(db.connection(), demo);
        main = std::make_unique<TFmMain>(db.connection());
        main->show();
        main->SetFocusedRow(0);
        main->lstClick();
    }
};

} // namespace

class TestUiHistory : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void newCommandsComeAfterTheSpecifiedOnes();
    void detailButtonAndDoubleClickOpenTheChartOfTheFocusedItem();
    void chartDrawsEveryShopAndFollowsPeriodSalesAndTicks();
    void chartOfANewItemFillsTheAxisAndShowsItsReadingsAsPoints();
    void untickedShopsLeaveTheReadingsTable();
    void hoveringPicksTheNearestLine();
    void chartRemembersPeriodAndSales();
    void alertsWindowShowsUnreadUntilMarkedRead();
    void settingsDialogStoresTheSwitches();
    void aFinishedBackgroundRunChecksForAlerts();
    void exportWritesTheChosenContentAndSaysWhere();

private:
    QStringList m_boxes;
};

void TestUiHistory::initTestCase() {
    // The windows' remembered choices go to a folder of the tests, fresh each run.
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(WindowSettingsFile());
}

void TestUiHistory::init() {
    m_boxes.clear();
    SetMessageBoxHook([this](TBoxKind, const QString&, const QString& text) {
        m_boxes << text;
        return false;
    });
}

void TestUiHistory::cleanup() {
    SetMessageBoxHook({});
}

void TestUiHistory::newCommandsComeAfterTheSpecifiedOnes() {
    TTestDatabase db;
    TFmMain main(db.connection());
    QMenu* menu = main.menuBar()->findChild<QMenu*>(QStringLiteral("mniN6"));
    QVERIFY(menu);
    QStringList texts;
    for (QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(texts.mid(0, 8), (QStringList{QStringLiteral("刷新数据"), QStringLiteral("-"), QStringLiteral("添加对手"),
                                           QStringLiteral("添加宝贝"), QStringLiteral("-"), QStringLiteral("删除宝贝"),
                                           QStringLiteral("-"), QStringLiteral("宝贝设置")}));
    // Ours follow the specified entries, in this order, whatever else was added.
    const qsizetype ours = texts.indexOf(QStringLiteral("价格走势(&G)"));
    QVERIFY(ours >= 8);
    QCOMPARE(texts.mid(ours, 3),
             (QStringList{QStringLiteral("价格走势(&G)"), QStringLiteral("价格提醒(&T)"), QStringLiteral("导出(&E)")}));
    QMenu* exportMenu = menu->findChild<QMenu*>(QStringLiteral("mniExport"));
    QVERIFY(exportMenu);
    QCOMPARE(exportMenu->actions().size(), 4);
    // The top-level menus are the specified three.
    QStringList menus;
    for (QAction* action : main.menuBar()->actions())
        menus << action->text();
    QCOMPARE(menus, (QStringList{QStringLiteral("系统"), QStringLiteral("操作"), QStringLiteral("帮助")}));

    // The detail panel's new button follows the four specified ones.
    QPushButton* chart = main.PriceChartButton();
    auto* layout = qobject_cast<QBoxLayout*>(chart->parentWidget()->layout());
    QStringList buttons;
    for (int i = 0; i < layout->count(); ++i) {
        if (auto* button = qobject_cast<QPushButton*>(layout->itemAt(i)->widget()))
            buttons << button->text();
    }
    QCOMPARE(buttons,
             (QStringList{QStringLiteral("设置宝贝"), QStringLiteral("更新所选宝贝"),
                          QStringLiteral("更新本页所有宝贝"), QStringLiteral("查看宝贝"), QStringLiteral("价格走势")}));
    QCOMPARE(chart->accessibleName(), QStringLiteral("价格走势"));
}

void TestUiHistory::detailButtonAndDoubleClickOpenTheChartOfTheFocusedItem() {
    TDemoWindow window;
    QVERIFY(window.main->PriceChartButton()->isEnabled());
    QTest::mouseClick(window.main->PriceChartButton(), Qt::LeftButton);
    QList<TFmPriceChart*> charts = window.main->findChildren<TFmPriceChart*>();
    QCOMPARE(charts.size(), 1);
    QCOMPARE(charts[0]->ItemID(), window.demo.itemId);
    QVERIFY(charts[0]->windowTitle().contains(window.demo.itemName));
    charts[0]->close();
    QTRY_COMPARE_WITH_TIMEOUT(window.main->findChildren<TFmPriceChart*>().size(), 0, 60000); // released on closing

    // A double click on the third shop's detail row picks its line out.
    QTreeWidget* detail = window.main->DetailList();
    QTreeWidgetItem* row = detail->topLevelItem(3);
    emit detail->itemDoubleClicked(row, 1);
    charts = window.main->findChildren<TFmPriceChart*>();
    QCOMPARE(charts.size(), 1);
    QCOMPARE(charts[0]->ShopList()->currentItem()->text(), window.rivals[2]);
}

void TestUiHistory::chartDrawsEveryShopAndFollowsPeriodSalesAndTicks() {
    TTestDatabase db;
    THistoryDemo demo;
    demo.days = 28;
    const QStringList rivals = WriteHistoryDemo(db.connection(), demo);
    TFmPriceChart chart(db.connection(), demo.itemId, demo.itemName, rivals);
    chart.show();
    QCOMPARE(chart.Data().lines.size(), 6);
    QCOMPARE(chart.ShopList()->count(), 6);
    QCOMPARE(chart.ShopList()->item(0)->text(), QStringLiteral("自己"));
    QCOMPARE(chart.Period(), TChartPeriod::Month);
    QCOMPARE(chart.Table()->model()->rowCount(), demo.points); // all within 30 days
    const int priceSeries = VisibleSeries(chart);
    QVERIFY(priceSeries >= 6);

    QTest::mouseClick(chart.findChild<QWidget*>(QStringLiteral("rbWeek")), Qt::LeftButton);
    QCOMPARE(chart.Period(), TChartPeriod::Week);
    const int weekRows = chart.Table()->model()->rowCount();
    QVERIFY(weekRows > 0 && weekRows < demo.points);

    chart.findChild<QCheckBox*>(QStringLiteral("chkSales"))->setChecked(true);
    QCOMPARE(VisibleSeries(chart), priceSeries + 6);
    chart.SetShowSales(false);
    QCOMPARE(VisibleSeries(chart), priceSeries);

    // Unticking a shop hides its line; the tick survives a change of period.
    chart.ShopList()->item(1)->setCheckState(Qt::Unchecked);
    const int withoutOne = VisibleSeries(chart);
    QVERIFY(withoutOne < priceSeries);
    chart.SetPeriod(TChartPeriod::All);
    QCOMPARE(chart.ShopList()->item(1)->checkState(), Qt::Unchecked);

    const TChartLine& own = chart.Data().lines[0];
    const QString hover = chart.HoverText(0, own.times.last());
    QVERIFY2(hover.startsWith(QStringLiteral("自己\n价格：")), qPrintable(hover));
    QVERIFY(hover.contains(own.rows.last().readAt));
    QCOMPARE(chart.Chart()->axes(Qt::Horizontal).first()->titleText(), QStringLiteral("时间"));
}

void TestUiHistory::chartOfANewItemFillsTheAxisAndShowsItsReadingsAsPoints() {
    TTestDatabase db;
    THistoryDemo demo;
    demo.rivals = 2;
    demo.points = 3; // one reading of each page, a moment ago
    demo.days = 0;
    const QStringList rivals = WriteHistoryDemo(db.connection(), demo);
    TFmPriceChart chart(db.connection(), demo.itemId, demo.itemName, rivals);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    for (TChartPeriod period : {TChartPeriod::Week, TChartPeriod::Month, TChartPeriod::All}) {
        chart.SetPeriod(period);
        auto* axis = qobject_cast<QDateTimeAxis*>(chart.Chart()->axes(Qt::Horizontal).value(0));
        QVERIFY(axis);
        // The readings stand well inside the axis, not squeezed into its last pixel.
        const qint64 span = axis->max().toMSecsSinceEpoch() - axis->min().toMSecsSinceEpoch();
        QVERIFY2(span <= 3600 * 1000, qPrintable(PeriodCaption(period)));
        for (const TChartLine& line : chart.Data().lines) {
            const qint64 at = line.times.first();
            QVERIFY(at - axis->min().toMSecsSinceEpoch() > span / 2);
            QVERIFY(axis->max().toMSecsSinceEpoch() - at > 0);
        }
        QCOMPARE(VisibleMarks(chart), 3); // each page's single reading is a point
        const QRectF plot = chart.Chart()->plotArea();
        for (QAbstractSeries* series : chart.Chart()->series()) {
            auto* marks = qobject_cast<QScatterSeries*>(series);
            if (!marks)
                continue;
            QVERIFY(marks->markerSize() >= 6);
            const QPointF point = chart.Chart()->mapToPosition(marks->at(0), marks);
            QVERIFY(plot.adjusted(3, 3, -3, -3).contains(point));
        }
    }
    // Sales are titled upright above their axis, inside the chart, in the window's font.
    QVERIFY(!chart.SalesTitle()->isVisible());
    chart.SetShowSales(true);
    QCoreApplication::processEvents();
    QGraphicsSimpleTextItem* title = chart.SalesTitle();
    QVERIFY(title->isVisible());
    QCOMPARE(title->text(), QStringLiteral("销量"));
    QCOMPARE(title->rotation(), 0.0);
    QVERIFY(title->font().pointSizeF() >= chart.font().pointSizeF() || title->font().pixelSize() >= 11);
    const QRectF titleRect = title->mapRectToParent(title->boundingRect());
    QVERIFY(chart.Chart()->rect().contains(titleRect));
    QVERIFY(titleRect.bottom() <= chart.Chart()->plotArea().top());
    QVERIFY(titleRect.left() >= chart.Chart()->plotArea().right() - 1);
    QVERIFY(title->brush().color().alpha() > 0 && title->brush().style() != Qt::NoBrush);
}

void TestUiHistory::untickedShopsLeaveTheReadingsTable() {
    TTestDatabase db;
    THistoryDemo demo;
    const QStringList rivals = WriteHistoryDemo(db.connection(), demo);
    TFmPriceChart chart(db.connection(), demo.itemId, demo.itemName, rivals);
    chart.SetPeriod(TChartPeriod::All);
    QAbstractItemModel* table = chart.Table()->model();
    const int all = table->rowCount();
    QCOMPARE(all, demo.points);
    const QString shop = chart.ShopList()->item(2)->text();
    int ofShop = 0;
    for (int row = 0; row < all; ++row)
        ofShop += table->index(row, 1).data().toString() == shop ? 1 : 0;
    QVERIFY(ofShop > 0);
    chart.ShopList()->item(2)->setCheckState(Qt::Unchecked);
    QCOMPARE(table->rowCount(), all - ofShop);
    for (int row = 0; row < table->rowCount(); ++row)
        QVERIFY(table->index(row, 1).data().toString() != shop);
    // And stay out when the period changes; ticking brings them back.
    chart.SetPeriod(TChartPeriod::Month);
    for (int row = 0; row < table->rowCount(); ++row)
        QVERIFY(table->index(row, 1).data().toString() != shop);
    chart.ShopList()->item(2)->setCheckState(Qt::Checked);
    chart.SetPeriod(TChartPeriod::All);
    QCOMPARE(table->rowCount(), all);
}

void TestUiHistory::hoveringPicksTheNearestLine() {
    TTestDatabase db;
    THistoryDemo demo;
    const QStringList rivals = WriteHistoryDemo(db.connection(), demo);
    TFmPriceChart chart(db.connection(), demo.itemId, demo.itemName, rivals);
    chart.resize(1100, 720);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    chart.SetPeriod(TChartPeriod::Week);
    chart.SetShowSales(false);
    QCoreApplication::processEvents();
    QWidget* viewport = chart.ChartView()->viewport();
    QChart* qchart = chart.Chart();
    auto* axis = qobject_cast<QDateTimeAxis*>(qchart->axes(Qt::Horizontal).value(0));
    const qint64 first = axis->min().toMSecsSinceEpoch();
    const qint64 span = axis->max().toMSecsSinceEpoch() - first;
    const qint64 near = span / 50;
    QLineSeries* anySeries = nullptr;
    for (QAbstractSeries* series : qchart->series()) {
        if (series->type() == QAbstractSeries::SeriesTypeLine && !series->property("sales").toBool())
            anySeries = static_cast<QLineSeries*>(series);
    }
    QVERIFY(anySeries);
    auto toViewport = [&](qint64 msecs, double price) {
        const QPointF inChart = qchart->mapToPosition(QPointF(double(msecs), price), anySeries);
        return chart.ChartView()->mapFromScene(qchart->mapToScene(inChart));
    };
    // Whether another line passes within a few pixels of a spot (its price, or a step of it):
    // there the pointer cannot tell them apart.
    auto crowded = [&](int line, qint64 at, QPoint spot) {
        for (int other = 0; other < chart.Data().lines.size(); ++other) {
            if (other == line)
                continue;
            const TChartLine& otherLine = chart.Data().lines[other];
            for (qint64 t : {at - near, at, at + near}) {
                const THistoryRow* row = RowInForce(otherLine, t);
                if (row && row->price && std::abs(toViewport(t, *row->price).y() - spot.y()) < 10)
                    return true;
            }
            for (qint64 t : otherLine.times) {
                if (t > at - near && t < at + near)
                    return true;
            }
        }
        return false;
    };
    int checked = 0;
    for (int line = 0; line < chart.Data().lines.size(); ++line) {
        for (int step = 2; step < 48; ++step) {
            const qint64 at = first + span * step / 50;
            const THistoryRow* row = RowInForce(chart.Data().lines[line], at);
            if (!row || !row->price)
                continue;
            const QPoint spot = toViewport(at, *row->price);
            if (crowded(line, at, spot))
                continue;
            // Three pixels off the line still picks it, from above and from below.
            QTest::mouseMove(viewport, spot + QPoint(0, 3));
            QTRY_COMPARE_WITH_TIMEOUT(chart.HoveredLine(), line, 30000);
            QCOMPARE(chart.LineAt(spot - QPoint(0, 3)).line, line);
            QVERIFY(QToolTip::text().startsWith(chart.Data().lines[line].shop + u'\n'));
            ++checked;
            break;
        }
    }
    QVERIFY(checked >= 4);
    QCOMPARE(chart.LineAt(QPoint(1, 1)).line, -1); // outside the plot
}

void TestUiHistory::chartRemembersPeriodAndSales() {
    TTestDatabase db;
    THistoryDemo demo;
    demo.points = 20;
    const QStringList rivals = WriteHistoryDemo(db.connection(), demo);
    QFile::remove(WindowSettingsFile());
    {
        TFmPriceChart chart(db.connection(), demo.itemId, demo.itemName, rivals);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        QCOMPARE(chart.Period(), TChartPeriod::Month); // the first time
        QTest::mouseClick(chart.findChild<QWidget*>(QStringLiteral("rbAll")), Qt::LeftButton);
        chart.findChild<QCheckBox*>(QStringLiteral("chkSales"))->setChecked(true);
    }
    {
        TFmPriceChart chart(db.connection(), demo.itemId, demo.itemName, rivals);
        QCOMPARE(chart.Period(), TChartPeriod::All);
        QVERIFY(chart.findChild<QRadioButton*>(QStringLiteral("rbAll"))->isChecked());
        QVERIFY(chart.findChild<QCheckBox*>(QStringLiteral("chkSales"))->isChecked());
        QCOMPARE(chart.Chart()->axes(Qt::Vertical).size(), 2); // the sales axis is there
        chart.SetPeriod(TChartPeriod::Week);
        chart.SetShowSales(false);
    }
    TFmPriceChart chart(db.connection(), demo.itemId, demo.itemName, rivals);
    QCOMPARE(chart.Period(), TChartPeriod::Week);
    QVERIFY(!chart.findChild<QCheckBox*>(QStringLiteral("chkSales"))->isChecked());
    QCOMPARE(chart.Chart()->axes(Qt::Vertical).size(), 1);
    // A value the program never wrote opens the usual period.
    QSettings(WindowSettingsFile(), QSettings::IniFormat).setValue(QStringLiteral("PriceChart/Period"), 17);
    TFmPriceChart odd(db.connection(), demo.itemId, demo.itemName, rivals);
    QCOMPARE(odd.Period(), TChartPeriod::Month);
    QFile::remove(WindowSettingsFile());
}

void TestUiHistory::alertsWindowShowsUnreadUntilMarkedRead() {
    TTestDatabase db;
    db.exec(QStringLiteral("INSERT INTO Items (ItemID, ItemName, Price) VALUES ('1', '杯子', 100)"));
    db.exec(QStringLiteral("INSERT INTO Alerts (CreatedAt, Kind, LocalItemID, RivalWW, OldPrice, NewPrice, OwnPrice) "
                           "VALUES ('2026-12-01 08:00:00', 1, '1', '甲店', 105, 95, 100),"
                           " ('2026-12-02 08:00:00', 2, '1', '乙店', 100, 80, 100)"));
    TFmAlerts window(db.connection());
    window.show();
    QCOMPARE(window.lvAlerts->topLevelItemCount(), 2);
    QCOMPARE(window.lvAlerts->topLevelItem(0)->text(3), QStringLiteral("乙店")); // newest first
    // Times as every other list shows them (the detail list, the failure list).
    const QString shown = FormatDateTime(QDateTime(QDate(2026, 12, 2), QTime(8, 0)));
    QCOMPARE(window.lvAlerts->topLevelItem(0)->text(0), shown);
    QVERIFY(window.lvAlerts->columnWidth(0) > window.lvAlerts->fontMetrics().horizontalAdvance(shown));
    QCOMPARE(window.lblUnread->text(), QStringLiteral("未读提醒：2 条"));
    QCOMPARE(window.lblUnread->accessibleName(), window.lblUnread->text());
    QVERIFY(window.lvAlerts->topLevelItem(0)->toolTip(0).contains(QStringLiteral("“杯子”")));

    window.lvAlerts->setCurrentItem(window.lvAlerts->topLevelItem(0));
    QTest::mouseClick(window.btnMarkRead, Qt::LeftButton);
    QCOMPARE(window.lvAlerts->topLevelItemCount(), 1);
    QCOMPARE(UnreadAlertCount(db.connection()), 1);
    window.chkShowRead->setChecked(true);
    QCOMPARE(window.lvAlerts->topLevelItemCount(), 2);
    QTest::mouseClick(window.btnMarkAllRead, Qt::LeftButton);
    QCOMPARE(UnreadAlertCount(db.connection()), 0);
    QCOMPARE(window.lblUnread->text(), QStringLiteral("未读提醒：0 条"));

    QSignalSpy chart(&window, &TFmAlerts::chartRequested);
    window.lvAlerts->setCurrentItem(window.lvAlerts->topLevelItem(1));
    QTest::mouseClick(window.btnChart, Qt::LeftButton);
    QCOMPARE(chart.size(), 1);
    QCOMPARE(chart[0][0].toString(), QStringLiteral("1"));
    QCOMPARE(chart[0][1].toString(), QStringLiteral("甲店"));
}

void TestUiHistory::settingsDialogStoresTheSwitches() {
    TTestDatabase db;
    {
        TFmAlertSettings dialog(db.connection());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("提醒设置"));
        QVERIFY(dialog.chkAlertsOn->isChecked());
        QCOMPARE(dialog.spnPercent->value(), 10.0);
        dialog.chkAlertsOn->setChecked(false);
        QVERIFY(!dialog.spnPercent->isEnabled());
        dialog.spnPercent->setValue(15);
        QTest::mouseClick(dialog.btnClose, Qt::LeftButton);
    }
    QCOMPARE(ReadAlertSettings(db.connection()).on, true); // cancelled
    TFmAlertSettings dialog(db.connection());
    dialog.chkAlertsOn->setChecked(false);
    dialog.spnPercent->setValue(15);
    QTest::mouseClick(dialog.btnSave, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(ReadAlertSettings(db.connection()).on, false);
    QCOMPARE(ReadAlertSettings(db.connection()).percent, 15.0);
}

void TestUiHistory::aFinishedBackgroundRunChecksForAlerts() {
    TDemoWindow window;
    TFmAlerts* alerts = window.main->AlertsWindow(true);
    CheckAlerts(window.db.connection()); // what the demo's history already holds
    alerts->Reload();
    const int before = alerts->lvAlerts->topLevelItemCount();
    TFmPriceChart* chart = window.main->OpenPriceChart(window.demo.itemId);
    const int rows = chart->Table()->model()->rowCount();
    // A rival drops far below the own price, as a run would have stored it.
    window.db.exec(QStringLiteral("INSERT INTO PriceHistory (LocalItemID, RivalWW, ReadAt, Price, SellCount) "
                                  "VALUES (?, ?, ?, 1, 0)"),
                   {window.demo.itemId, window.rivals[0], CurrentDateTimeColumn()});
    PostMessageToWindow(window.main->Handle(), WM_READALL_FINISHED);
    QTRY_COMPARE_WITH_TIMEOUT(alerts->lvAlerts->topLevelItemCount(), before + 1, 60000);
    QCOMPARE(alerts->Alerts().first().newPrice, std::optional<double>(1));
    // An open chart takes the new reading in too.
    QCOMPARE(chart->Table()->model()->rowCount(), rows + 1);
    QCOMPARE(chart->Table()->model()->index(0, 2).data().toString(), QStringLiteral("1.00"));
}

void TestUiHistory::exportWritesTheChosenContentAndSaysWhere() {
    TDemoWindow window;
    QTemporaryDir dir;
    const QString grid = dir.filePath(QStringLiteral("grid.csv"));
    QVERIFY(window.main->ExportTo(TExportSource::Grid, grid));
    QCOMPARE(m_boxes.last(), QStringLiteral("已导出到 %1").arg(QDir::toNativeSeparators(grid)));
    QFile file(grid);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(bytes.contains(window.demo.itemName.toUtf8()));
    const QString history = dir.filePath(QStringLiteral("history.xlsx"));
    QVERIFY(window.main->ExportTo(TExportSource::History, history));
    QVERIFY(QFileInfo(history).size() > 0);
    QVERIFY(!window.main->ExportTo(TExportSource::Alerts, dir.filePath(QStringLiteral("no/such/a.csv"))));
    // A folder that is not there is named as such, not as one the user may not write.
    QVERIFY2(m_boxes.last().startsWith(QStringLiteral("无法写入导出文件：文件夹")), qPrintable(m_boxes.last()));
}

QTEST_MAIN(TestUiHistory)
#include "tst_ui_history.moc"
