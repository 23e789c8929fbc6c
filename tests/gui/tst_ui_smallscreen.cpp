// What a user sees on a small screen: the main window's status bar at 800, 1024 and 1280 pixels
// and the dialogs' sizes as the window system gets them.
#include "app/UtAlerts.h"
#include "app/UtFailures.h"
#include "app/UtMain.h"
#include "app/UtPriceChart.h"
#include "app/UtUpdateing.h"
#include "dialogs/UtAbout.h"
#include "dialogs/UtAddItem.h"
#include "dialogs/UtItemURL.h"
#include "dialogs/UtRival.h"
#include "dialogs/utDataImport.h"
#include "dialogs/utSetting.h"
#include "reader/UtReadAllItemThr.h"
#include "support/HistoryData.h"
#include "support/UpdaterTestData.h"
#include "widgets/UiMessageBoxes.h"
#include "widgets/UiStatusPanels.h"
#include "widgets/UiWindowSettings.h"

#include <QAccessible>
#include <QApplication>
#include <QChart>
#include <QDateTimeAxis>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QWindow>

#include <functional>
#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

QString AccessibleName(QObject* object) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Name) : QString();
}

QRect InBar(QWidget* widget, QStatusBar* bar) {
    return QRect(widget->mapTo(bar, QPoint(0, 0)), widget->size());
}

const QString kLongTitle = QStringLiteral("夏季新款纯棉短袖T恤 男士宽松休闲圆领半袖上衣潮流百搭体恤衫");

} // namespace

using TDialogFactory = std::function<QWidget*(TFmMain*)>;
Q_DECLARE_METATYPE(TDialogFactory)

class TstUiSmallScreen final : public QObject {
    Q_OBJECT

    std::unique_ptr<TUpdaterCatalogue> m_cat;
    std::unique_ptr<TFmMain> m_main;

private slots:
    void initTestCase() {
        // The windows' remembered choices go to a folder of the tests, fresh each run.
        QStandardPaths::setTestModeEnabled(true);
        QFile::remove(WindowSettingsFile());
    }
    void init() {
        SetMessageBoxHook([](TBoxKind, const QString&, const QString&) { return false; });
        m_cat = std::make_unique<TUpdaterCatalogue>();
        m_cat->AddItem(QStringLiteral("1001"), kLongTitle, QStringLiteral("20.00"));
        m_main = std::make_unique<TFmMain>(m_cat->db.connection());
    }
    void cleanup() {
        if (m_main)
            m_main->close();
        m_main.reset();
        m_cat.reset();
        SetMessageBoxHook({});
    }

    void progressTextAndRunSummaryShareANarrowBar_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("versionNotice");
        for (int width : {800, 897, 1024, 1280}) {
            const QByteArray w = QByteArray::number(width);
            QTest::newRow(w + " long title") << width << kLongTitle << false;
            QTest::newRow(w + " short title") << width << QStringLiteral("杯子") << false;
            QTest::newRow(w + " long title, new version") << width << kLongTitle << true;
        }
    }
    void progressTextAndRunSummaryShareANarrowBar() {
        QFETCH(int, width);
        QFETCH(QString, title);
        QFETCH(bool, versionNotice);
        m_main->resize(width, 600);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        // A real run puts the summary after the panels.
        m_main->btnUpdateItemClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m_main->UpdateRunning(), 60000);
        QCOMPARE(m_main->RunSummaryText(), QStringLiteral("本次更新：成功 1，失败 0"));
        // The next run's texts, as the updater writes them.
        const QDateTime at(QDate(2026, 12, 9), QTime(20, 40, 34));
        if (versionNotice)
            m_main->SetStatusText(0, QStringLiteral("已有新版,请点软件升级进行升级．"));
        m_main->SetStatusText(1, UpdaterTexts::Started(at));
        const QString progress = UpdaterTexts::Progress(title);
        m_main->SetStatusText(2, progress);
        QCoreApplication::processEvents();

        auto* bar = m_main->findChild<QStatusBar*>(QStringLiteral("stat"));
        auto* summary = bar->findChild<QToolButton*>(QStringLiteral("statSummary"));
        QList<TStatusPanel*> panels;
        for (int i = 0; i < 3; ++i)
            panels << bar->findChild<TStatusPanel*>(QStringLiteral("statPanel%1").arg(i));
        QVERIFY(summary && summary->isVisible());
        QCOMPARE(bar->width(), m_main->width());

        // Left to right in their order, the summary last, nothing overlapping, all inside the bar.
        QRect previous;
        for (QWidget* widget : {static_cast<QWidget*>(panels[0]), static_cast<QWidget*>(panels[1]),
                                static_cast<QWidget*>(panels[2]), static_cast<QWidget*>(summary)}) {
            const QRect shown = InBar(widget, bar);
            QVERIFY2(previous.isNull() || shown.left() > previous.right(), qPrintable(widget->objectName()));
            QVERIFY2(shown.right() < bar->width(), qPrintable(widget->objectName()));
            previous = shown;
        }
        // The listed panels keep their widths; the summary after them gives way first, and is
        // whole where the bar has room for it.
        QCOMPARE(InBar(panels[0], bar).left(), InBar(bar->findChild<TStatusPanels*>(), bar).left());
        // (A long title's progress text needs more than the rest of an 897-pixel bar: there the
        // blank panels give way to it.)
        const bool shortTitle = title.size() <= 6;
        if (width >= 1024 || (width >= 897 && shortTitle)) {
            QVERIFY2(panels[0]->width() >= 350, qPrintable(QString::number(panels[0]->width())));
            QVERIFY2(panels[1]->width() >= 250, qPrintable(QString::number(panels[1]->width())));
        }
        if (width >= 1280 || (width >= 1024 && shortTitle))
            QVERIFY(summary->width() >= summary->sizeHint().width());
        QVERIFY(summary->isEnabled());

        // Each panel draws what fits in it; the start time and the notice stay whole.
        for (TStatusPanel* panel : std::as_const(panels)) {
            const int room = panel->contentsRect().width();
            QVERIFY2(panel->fontMetrics().horizontalAdvance(panel->ShownText()) <= room,
                     qPrintable(panel->objectName()));
        }
        QCOMPARE(panels[1]->ShownText(), UpdaterTexts::Started(at));
        // The notice stays whole in its panel.
        const QString notice = QStringLiteral("已有新版,请点软件升级进行升级．");
        if (versionNotice)
            QCOMPARE(panels[0]->ShownText(), notice);

        // The progress text says what it is about: its frame is whole, the title begins it.
        const QString shown = panels[2]->ShownText();
        QVERIFY2(shown.startsWith(QStringLiteral("后台正在更新 \"") + title.left(4)), qPrintable(shown));
        QVERIFY2(shown.endsWith(QStringLiteral("\" 及其所对应的宝贝...")), qPrintable(shown));

        // A cut text keeps its whole wording in the tool tip; screen readers always read it whole.
        QCOMPARE(panels[2]->text(), progress);
        QCOMPARE(AccessibleName(panels[2]), progress);
        if (shown == progress) {
            QVERIFY(panels[2]->toolTip().isEmpty());
        } else {
            QVERIFY(shown.contains(u'\u2026'));
            QCOMPARE(panels[2]->toolTip(), progress);
        }
    }

    void finishTextsStayWholeBesideTheSummary_data() {
        QTest::addColumn<int>("width");
        QTest::newRow("800") << 800;
        QTest::newRow("1024") << 1024;
        QTest::newRow("1280") << 1280;
    }
    void finishTextsStayWholeBesideTheSummary() {
        QFETCH(int, width);
        m_main->resize(width, 600);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        m_main->btnUpdateItemClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m_main->UpdateRunning(), 60000);
        QCoreApplication::processEvents();
        // A text that quotes nothing has no part to spare: the blank of the panels before it goes.
        auto* bar = m_main->findChild<QStatusBar*>(QStringLiteral("stat"));
        for (int i = 1; i < 3; ++i) {
            auto* panel = bar->findChild<TStatusPanel*>(QStringLiteral("statPanel%1").arg(i));
            QCOMPARE(panel->ShownText(), m_main->StatusText(i));
        }
        QVERIFY(m_main->StatusText(2).startsWith(QStringLiteral("所有宝贝已在 ")));
    }

    void widerBarKeepsThePanelsNominalWidths() {
        m_main->resize(1600, 600);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        m_main->SetStatusText(2, UpdaterTexts::Progress(kLongTitle));
        QCoreApplication::processEvents();
        auto* bar = m_main->findChild<QStatusBar*>(QStringLiteral("stat"));
        auto* panel0 = bar->findChild<TStatusPanel*>(QStringLiteral("statPanel0"));
        auto* panel1 = bar->findChild<TStatusPanel*>(QStringLiteral("statPanel1"));
        auto* panel2 = bar->findChild<TStatusPanel*>(QStringLiteral("statPanel2"));
        QCOMPARE(panel0->width(), 350);
        QCOMPARE(panel1->width(), 250);
        QCOMPARE(panel2->ShownText(), UpdaterTexts::Progress(kLongTitle));
        QVERIFY(panel2->toolTip().isEmpty());
    }

    void dialogsGetTheirSizesFromTheWindowSystem_data() {
        QTest::addColumn<TDialogFactory>("make");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("outer"); // the size includes the frame and title bar
        QTest::newRow("add item") << TDialogFactory([](TFmMain* main) -> QWidget* { return new TFmAddItem(main); })
                                  << QSize(547, 210) << true;
        QTest::newRow("rivals") << TDialogFactory([](TFmMain* main) -> QWidget* { return new TFmRival(main); })
                                << QSize(701, 363) << false;
        QTest::newRow("mapping") << TDialogFactory([](TFmMain* main) -> QWidget* { return new TFmItemURL(main); })
                                 << QSize(702, 380) << false;
        QTest::newRow("settings") << TDialogFactory([](TFmMain* main) -> QWidget* { return new TFmSetting(main); })
                                  << QSize(239, 138) << false;
        QTest::newRow("import") << TDialogFactory([](TFmMain* main) -> QWidget* {
            return new TFmDataImport(main->Data().con, main);
        }) << QSize(500, 134) << false;
        QTest::newRow("about") << TDialogFactory([](TFmMain* main) -> QWidget* { return new TFmAbout(main); })
                               << QSize(526, 291) << false;
        QTest::newRow("wait") << TDialogFactory([](TFmMain* main) -> QWidget* { return new TFmUpdateing(main); })
                              << QSize(389, 138) << false;
    }
    void dialogsGetTheirSizesFromTheWindowSystem() {
        QFETCH(TDialogFactory, make);
        QFETCH(QSize, size);
        QFETCH(bool, outer);
        std::unique_ptr<QWidget> dialog(make(m_main.get()));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QCoreApplication::processEvents();
        // Offscreen windows have a frame of their own, so frame and contents differ here as they
        // do on a desktop.
        QVERIFY(!dialog->windowHandle()->frameMargins().isNull());
        QCOMPARE(outer ? dialog->frameGeometry().size() : dialog->geometry().size(), size);
        // Centred, on an 800 x 600 screen too, with everything inside at the height it needs.
        const QRect screen = dialog->screen()->availableGeometry();
        QVERIFY((dialog->frameGeometry().center() - screen.center()).manhattanLength() <= 4);
        if (screen.width() >= 800 && screen.height() >= 600) {
            const QRect small(screen.center() - QPoint(400, 300), QSize(800, 600));
            QVERIFY(small.contains(dialog->frameGeometry()));
        }
        for (QWidget* child : dialog->findChildren<QWidget*>()) {
            if (!child->isVisible() || child->parentWidget() != dialog.get())
                continue;
            QVERIFY2(dialog->rect().contains(child->geometry()), qPrintable(child->objectName()));
            QVERIFY2(child->height() >= child->minimumSizeHint().height(), qPrintable(child->objectName()));
        }
    }

    void wideWindowsStayWholeOnASmallScreen_data() {
        QTest::addColumn<TDialogFactory>("make");
        QTest::addColumn<QSize>("preferred");
        QTest::newRow("failure list") << TDialogFactory([](TFmMain* main) -> QWidget* { return new TFmFailures(main); })
                                      << QSize(1120, 420);
        QTest::newRow("alerts") << TDialogFactory([](TFmMain* main) -> QWidget* {
            return new TFmAlerts(main->Data().con, main);
        }) << QSize(980, 480);
        QTest::newRow("price chart") << TDialogFactory([](TFmMain* main) -> QWidget* {
            return new TFmPriceChart(main->Data().con, QStringLiteral("1001"), kLongTitle, {}, main);
        }) << QSize(1100, 720);
    }
    void wideWindowsStayWholeOnASmallScreen() {
        QFETCH(TDialogFactory, make);
        QFETCH(QSize, preferred);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        std::unique_ptr<QWidget> window(make(m_main.get()));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const QRect screen = window->screen()->availableGeometry();
        // The test screen is narrower than these windows would like to be.
        QVERIFY(screen.width() < preferred.width());
        QVERIFY2(screen.contains(window->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                          .arg(window->frameGeometry().x())
                                                                          .arg(window->frameGeometry().y())
                                                                          .arg(window->frameGeometry().width())
                                                                          .arg(window->frameGeometry().height())));
        QCOMPARE(window->size(), preferred.boundedTo(window->size()));
        for (QWidget* child : window->findChildren<QWidget*>()) {
            if (child->isVisible() && child->parentWidget() == window.get())
                QVERIFY2(window->rect().contains(child->geometry()), qPrintable(child->objectName()));
        }
    }

    void failureReasonShowsWhereItsColumnIsCut() {
        m_cat->server.route(QStringLiteral("/own/1001"), TTestResponse{503, "busy", {}});
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        m_main->btnUpdateItemClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m_main->UpdateRunning(), 60000);
        TFmFailures list(m_main.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        auto* rows = list.findChild<QTreeWidget*>(QStringLiteral("lvFailures"));
        QCOMPARE(rows->topLevelItemCount(), 1);
        QTreeWidgetItem* row = rows->topLevelItem(0);
        const QString reason = row->text(5);
        QVERIFY(!reason.isEmpty());
        // On the small screen the reason runs beyond what the window shows of the list...
        QVERIFY(rows->header()->sectionViewportPosition(5) + rows->fontMetrics().horizontalAdvance(reason) >
                rows->viewport()->width());
        // ...so every other cell of the row tells it when pointed at; the name cell keeps the address.
        for (int column : {0, 2, 3, 4, 5, 6})
            QCOMPARE(row->toolTip(column), reason);
        QVERIFY(row->toolTip(1).contains(QStringLiteral("/own/1001")));

        // The detail list's last column, cut at this width, tells the whole result the same way.
        m_main->SetFocusedRow(0);
        m_main->lstClick();
        QTreeWidget* detail = m_main->DetailList();
        const QString result = detail->topLevelItem(0)->text(TFmMain::kDetailOutcome);
        QVERIFY2(result.contains(reason), qPrintable(result));
        QCOMPARE(detail->topLevelItem(0)->toolTip(TFmMain::kDetailOutcome), result);
    }

    void priceChartTimeLabelsFitANarrowChart_data() {
        QTest::addColumn<int>("days");
        QTest::addColumn<TChartPeriod>("period");
        QTest::newRow("a day, all of it") << 1 << TChartPeriod::All;
        QTest::newRow("a month") << 28 << TChartPeriod::Month;
        QTest::newRow("a week") << 28 << TChartPeriod::Week;
    }
    void priceChartTimeLabelsFitANarrowChart() {
        QFETCH(int, days);
        QFETCH(TChartPeriod, period);
        THistoryDemo demo;
        demo.days = days;
        const QStringList rivals = WriteHistoryDemo(m_cat->db.connection(), demo);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        TFmPriceChart chart(m_main->Data().con, demo.itemId, demo.itemName, rivals, m_main.get());
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        chart.SetPeriod(period);
        QCoreApplication::processEvents();
        auto* axis = qobject_cast<QDateTimeAxis*>(chart.Chart()->axes(Qt::Horizontal).value(0));
        QVERIFY(axis);
        // Every label has room for its whole text beside the next one.
        const QFontMetrics metrics(axis->labelsFont());
        const int label = metrics.horizontalAdvance(axis->min().toString(axis->format()));
        const qreal spacing = chart.Chart()->plotArea().width() / (axis->tickCount() - 1);
        QVERIFY2(label < spacing,
                 qPrintable(
                     QStringLiteral("%1 labels of %2 px, %3 px apart").arg(axis->tickCount()).arg(label).arg(spacing)));
        QVERIFY(axis->tickCount() >= 2);
    }

    void cutListCellsShowTheirWholeText() {
        m_main->resize(800, 600);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        m_main->SetFocusedRow(0);
        m_main->lstClick();
        QTreeWidget* detail = m_main->DetailList();
        QCoreApplication::processEvents();
        // What pointing at a cell shows: nothing when the event is not taken up.
        auto pointAt = [detail](int row, int column) {
            const QRect cell = detail->visualRect(detail->model()->index(row, column));
            QHelpEvent help(QEvent::ToolTip, cell.center(), detail->viewport()->mapToGlobal(cell.center()));
            QCoreApplication::sendEvent(detail->viewport(), &help);
            return help.isAccepted() && QToolTip::isVisible() ? QToolTip::text() : QString();
        };
        // A title longer than its column (the user narrowed it): pointing at it shows it whole.
        detail->setColumnWidth(2, 120);
        QCoreApplication::processEvents();
        QCOMPARE(detail->topLevelItem(0)->text(2), kLongTitle);
        QVERIFY(detail->columnWidth(2) < detail->fontMetrics().horizontalAdvance(kLongTitle));
        QCOMPARE(pointAt(0, 2), kLongTitle);
        // A text that fits has nothing to add.
        QCOMPARE(detail->topLevelItem(0)->text(1), QStringLiteral("自己"));
        QCOMPARE(pointAt(0, 1), QString());
    }

    void addItemFailureTextFitsItsStatusBar() {
        TFmAddItem dialog(m_main.get());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.edtURL->setText(m_cat->server.url(QStringLiteral("/no-such-item")));
        dialog.btnOKClick();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.IsReading(), 60000);
        auto* panel = dialog.stat->findChild<TStatusPanel*>(QStringLiteral("statPanel0"));
        QVERIFY(panel);
        const QString whole = dialog.StatusText();
        QVERIFY2(whole.startsWith(AddItemTexts::Failed) && whole.size() > AddItemTexts::Failed.size(),
                 qPrintable(whole));
        QVERIFY(panel->fontMetrics().horizontalAdvance(panel->ShownText()) <= panel->contentsRect().width());
        QCOMPARE(AccessibleName(panel), whole);
        QCOMPARE(panel->toolTip(), panel->IsCut() ? whole : QString());
        // Narrower, it is cut for sure, and the tool tip has it whole.
        dialog.resize(300, dialog.height());
        QCoreApplication::processEvents();
        QVERIFY(panel->IsCut());
        QVERIFY(panel->ShownText().startsWith(QStringLiteral("读取宝贝失败")));
        QCOMPARE(panel->toolTip(), whole);
        QCOMPARE(AccessibleName(panel), whole);
    }

    void cutTextsGiveUpTheirQuotedPartFirst_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("room"); // in widths of the letter "M"
        QTest::addColumn<QString>("starts");
        QTest::addColumn<QString>("ends");
        QTest::newRow("fits") << QStringLiteral("修改宝贝 \"杯子\" 成功") << 40
                              << QStringLiteral("修改宝贝 \"杯子\" 成功") << QStringLiteral("成功");
        QTest::newRow("quoted title") << UpdaterTexts::Progress(kLongTitle) << 30
                                      << QStringLiteral("后台正在更新 \"夏季")
                                      << QStringLiteral("…\" 及其所对应的宝贝...");
        QTest::newRow("curly quotes") << QStringLiteral("“%1”：同行 的价格降低").arg(kLongTitle) << 20
                                      << QStringLiteral("“夏季") << QStringLiteral("…”：同行 的价格降低");
        QTest::newRow("no quotes") << QStringLiteral("所有宝贝已在 2026/12/9 20:40:34 完成更新") << 12
                                   << QStringLiteral("所有宝贝") << QStringLiteral("…");
        QTest::newRow("frame too wide") << UpdaterTexts::Progress(kLongTitle) << 8 << QStringLiteral("后台")
                                        << QStringLiteral("…");
    }
    void cutTextsGiveUpTheirQuotedPartFirst() {
        QFETCH(QString, text);
        QFETCH(int, room);
        QFETCH(QString, starts);
        QFETCH(QString, ends);
        const QFontMetrics metrics(QApplication::font());
        const int width = room * metrics.horizontalAdvance(u'M');
        const QString shown = TStatusPanel::Fit(text, metrics, width);
        QVERIFY2(metrics.horizontalAdvance(shown) <= width, qPrintable(shown));
        QVERIFY2(shown.startsWith(starts), qPrintable(shown));
        QVERIFY2(shown.endsWith(ends), qPrintable(shown));
    }
};

QTEST_MAIN(TstUiSmallScreen)
#include "tst_ui_smallscreen.moc"
