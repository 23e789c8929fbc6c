// The Chinese manual shipped with the program: "本机使用手册" and F1 open it from the local files,
// every picture and link of it is there, and its HTML says what README.zh_CN.md says.
#include "app/UtMain.h"
#include "dialogs/UtManual.h"
#include "support/TestDatabase.h"
#include "widgets/UiMessageBoxes.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QtTest>

using namespace vantero;
using namespace vantero::test;

namespace {

QString ReadText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// The headings of a Markdown text and of an HTML text, each as "level text".
QStringList MarkdownHeadings(const QString& text) {
    QStringList headings;
    static const QRegularExpression heading(QStringLiteral("^(#{1,6}) (.+)$"), QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch& match : heading.globalMatch(text)) {
        QString title = match.captured(2).trimmed();
        title.remove(QStringLiteral("**")).remove(u'`');
        headings << QStringLiteral("%1 %2").arg(match.captured(1).size()).arg(title);
    }
    return headings;
}

QStringList HtmlHeadings(const QString& text) {
    QStringList headings;
    static const QRegularExpression heading(QStringLiteral("<h([1-6])>(.*?)</h\\1>"));
    static const QRegularExpression tag(QStringLiteral("<[^>]+>"));
    for (const QRegularExpressionMatch& match : heading.globalMatch(text)) {
        QString title = match.captured(2);
        title.remove(tag);
        title.replace(QStringLiteral("&amp;"), QStringLiteral("&"))
            .replace(QStringLiteral("&lt;"), QStringLiteral("<"))
            .replace(QStringLiteral("&gt;"), QStringLiteral(">"));
        headings << QStringLiteral("%1 %2").arg(match.captured(1)).arg(title.trimmed());
    }
    return headings;
}

} // namespace

class TestUiManual : public QObject {
    Q_OBJECT
private slots:
    void init() {
        SetMessageBoxHook([](TBoxKind, const QString&, const QString&) { return false; });
    }
    void cleanup() { SetMessageBoxHook({}); }
    void menuEntryComesAfterTheSpecifiedOneAndOpensTheLocalManual();
    void f1OpensTheManualAndEscapeClosesIt();
    void everyPictureAndLinkOfTheManualIsThere();
    void htmlAndMarkdownHaveTheSameHeadings();
};

void TestUiManual::menuEntryComesAfterTheSpecifiedOneAndOpensTheLocalManual() {
    TTestDatabase db;
    TFmMain main(db.connection());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    auto* help = main.menuBar()->findChild<QMenu*>(QStringLiteral("mniN2"));
    QVERIFY(help);
    QStringList texts;
    for (QAction* action : help->actions())
        texts << action->text();
    QCOMPARE(texts.value(0), QStringLiteral("关于"));
    QCOMPARE(texts.indexOf(QStringLiteral("本机使用手册(&M)")), 1);
    QAction* entry = main.Command(QStringLiteral("mniManual"));
    QVERIFY(entry);
    QCOMPARE(entry->shortcut(), QKeySequence(Qt::Key_F1));
    QVERIFY(!main.ManualWindow());
    entry->trigger();
    TFmManual* manual = main.ManualWindow();
    QVERIFY(manual);
    QTRY_VERIFY_WITH_TIMEOUT(manual->isVisible(), 30000);
    QCOMPARE(manual->windowTitle(), QStringLiteral("本机使用手册"));
    const QUrl source = manual->Browser()->source();
    QVERIFY2(source.isLocalFile(), qPrintable(source.toString()));
    QCOMPARE(source.toLocalFile(), ManualIndexFile());
    QVERIFY(manual->Browser()->toPlainText().contains(QStringLiteral("第一步")));
    for (QWidget* child : manual->findChildren<QWidget*>()) {
        if (child->focusPolicy() & Qt::TabFocus)
            QVERIFY2(!child->accessibleName().isEmpty(), qPrintable(child->objectName()));
    }
    // A second time the same window comes back.
    manual->close();
    entry->trigger();
    QCOMPARE(main.ManualWindow(), manual);
    QVERIFY(manual->isVisible());
}

void TestUiManual::f1OpensTheManualAndEscapeClosesIt() {
    TTestDatabase db;
    TFmMain main(db.connection());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    main.activateWindow();
    QTRY_VERIFY_WITH_TIMEOUT(main.isActiveWindow(), 30000);
    QTest::keyClick(&main, Qt::Key_F1);
    QTRY_VERIFY_WITH_TIMEOUT(main.ManualWindow() && main.ManualWindow()->isVisible(), 30000);
    TFmManual* manual = main.ManualWindow();
    QTest::keyClick(manual->Browser(), Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!manual->isVisible(), 30000);
}

void TestUiManual::everyPictureAndLinkOfTheManualIsThere() {
    const QString index = ManualIndexFile();
    QVERIFY2(!index.isEmpty(), "the manual is not found");
    TFmManual manual;
    QTextBrowser* browser = manual.Browser();
    QTextDocument* document = browser->document();
    int pictures = 0;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (format.isImageFormat()) {
                const QString name = format.toImageFormat().name();
                const QUrl url = browser->source().resolved(QUrl(name));
                QVERIFY2(url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile(), qPrintable(name));
                QVERIFY2(browser->loadResource(QTextDocument::ImageResource, url).isValid(), qPrintable(name));
                QVERIFY2(!QImage(url.toLocalFile()).isNull(), qPrintable(name));
                // Small pictures: the package carries them.
                QVERIFY2(QFileInfo(url.toLocalFile()).size() < 200 * 1024, qPrintable(name));
                ++pictures;
            }
            if (format.isAnchor() && !format.anchorHref().isEmpty()) {
                const QUrl link(format.anchorHref());
                // A link within the page needs its anchor; any other, its local file.
                if (link.scheme().isEmpty() && link.path().isEmpty())
                    QVERIFY2(document->toHtml().contains(QStringLiteral("name=\"%1\"").arg(link.fragment())),
                             qPrintable(format.anchorHref()));
                else
                    QVERIFY2(browser->source().resolved(link).isLocalFile() &&
                                 QFileInfo::exists(browser->source().resolved(link).toLocalFile()),
                             qPrintable(format.anchorHref()));
            }
        }
    }
    QVERIFY(pictures >= 3);
    // The Markdown's pictures are there too, relative to where it stands.
    const QString markdown = QStringLiteral(VANTERO_TEST_DATA "/../../README.zh_CN.md");
    const QString text = ReadText(markdown);
    QVERIFY(!text.isEmpty());
    static const QRegularExpression picture(QStringLiteral("!\\[[^\\]]*\\]\\(([^)]+)\\)"));
    int markdownPictures = 0;
    for (const QRegularExpressionMatch& match : picture.globalMatch(text)) {
        QVERIFY2(QFileInfo(QFileInfo(markdown).dir().filePath(match.captured(1))).isFile(),
                 qPrintable(match.captured(1)));
        ++markdownPictures;
    }
    QCOMPARE(markdownPictures, pictures);
}

void TestUiManual::htmlAndMarkdownHaveTheSameHeadings() {
    const QString markdown = ReadText(QStringLiteral(VANTERO_TEST_DATA "/../../README.zh_CN.md"));
    const QString html = ReadText(ManualIndexFile());
    const QStringList fromMarkdown = MarkdownHeadings(markdown);
    QVERIFY(fromMarkdown.size() >= 6);
    QCOMPARE(HtmlHeadings(html), fromMarkdown);
    // The README points a Chinese reader to it first.
    const QString readme = ReadText(QStringLiteral(VANTERO_TEST_DATA "/../../README.md"));
    QVERIFY(readme.left(600).contains(QStringLiteral("README.zh_CN.md")));
}

QTEST_MAIN(TestUiManual)
#include "tst_ui_manual.moc"
