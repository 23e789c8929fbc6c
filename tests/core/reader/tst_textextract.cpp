// Marker extraction and line-break removal.
#include "common/TextHelpers.h"
#include "reader/Extract.h"

#include <QTest>

using namespace vantero;

class TestTextExtract : public QObject {
    Q_OBJECT
private slots:
    void extractBetweenFollowsTheWorkedExamples_data();
    void extractBetweenFollowsTheWorkedExamples();
    void extractBetweenWorksOnGbkBytesWithoutDecoding();
    void extractBetweenFindsMarkersInAMultiMegabytePage();
    void findNoCaseAgreesWithAPlainSearch();
    void stripLineBreaksRemovesOnlyTabsAndLineBreaks_data();
    void stripLineBreaksRemovesOnlyTabsAndLineBreaks();
    void trimmingRemovesBytesUpToThirtyTwo();
};

void TestTextExtract::extractBetweenFollowsTheWorkedExamples_data() {
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<QByteArray>("result");
    QTest::newRow("markers ignore case") << QByteArray("a<p>Price: <EM>12.50</EM> yuan") << QByteArray("<em>")
                                         << QByteArray("</em>") << QByteArray("12.50");
    QTest::newRow("result keeps the source's case")
        << QByteArray("<B>Red Cup</B>") << QByteArray("<b>") << QByteArray("</b>") << QByteArray("Red Cup");
    QTest::newRow("first occurrence only")
        << QByteArray("<i>a</i><i>b</i>") << QByteArray("<i>") << QByteArray("</i>") << QByteArray("a");
    QTest::newRow("end marker before start ignored")
        << QByteArray("</b>x<b>y</b>") << QByteArray("<b>") << QByteArray("</b>") << QByteArray("y");
    QTest::newRow("no trimming") << QByteArray("<em>7 </em>\xbc\xfe") << QByteArray("<em>")
                                 << QByteArray("</em>\xbc\xfe") << QByteArray("7 ");
    QTest::newRow("nothing between") << QByteArray("<b></b>") << QByteArray("<b>") << QByteArray("</b>")
                                     << QByteArray();
    QTest::newRow("end marker missing") << QByteArray("<b>x</b>") << QByteArray("<b>") << QByteArray("</i>")
                                        << QByteArray();
    QTest::newRow("start marker missing")
        << QByteArray("<b>x") << QByteArray("<i>") << QByteArray("</b>") << QByteArray();
    QTest::newRow("empty start marker") << QByteArray("<b>x</b>") << QByteArray() << QByteArray("</b>") << QByteArray();
    QTest::newRow("a further start marker is part of the value")
        << QByteArray("<b>x<b>y</b>") << QByteArray("<b>") << QByteArray("</b>") << QByteArray("x<b>y");
    QTest::newRow("start marker at the very end")
        << QByteArray("abc<b>") << QByteArray("<b>") << QByteArray("</b>") << QByteArray();
    QTest::newRow("end marker only before start")
        << QByteArray("</b><b>x") << QByteArray("<b>") << QByteArray("</b>") << QByteArray();
    QTest::newRow("empty end marker is never found")
        << QByteArray("<b>x</b>") << QByteArray("<b>") << QByteArray() << QByteArray();
    QTest::newRow("upper-case marker finds lower-case text")
        << QByteArray("<em>5</em>") << QByteArray("<EM>") << QByteArray("</EM>") << QByteArray("5");
    QTest::newRow("end marker may not overlap the start marker")
        << QByteArray("<b>>x>") << QByteArray("<b>") << QByteArray(">") << QByteArray();
    QTest::newRow("empty source") << QByteArray() << QByteArray("<b>") << QByteArray("</b>") << QByteArray();
}

void TestTextExtract::extractBetweenFollowsTheWorkedExamples() {
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, end);
    QFETCH(QByteArray, result);
    QCOMPARE(ExtractBetween(source, start, end), result);
}

void TestTextExtract::extractBetweenWorksOnGbkBytesWithoutDecoding() {
    // "售出：" in GBK; its second bytes are not letters, so only exact bytes match.
    const QByteArray sold("\xca\xdb\xb3\xf6\xa3\xba");
    const QByteArray page = "<span>" + sold + "</span><em>42</em>";
    QCOMPARE(ExtractBetween(page, sold + "</SPAN><EM>", "</em>"), QByteArray("42"));
    QCOMPARE(ExtractBetween(page, QByteArray("\xca\xdb\xb3\xf6\xa3\xbb"), "</em>"), QByteArray());
    // A GBK second byte that is a lower-case ASCII letter folds like any letter.
    QCOMPARE(ExtractBetween(QByteArray("\x81"
                                       "a:1;"),
                            QByteArray("\x81"
                                       "A:"),
                            ";"),
             QByteArray("1"));
}

void TestTextExtract::extractBetweenFindsMarkersInAMultiMegabytePage() {
    QByteArray page(4 * 1024 * 1024, 'y');
    page.append("<INPUT name=\"item_id_num\" value=\"987\" />");
    QCOMPARE(ExtractBetween(page, "<input name=\"item_id_num\" value=\"", "\" />"), QByteArray("987"));
    QCOMPARE(FindNoCase(page, "ITEM_ID_NUM", 0), page.indexOf("item_id_num"));
}

// The search skips ahead by a table; a plain folded comparison at every offset is the reference.
// A small alphabet with both cases, digits and bytes above 127 makes near misses common.
void TestTextExtract::findNoCaseAgreesWithAPlainSearch() {
    const QByteArray alphabet("aAbB[{\x80\xC1\xE1\xFF\"\" /1");
    auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; };
    auto plain = [&](const QByteArray& hay, const QByteArray& needle, qsizetype from) -> qsizetype {
        for (qsizetype i = from; i + needle.size() <= hay.size(); ++i) {
            qsizetype k = 0;
            while (k < needle.size() && fold(hay[i + k]) == fold(needle[k]))
                ++k;
            if (k == needle.size())
                return i;
        }
        return -1;
    };
    quint32 seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    auto word = [&](int length) {
        QByteArray w;
        for (int i = 0; i < length; ++i)
            w.append(alphabet[int(next() % alphabet.size())]);
        return w;
    };
    for (int round = 0; round < 20000; ++round) {
        const QByteArray hay = word(int(next() % 60));
        const QByteArray needle = word(1 + int(next() % 7));
        const qsizetype from = hay.isEmpty() ? 0 : qsizetype(next() % hay.size());
        QCOMPARE(FindNoCase(hay, needle, from), plain(hay, needle, from));
    }
}

void TestTextExtract::stripLineBreaksRemovesOnlyTabsAndLineBreaks_data() {
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("result");
    QTest::newRow("only breaks") << QByteArray("\t\r\n\r\n\t") << QByteArray();
    QTest::newRow("crlf joins words") << QByteArray("shop\r\nname") << QByteArray("shopname");
    QTest::newRow("spaces and form feeds stay") << QByteArray(" a\fb ") << QByteArray(" a\fb ");
    QTest::newRow("mixed") << QByteArray("<div\tid=\"x\">\n<a>") << QByteArray("<divid=\"x\"><a>");
}

void TestTextExtract::stripLineBreaksRemovesOnlyTabsAndLineBreaks() {
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, result);
    QCOMPARE(StripLineBreaks(source), result);
}

void TestTextExtract::trimmingRemovesBytesUpToThirtyTwo() {
    QCOMPARE(TrimBlanks(QByteArrayView("\x01 \t ab c\r\n\x1f")), QByteArray("ab c"));
    QCOMPARE(TrimBlanks(QStringLiteral("\u3000 全角 ")), QStringLiteral("\u3000 全角")); // U+3000 is no blank byte
    QCOMPARE(LowerAscii(QStringLiteral("ShopA 店ÄB")), QStringLiteral("shopa 店Äb"));
}

QTEST_GUILESS_MAIN(TestTextExtract)
#include "tst_textextract.moc"
