// Stale cells, the detail list's last result, the run summary and the failure list, offscreen.
#include "app/UtFailures.h"
#include "app/UtMain.h"
#include "app/UtUpdateing.h"
#include "reader/UtReadItemThr.h"
#include "support/UpdaterTestData.h"
#include "widgets/UiGridModel.h"
#include "widgets/UiMessageBoxes.h"

#include <QAction>
#include <QFont>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

using namespace vantero;
using namespace vantero::test;

namespace {

// Counts the wait dialogs shown.
class TWaitCounter final : public QObject {
public:
    TWaitCounter() { qApp->installEventFilter(this); }
    ~TWaitCounter() override { qApp->removeEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<TFmUpdateing*>(watched))
            ++count;
        return false;
    }
};

} // namespace

class TstUiOutcomes final : public QObject {
    Q_OBJECT

    std::unique_ptr<TUpdaterCatalogue> m_cat;
    std::unique_ptr<TFmMain> m_main;
    QStringList m_boxes;

    void RunUpdate() {
        m_main->btnUpdateItemClick();
        QTRY_VERIFY_WITH_TIMEOUT(!m_main->UpdateRunning(), 60000);
    }

private slots:
    void init() {
        m_boxes.clear();
        SetMessageBoxHook([this](TBoxKind, const QString&, const QString& text) {
            m_boxes << text;
            return false;
        });
        m_cat = std::make_unique<TUpdaterCatalogue>();
        m_cat->AddRival(QStringLiteral("rivala"));
        m_cat->AddRival(QStringLiteral("rivalb"));
        m_cat->AddItem(QStringLiteral("1001"), QStringLiteral("裙子"), QStringLiteral("20.00"));
        m_cat->AddItem(QStringLiteral("1002"), QStringLiteral("裤子"), QStringLiteral("30.00"));
        m_cat->AddMapping(QStringLiteral("rivala"), QStringLiteral("1001"), QStringLiteral("9001"),
                          QStringLiteral("/r/9001"));
        m_cat->AddMapping(QStringLiteral("rivalb"), QStringLiteral("1001"), QStringLiteral("9002"),
                          QStringLiteral("/r/9002"), QStringLiteral("wrongshop"));
        m_cat->server.route(QStringLiteral("/own/1002"), TTestResponse{404, "gone", {}});
        m_main = std::make_unique<TFmMain>(m_cat->db.connection());
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    }
    void cleanup() {
        TReadItem::StopAll();
        QCoreApplication::sendPostedEvents();
        if (m_main)
            m_main->close();
        m_main.reset();
        m_cat.reset();
        SetMessageBoxHook({});
    }

    void backgroundRunMarksFailedPagesAndSumsUp() {
        TGridModel* model = m_main->GridModel();
        QVERIFY(!model->index(0, 2).data(TGridModel::StaleRole).toBool()); // never read: nothing to mark
        QVERIFY(!m_main->findChild<QToolButton*>(QStringLiteral("statSummary"))->isVisible());
        RunUpdate();
        // Panels 1 and 2 keep their texts; the summary stands after them.
        QVERIFY(m_main->StatusText(1).startsWith(QStringLiteral("后台更新线程在 ")));
        QVERIFY(m_main->StatusText(2).startsWith(QStringLiteral("所有宝贝已在 ")));
        QCOMPARE(m_main->RunSummaryText(), QStringLiteral("本次更新：成功 2，失败 2"));
        QVERIFY(m_main->findChild<QToolButton*>(QStringLiteral("statSummary"))->isVisible());

        const int last = model->columnCount() - 1;
        // Row 0: rivala fresh, rivalb refused (columns 5 to 7); row 1: the own page failed.
        for (int column = 0; column <= last; ++column) {
            const bool rivalb = column >= 5 && column <= 7;
            const bool own = column <= 1 || column >= last - 1;
            QCOMPARE(model->index(0, column).data(TGridModel::StaleRole).toBool(), rivalb);
            QCOMPARE(model->index(1, column).data(TGridModel::StaleRole).toBool(), own);
        }
        const QModelIndex stale = model->index(0, 5);
        QVERIFY(stale.data(Qt::FontRole).value<QFont>().italic());
        QVERIFY(!model->index(0, 2).data(Qt::FontRole).value<QFont>().italic());
        QVERIFY(stale.data(Qt::ToolTipRole).toString().contains(QStringLiteral("卖家不匹配")));
        QVERIFY(stale.data(Qt::ToolTipRole).toString().contains(QStringLiteral("从未成功读取")));
        // The fresh cells keep their colours.
        QCOMPARE(model->index(0, 2).data(Qt::ForegroundRole).value<QColor>(), QColor(0x00, 0x00, 0xFF));
        QVERIFY(model->index(1, 1).data(Qt::ToolTipRole).toString().contains(QStringLiteral("404")));

        // The detail list's last column: each shop's last result.
        m_main->SetFocusedRow(0);
        m_main->lstClick(); // the detail list follows a click, as after any reading
        QTreeWidget* detail = m_main->DetailList();
        QVERIFY(detail->topLevelItem(0)->text(TFmMain::kDetailOutcome).startsWith(QStringLiteral("成功 ")));
        QVERIFY(detail->topLevelItem(2)->text(TFmMain::kDetailOutcome).startsWith(QStringLiteral("失败 ")));
        QVERIFY(detail->topLevelItem(2)->text(TFmMain::kDetailOutcome).endsWith(QStringLiteral("：卖家不匹配")));
    }

    void failureListReReadsThroughTheSingleReading() {
        RunUpdate();
        m_cat->server.route(QStringLiteral("/own/1002"), ItemPage(QStringLiteral("裤子"), kOwnAccount,
                                                                  QStringLiteral("31.00"), QStringLiteral("1002")));
        m_cat->server.route(QStringLiteral("/r/9002"), ItemPage(QStringLiteral("同行宝贝"), QStringLiteral("rivalb"),
                                                                QStringLiteral("8.00"), QStringLiteral("9002")));
        QStringList shown;
        TWaitCounter waits;
        // The list is read once shown; the wait dialogs are left to their readings.
        auto watch = [&] {
            QWidget* active = QApplication::activeModalWidget();
            if (auto* list = qobject_cast<TFmFailures*>(active); list && shown.isEmpty()) {
                for (int i = 0; i < list->List()->topLevelItemCount(); ++i)
                    shown << list->List()->topLevelItem(i)->text(2) + u'|' + list->List()->topLevelItem(i)->text(5);
                QTest::mouseClick(list->findChild<QPushButton*>(QStringLiteral("btnReadAll")), Qt::LeftButton);
                shown << QString::number(list->List()->topLevelItemCount());
                list->accept();
            }
        };
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, watch);
        timer.start(20);
        // A click on the summary opens the list.
        QTest::mouseClick(m_main->findChild<QToolButton*>(QStringLiteral("statSummary")), Qt::LeftButton);
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown[0], QStringLiteral("rivalb|卖家不匹配"));
        QVERIFY2(shown[1].startsWith(QStringLiteral("自己|服务器返回 404：页面不存在（HTTP 404")),
                 qPrintable(shown[1]));
        QCOMPARE(shown[2], QStringLiteral("0")); // both read again, nothing fails any more
        QCOMPARE(waits.count, 2);
        QVERIFY(m_boxes.isEmpty());
        // The re-read rows were refreshed: no mark left.
        QVERIFY(!m_main->GridModel()->index(1, 1).data(TGridModel::StaleRole).toBool());
        QCOMPARE(m_main->Data().grid.cell(1, m_main->Data().grid.columnCount() - 2), QStringLiteral("31.00"));
        // The menu entry stands after the specified ones.
        QAction* entry = m_main->findChild<QAction*>(QStringLiteral("mniFailures"));
        QVERIFY(entry);
        QCOMPARE(entry->text(), QStringLiteral("读取失败的宝贝(&F)"));
    }
};

QTEST_MAIN(TstUiOutcomes)
#include "tst_ui_outcomes.moc"
