#pragma once

#include "store/Connection.h"

#include <QString>

namespace vantero {

class TReadItem;

// What one reading of a page came to, for ReadingStatus and PriceHistory. A page is keyed by the
// own item and the rival account ('' for the own item's page), both without surrounding blanks.
struct TReadingOutcome {
    QString LocalItemID;
    QString RivalWW;
    QString RivalItemID;
    QString URL;
    int Code = 0;
    QString Text;     // failure or refusal text; '' on success
    double Price = 0; // 0: the page showed no price
    int SellCount = 0;
    QString Timing; // where the download's time went (THttpTiming's stored form); '' when none
};

// The key of a page's rows (its ReadingStatus and PriceHistory) for a write transaction of
// those rows (TWriteTransaction with keys).
QString PageKey(const QString& localItemID, const QString& rivalWW);

// Writes the outcome inside the caller's open write transaction: the page's ReadingStatus row
// and, for a success (code 0 or 1) whose price or sales differ from the page's last history row
// (or that is the page's first), a PriceHistory row. at is the stored date-time form.
void LogReading(const TConnection& con, const TReadingOutcome& outcome, const QString& at);

// The outcome of a stored reading (code 0 or 1) as the reader stored it.
TReadingOutcome StoredOutcomeOf(const TReadItem& reader, int code);

// Logs a refused or failed reading (codes 2 to 4) in a write transaction of its own, since it
// stores nothing else. An own page is logged under the reader's OwnItemID, else under the stored
// own item with the id the page gave, else under the first one stored with that address; a new
// address that matches none of them has nothing to be keyed by and is not logged.
// A failure to write is swallowed: the reading's own result stands.
void LogFailedReading(const TConnection& con, const TReadItem& reader);

} // namespace vantero
