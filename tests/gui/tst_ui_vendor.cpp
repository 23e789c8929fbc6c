// The new-version message, the vendor page window and the About box, offscreen.
#include "app/UtMain.h"
#include "dialogs/UtAbout.h"
#include "dialogs/UtWeb.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"
#include "vendor/utCheckUpdate.h"
#include "widgets/UiMessageBoxes.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

const QString kUpgradePath = QStringLiteral("/upgrade/vantero.asp");
const QString kManualPath = QStringLiteral("/upgrade/vantero_help.asp");
const QString kNewVersionText = QStringLiteral("已有新版,请点软件升级进行升级．");

} // namespace

class TestUiVendor : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void newerVersionOpensTheUpgradePage();
    void versionsUpToOursShowNothing_data();
    void versionsUpToOursShowNothing();
    void manualAfterUpgradeReusesTheWindow();
    void closedWebWindowIsShownAgain();
    void webWindowLooksAsDescribed();
    void aboutBoxShowsNameAndPurpose();
    void aboutCommandShowsTheBoxModally();

private:
    std::unique_ptr<TTestHttpServer> m_server;
    std::unique_ptr<TTestDatabase> m_db;
    std::unique_ptr<TFmMain> m_main;
};

void TestUiVendor::initTestCase() {
    m_server = std::make_unique<TTestHttpServer>();
    m_server->route(kUpgradePath, "<html><head><title>upgrade</title></head><body>new</body></html>");
    m_server->route(kManualPath, "<html><head><title>manual</title></head><body>help</body></html>");
    SetVendorWebHost(QStringLiteral("127.0.0.1:%1").arg(m_server->port()));
    SetMessageBoxHook([](TBoxKind, const QString&, const QString& text) {
        qWarning("unexpected message box: %s", qPrintable(text));
        return false;
    });
}

void TestUiVendor::init() {
    m_db = std::make_unique<TTestDatabase>();
    m_main = std::make_unique<TFmMain>(m_db->connection());
}

void TestUiVendor::cleanup() {
    m_main.reset();
    m_db.reset();
}

void TestUiVendor::newerVersionOpensTheUpgradePage() {
    QVERIFY(!m_main->WebWindow());
    QVERIFY(PostMessageToWindow(m_main->Handle(), WM_UPDATE_VERSION, 0, 204));
    QTRY_VERIFY_WITH_TIMEOUT(m_main->WebWindow(), 60000);
    TFmWeb* web = m_main->WebWindow();
    QVERIFY(web->isVisible());
    QCOMPARE(web->windowTitle(), QStringLiteral("软件升级"));
    QCOMPARE(web->Address(), VendorPageAddress(TVendorPage::UpgradePage));
    QCOMPARE(m_main->StatusText(0), kNewVersionText);

    // The page really comes from the web host.
    QSignalSpy loaded(web->Browser(), &QWebEngineView::loadFinished);
    QTRY_VERIFY_WITH_TIMEOUT(m_server->requestCount(kUpgradePath) >= 1, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty() || web->Browser()->title() == QLatin1String("upgrade"), 60000);
}

void TestUiVendor::versionsUpToOursShowNothing_data() {
    QTest::addColumn<int>("version");
    QTest::newRow("our own version") << 203;
    QTest::newRow("older version") << 150;
    QTest::newRow("no usable number") << 0;
    QTest::newRow("request failed") << 1;
}

void TestUiVendor::versionsUpToOursShowNothing() {
    QFETCH(int, version);
    QVERIFY(PostMessageToWindow(m_main->Handle(), WM_UPDATE_VERSION, 0, version));
    QCoreApplication::sendPostedEvents(m_main.get());
    QVERIFY(!m_main->WebWindow());
    QVERIFY(m_main->StatusText(0).isEmpty());
}

void TestUiVendor::manualAfterUpgradeReusesTheWindow() {
    m_main->Command(QStringLiteral("btnUpdate"))->trigger();
    TFmWeb* web = m_main->WebWindow();
    QVERIFY(web);
    QCOMPARE(web->windowTitle(), QStringLiteral("软件升级"));
    m_main->Command(QStringLiteral("btnManual"))->trigger();
    QCOMPARE(m_main->WebWindow(), web);
    QCOMPARE(m_main->findChildren<TFmWeb*>().size(), 1);
    QVERIFY(web->isVisible());
    QCOMPARE(web->windowTitle(), QStringLiteral("使用说明"));
    QCOMPARE(web->Address(), VendorPageAddress(TVendorPage::ManualPage));
    QTRY_VERIFY_WITH_TIMEOUT(m_server->requestCount(kManualPath) >= 1, 60000);
    // The update check's status text is not the command's business.
    QVERIFY(m_main->StatusText(0).isEmpty());
}

void TestUiVendor::closedWebWindowIsShownAgain() {
    m_main->btnManualClick();
    TFmWeb* web = m_main->WebWindow();
    QVERIFY(web);
    auto* close = web->findChild<QPushButton*>(QStringLiteral("btnClose"));
    QVERIFY(close);
    QCOMPARE(close->text(), QStringLiteral("关闭"));
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!web->isVisible());
    QCOMPARE(m_main->WebWindow(), web);

    m_main->btnUpdateClick();
    QCOMPARE(m_main->WebWindow(), web);
    QVERIFY(web->isVisible());
    QCOMPARE(web->windowTitle(), QStringLiteral("软件升级"));

    // The window's own close box hides it the same way.
    QVERIFY(web->close());
    QVERIFY(!web->isVisible());
    m_main->btnUpdateClick();
    QCOMPARE(m_main->WebWindow(), web);
    QVERIFY(web->isVisible());
}

void TestUiVendor::webWindowLooksAsDescribed() {
    m_main->btnUpdateClick();
    TFmWeb* web = m_main->WebWindow();
    QVERIFY(web);
    QVERIFY(web->isWindow());
    QVERIFY(web->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(web->size(), QSize(631, 469));
    QVERIFY(web->Browser());
    QVERIFY(!web->Browser()->accessibleName().isEmpty());
    QVERIFY(web->findChild<QWidget*>(QStringLiteral("stat")));
}

void TestUiVendor::aboutBoxShowsNameAndPurpose() {
    TFmAbout about;
    about.show();
    QCOMPARE(about.windowTitle(), QStringLiteral("关于软件"));
    QCOMPARE(about.size(), QSize(526, 291));
    auto* heading = about.findChild<QLabel*>(QStringLiteral("lb1"));
    QVERIFY(heading);
    QCOMPARE(heading->text(), QStringLiteral("Corvessa--Tessaly"));
    QVERIFY(heading->font().bold());
    auto* memo = about.findChild<QPlainTextEdit*>(QStringLiteral("mmo1"));
    QVERIFY(memo);
    QVERIFY(memo->isReadOnly());
    QCOMPARE(memo->toPlainText(), QStringLiteral("网店商品价格搜集\n让您快速知道您的各位同行各种商品都卖什么价格"));
    auto* ok = about.findChild<QPushButton*>(QStringLiteral("btn1"));
    QVERIFY(ok);
    QCOMPARE(ok->text(), QStringLiteral("确定"));
    QCOMPARE(ok->accessibleName(), QStringLiteral("确定"));
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(!about.isVisible());
    QCOMPARE(about.result(), int(QDialog::Accepted));
}

void TestUiVendor::aboutCommandShowsTheBoxModally() {
    bool seen = false;
    QTimer::singleShot(0, this, [&seen] {
        auto* about = qobject_cast<TFmAbout*>(QApplication::activeModalWidget());
        seen = about != nullptr;
        if (about)
            QTest::mouseClick(about->findChild<QPushButton*>(QStringLiteral("btn1")), Qt::LeftButton);
        else if (QWidget* other = QApplication::activeModalWidget())
            other->close();
    });
    m_main->Command(QStringLiteral("btn2"))->trigger();
    QVERIFY(seen);
    // Destroyed when it closes.
    QVERIFY(m_main->findChildren<TFmAbout*>().isEmpty());
}

QTEST_MAIN(TestUiVendor)
#include "tst_ui_vendor.moc"
