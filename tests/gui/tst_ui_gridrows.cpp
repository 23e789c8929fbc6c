// The comparison grid's three parts (names, rival bands, own band) must show the same rows at
// the same heights wherever the grid is scrolled: otherwise a rival's price stands beside the
// wrong item.
#include "app/UtMain.h"
#include "support/TestDatabase.h"
#include "widgets/UiGridModel.h"
#include "widgets/UiGridView.h"
#include "widgets/UiMessageBoxes.h"

#include <QScrollBar>
#include <QTest>

#include <memory>

using namespace vantero;
using namespace vantero::test;

class TstUiGridRows final : public QObject {
    Q_OBJECT

private:
    static void Fill(const TTestDatabase& db, int items) {
        db.exec(QStringLiteral("update Setting set UpdateTimeOut=60, WW='我的店'"));
        db.exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('同行甲', 'http://a/'), "
                               "('同行乙', 'http://b/'), ('同行丙', 'http://c/'), ('同行丁', 'http://d/')"));
        const QString numbers = QStringLiteral("with recursive n(i) as (select 0 union all select i + 1 from n where "
                                               "i + 1 < ?) ");
        db.exec(numbers + QStringLiteral("insert into Items (ItemID, ItemName, CustomItemName, Price, SellCount) "
                                         "select 1000 + i, '宝贝' || i, '', 10 + i, 1 from n"),
                {items});
        db.exec(numbers + QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, Price, SellCount) "
                                         "select '同行甲', 1000 + i, 9000 + i, 9 + i, 2 from n"),
                {items});
    }

    // Each part's first visible row and where each visible row stands in its viewport.
    static void CheckLevel(TGridView* grid, const char* where) {
        const TGridPartView* parts[] = {grid->leftPart(), grid->middlePart(), grid->rightPart()};
        const int rows = grid->leftPart()->model()->rowCount();
        const int top = parts[0]->rowAt(0);
        for (const TGridPartView* part : parts) {
            QVERIFY2(part->viewport()->height() == parts[0]->viewport()->height(), where);
            QVERIFY2(part->rowAt(0) == top, where);
            for (int row = std::max(0, top); row < std::min(rows, top + 60); ++row)
                QVERIFY2(part->rowViewportPosition(row) == parts[0]->rowViewportPosition(row),
                         qPrintable(QStringLiteral("%1, row %2").arg(QLatin1String(where)).arg(row)));
        }
    }

private slots:
    void init() {
        SetMessageBoxHook([](TBoxKind, const QString&, const QString&) { return false; });
    }
    void cleanup() { SetMessageBoxHook({}); }

    void partsScrollAsOne_data() {
        QTest::addColumn<int>("items");
        QTest::addColumn<int>("height");
        for (int items : {30, 200, 5000}) {
            for (int height : {538, 768, 800}) {
                QTest::newRow(qPrintable(QStringLiteral("%1 rows, %2 px").arg(items).arg(height))) << items << height;
            }
        }
    }
    void partsScrollAsOne() {
        QFETCH(int, items);
        QFETCH(int, height);
        TTestDatabase db;
        Fill(db, items);
        TFmMain main(db.connection());
        main.resize(1024, height);
        main.showNormal();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        main.resize(1024, height);
        QCoreApplication::processEvents();
        TGridView* grid = main.GridView();
        QCOMPARE(grid->leftPart()->model()->rowCount(), items);
        CheckLevel(grid, "top");

        // The keyboard's end, in the name part.
        main.SetFocusedRow(0);
        grid->leftPart()->setFocus();
        QTest::keyClick(grid->leftPart(), Qt::Key_End, Qt::ControlModifier);
        QCoreApplication::processEvents();
        QCOMPARE(main.FocusedRow(), items - 1);
        CheckLevel(grid, "Ctrl+End");
        // The last row is wholly in sight in every part.
        for (const TGridPartView* part : {grid->leftPart(), grid->middlePart(), grid->rightPart()}) {
            const int bottom = part->rowViewportPosition(items - 1) + part->rowHeight(items - 1);
            QVERIFY2(bottom <= part->viewport()->height(), qPrintable(part->accessibleName()));
        }

        // The scroll bar (it sits on the own band), at the end, the middle and the top.
        QScrollBar* bar = grid->rightPart()->verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        QCoreApplication::processEvents();
        CheckLevel(grid, "middle");
        bar->setValue(bar->maximum());
        QCoreApplication::processEvents();
        CheckLevel(grid, "scroll bar end");
        // The wheel over the rival bands.
        grid->middlePart()->verticalScrollBar()->setValue(0);
        QCoreApplication::processEvents();
        CheckLevel(grid, "back at the top");
        QCOMPARE(bar->value(), 0);

        // A window that grows or shrinks keeps the parts level at the end.
        bar->setValue(bar->maximum());
        main.resize(1024, height - 97);
        QCoreApplication::processEvents();
        bar->setValue(bar->maximum());
        QCoreApplication::processEvents();
        CheckLevel(grid, "after a resize");
    }
};

QTEST_MAIN(TstUiGridRows)
#include "tst_ui_gridrows.moc"
