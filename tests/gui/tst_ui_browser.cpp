// Rendered readings: pages whose fields only a browser sees, read through the offscreen browser
// with the reader's own extraction, seller check and store; the profile that keeps a login.
#include "app/UtMain.h"
#include "dialogs/UtLogin.h"
#include "reader/BrowserEngine.h"
#include "reader/PageFields.h"
#include "reader/ReadModes.h"
#include "reader/UtReadItemThr.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QNetworkCookie>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

const QString kSeller = QStringLiteral("shopa");

// How long a test waits for a reading before it stops it: far beyond what any reading here
// needs on a loaded machine. Limits a test does not check are set beyond it, so only the
// behaviour under test can end a reading, never the clock of a busy machine.
constexpr int kPatienceMs = 180000;
constexpr int kNeverMs = 600000;

// Readings that must find their item: nothing but the item ends them.
TBrowserEngine::Limits WaitForItem() {
    TBrowserEngine::Limits limits;
    limits.renderMs = kNeverMs;
    limits.wallSettleMs = kNeverMs;
    limits.noItemSettleMs = kNeverMs;
    return limits;
}

// Readings that must end without item: a settled page or a wall ends them as it would for a user.
TBrowserEngine::Limits SettleAsUsual() {
    TBrowserEngine::Limits limits;
    limits.renderMs = kNeverMs;
    return limits;
}

// The fields of an item page as a script builds them: hidden inputs and the sales line. The
// script's own text holds no marker, so a direct reading finds nothing in it.
QString FieldScript(const QString& id, const QString& title, const QString& price) {
    return QStringLiteral("var f = {title: '%2', seller_nickname: '%4', current_price: '%3', item_id_num: '%1'};"
                          " for (var k in f) { var i = document.createElement('input'); i.type = 'hidden';"
                          " i.name = k; i.value = f[k]; item.appendChild(i); }"
                          " var li = document.createElement('li'); li.innerHTML = '<span>30天售出：' +"
                          " '</span><em>12</em>件'; item.appendChild(li);")
        .arg(id, title, price, kSeller);
}

// A page that has no fields of its own; its script runs build when condition holds, delayMs
// after the load.
QByteArray ScriptedPage(const QString& build, int delayMs, const QString& condition = QStringLiteral("true")) {
    const QString html =
        QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>宝贝</title></head><body>"
                       "<p>页面由脚本生成，请稍候……</p><div id=\"item\"></div>"
                       "<script>window.addEventListener('load', function () { setTimeout(function () {"
                       " var item = document.getElementById('item'); if (%3) { %1 } }, %2); });</script>"
                       "</body></html>")
            .arg(build, QString::number(delayMs), condition);
    return html.toUtf8();
}

// A login wall (a password form) that the page's script replaces with the item when the visitor
// carries the login cookie.
QByteArray WalledPage(const QString& build) {
    const QString html =
        QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>宝贝</title></head><body>"
                       "<div id=\"item\"><form action=\"/login\">账户 <input name=\"user\"> 密码 "
                       "<input type=\"password\" name=\"pw\"></form></div>"
                       "<script>window.addEventListener('load', function () { setTimeout(function () {"
                       " var item = document.getElementById('item');"
                       " if (document.cookie.indexOf('vlogin=ok') >= 0) { item.innerHTML = ''; %1 } }, 300); });"
                       "</script></body></html>")
            .arg(build);
    return html.toUtf8();
}

// Visits a login page in the profile of folder and returns once the profile's cookie store has
// taken the cookie it sets: a load that ended says nothing about when its cookie is stored, and
// a reading begun before that meets the login wall.
void VisitForCookie(QObject* context, const QString& url, const QString& folder, const QByteArray& name) {
    QWebEngineProfile* profile = TBrowserEngine::Profile(folder);
    QVERIFY(profile);
    bool stored = false;
    const QMetaObject::Connection added =
        QObject::connect(profile->cookieStore(), &QWebEngineCookieStore::cookieAdded, context,
                         [&stored, name](const QNetworkCookie& cookie) { stored = stored || cookie.name() == name; });
    TBrowserEngine::Visit(url, folder, {}, QString());
    QTRY_VERIFY_WITH_TIMEOUT(stored, kPatienceMs);
    QObject::disconnect(added);
}

} // namespace

class TstUiBrowser final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TTestHttpServer> m_server;
    std::unique_ptr<TTestDatabase> m_db;
    int m_routeCounter = 0;

    QString Serve(const TTestResponse& response, const QString& name = QStringLiteral("item")) {
        const QString path = QStringLiteral("/%1/%2").arg(name).arg(++m_routeCounter);
        m_server->route(path, response);
        return m_server->url(path);
    }
    QString Serve(const QByteArray& page) {
        TTestResponse response;
        response.body = page;
        response.headers << qMakePair(QByteArray("Content-Type"), QByteArray("text/html; charset=utf-8"));
        return Serve(response);
    }

    std::unique_ptr<TReadItem> NewReader(const QString& url, int mode) {
        auto reader = std::make_unique<TReadItem>(m_db->connection());
        reader->URL = url;
        reader->ExpectedSeller = kSeller;
        reader->ReadModeOverride = mode;
        return reader;
    }

    // Runs the reading on its own thread, as a window starts one, while this (the browser's)
    // thread keeps handling events.
    static int Run(TReadItem& reader, qint64* elapsedMs = nullptr) {
        QElapsedTimer timer;
        timer.start();
        reader.start();
        while (!reader.IsFinished() && timer.elapsed() < kPatienceMs)
            QTest::qWait(10);
        // A reading that never ends fails with the stop text instead of hanging the test.
        if (!reader.IsFinished())
            reader.RequestStop();
        if (elapsedMs)
            *elapsedMs = timer.elapsed();
        reader.wait();
        return reader.ResultCode;
    }

    int Read(const QString& url, int mode, qint64* elapsedMs = nullptr) {
        auto reader = NewReader(url, mode);
        return Run(*reader, elapsedMs);
    }

    // The command line on this test's database, a program of its own (a restart).
    // extra: environment variables beside (or instead of) the ones every run gets.
    int RunCli(const QStringList& args, QString* out, const QProcessEnvironment& extra = {}) const {
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // The command line's readings here must find their item: no settling ends them early.
        env.insert(QStringLiteral("VANTERO_BROWSER_LIMITS"),
                   QStringLiteral("render=%1,wall=%1,settle=%1").arg(kNeverMs));
        env.insert(extra);
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral(VANTERO_CLI), QStringList{QStringLiteral("--db"), m_db->path()} + args);
        cli.waitForFinished(kPatienceMs);
        *out = QString::fromUtf8(cli.readAllStandardOutput() + cli.readAllStandardError());
        return cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    }

    QString StoredName(const QString& id) const {
        return m_db->value(QStringLiteral("select ItemName from Items where ItemID=?"), {id}).toString();
    }

private slots:
    void initTestCase() {
        m_server = std::make_unique<TTestHttpServer>();
        m_server->route(QStringLiteral("/stand-in-login"), QByteArray("<html><body>登录</body></html>"));
        TFmLogin::SetDefaultAddress(QUrl(m_server->url(QStringLiteral("/stand-in-login"))));
        TBrowserEngine::Start();
    }
    void init() {
        m_db = std::make_unique<TTestDatabase>();
        TBrowserEngine::SetRenderLimits(WaitForItem());
    }
    void cleanup() {
        m_db.reset();
        TBrowserEngine::SetRenderLimits({});
        ForceBrowserFallback(false);
    }
    void cleanupTestCase() {
        TBrowserEngine::Shutdown();
        m_server.reset();
    }

    void readModeFollowsThePagesStoredChoice_data();
    void readModeFollowsThePagesStoredChoice();
    void scriptedFieldsNeedTheBrowser();
    void directReadingThatFindsNoItemIsRetriedInTheBrowser_data();
    void directReadingThatFindsNoItemIsRetriedInTheBrowser();
    void loginCookieOfTheProfileSurvivesARestart();
    void loginAndVerificationPagesFailWithTheirReason_data();
    void loginAndVerificationPagesFailWithTheirReason();
    void loginWallOfADirectReadingIsPassedWithTheProfilesLogin();
    void headlessUpdateReadsThroughTheBrowserWhenAsked();
    void pageThatNeverShowsFieldsIsNoItemAfterTheLimit();
    void settledPageWithoutItemEndsBeforeTheLimit();
    void pageReadingRightDirectlyReadsTheSameInTheBrowser();
    void mistypedAddressIsNotRetriedInTheBrowser();
    void unfinishedOrFrozenPagesFailWithinTheLimit_data();
    void unfinishedOrFrozenPagesFailWithinTheLimit();
    void imagesMediaAndFontsAreNotLoaded();
    void stoppedRenderedReadingEndsBeforeItsLimit();
    void pageAllocatingWithoutEndIsStoppedByTheMemoryWatchdog();
    void rendererEndedByItsScriptHeapGivesAChineseReason();
    void concurrentRenderedReadingsTakeTurns();
    void loginEntryOpensTheLoginPageOnTheReadingsProfile();
    void detailListContextMenuSetsThePagesReadingMode_data();
    void detailListContextMenuSetsThePagesReadingMode();
};

void TstUiBrowser::readModeFollowsThePagesStoredChoice_data() {
    QTest::addColumn<QString>("localItemID");
    QTest::addColumn<QString>("seller");
    QTest::addColumn<int>("expected");
    QTest::newRow("own page by its address") << QString() << QString() << int(rmBrowser);
    QTest::newRow("rival page by own item and account")
        << QStringLiteral("1001") << QStringLiteral("Rival") << int(rmBrowser);
    QTest::newRow("rival account compared without case and blanks")
        << QStringLiteral("1001") << QStringLiteral(" rIVAL ") << int(rmBrowser);
    QTest::newRow("other rival without a choice is direct")
        << QStringLiteral("1001") << QStringLiteral("other") << int(rmDirect);
    QTest::newRow("other own item without a choice is direct")
        << QStringLiteral("1002") << QStringLiteral("Rival") << int(rmDirect);
}

void TstUiBrowser::readModeFollowsThePagesStoredChoice() {
    QFETCH(QString, localItemID);
    QFETCH(QString, seller);
    QFETCH(int, expected);
    const TConnection con = m_db->connection();
    m_db->exec(QStringLiteral("insert into Items (ItemID, ItemName, URL) values ('1001', 'a', 'http://x/1001')"));
    SetPageReadMode(con, QStringLiteral("1001"), QString(), rmBrowser);
    SetPageReadMode(con, QStringLiteral("1001"), QStringLiteral("rival"), rmBrowser);
    SetPageReadMode(con, QStringLiteral("1001"), QStringLiteral("other"), rmBrowser);
    SetPageReadMode(con, QStringLiteral("1001"), QStringLiteral("other"), rmDirect);
    QCOMPARE(int(ReadModeForReading(con, QStringLiteral("http://x/1001"), localItemID, seller)), expected);
    QCOMPARE(int(PageReadMode(con, QStringLiteral("1001"), QStringLiteral("other"))), int(rmDirect));
}

void TstUiBrowser::scriptedFieldsNeedTheBrowser() {
    const QString url = Serve(
        ScriptedPage(FieldScript(QStringLiteral("7001"), QStringLiteral("脚本宝贝"), QStringLiteral("88.50")), 500));
    QCOMPARE(Read(url, rmDirect), int(TReadItem::rcNoItem));
    auto reader = NewReader(url, rmBrowser);
    QCOMPARE(Run(*reader), int(TReadItem::rcAdded));
    QVERIFY(reader->ReadInBrowser);
    QCOMPARE(StoredName(QStringLiteral("7001")), QStringLiteral("脚本宝贝"));
    QCOMPARE(m_db->value(QStringLiteral("select Price from Items where ItemID='7001'")).toDouble(), 88.5);
    QCOMPARE(m_db->value(QStringLiteral("select SellCount from Items where ItemID='7001'")).toInt(), 12);
    // The stored address is the one that was read.
    QCOMPARE(m_db->value(QStringLiteral("select URL from Items where ItemID='7001'")).toString(), url);
}

void TstUiBrowser::directReadingThatFindsNoItemIsRetriedInTheBrowser_data() {
    QTest::addColumn<bool>("optionOn");
    QTest::addColumn<int>("expected");
    QTest::newRow("retry on by default") << true << int(TReadItem::rcAdded);
    QTest::newRow("retry switched off") << false << int(TReadItem::rcNoItem);
}

void TstUiBrowser::directReadingThatFindsNoItemIsRetriedInTheBrowser() {
    QFETCH(bool, optionOn);
    QFETCH(int, expected);
    if (!optionOn)
        SetBrowserFallback(m_db->connection(), false);
    const QString url =
        Serve(ScriptedPage(FieldScript(QStringLiteral("7002"), QStringLiteral("重试"), QStringLiteral("9")), 500));
    auto reader = NewReader(url, -1);
    QCOMPARE(Run(*reader), expected);
    QCOMPARE(reader->ReadInBrowser, optionOn);
    QCOMPARE(StoredName(QStringLiteral("7002")).isEmpty(), !optionOn);
}

void TstUiBrowser::loginCookieOfTheProfileSurvivesARestart() {
    TTestResponse login;
    login.body = "<html><body>已登录</body></html>";
    login.headers << qMakePair(QByteArray("Content-Type"), QByteArray("text/html; charset=utf-8"))
                  << qMakePair(QByteArray("Set-Cookie"), QByteArray("vlogin=ok; Max-Age=86400; Path=/"));
    const QString loginUrl = Serve(login, QStringLiteral("login"));
    const QString url =
        Serve(ScriptedPage(FieldScript(QStringLiteral("7003"), QStringLiteral("会员宝贝"), QStringLiteral("5")), 100,
                           QStringLiteral("document.cookie.indexOf('vlogin=ok') >= 0")));
    const QString folder = TBrowserEngine::ProfileFolder(m_db->path());

    TBrowserEngine::SetRenderLimits(SettleAsUsual());
    QCOMPARE(Read(url, rmBrowser), int(TReadItem::rcNoItem)); // not logged in yet
    VisitForCookie(this, loginUrl, folder, "vlogin");
    QVERIFY(QFileInfo(folder).isDir());
    TBrowserEngine::SetRenderLimits(WaitForItem());
    QCOMPARE(Read(url, rmBrowser), int(TReadItem::rcAdded));

    // The program ends (its profile written out) and starts again on the same folder.
    TBrowserEngine::Shutdown();
    const auto restart = qScopeGuard([] { TBrowserEngine::Start(); });
    m_db->exec(QStringLiteral("delete from Items"));
    QString out;
    QCOMPARE(RunCli({QStringLiteral("settings"), QStringLiteral("--own-account"), kSeller}, &out), 0);
    QVERIFY2(RunCli({QStringLiteral("read-item"), url, QStringLiteral("--browser")}, &out) == 0, qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("ItemName: 会员宝贝")), qPrintable(out));
    QCOMPARE(StoredName(QStringLiteral("7003")), QStringLiteral("会员宝贝"));
}

void TstUiBrowser::loginAndVerificationPagesFailWithTheirReason_data() {
    QTest::addColumn<QString>("build");
    QTest::addColumn<QString>("text");
    QTest::newRow("password form shown by script")
        << QStringLiteral("item.innerHTML = '<form>密码 <input type=password name=pw></form>';")
        << PageTexts::NeedsLogin;
    QTest::newRow("slider verification shown by script")
        << QStringLiteral("item.textContent = '请按住滑块，拖动到最' + '右边';") << PageTexts::Verification;
}

void TstUiBrowser::loginAndVerificationPagesFailWithTheirReason() {
    QFETCH(QString, build);
    QFETCH(QString, text);
    const QString url = Serve(ScriptedPage(build, 0));
    // Told apart without waiting out the limit: the limit is beyond the test's patience.
    TBrowserEngine::SetRenderLimits(SettleAsUsual());
    auto reader = NewReader(url, rmBrowser);
    QCOMPARE(Run(*reader), int(TReadItem::rcFailed));
    QCOMPARE(reader->ErrorText, text);
    QCOMPARE(m_db->value(QStringLiteral("select count(*) from Items")).toInt(), 0);
}

void TstUiBrowser::loginWallOfADirectReadingIsPassedWithTheProfilesLogin() {
    TTestResponse login;
    login.body = "<html><body>已登录</body></html>";
    login.headers << qMakePair(QByteArray("Content-Type"), QByteArray("text/html; charset=utf-8"))
                  << qMakePair(QByteArray("Set-Cookie"), QByteArray("vlogin=ok; Max-Age=86400; Path=/"));
    const QString loginUrl = Serve(login, QStringLiteral("login"));
    const QString url =
        Serve(WalledPage(FieldScript(QStringLiteral("7004"), QStringLiteral("墙后宝贝"), QStringLiteral("6"))));

    // Without the login the retry meets the wall too: the login page's reason.
    TBrowserEngine::SetRenderLimits(SettleAsUsual());
    auto before = NewReader(url, -1);
    QCOMPARE(Run(*before), int(TReadItem::rcFailed));
    QCOMPARE(before->ErrorText, PageTexts::NeedsLogin);

    VisitForCookie(this, loginUrl, TBrowserEngine::ProfileFolder(m_db->path()), "vlogin");
    // The wall shows first; however slowly the page's script replaces it, the item ends the reading.
    TBrowserEngine::SetRenderLimits(WaitForItem());
    auto after = NewReader(url, -1);
    QVERIFY2(Run(*after) == TReadItem::rcAdded, qPrintable(after->ErrorText));
    QVERIFY(after->ReadInBrowser);
    QCOMPARE(StoredName(QStringLiteral("7004")), QStringLiteral("墙后宝贝"));
}

void TstUiBrowser::headlessUpdateReadsThroughTheBrowserWhenAsked() {
    const QString url =
        Serve(ScriptedPage(FieldScript(QStringLiteral("7005"), QStringLiteral("后台宝贝"), QStringLiteral("3")), 200));
    m_db->exec(QStringLiteral("insert into Items (ItemID, ItemName, URL) values ('7005', '旧名', ?)"), {url});
    QString out;
    QCOMPARE(RunCli({QStringLiteral("settings"), QStringLiteral("--own-account"), kSeller}, &out), 0);
    // Without asking, the command line reads directly and stays without the browser.
    QCOMPARE(RunCli({QStringLiteral("update-all")}, &out), 0);
    QVERIFY2(out.contains(QStringLiteral("readings=1 stored=0 refused=1 failed=0")), qPrintable(out));
    QCOMPARE(StoredName(QStringLiteral("7005")), QStringLiteral("旧名"));
    QCOMPARE(RunCli({QStringLiteral("update-all"), QStringLiteral("--browser-fallback")}, &out), 0);
    QVERIFY2(out.contains(QStringLiteral("readings=1 stored=1 refused=0 failed=0")), qPrintable(out));
    QCOMPARE(StoredName(QStringLiteral("7005")), QStringLiteral("后台宝贝"));

    // A page set to be read in the browser goes there first: one request, no direct one before.
    m_db->exec(QStringLiteral("update Items set ItemName='旧名'"));
    QCOMPARE(RunCli({QStringLiteral("read-mode"), QStringLiteral("7005"), QStringLiteral("browser")}, &out), 0);
    QCOMPARE(out.trimmed(), ReadModeTexts::Browser);
    QCOMPARE(int(PageReadMode(m_db->connection(), QStringLiteral("7005"), QString())), int(rmBrowser));
    const QString path = QUrl(url).path();
    const int before = m_server->requestCount(path);
    QCOMPARE(RunCli({QStringLiteral("update-all"), QStringLiteral("--browser-fallback")}, &out), 0);
    QCOMPARE(m_server->requestCount(path) - before, 1);
    QVERIFY2(out.contains(QStringLiteral("stored=1")), qPrintable(out));
    QCOMPARE(StoredName(QStringLiteral("7005")), QStringLiteral("后台宝贝"));
}

void TstUiBrowser::pageThatNeverShowsFieldsIsNoItemAfterTheLimit() {
    // A page still being built (its document keeps changing) is waited for up to the limit.
    TBrowserEngine::Limits limits = WaitForItem();
    limits.renderMs = 10000;
    TBrowserEngine::SetRenderLimits(limits);
    const QString url = Serve(ScriptedPage(
        QStringLiteral("setInterval(function () { item.textContent = '加载中 ' + Date.now(); }, 100);"), 10));
    qint64 elapsed = 0;
    auto reader = NewReader(url, rmBrowser);
    const int code = Run(*reader, &elapsed);
    QVERIFY(reader->ReadInBrowser);
    if (code == TReadItem::rcFailed) {
        // A machine so busy that the page did not even load within the limit: the limit's text.
        QCOMPARE(reader->ErrorText, BrowserTexts::Timeout.arg(limits.renderMs / 1000));
    } else {
        QCOMPARE(code, int(TReadItem::rcNoItem));
    }
    // Only the limit could end it, and not before it passed.
    QVERIFY2(elapsed >= limits.renderMs, qPrintable(QString::number(elapsed)));
}

void TstUiBrowser::settledPageWithoutItemEndsBeforeTheLimit() {
    // A page that shows no item and has stopped changing is no item page: no wait for the limit.
    // The limit lies beyond the test's patience: a reading that ends at all did not wait for it.
    TBrowserEngine::SetRenderLimits(SettleAsUsual());
    const QString url = Serve(ScriptedPage(QStringLiteral("item.textContent = '没有宝贝';"), 10));
    auto reader = NewReader(url, rmBrowser);
    QCOMPARE(Run(*reader), int(TReadItem::rcNoItem));
    QVERIFY(reader->ReadInBrowser);
}

void TstUiBrowser::pageReadingRightDirectlyReadsTheSameInTheBrowser() {
    // The browser writes the inputs back without the exact markers' ending; a later script holds
    // that ending. Read by its structure, the document gives the same reading as the page.
    const QString html =
        QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>宝贝-淘宝网</title></head><body>\n"
                       "<input type=\"hidden\" name=\"title\" value=\"直读宝贝\" />\n"
                       "<input type=\"hidden\" name=\"seller_nickname\" value=\"%1\" />\n"
                       "<input type=\"hidden\" name=\"current_price\" value= \"23.50\" />\n"
                       "<input type=\"hidden\" name=\"item_id_num\" value=\"7010\" />\n"
                       "<li><span>30天售出：</span><em>12</em>件</li>\n"
                       "<script>var tpl = '<input value=\"x\" />';</script></body></html>\n")
            .arg(kSeller);
    const QString url = Serve(html.toUtf8());
    auto direct = NewReader(url, rmDirect);
    QCOMPARE(Run(*direct), int(TReadItem::rcAdded));
    auto rendered = NewReader(url, rmBrowser);
    QCOMPARE(Run(*rendered), int(TReadItem::rcUpdated));
    QVERIFY(rendered->ReadInBrowser);
    QCOMPARE(rendered->ItemName, direct->ItemName);
    QCOMPARE(rendered->SellerNick, direct->SellerNick);
    QCOMPARE(rendered->ItemID, direct->ItemID);
    QCOMPARE(rendered->Price, direct->Price);
    QCOMPARE(rendered->SellCount, direct->SellCount);
}

void TstUiBrowser::mistypedAddressIsNotRetriedInTheBrowser() {
    // A page of another host that shows no item at all is answered at once, as the plain reading.
    const QString url = Serve(QByteArray("<html><head><title>Welcome</title></head><body><p>It works! This is the "
                                         "default page of a web server, and nothing else.</p></body></html>"));
    auto reader = NewReader(url, -1);
    QCOMPARE(Run(*reader), int(TReadItem::rcNoItem));
    QVERIFY(!reader->ReadInBrowser);
}

void TstUiBrowser::unfinishedOrFrozenPagesFailWithinTheLimit_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("body that never ends") << QStringLiteral("endless");
    QTest::newRow("script looping while the page loads") << QStringLiteral("loop-in-load");
    QTest::newRow("script looping after the load") << QStringLiteral("loop-after-load");
}

void TstUiBrowser::unfinishedOrFrozenPagesFailWithinTheLimit() {
    QFETCH(QString, kind);
    TBrowserEngine::Limits limits = WaitForItem();
    limits.renderMs = 2000;
    TBrowserEngine::SetRenderLimits(limits);
    TTestResponse response;
    response.headers << qMakePair(QByteArray("Content-Type"), QByteArray("text/html; charset=utf-8"));
    if (kind == QLatin1String("endless")) {
        response.endless = true;
    } else if (kind == QLatin1String("loop-in-load")) {
        response.body = "<html><body><p>x</p><script>for (;;) {}</script></body></html>";
    } else {
        response.body = "<html><body><p>x</p><script>window.addEventListener('load', function () {"
                        " setTimeout(function () { for (;;) {} }, 0); });</script></body></html>";
    }
    const QString url = Serve(response);
    qint64 elapsed = 0;
    auto reader = NewReader(url, rmBrowser);
    const int code = Run(*reader, &elapsed);
    if (kind == QLatin1String("loop-after-load") && code == TReadItem::rcNoItem) {
        // The document was taken between the load and the loop: read as it was, no item.
    } else {
        QCOMPARE(code, int(TReadItem::rcFailed));
        QCOMPARE(reader->ErrorText, BrowserTexts::Timeout.arg(2));
    }
    QVERIFY2(elapsed >= limits.renderMs, qPrintable(QString::number(elapsed)));

    // The engine is free again for the next page.
    const QString next = Serve(ScriptedPage(QStringLiteral("item.textContent = '下一页';"), 0));
    TBrowserEngine::SetRenderLimits(SettleAsUsual());
    QCOMPARE(Read(next, rmBrowser), int(TReadItem::rcNoItem));
}

void TstUiBrowser::imagesMediaAndFontsAreNotLoaded() {
    m_server->route(QStringLiteral("/res/pic.png"), QByteArray("png"), "image/png");
    m_server->route(QStringLiteral("/res/clip.mp4"), QByteArray("mp4"), "video/mp4");
    m_server->route(QStringLiteral("/res/face.woff"), QByteArray("woff"), "font/woff");
    m_server->route(QStringLiteral("/res/app.js"), QByteArray("document.title = 'js';"), "text/javascript");
    const QByteArray page =
        "<html><head><meta charset=\"utf-8\"><style>@font-face { font-family: f; src: url(/res/face.woff); }"
        " body { font-family: f; }</style><script src=\"/res/app.js\"></script></head><body><p>文字</p>"
        "<img src=\"/res/pic.png\"><video src=\"/res/clip.mp4\" autoplay></video></body></html>";
    TBrowserEngine::SetRenderLimits(SettleAsUsual());
    QCOMPARE(Read(Serve(page), rmBrowser), int(TReadItem::rcNoItem));
    QCOMPARE(m_server->requestCount(QStringLiteral("/res/app.js")), 1); // scripts do load
    QCOMPARE(m_server->requestCount(QStringLiteral("/res/pic.png")), 0);
    QCOMPARE(m_server->requestCount(QStringLiteral("/res/clip.mp4")), 0);
    QCOMPARE(m_server->requestCount(QStringLiteral("/res/face.woff")), 0);
}

void TstUiBrowser::stoppedRenderedReadingEndsBeforeItsLimit() {
    // A page that never finishes loading, with a limit beyond the test's patience: only the stop
    // can end the reading.
    TTestResponse response;
    response.endless = true;
    const QString url = Serve(response);
    auto reader = NewReader(url, rmBrowser);
    reader->start();
    QTRY_VERIFY_WITH_TIMEOUT(m_server->requestCount(QUrl(url).path()) >= 1, kPatienceMs);
    QElapsedTimer timer;
    timer.start();
    reader->RequestStop();
    QTRY_VERIFY_WITH_TIMEOUT(reader->IsFinished(), kPatienceMs);
    qInfo("stopped after %lld ms", timer.elapsed());
    reader->wait();
    QCOMPARE(reader->ResultCode, int(TReadItem::rcFailed));
    QCOMPARE(reader->ErrorText, ReaderTexts::Stopped);
}

namespace {

// A page whose script keeps about 32 MB more at every turn of its timer (a hidden page's timer
// may turn only once a second), in ordinary script arrays (the script heap, which the heap
// ceiling counts), until something stops it.
QByteArray GreedyPage() {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>宝贝</title></head><body><p>x</p>"
           "<script>var keep = []; (function grow() { for (var i = 0; i < 32; ++i)"
           " keep.push(new Array(1 << 17).fill(Math.random())); setTimeout(grow, 0); })();</script>"
           "</body></html>";
}

} // namespace

void TstUiBrowser::pageAllocatingWithoutEndIsStoppedByTheMemoryWatchdog() {
    // The watchdog's limit a little above what the helpers hold now, well below the script heap's
    // ceiling, so the watchdog and not the heap ends the page.
    TBrowserEngine::Limits limits = WaitForItem();
    limits.memoryBytes = TBrowserEngine::HelperMemory() + (qint64(192) << 20);
    TBrowserEngine::SetRenderLimits(limits);
    auto reader = NewReader(Serve(GreedyPage()), rmBrowser);
    QCOMPARE(Run(*reader), int(TReadItem::rcFailed));
    QCOMPARE(reader->ErrorText, BrowserTexts::TooMuchMemory.arg(limits.memoryBytes >> 20));
    QCOMPARE(m_db->value(QStringLiteral("select count(*) from Items")).toInt(), 0);
    // The page was let go: its memory returns and the next page reads.
    QTRY_VERIFY_WITH_TIMEOUT(TBrowserEngine::HelperMemory() < limits.memoryBytes, kPatienceMs);
    TBrowserEngine::SetRenderLimits(SettleAsUsual());
    QCOMPARE(Read(Serve(ScriptedPage(QStringLiteral("item.textContent = '下一页';"), 0)), rmBrowser),
             int(TReadItem::rcNoItem));
}

void TstUiBrowser::rendererEndedByItsScriptHeapGivesAChineseReason() {
    // A second program whose script heap ceiling is low and whose watchdog is off: the renderer
    // ends when the heap runs out, and the reading says so at once, in Chinese.
    const QString url = Serve(GreedyPage());
    QString out;
    QCOMPARE(RunCli({QStringLiteral("settings"), QStringLiteral("--own-account"), kSeller}, &out), 0);
    QProcessEnvironment env;
    const QString flags = qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS");
    env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"),
               (flags + QStringLiteral(" --js-flags=--max-old-space-size=64")).trimmed());
    env.insert(QStringLiteral("VANTERO_BROWSER_LIMITS"),
               QStringLiteral("render=%1,wall=%1,settle=%1,memory=0").arg(kNeverMs));
    const int code = RunCli({QStringLiteral("read-item"), url, QStringLiteral("--browser")}, &out, env);
    QVERIFY2(code == 3, qPrintable(out));
    QVERIFY2(out.contains(BrowserTexts::RendererEnded.section(u'（', 0, 0)), qPrintable(out));
    QCOMPARE(m_db->value(QStringLiteral("select count(*) from Items")).toInt(), 0);
}

void TstUiBrowser::concurrentRenderedReadingsTakeTurns() {
    // Each page settles a second after it shows; in turn, the two take at least two seconds.
    TBrowserEngine::Limits limits = SettleAsUsual();
    limits.noItemSettleMs = 1000;
    TBrowserEngine::SetRenderLimits(limits);
    const QString a = Serve(ScriptedPage(QStringLiteral("item.textContent = 'a';"), 0));
    const QString b = Serve(ScriptedPage(QStringLiteral("item.textContent = 'b';"), 0));
    auto first = NewReader(a, rmBrowser);
    auto second = NewReader(b, rmBrowser);
    QElapsedTimer timer;
    timer.start();
    first->start();
    second->start();
    QTRY_VERIFY_WITH_TIMEOUT(first->IsFinished() && second->IsFinished(), kPatienceMs);
    first->wait();
    second->wait();
    QCOMPARE(first->ResultCode, int(TReadItem::rcNoItem));
    QCOMPARE(second->ResultCode, int(TReadItem::rcNoItem));
    QVERIFY2(timer.elapsed() >= 2 * limits.noItemSettleMs, qPrintable(QString::number(timer.elapsed())));
}

void TstUiBrowser::loginEntryOpensTheLoginPageOnTheReadingsProfile() {
    TFmMain main{m_db->connection()};
    main.show();
    auto* menu = main.menuBar()->findChild<QMenu*>(QStringLiteral("mniN6"));
    QVERIFY(menu);
    const QList<QAction*> actions = menu->actions();
    const auto login = std::find_if(actions.begin(), actions.end(),
                                    [](QAction* a) { return a->objectName() == QLatin1String("mniLogin"); });
    QVERIFY(login != actions.end());
    QCOMPARE((*login)->text(), QStringLiteral("登录网站(&L)"));
    // After the specified entries: the item settings entry stays where it was, before it.
    const auto settings = std::find_if(actions.begin(), actions.end(),
                                       [](QAction* a) { return a->objectName() == QLatin1String("mniN10"); });
    QVERIFY(settings < login);

    (*login)->trigger();
    TFmLogin* window = main.LoginWindow();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("登录网站"));
    QCOMPARE(window->Browser()->page()->profile()->persistentStoragePath(),
             TBrowserEngine::ProfileFolder(m_db->path()));
    QCOMPARE(window->Browser()->page()->profile()->persistentCookiesPolicy(),
             QWebEngineProfile::ForcePersistentCookies);
    for (QWidget* control : window->findChildren<QWidget*>()) {
        if (qobject_cast<QPushButton*>(control) || qobject_cast<QWebEngineView*>(control))
            QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
    }
    // The real login page is never asked for here: a loopback one stands in.
    QTRY_VERIFY_WITH_TIMEOUT(window->StatusLabel()->text().contains(QStringLiteral("stand-in-login")), kPatienceMs);
    QCOMPARE(window->StatusLabel()->accessibleName(), window->StatusLabel()->text());
    window->findChild<QPushButton*>(QStringLiteral("btnClose"))->click();
    QVERIFY(!window->isVisible());
}

void TstUiBrowser::detailListContextMenuSetsThePagesReadingMode_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("account");
    QTest::newRow("own page") << 0 << QString();
    QTest::newRow("rival page") << 1 << QStringLiteral("ShopA");
}

void TstUiBrowser::detailListContextMenuSetsThePagesReadingMode() {
    QFETCH(int, row);
    QFETCH(QString, account);
    m_db->exec(QStringLiteral("update Setting set UpdateTimeOut=60, WW=?"), {kSeller});
    m_db->exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values ('ShopA', 'http://shop.example/a')"));
    m_db->exec(QStringLiteral("insert into Items (ItemID, ItemName, URL, Price, SellCount, LastUpdated) "
                              "values ('123', '标题', 'http://own/123', 1, 0, '')"));
    m_db->exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                              "SellCount, LastUpdated) values ('ShopA', '123', '9001', 'A', 'http://a/1', 1, 0, '')"));
    TFmMain main{m_db->connection()};
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    main.SetFocusedRow(0);
    QTreeWidget* list = main.DetailList();
    QVERIFY(list->topLevelItemCount() > row);
    QCOMPARE(main.DetailPage(row), std::pair(QStringLiteral("123"), account));

    auto choose = [&](const QString& objectName, bool* wasChecked) {
        QTimer::singleShot(100, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu);
            QCOMPARE(menu->actions().size(), 2);
            QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("直接读取"));
            QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("浏览器读取"));
            auto* action = menu->findChild<QAction*>(objectName);
            QVERIFY(action);
            *wasChecked = action->isChecked();
            action->trigger();
            menu->close();
        });
        const QRect rect = list->visualItemRect(list->topLevelItem(row));
        emit list->customContextMenuRequested(rect.center());
    };
    bool checked = true;
    choose(QStringLiteral("mniBrowser"), &checked);
    QVERIFY(!checked); // a page without a choice is read directly
    QCOMPARE(int(PageReadMode(m_db->connection(), QStringLiteral("123"), account)), int(rmBrowser));
    choose(QStringLiteral("mniBrowser"), &checked);
    QVERIFY(checked);
    choose(QStringLiteral("mniDirect"), &checked);
    QCOMPARE(int(PageReadMode(m_db->connection(), QStringLiteral("123"), account)), int(rmDirect));
    // The other page of the item keeps its own choice.
    QCOMPARE(
        int(PageReadMode(m_db->connection(), QStringLiteral("123"), row == 0 ? QStringLiteral("ShopA") : QString())),
        int(rmDirect));
}

QTEST_MAIN(TstUiBrowser)
#include "tst_ui_browser.moc"
