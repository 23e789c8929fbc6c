// The import dialog and the main window's "数据导入" command, offscreen.
#include "app/UtMain.h"
#include "dialogs/utDataImport.h"
#include "support/TestDatabase.h"
#include "widgets/UiMessageBoxes.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace vantero;
using namespace vantero::test;

namespace {

struct TBox {
    TBoxKind kind;
    QString text;
};

void AddItem(const TTestDatabase& db, const QString& id) {
    db.exec(QStringLiteral("insert into Items (ItemID, ItemName, URL, Price) values (?, ?, ?, ?)"),
            {id, QStringLiteral("item ") + id, QStringLiteral("http://item/") + id, 9.5});
}

QPushButton* Button(QWidget* window, const QString& name) {
    return window->findChild<QPushButton*>(name);
}

} // namespace

class TestUiImport : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void dialogLooksAsDescribed();
    void showingClearsThePath();
    void browseFillsThePathUnlessCancelled();
    void emptyPathAsksForAFile_data();
    void emptyPathAsksForAFile();
    void refusedSourceKeepsTheDialogOpen();
    void importReportsCompletionAndCloses();
    void closeButtonClosesWithoutImporting();
    void importCommandRefreshesTheGrid();

private:
    QList<TBox> m_boxes;
    // Runs while a modal box would be shown (the box itself is not shown).
    std::function<void()> m_onBox;
};

void TestUiImport::init() {
    m_boxes.clear();
    m_onBox = nullptr;
    SetMessageBoxHook([this](TBoxKind kind, const QString&, const QString& text) {
        m_boxes << TBox{kind, text};
        if (m_onBox)
            m_onBox();
        return false;
    });
}

void TestUiImport::cleanup() {
    SetMessageBoxHook(nullptr);
    TFmDataImport::SetOpenFileHook(nullptr);
}

void TestUiImport::dialogLooksAsDescribed() {
    TTestDatabase target;
    TFmDataImport dialog(target.connection());
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("数据导入..."));
    QCOMPARE(dialog.size(), QSize(500, 134));
    QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("lbl1")));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("lbl1"))->text(), QStringLiteral("数据库文件"));
    QCOMPARE(dialog.DBFileEdit()->accessibleName(), QStringLiteral("数据库文件"));
    const QList<QPair<QString, QString>> buttons = {{QStringLiteral("btnBrowse"), QStringLiteral("浏览...")},
                                                    {QStringLiteral("btnImport"), QStringLiteral("导入")},
                                                    {QStringLiteral("btnClose"), QStringLiteral("关闭")}};
    for (const auto& [name, caption] : buttons) {
        QPushButton* button = Button(&dialog, name);
        QVERIFY2(button, qPrintable(name));
        QCOMPARE(button->text(), caption);
        QCOMPARE(button->accessibleName(), caption);
    }
}

void TestUiImport::showingClearsThePath() {
    TTestDatabase target;
    TFmDataImport dialog(target.connection());
    dialog.DBFileEdit()->setText(QStringLiteral("left over"));
    dialog.show();
    QVERIFY(dialog.DBFileEdit()->text().isEmpty());
}

void TestUiImport::browseFillsThePathUnlessCancelled() {
    TTestDatabase target;
    TFmDataImport dialog(target.connection());
    dialog.show();
    QString answer = QStringLiteral("/data/other.mdb");
    TFmDataImport::SetOpenFileHook([&answer](QWidget*) { return answer; });
    QTest::mouseClick(Button(&dialog, QStringLiteral("btnBrowse")), Qt::LeftButton);
    QCOMPARE(dialog.DBFileEdit()->text(), QStringLiteral("/data/other.mdb"));
    answer.clear();
    QTest::mouseClick(Button(&dialog, QStringLiteral("btnBrowse")), Qt::LeftButton);
    QCOMPARE(dialog.DBFileEdit()->text(), QStringLiteral("/data/other.mdb"));
}

void TestUiImport::emptyPathAsksForAFile_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("blanks") << QStringLiteral("  \t ");
}

void TestUiImport::emptyPathAsksForAFile() {
    QFETCH(QString, text);
    TTestDatabase target;
    TFmDataImport dialog(target.connection());
    dialog.show();
    dialog.DBFileEdit()->setText(text);
    QTest::mouseClick(Button(&dialog, QStringLiteral("btnImport")), Qt::LeftButton);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().kind, TBoxKind::Plain);
    QCOMPARE(m_boxes.first().text, QStringLiteral("请先选定一个数据库文件."));
    QVERIFY(dialog.isVisible());
}

void TestUiImport::refusedSourceKeepsTheDialogOpen() {
    TTestDatabase target;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("notes.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a database\n");
    file.close();

    TFmDataImport dialog(target.connection());
    dialog.show();
    dialog.DBFileEdit()->setText(QStringLiteral("  ") + path + QStringLiteral(" "));
    QTest::mouseClick(Button(&dialog, QStringLiteral("btnImport")), Qt::LeftButton);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().kind, TBoxKind::Plain);
    QVERIFY2(m_boxes.first().text.startsWith(QStringLiteral("连接数据库失败： \"") + path + QStringLiteral("\" ")),
             qPrintable(m_boxes.first().text));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), 0);
}

void TestUiImport::importReportsCompletionAndCloses() {
    TTestDatabase target;
    TTestDatabase source;
    AddItem(source, QStringLiteral("501"));
    TFmDataImport dialog(target.connection());
    dialog.show();
    dialog.DBFileEdit()->setText(source.path());
    QTest::mouseClick(Button(&dialog, QStringLiteral("btnImport")), Qt::LeftButton);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().kind, TBoxKind::Plain);
    QCOMPARE(m_boxes.first().text,
             QStringLiteral("导入完成.请刷新数据.\r\n新增宝贝 1 个，对手店铺 0 个，对应宝贝 0 个。"));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(target.value(QStringLiteral("select count(*) from Items where ItemID='501'")).toInt(), 1);
}

void TestUiImport::closeButtonClosesWithoutImporting() {
    TTestDatabase target;
    TTestDatabase source;
    AddItem(source, QStringLiteral("502"));
    TFmDataImport dialog(target.connection());
    dialog.show();
    dialog.DBFileEdit()->setText(source.path());
    QTest::mouseClick(Button(&dialog, QStringLiteral("btnClose")), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(target.value(QStringLiteral("select count(*) from Items")).toInt(), 0);
}

void TestUiImport::importCommandRefreshesTheGrid() {
    TTestDatabase target;
    TTestDatabase source;
    AddItem(source, QStringLiteral("601"));
    AddItem(source, QStringLiteral("602"));
    TFmMain main(target.connection());
    main.RefreshAll();
    QCOMPARE(main.RowCount(), 0);

    bool sawDialog = false;
    QTimer::singleShot(0, this, [&] {
        auto* dialog = qobject_cast<TFmDataImport*>(QApplication::activeModalWidget());
        sawDialog = dialog != nullptr;
        if (!dialog) {
            if (QWidget* other = QApplication::activeModalWidget())
                other->close();
            return;
        }
        dialog->DBFileEdit()->setText(source.path());
        QTest::mouseClick(Button(dialog, QStringLiteral("btnImport")), Qt::LeftButton);
    });
    main.Command(QStringLiteral("btndataImport"))->trigger();
    QVERIFY(sawDialog);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().text,
             QStringLiteral("导入完成.请刷新数据.\r\n新增宝贝 2 个，对手店铺 0 个，对应宝贝 0 个。"));
    QCOMPARE(main.RowCount(), 2);
    // The dialog is gone once it closed.
    QVERIFY(main.findChildren<TFmDataImport*>().isEmpty());

    // Closed without importing, the window still rebuilds (and sees rows written meanwhile).
    AddItem(target, QStringLiteral("603"));
    QTimer::singleShot(0, this, [] {
        if (QWidget* dialog = QApplication::activeModalWidget())
            QTest::mouseClick(Button(dialog, QStringLiteral("btnClose")), Qt::LeftButton);
    });
    main.btndataImportClick();
    QCOMPARE(main.RowCount(), 3);
}

QTEST_MAIN(TestUiImport)
#include "tst_ui_import.moc"
