// The alert channels in the windows: the channel list of "提醒设置" (add, edit, test, remove),
// send failures in the alerts window and the notice for a channel that keeps failing.
#include "app/UtAlerts.h"
#include "app/UtMain.h"
#include "dialogs/UtAlertSettings.h"
#include "history/NotifyChannels.h"
#include "history/NotifySender.h"
#include "support/RawTestServer.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"
#include "widgets/UiMessageBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

using namespace vantero;
using namespace vantero::test;

class TestUiNotify : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_config;

private slots:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

    void channelListAddsEditsTestsAndRemoves() {
        TTestHttpServer robot;
        robot.route(QStringLiteral("/cgi-bin/webhook/send?key=K123456"), QByteArray(R"({"errcode":0,"errmsg":"ok"})"),
                    "application/json");
        TTestDatabase db;
        TFmAlertSettings dialog(db.connection());
        QCOMPARE(dialog.lvChannels->topLevelItemCount(), 0);
        QVERIFY(!dialog.btnTestChannel->isEnabled());
        QVERIFY(dialog.lblSecretsWhere->text().contains(TSecretStore::FilePath()));
        {
            TFmChannelEdit editor(std::nullopt, &dialog);
            QCOMPARE(editor.windowTitle(), QStringLiteral("添加提醒渠道"));
            editor.edtName->setText(QStringLiteral("运营群"));
            editor.cbKind->setCurrentIndex(int(TChannelKind::WeCom));
            QVERIFY(editor.edtServer->isHidden() && !editor.edtWebhook->isHidden());
            editor.edtWebhook->setText(robot.url(QStringLiteral("/cgi-bin/webhook/send?key=K123456")));
            QTest::mouseClick(editor.btnSave, Qt::LeftButton);
            QCOMPARE(editor.result(), int(QDialog::Accepted));
        }
        dialog.ReloadChannels();
        QCOMPARE(dialog.lvChannels->topLevelItemCount(), 1);
        QTreeWidgetItem* row = dialog.lvChannels->topLevelItem(0);
        QCOMPARE(row->text(1), QStringLiteral("企业微信群机器人"));
        QVERIFY(!row->text(2).contains(QStringLiteral("K123456")));
        dialog.lvChannels->setCurrentItem(row);
        QTest::mouseClick(dialog.btnTestChannel, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.lblTestResult->text(), QStringLiteral("测试消息已发送到“运营群”。"), 60000);
        QCOMPARE(robot.requestCount(QStringLiteral("/cgi-bin/webhook/send?key=K123456")), 1);

        // Editing shows no stored secret; left empty, it is kept.
        {
            TFmChannelEdit editor(LoadChannels().first(), &dialog);
            QVERIFY(editor.edtWebhook->text().isEmpty());
            QCOMPARE(editor.edtWebhook->placeholderText(), QStringLiteral("已保存，留空则不变"));
            editor.edtName->setText(QStringLiteral("运营二群"));
            editor.chkEnabled->setChecked(false);
            QTest::mouseClick(editor.btnSave, Qt::LeftButton);
            QCOMPARE(editor.result(), int(QDialog::Accepted));
        }
        dialog.ReloadChannels();
        QCOMPARE(dialog.lvChannels->topLevelItem(0)->text(0), QStringLiteral("运营二群"));
        QCOMPARE(dialog.lvChannels->topLevelItem(0)->text(3), QStringLiteral("停用"));
        QVERIFY(TSecretStore::Lookup(QStringLiteral("运营二群")).webhook.endsWith(QStringLiteral("key=K123456")));

        // A refused channel: the reason in a box, the editor stays open.
        QStringList boxes;
        SetMessageBoxHook([&](TBoxKind, const QString&, const QString& text) {
            boxes << text;
            return true;
        });
        {
            TFmChannelEdit editor(std::nullopt, &dialog);
            editor.edtName->setText(QStringLiteral("邮件"));
            editor.cbKind->setCurrentIndex(int(TChannelKind::Email));
            QVERIFY(!editor.edtServer->isHidden() && editor.edtWebhook->isHidden());
            editor.edtServer->setText(QStringLiteral("smtp.example.invalid:587"));
            editor.edtFrom->setText(QStringLiteral("shop@example.invalid"));
            QTest::mouseClick(editor.btnSave, Qt::LeftButton);
            QCOMPARE(boxes, QStringList{QStringLiteral("至少需要一个收件人")});
            QVERIFY(editor.result() != int(QDialog::Accepted));
        }
        dialog.lvChannels->setCurrentItem(dialog.lvChannels->topLevelItem(0));
        QTest::mouseClick(dialog.btnRemoveChannel, Qt::LeftButton);
        SetMessageBoxHook({});
        QCOMPARE(boxes.last(), QStringLiteral("确定删除提醒渠道“运营二群”吗？"));
        QCOMPARE(dialog.lvChannels->topLevelItemCount(), 0);
        QVERIFY(LoadChannels().isEmpty());
    }

    void sendFailuresShowAndAThirdFailedRoundGivesOneNotice() {
        TTestDatabase db;
        db.exec(
            QStringLiteral("INSERT INTO Items (ItemID, ItemName, CustomItemName, Price) VALUES ('1', '围巾', '', 9)"));
        db.exec(QStringLiteral("INSERT INTO Alerts (CreatedAt, Kind, LocalItemID, RivalWW, OldPrice, NewPrice, "
                               "OwnPrice) VALUES ('2026-01-31 08:05:00', 1, '1', 'rivalA', 10, 8, 9)"));
        db.exec(QStringLiteral("INSERT INTO AlertSends (AlertID, Round, Channel, SentAt, Ok, Tries, ErrorText) "
                               "VALUES (1, 1, '坏的', '2026-01-31 08:05:10', 0, 3, '发送超时：20 秒内未完成')"));
        TFmMain main(db.connection());
        main.show();
        TFmAlerts* alerts = main.AlertsWindow(true);
        alerts->Reload();
        QCOMPARE(alerts->lvAlerts->headerItem()->text(8), QStringLiteral("发送失败"));
        QCOMPARE(alerts->lvAlerts->topLevelItem(0)->text(8), QStringLiteral("坏的：发送超时：20 秒内未完成"));

        auto notices = [&main] {
            int shown = 0;
            for (QMessageBox* box : main.findChildren<QMessageBox*>(QStringLiteral("boxChannelFailing")))
                shown += box->isVisible() ? 1 : 0;
            return shown;
        };
        TSendReport report;
        report.channel = QStringLiteral("坏的");
        report.result.error = QStringLiteral("发送超时：20 秒内未完成");
        for (int round = 1; round <= 5; ++round) {
            report.failedRoundsInRow = round;
            main.SendReported(report);
            QCOMPARE(notices(), round >= 3 ? 1 : 0);
        }
        QMessageBox* box = main.findChild<QMessageBox*>(QStringLiteral("boxChannelFailing"));
        QVERIFY(!box->isModal());
        QVERIFY(box->text().startsWith(QStringLiteral("提醒渠道“坏的”已连续 3 轮发送失败")));
    }

    void closingTheWindowRecordsAlertsItCouldNotSend() {
        TRawTestServer silent([](TRawConnection& c) { c.waitUntilClosed(120000); });
        TNotifyChannel channel;
        channel.name = QStringLiteral("不回答");
        channel.kind = TChannelKind::WeCom;
        QVERIFY(PutChannel(channel, {silent.url(QStringLiteral("/send?key=k")), {}, {}}));
        TTestDatabase db;
        db.exec(QStringLiteral(
            "INSERT INTO Items (ItemID, ItemName, CustomItemName, Price) VALUES ('1001', '纯棉T恤', '', 100)"));
        db.exec(QStringLiteral("INSERT INTO PriceHistory (LocalItemID, RivalWW, ReadAt, Price, SellCount) VALUES "
                               "('1001', 'rivalA', '2026-12-01 10:00:00', 105, 0), "
                               "('1001', 'rivalA', '2026-12-01 11:00:00', 90, 0)"));
        QElapsedTimer closing;
        {
            TFmMain main(db.connection());
            main.show();
            QCOMPARE(main.CheckAlertsNow().size(), 1);
            QTRY_COMPARE_WITH_TIMEOUT(silent.connections(), 1, 30000);
            main.close();
            closing.start();
        }
        // A try of 20 s, three of them, would outlast this by far.
        QVERIFY2(closing.elapsed() < 30000, qPrintable(QString::number(closing.elapsed())));
        TFmMain again(db.connection());
        TFmAlerts* alerts = again.AlertsWindow(true);
        alerts->Reload();
        QCOMPARE(alerts->lvAlerts->topLevelItem(0)->text(8), QStringLiteral("不回答：程序退出，未发送"));
        QVERIFY(RemoveChannel(channel.name));
    }
};

QTEST_MAIN(TestUiNotify)
#include "tst_ui_notify.moc"
