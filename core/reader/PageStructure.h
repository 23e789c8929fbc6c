#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace vantero {

class TPageText;

// One value the structured reading found for a field, with where: a data key path
// ("TShop.Setup › itemDO › title") or a markup element ("<span class=\"tm-price\">").
struct TCandidate {
    QString text;
    QString detail;
    bool fromData = true; // embedded data; false: markup
};

// A price as the page gives it: a number or a range ("5499.00-6799.00"), and what kind of price.
struct TPriceCandidate {
    double low = 0;
    double high = 0; // = low unless a range
    QString text;
    QString detail;
    bool fromData = true;
    bool promotion = false; // a promotion the page shows as running
    int rank = 0;           // among listed prices of one kind of source: lower is trusted more
};

// What the page's structure says, beyond the exact markers: the page decoded to UTF-8 and parsed
// as HTML5 (gumbo), the JSON and script literals of its scripts (and the whole text when the page
// is a data answer) read as data. Candidates stand in order of trust: embedded data first, then
// markup.
struct TPageStructure {
    QList<TCandidate> itemIds;
    QList<TCandidate> titles;
    QList<TCandidate> sellers; // account names, %XX escapes decoded
    QList<TCandidate> shopNames;
    QList<TCandidate> sales;
    QList<TPriceCandidate> prices;
    QList<TPriceCandidate> passedOverPrices; // promotions not started, prices of 0 or less
    bool anyPriceText = false;               // some price field held a number, maybe 0 or less

    bool gone = false; // the page says the item is gone
    QString goneEvidence;
    bool passwordForm = false;
    bool dataAnswer = false; // the page is JSON or script, not markup
};

// Reads the structure of a page (its Content-Type tells a data answer). Bounded in time and memory
// by the page's size.
TPageStructure ReadPageStructure(const TPageText& page);

// A price text as a number or a range: its low and high end (equal for a single number). Blanks
// and a currency sign around it are allowed. False when it is neither.
bool ParsePriceRange(const QString& text, double* low, double* high);

// The words with which a page says its item is gone.
const QStringList& GoneWords();

// A %XX-escaped name decoded: UTF-8 when its bytes are, else GBK; unchanged without escapes.
QString PercentDecodedName(const QString& value);

} // namespace vantero
