// The add own item dialog, offscreen, on the real page excerpts served from 127.0.0.1 (GBK and
// UTF-8) and on a login redirect: what the user sees in the status bar, the box and the grid.
#include "app/UtMain.h"
#include "dialogs/UtAddItem.h"
#include "reader/UtReadItemThr.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"
#include "widgets/UiMessageBoxes.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace vantero;
using namespace vantero::test;

namespace {

QByteArray Excerpt(const QString& name) {
    QFile file(QStringLiteral(VANTERO_TEST_DATA "/pages/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test page %s", qPrintable(name));
    return file.readAll();
}

} // namespace

class TstUiRealPages final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TTestHttpServer> m_server;
    std::unique_ptr<TTestDatabase> m_db;
    std::unique_ptr<TFmMain> m_main;
    QStringList m_boxes;

    void OpenMain(const QString& ownAccount) {
        m_db->exec(QStringLiteral("update Setting set WW=?, UpdateTimeOut=60"), {ownAccount});
        m_main = std::make_unique<TFmMain>(m_db->connection());
        m_main->ApplySettings();
        m_main->RefreshAll();
    }

    void ReadAddress(TFmAddItem& dialog, const QString& address) {
        dialog.edtURL->setText(address);
        dialog.btnOK->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.IsReading(), 60000);
    }

private slots:
    void initTestCase() {
        m_server = std::make_unique<TTestHttpServer>();
        m_server->route(QStringLiteral("/gbk/item.htm?id=45383717461"),
                        Excerpt(QStringLiteral("tb2017-item-45383717461.excerpt.gbk.html")));
        m_server->route(QStringLiteral("/utf8/item.htm?id=45383717461"),
                        Excerpt(QStringLiteral("tb2017-item-45383717461.excerpt.html")));
        m_server->route(QStringLiteral("/gbk/item.htm?id=541636851254"),
                        Excerpt(QStringLiteral("tmall2018-item-541636851254.excerpt.gbk.html")));
        m_server->route(QStringLiteral("/utf8/item.htm?id=541636851254"),
                        Excerpt(QStringLiteral("tmall2018-item-541636851254.excerpt.html")),
                        "text/html; charset=utf-8");
    }
    void init() {
        m_boxes.clear();
        m_db = std::make_unique<TTestDatabase>();
        SetMessageBoxHook([this](TBoxKind, const QString&, const QString& text) {
            m_boxes.append(text);
            return true;
        });
    }
    void cleanup() {
        SetMessageBoxHook(nullptr);
        m_main.reset();
        m_db.reset();
    }
    void cleanupTestCase() { m_server.reset(); }

    void realExcerptAddsTheItem_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("seller");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("itemId");
        QTest::addColumn<double>("price");
        const QString tb = QStringLiteral("AMZ小贝同款头盔镜片哈雷三扣式带框架复古风镜飞行盔多色泡泡镜");
        const QString tm = QStringLiteral("音格格手卷电子钢琴便携式88键初学者成人家用键盘专业加厚版入门");
        QTest::newRow("2017 GBK") << QStringLiteral("/gbk/item.htm?id=45383717461") << QStringLiteral("amz品牌工作室")
                                  << tb << QStringLiteral("45383717461") << 75.0;
        QTest::newRow("2017 UTF-8") << QStringLiteral("/utf8/item.htm?id=45383717461")
                                    << QStringLiteral("amz品牌工作室") << tb << QStringLiteral("45383717461") << 75.0;
    }

    // The 2018 excerpt names id, title and seller but no price: adding it must fail with that
    // reason and store nothing, never an item at 0.00.
    void excerptWithoutPriceIsNotAdded_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("2018 GBK") << QStringLiteral("/gbk/item.htm?id=541636851254");
        QTest::newRow("2018 UTF-8") << QStringLiteral("/utf8/item.htm?id=541636851254");
    }
    void excerptWithoutPriceIsNotAdded() {
        QFETCH(QString, path);
        OpenMain(QStringLiteral("音格格旗舰店"));
        TFmAddItem dialog(m_main.get());
        dialog.show();
        ReadAddress(dialog, m_server->url(path));
        QCOMPARE(dialog.StatusText(), AddItemTexts::Failed + PageTexts::NoPrice);
        QCOMPARE(m_boxes, QStringList{AddItemTexts::FailedBox + PageTexts::NoPrice});
        QCOMPARE(m_main->RowCount(), 0);
    }
    void realExcerptAddsTheItem() {
        QFETCH(QString, path);
        QFETCH(QString, seller);
        QFETCH(QString, title);
        QFETCH(QString, itemId);
        QFETCH(double, price);
        OpenMain(seller);
        TFmAddItem dialog(m_main.get());
        dialog.show();
        ReadAddress(dialog, m_server->url(path));
        const QString added = QStringLiteral("添加宝贝 \"%1\" 成功").arg(title);
        QCOMPARE(dialog.StatusText(), added);
        QCOMPARE(m_boxes, QStringList{added});
        QCOMPARE(m_main->RowCount(), 1);
        QCOMPARE(m_main->ItemAt(0)->ItemID, itemId);
        QCOMPARE(m_main->ItemAt(0)->ItemName, title);
        QCOMPARE(m_main->ItemAt(0)->Price, price);
    }

    void loginRedirectShowsItsReason() {
        OpenMain(QStringLiteral("amz品牌工作室"));
        QString login = m_server->url(QStringLiteral("/member/login.jhtml"));
        login.replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
        TTestResponse redirect;
        redirect.status = 302;
        redirect.headers << qMakePair(QByteArray("Location"), login.toUtf8());
        m_server->route(QStringLiteral("/login/item.htm?id=1"), redirect);
        m_server->route(QStringLiteral("/member/login.jhtml"),
                        QStringLiteral("<html><body><p>请登录。这一页只是登录页面的说明，没有宝贝，也没有任何价格。"
                                       "</p><form action=\"/member/login.jhtml\" method=\"post\">"
                                       "<input name=\"TPL_username\"><input type=\"password\" name=\"TPL_password\">"
                                       "</form></body></html>")
                            .toUtf8(),
                        "text/html; charset=utf-8");
        TFmAddItem dialog(m_main.get());
        dialog.show();
        ReadAddress(dialog, m_server->url(QStringLiteral("/login/item.htm?id=1")));
        QCOMPARE(dialog.StatusText(), AddItemTexts::Failed + PageTexts::NeedsLogin);
        QCOMPARE(m_boxes, QStringList{AddItemTexts::FailedBox + PageTexts::NeedsLogin});
        QCOMPARE(m_main->RowCount(), 0);
    }
};

QTEST_MAIN(TstUiRealPages)
#include "tst_ui_realpages.moc"
