// The rival shops dialog offscreen over a real database, with shop pages served from 127.0.0.1 and
// the message boxes answered by a hook.
#include "app/UtMain.h"
#include "catalogue/ShopPage.h"
#include "dialogs/UtRival.h"
#include "net/HttpEngine.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"
#include "widgets/UiMessageBoxes.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace vantero;
using namespace vantero::test;

namespace {

struct TBox {
    TBoxKind kind;
    QString text;
};

QByteArray ShopPageFor(const QByteArray& owner, const QByteArray& name) {
    return "<html><body><a href=\"/x?ownerid=1&y\">o</a><div id=\"J_shopViewed\" data-value='{\"name\":\"" + name +
           "\",\"link\":\"http://s.taobao.com\"}'></div><a href=\"http://rate.taobao.com/user-rate-1.htm\">" + owner +
           "</a></body></html>";
}

QStringList BandCaptions(TFmMain& main) {
    QStringList captions;
    for (const auto& band : main.Data().grid.bands())
        captions << band.caption;
    return captions;
}

} // namespace

class TestUiRival final : public QObject {
    Q_OBJECT

private:
    TTestHttpServer* server = nullptr;
    QList<TBox> boxes;
    QList<bool> answers; // for the questions, in order; a question beyond them is answered No
    QStringList opened;

    struct TFixture {
        TTestDatabase db;
        TFmMain main{db.connection()};
        std::unique_ptr<TFmRival> dialog;
        void open() {
            main.RefreshAll();
            dialog = std::make_unique<TFmRival>(&main);
            dialog->show();
        }
        QTreeWidget* list() const { return dialog->findChild<QTreeWidget*>(QStringLiteral("dbg")); }
        QLineEdit* address() const { return dialog->findChild<QLineEdit*>(QStringLiteral("edtShopURL")); }
        void click(const char* name) const {
            QTest::mouseClick(dialog->findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
        }
        QStringList row(int index) const {
            QStringList texts;
            const QTreeWidgetItem* item = list()->topLevelItem(index);
            for (int i = 0; item && i < item->columnCount(); ++i)
                texts << item->text(i);
            return texts;
        }
    };

    void AddRival(TTestDatabase& db, const QString& account, const QString& url) {
        db.exec(u"insert into Rival (RivalWW, ShopURL, ShopName, ShopClass, ShopType) values (?, ?, ?, ?, ?)"_qs,
                {account, url, account + u"的店"_qs, u"淘宝"_qs, u"淘宝"_qs});
    }

private slots:
    void initTestCase() {
        server = new TTestHttpServer;
        SetHttpProxy(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server->port())));
        SetMessageBoxHook([this](TBoxKind kind, const QString&, const QString& text) {
            boxes.append({kind, text});
            return kind == TBoxKind::Question && !answers.isEmpty() && answers.takeFirst();
        });
        SetOpenAddressHook([this](const QString& address) { opened << address; });
    }
    void cleanupTestCase() {
        SetMessageBoxHook({});
        SetOpenAddressHook({});
        SetHttpProxy(QUrl());
        delete server;
    }
    void init() {
        boxes.clear();
        answers.clear();
        opened.clear();
    }

    void showingListsTheTableAndCountsIt() {
        TFixture f;
        AddRival(f.db, u"alpha"_qs, u"http://a.taobao.com/"_qs);
        AddRival(f.db, u"beta"_qs, u"http://b.tmall.com/"_qs);
        f.open();
        QCOMPARE(f.dialog->windowTitle(), u"添加对手店铺"_qs);
        QCOMPARE(f.dialog->size(), QSize(701, 363));
        const QTreeWidgetItem* header = f.list()->headerItem();
        QCOMPARE(header->text(0), u"店主"_qs);
        QCOMPARE(header->text(1), u"店铺等级"_qs);
        QCOMPARE(header->text(2), u"店铺名称"_qs);
        QCOMPARE(header->text(3), u"店铺地址"_qs);
        QCOMPARE(f.list()->topLevelItemCount(), 2);
        QCOMPARE(f.row(1), (QStringList{u"beta"_qs, u"淘宝"_qs, u"beta的店"_qs, u"http://b.tmall.com/"_qs}));
        QCOMPARE(f.dialog->StatusText(), u"共有 2 个对手"_qs);
        QVERIFY(f.address()->text().isEmpty());
        for (const char* name : {"btnAdd", "btnDel", "btnClose", "btn1"}) {
            const auto* button = f.dialog->findChild<QPushButton*>(QString::fromLatin1(name));
            QVERIFY(button);
            QCOMPARE(button->accessibleName(), button->text());
        }
        QCOMPARE(f.address()->accessibleName(), u"请输入对手店铺地址"_qs);
        QVERIFY(!f.list()->accessibleName().isEmpty());
    }

    void addingAShopListsItAndRefreshesTheMainWindow() {
        TFixture f;
        server->route(u"http://shop21.taobao.com/"_qs, ShopPageFor("gamma", "Gamma Store"));
        f.open();
        QCOMPARE(BandCaptions(f.main).size(), 2);
        f.address()->setText(u"  http://SHOP21.taobao.com/ "_qs);
        f.click("btnAdd");
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].kind, TBoxKind::Info);
        QCOMPARE(boxes[0].text, u"添加对手店铺成功"_qs);
        QCOMPARE(f.list()->topLevelItemCount(), 1);
        QCOMPARE(f.row(0), (QStringList{u"gamma"_qs, u"淘宝"_qs, u"Gamma Store"_qs, u"http://SHOP21.taobao.com/"_qs}));
        QCOMPARE(f.list()->currentItem(), f.list()->topLevelItem(0));
        QCOMPARE(f.dialog->StatusText(), u"共有 1 个对手"_qs);
        QVERIFY(BandCaptions(f.main).contains(u"gamma"_qs));
        // The address stays for the next shop, and the window takes input again.
        QCOMPARE(f.address()->text(), u"  http://SHOP21.taobao.com/ "_qs);
        QVERIFY(f.dialog->isEnabled());

        // The same shop again: listed twice, two bands.
        f.click("btnAdd");
        QCOMPARE(f.list()->topLevelItemCount(), 2);
        QCOMPARE(f.list()->currentItem(), f.list()->topLevelItem(1));
        QCOMPARE(f.dialog->StatusText(), u"共有 2 个对手"_qs);
        QCOMPARE(BandCaptions(f.main).count(u"gamma"_qs), 2);
    }

    void failedAddingShowsItsMessageAndChangesNothing_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("not a shop address") << u"http://www.example.com/"_qs << QByteArray() << int(TBoxKind::Plain)
                                            << u"请输入淘宝店铺的地址，如：http://shop12345678.taobao.com/"_qs;
        QTest::newRow("download fails") << u"http://shop22.taobao.com/missing"_qs << QByteArray()
                                        << int(TBoxKind::Plain)
                                        << u"读取店铺资料失败\r\n服务器返回 404：页面不存在（HTTP 404 Error）"_qs;
        QTest::newRow("page without ownerid") << u"http://shop23.taobao.com/"_qs << QByteArray("<html></html>")
                                              << int(TBoxKind::Plain) << u"读取网页失败，请重试"_qs;
        QTest::newRow("bad percent sequence")
            << u"http://shop24.taobao.com/"_qs
            << QByteArray("<a href=\"?ownerid=1&\">x</a><a href=\"m?recipient_nickname=a%2\">m</a>")
            << int(TBoxKind::Error) << u"Error decoding URL style (%XX) encoded string at position 2"_qs;
    }
    void failedAddingShowsItsMessageAndChangesNothing() {
        QFETCH(QString, address);
        QFETCH(QByteArray, page);
        QFETCH(int, kind);
        QFETCH(QString, message);
        TFixture f;
        AddRival(f.db, u"alpha"_qs, u"http://a.taobao.com/"_qs);
        if (!page.isEmpty())
            server->route(address, page);
        f.open();
        f.address()->setText(address);
        f.click("btnAdd");
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(int(boxes[0].kind), kind);
        QCOMPARE(boxes[0].text, message);
        QCOMPARE(f.list()->topLevelItemCount(), 1);
        QCOMPARE(f.dialog->StatusText(), u"共有 1 个对手"_qs);
        QCOMPARE(f.db.value(u"select count(*) from Rival"_qs).toInt(), 1);
        QCOMPARE(BandCaptions(f.main).size(), 3);
    }

    void refusedRowIsReportedAndTheListShowsTheTable() {
        TFixture f;
        AddRival(f.db, u"alpha"_qs, u"http://a.taobao.com/"_qs);
        f.db.exec(
            u"create trigger refuse_rival before insert on Rival begin select raise(abort, 'row refused'); end"_qs);
        server->route(u"http://shop25.taobao.com/"_qs, ShopPageFor("delta", "Delta"));
        f.open();
        f.address()->setText(u"http://shop25.taobao.com/"_qs);
        f.click("btnAdd");
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].kind, TBoxKind::Error);
        QVERIFY2(boxes[0].text.contains(u"row refused"_qs), qPrintable(boxes[0].text));
        QCOMPARE(f.list()->topLevelItemCount(), 1);
        QCOMPARE(f.row(0).value(0), u"alpha"_qs);
        QCOMPARE(f.dialog->StatusText(), u"共有 1 个对手"_qs);
        QCOMPARE(BandCaptions(f.main).size(), 3);
    }

    void answeringNoDeletesNothing_data() {
        QTest::addColumn<QList<bool>>("given");
        QTest::addColumn<int>("questions");
        QTest::newRow("no to the first") << QList<bool>{false} << 1;
        QTest::newRow("no to the second") << QList<bool>{true, false} << 2;
    }
    void answeringNoDeletesNothing() {
        QFETCH(QList<bool>, given);
        QFETCH(int, questions);
        TFixture f;
        AddRival(f.db, u" alpha "_qs, u"http://a.taobao.com/"_qs);
        f.db.exec(u"insert into RivalItems (RivalWW, LocalItemID) values ('alpha', '1')"_qs);
        f.open();
        answers = given;
        f.click("btnDel");
        QCOMPARE(boxes.size(), questions);
        QCOMPARE(boxes[0].kind, TBoxKind::Question);
        QCOMPARE(boxes[0].text, u"您确定您要删除 alpha 和他所有的宝贝吗?"_qs);
        if (questions > 1)
            QCOMPARE(boxes[1].text, u"点击确定将删除 alpha 和他所有的宝贝，继续吗？"_qs);
        QCOMPARE(f.db.value(u"select count(*) from Rival"_qs).toInt(), 1);
        QCOMPARE(f.db.value(u"select count(*) from RivalItems"_qs).toInt(), 1);
        QCOMPARE(f.list()->topLevelItemCount(), 1);
    }

    void deletingRemovesTheShopItsMappingsAndItsBand() {
        TFixture f;
        for (const QString& id : {u"1"_qs, u"2"_qs})
            f.db.exec(u"insert into Items (ItemID, ItemName) values (?, ?)"_qs, {id, u"item "_qs + id});
        AddRival(f.db, u"alpha"_qs, u"http://a.taobao.com/"_qs);
        AddRival(f.db, u"beta"_qs, u"http://b.taobao.com/"_qs);
        f.db.exec(
            u"insert into RivalItems (RivalWW, LocalItemID) values ('BETA', '1'), ('beta', '2'), ('alpha', '1')"_qs);
        f.open();
        QCOMPARE(BandCaptions(f.main).size(), 4);
        f.list()->setCurrentItem(f.list()->topLevelItem(1));
        answers = {true, true};
        f.click("btnDel");
        QCOMPARE(boxes.size(), 2); // the questions only: no message after a deletion
        QCOMPARE(boxes[1].text, u"点击确定将删除 beta 和他所有的宝贝，继续吗？"_qs);
        QCOMPARE(f.db.value(u"select count(*) from RivalItems where RivalWW='beta'"_qs).toInt(), 0);
        QCOMPARE(f.db.value(u"select count(*) from RivalItems where RivalWW='alpha'"_qs).toInt(), 1);
        QCOMPARE(f.db.value(u"select count(*) from Items"_qs).toInt(), 2);
        QCOMPARE(f.db.value(u"select count(*) from Rival where RivalWW='beta'"_qs).toInt(), 0);
        QCOMPARE(f.list()->topLevelItemCount(), 1);
        QCOMPARE(f.row(0).value(0), u"alpha"_qs);
        QCOMPARE(f.dialog->StatusText(), u"共有 1 个对手"_qs);
        QVERIFY(!BandCaptions(f.main).contains(u"beta"_qs));
        QCOMPARE(BandCaptions(f.main).size(), 3);
    }

    void windowTakesNoInputWhileTheShopDownloads() {
        TFixture f;
        TTestResponse slow;
        slow.body = ShopPageFor("slow", "Slow");
        slow.delayMs = 200;
        server->route(u"http://shop26.taobao.com/"_qs, slow);
        f.open();
        f.address()->setText(u"http://shop26.taobao.com/"_qs);
        bool ranDuringDownload = false;
        bool enabledDuringDownload = true;
        // Runs inside the wait: the event loop goes on, but a click on another button is not taken.
        QTimer::singleShot(0, this, [&] {
            ranDuringDownload = true;
            enabledDuringDownload = f.dialog->isEnabled();
            f.click("btnDel");
        });
        f.click("btnAdd");
        QVERIFY(ranDuringDownload);
        QVERIFY(!enabledDuringDownload);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, u"添加对手店铺成功"_qs);
        QVERIFY(f.dialog->isEnabled());
        QCOMPARE(f.db.value(u"select count(*) from Rival"_qs).toInt(), 1);
    }

    void deletingFromAnEmptyListOnlyTellsSo() {
        TFixture f;
        f.open();
        f.click("btnDel");
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].kind, TBoxKind::Info);
        QCOMPARE(boxes[0].text, u"您还未添加对手"_qs);
    }

    void viewingOpensTheCurrentShopTrimmed() {
        TFixture f;
        AddRival(f.db, u"alpha"_qs, u"http://a.taobao.com/"_qs);
        AddRival(f.db, u"beta"_qs, u"  http://B.taobao.com/ "_qs);
        f.open();
        f.click("btn1");
        f.list()->setCurrentItem(f.list()->topLevelItem(1));
        f.click("btn1");
        QCOMPARE(opened, (QStringList{u"http://a.taobao.com/"_qs, u"http://B.taobao.com/"_qs}));

        TFixture empty;
        empty.open();
        empty.click("btn1");
        QCOMPARE(opened.size(), 2);
        QVERIFY(boxes.isEmpty());
    }

    void rivalCommandShowsTheDialogModally() {
        TFixture f;
        f.main.RefreshAll();
        QString caption;
        bool modal = false;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<TFmRival*>(widget);
                if (dialog && dialog->isVisible()) {
                    caption = dialog->windowTitle();
                    modal = dialog->isModal();
                    poll.stop();
                    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnClose")), Qt::LeftButton);
                }
            }
        });
        poll.start();
        f.main.Command(QStringLiteral("btn3"))->trigger();
        QCOMPARE(caption, u"添加对手店铺"_qs);
        QVERIFY(modal);
        // Destroyed once closed.
        QVERIFY(f.main.findChildren<TFmRival*>().isEmpty());
    }
};

QTEST_MAIN(TestUiRival)
#include "tst_ui_rival.moc"
