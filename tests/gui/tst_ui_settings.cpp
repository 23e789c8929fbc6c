// The settings dialog and the settings rules it shares with the command-line tool.
#include "app/UtMain.h"
#include "catalogue/Settings.h"
#include "dialogs/utSetting.h"
#include "support/TestDatabase.h"
#include "widgets/UiMessageBoxes.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <climits>
#include <memory>

using namespace vantero;
using namespace vantero::test;

class TstUiSettings final : public QObject {
    Q_OBJECT

private:
    struct TBox {
        TBoxKind kind;
        QString text;
    };
    std::unique_ptr<TTestDatabase> m_db;
    std::unique_ptr<TFmMain> m_main;
    QList<TBox> m_boxes;

    std::unique_ptr<TFmSetting> OpenDialog() {
        auto dialog = std::make_unique<TFmSetting>(m_main.get());
        dialog->show();
        return dialog;
    }
    QVariant Stored(const char* column) const {
        return m_db->value(QStringLiteral("select %1 from Setting").arg(QLatin1String(column)));
    }
    void Save(TFmSetting& dialog, const QString& minutes) {
        dialog.edtUpdateTimeOut->setText(minutes);
        dialog.btnSave->click();
    }

private slots:
    void init() {
        m_boxes.clear();
        m_db = std::make_unique<TTestDatabase>();
        m_db->exec(QStringLiteral("update Setting set UpdateTimeOut=60, WW='shopa'"));
        m_main = std::make_unique<TFmMain>(m_db->connection());
        m_main->ApplySettings();
        SetMessageBoxHook([this](TBoxKind kind, const QString&, const QString& text) {
            m_boxes.append({kind, text});
            return true;
        });
    }
    void cleanup() {
        SetMessageBoxHook(nullptr);
        m_main.reset();
        m_db.reset();
    }

    // --- The interval as typed ---

    void parsesTypedInterval_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("minutes");
        QTest::newRow("number") << QStringLiteral("30") << 30;
        QTest::newRow("blanks around") << QStringLiteral(" 30 ") << 30;
        QTest::newRow("signed") << QStringLiteral("+20") << 20;
        QTest::newRow("negative") << QStringLiteral("-20") << -20;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("letters") << QStringLiteral("abc") << 0;
        QTest::newRow("decimal") << QStringLiteral("15.5") << 0;
        QTest::newRow("inner blank") << QStringLiteral("1 5") << 0;
        QTest::newRow("full-width digits") << QStringLiteral("３０") << 0;
        QTest::newRow("largest 32-bit") << QStringLiteral("2147483647") << INT_MAX;
        QTest::newRow("smallest 32-bit") << QStringLiteral("-2147483648") << INT_MIN;
        // Beyond the 32-bit range a text is no 32-bit number: 0, never a value nobody typed.
        QTest::newRow("one beyond 32 bits") << QStringLiteral("2147483648") << 0;
        QTest::newRow("beyond 32 bits") << QStringLiteral("99999999999") << 0;
        QTest::newRow("far beyond 64 bits") << QStringLiteral("999999999999999999999999") << 0;
        QTest::newRow("hugely negative") << QStringLiteral("-99999999999") << 0;
    }
    void parsesTypedInterval() {
        QFETCH(QString, text);
        QFETCH(int, minutes);
        QCOMPARE(ParseUpdateMinutes(text), minutes);
    }

    // --- The dialog ---

    void showsCaptionsAndStoredValues() {
        auto dialog = OpenDialog();
        QCOMPARE(dialog->windowTitle(), QStringLiteral("系统设置"));
        QCOMPARE(dialog->edtUpdateTimeOut->text(), QStringLiteral("60"));
        QCOMPARE(dialog->btnSave->text(), QStringLiteral("保存"));
        QCOMPARE(dialog->btnClose->text(), QStringLiteral("取消"));
        QStringList labels;
        for (const QLabel* label : dialog->findChildren<QLabel*>())
            labels << label->text();
        QVERIFY(labels.contains(QStringLiteral("自动更新数据时间间隔")));
        QVERIFY(labels.contains(QStringLiteral("分钟")));
        QCOMPARE(dialog->edtUpdateTimeOut->accessibleName(), QStringLiteral("自动更新数据时间间隔"));
        // The specified controls only, in their fixed client area; the own shop has its own window.
        QCOMPARE(labels.size(), 2);
        QCOMPARE(dialog->findChildren<QLineEdit*>().size(), 1);
        QCOMPARE(dialog->size(), QSize(239, 138));
    }

    void refusesBelowFloor_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("14") << QStringLiteral("14");
        QTest::newRow("0") << QStringLiteral("0");
        QTest::newRow("negative") << QStringLiteral("-30");
        QTest::newRow("empty") << QString();
        QTest::newRow("letters") << QStringLiteral("abc");
        QTest::newRow("hugely negative") << QStringLiteral("-99999999999");
        QTest::newRow("beyond 32 bits") << QStringLiteral("99999999999");
    }
    void refusesBelowFloor() {
        QFETCH(QString, text);
        auto dialog = OpenDialog();
        dialog->btnSave->setFocus();
        Save(*dialog, text);
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].kind, TBoxKind::Plain);
        QCOMPARE(m_boxes[0].text, QStringLiteral("不能设置时间小于15分钟,请重设."));
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->focusWidget(), dialog->edtUpdateTimeOut);
        QCOMPARE(Stored("UpdateTimeOut").toInt(), 60);
        QCOMPARE(Stored("WW").toString(), QStringLiteral("shopa"));
        QCOMPARE(m_main->Data().OwnAccount, QStringLiteral("shopa"));
        QCOMPARE(m_main->UpdateTimer()->interval(), 60 * 60000);
    }

    void savesFifteenAndArmsTimer() {
        auto dialog = OpenDialog();
        Save(*dialog, QStringLiteral("15"));
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].kind, TBoxKind::Plain);
        QCOMPARE(m_boxes[0].text, QStringLiteral("保存成功"));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(Stored("UpdateTimeOut").toInt(), 15);
        QCOMPARE(m_main->UpdateTimer()->interval(), 900000);
        QVERIFY(m_main->UpdateTimer()->isActive());
    }

    void unchangedIntervalKeepsCountdown() {
        QTimer* timer = m_main->UpdateTimer();
        QTest::qWait(30); // let the countdown run a little
        const int before = timer->remainingTime();
        auto dialog = OpenDialog();
        Save(*dialog, QStringLiteral("60"));
        QCOMPARE(Stored("UpdateTimeOut").toInt(), 60);
        QVERIFY(timer->remainingTime() <= before); // not restarted
    }

    void changedIntervalRestartsCountdown() {
        QTimer* timer = m_main->UpdateTimer();
        auto dialog = OpenDialog();
        Save(*dialog, QStringLiteral("61"));
        QCOMPARE(timer->interval(), 61 * 60000);
        QVERIFY(timer->remainingTime() > 60 * 60000); // counts from the save, not from before
    }

    void savingLeavesStoppedTimerStopped() {
        m_main->UpdateTimer()->stop();
        auto dialog = OpenDialog();
        Save(*dialog, QStringLiteral("20"));
        QCOMPARE(m_main->UpdateTimer()->interval(), 20 * 60000);
        QVERIFY(!m_main->UpdateTimer()->isActive());
    }

    void largestIntervalIsStoredAndTheTimerCapped() {
        auto dialog = OpenDialog();
        Save(*dialog, QStringLiteral("2147483647"));
        QCOMPARE(Stored("UpdateTimeOut").toLongLong(), qint64(INT_MAX));
        QCOMPARE(m_main->UpdateTimer()->interval(), INT_MAX);
        QCOMPARE(m_boxes.last().text, QStringLiteral("保存成功"));
    }

    void cancelStoresNothing() {
        auto dialog = OpenDialog();
        dialog->edtUpdateTimeOut->setText(QStringLiteral("90"));
        dialog->btnClose->click();
        QVERIFY(!dialog->isVisible());
        QVERIFY(m_boxes.isEmpty());
        QCOMPARE(Stored("UpdateTimeOut").toInt(), 60);
        QCOMPARE(Stored("WW").toString(), QStringLiteral("shopa"));
    }

    void missingRowIsAddedBySaving() {
        m_db->exec(QStringLiteral("delete from Setting"));
        auto dialog = OpenDialog();
        QVERIFY(dialog->edtUpdateTimeOut->text().isEmpty());
        Save(*dialog, QStringLiteral("25"));
        QCOMPARE(m_db->value(QStringLiteral("select count(*) from Setting")).toInt(), 1);
        QCOMPARE(Stored("UpdateTimeOut").toInt(), 25);
        QCOMPARE(Stored("WW").toString(), QStringLiteral("shopa")); // the account in use
    }

    // Saving the interval never empties an account the user did not clear.
    void savingTheIntervalKeepsTheAccountInUse() {
        // The row went missing while the program ran: the account in use is written back.
        m_db->exec(QStringLiteral("delete from Setting"));
        {
            auto dialog = OpenDialog();
            Save(*dialog, QStringLiteral("30"));
        }
        QCOMPARE(m_main->Data().OwnAccount, QStringLiteral("shopa"));
        QCOMPARE(Stored("WW").toString(), QStringLiteral("shopa"));
        QCOMPARE(Stored("UpdateTimeOut").toInt(), 30);
        // Another program emptied the column: saving the interval leaves it so.
        m_db->exec(QStringLiteral("update Setting set WW=''"));
        {
            auto dialog = OpenDialog();
            Save(*dialog, QStringLiteral("40"));
        }
        QCOMPARE(m_main->Data().OwnAccount, QStringLiteral("shopa"));
        QCOMPARE(Stored("WW").toString(), QString());
        QCOMPARE(Stored("UpdateTimeOut").toInt(), 40);
    }

    void nextStartReadsSavedValues() {
        auto dialog = OpenDialog();
        Save(*dialog, QStringLiteral("45"));
        TFmMain next(m_db->connection());
        next.ApplySettings();
        QCOMPARE(next.UpdateTimer()->interval(), 45 * 60000);
        QCOMPARE(next.Data().OwnAccount, QStringLiteral("shopa"));
    }

    void storingOnlyTheAccountKeepsInterval() {
        TRecordSet qry(m_db->connection());
        LoadSettings(qry);
        StoreSettings(qry, std::nullopt, QStringLiteral(" shopd "));
        QCOMPARE(Stored("UpdateTimeOut").toInt(), 60);
        QCOMPARE(Stored("WW").toString(), QStringLiteral("shopd"));
    }
};

QTEST_MAIN(TstUiSettings)
#include "tst_ui_settings.moc"
