#include "reader/ReadingLog.h"

#include "common/TextHelpers.h"
#include "reader/UtReadItemThr.h"
#include "store/ReadingNotice.h"
#include "store/Statement.h"

namespace vantero {

namespace {

const QString kLastHistory = QStringLiteral(
    "SELECT Price, SellCount FROM PriceHistory WHERE LocalItemID=? AND RivalWW=? ORDER BY rowid DESC LIMIT 1");
const QString kAddHistory = QStringLiteral(
    "INSERT INTO PriceHistory (LocalItemID, RivalWW, RivalItemID, ReadAt, Price, SellCount) VALUES (?, ?, ?, ?, ?, ?)");
// Every attempt replaces the timing, so the time shown belongs to the outcome shown.
const QString kSuccess = QStringLiteral(
    "INSERT INTO ReadingStatus (LocalItemID, RivalWW, RivalItemID, URL, LastAttempt, LastCode, LastText, LastSuccess,"
    " FailedInRow, LastTiming) VALUES (?, ?, ?, ?, ?, ?, '', ?, 0, ?) ON CONFLICT(LocalItemID, RivalWW) DO UPDATE SET"
    " RivalItemID=excluded.RivalItemID, URL=excluded.URL, LastAttempt=excluded.LastAttempt,"
    " LastCode=excluded.LastCode, LastText='', LastSuccess=excluded.LastSuccess, FailedInRow=0,"
    " LastTiming=excluded.LastTiming");
// A failure keeps the last success and the rival item id it does not know.
const QString kFailure = QStringLiteral(
    "INSERT INTO ReadingStatus (LocalItemID, RivalWW, RivalItemID, URL, LastAttempt, LastCode, LastText, FailedInRow,"
    " LastTiming) VALUES (?, ?, ?, ?, ?, ?, ?, 1, ?) ON CONFLICT(LocalItemID, RivalWW) DO UPDATE SET"
    " RivalItemID=CASE WHEN excluded.RivalItemID<>'' THEN excluded.RivalItemID ELSE RivalItemID END,"
    " URL=excluded.URL, LastAttempt=excluded.LastAttempt, LastCode=excluded.LastCode, LastText=excluded.LastText,"
    " FailedInRow=FailedInRow+1, LastTiming=excluded.LastTiming");
const QString kItemById = QStringLiteral("SELECT ItemID FROM Items WHERE ItemID=? LIMIT 1");
const QString kItemByAddress = QStringLiteral("SELECT ItemID FROM Items WHERE URL=? OR URL=? ORDER BY rowid LIMIT 1");

bool IsSuccess(int code) {
    return code == TReadItem::rcUpdated || code == TReadItem::rcAdded;
}

// The history's price: a page without a price is "no price", never 0.
QVariant HistoryPrice(double price) {
    return price == 0 ? QVariant() : QVariant(price);
}

bool HistoryChanged(const TConnection& con, const TReadingOutcome& outcome) {
    TStatement last(con, kLastHistory);
    last.Bind({outcome.LocalItemID, outcome.RivalWW});
    if (!last.Step())
        return true; // the page's first reading
    const bool hadPrice = last.Kind(0) != TCellKind::Null;
    const bool hasPrice = outcome.Price != 0;
    if (hadPrice != hasPrice || (hasPrice && last.Float(0) != outcome.Price))
        return true;
    return last.Integer(1) != outcome.SellCount;
}

} // namespace

QString PageKey(const QString& localItemID, const QString& rivalWW) {
    return QStringLiteral("page\x1f%1\x1f%2").arg(localItemID, rivalWW);
}

void LogReading(const TConnection& con, const TReadingOutcome& outcome, const QString& at) {
    if (IsSuccess(outcome.Code)) {
        con.exec(kSuccess, {outcome.LocalItemID, outcome.RivalWW, outcome.RivalItemID, outcome.URL, at, outcome.Code,
                            at, outcome.Timing});
        if (HistoryChanged(con, outcome))
            con.exec(kAddHistory, {outcome.LocalItemID, outcome.RivalWW, outcome.RivalItemID, at,
                                   HistoryPrice(outcome.Price), outcome.SellCount});
    } else {
        con.exec(kFailure, {outcome.LocalItemID, outcome.RivalWW, outcome.RivalItemID, outcome.URL, at, outcome.Code,
                            outcome.Text, outcome.Timing});
    }
    AnnounceReading(con, outcome.LocalItemID);
}

TReadingOutcome StoredOutcomeOf(const TReadItem& reader, int code) {
    TReadingOutcome outcome;
    const bool own = TrimBlanks(reader.LocalItemID).isEmpty();
    // The keys of the rows the reading wrote: the own item by the id read from the page, a rival
    // item under its own item and the seller it was checked against (equal but for ASCII case).
    outcome.LocalItemID = TrimBlanks(own ? reader.ItemID : reader.LocalItemID);
    outcome.RivalWW = own ? QString() : TrimBlanks(reader.ExpectedSeller);
    outcome.RivalItemID = own ? QString() : TrimBlanks(reader.ItemID);
    outcome.URL = reader.URL;
    outcome.Code = code;
    outcome.Price = reader.Price;
    outcome.SellCount = reader.SellCount;
    outcome.Timing = reader.Timing;
    return outcome;
}

void LogFailedReading(const TConnection& con, const TReadItem& reader) {
    try {
        TReadingOutcome outcome;
        outcome.URL = reader.URL;
        outcome.Code = reader.ResultCode;
        outcome.Text = reader.ErrorText;
        outcome.Timing = reader.Timing;
        // A page known before any lookup locks only its own rows.
        QStringList keys;
        if (!TrimBlanks(reader.LocalItemID).isEmpty())
            keys << PageKey(TrimBlanks(reader.LocalItemID), TrimBlanks(reader.ExpectedSeller));
        else if (!TrimBlanks(reader.OwnItemID).isEmpty())
            keys << PageKey(TrimBlanks(reader.OwnItemID), QString());
        TWriteTransaction transaction(con, keys);
        if (TrimBlanks(reader.LocalItemID).isEmpty()) {
            outcome.LocalItemID = TrimBlanks(reader.OwnItemID);
            if (outcome.LocalItemID.isEmpty() && !TrimBlanks(reader.ItemID).isEmpty())
                outcome.LocalItemID = TrimBlanks(con.value(kItemById, {reader.ItemID}).toString());
            if (outcome.LocalItemID.isEmpty())
                outcome.LocalItemID =
                    TrimBlanks(con.value(kItemByAddress, {reader.URL, TrimBlanks(reader.URL)}).toString());
            if (outcome.LocalItemID.isEmpty())
                return; // a new address whose item is not known: nothing to key it by
        } else {
            outcome.LocalItemID = TrimBlanks(reader.LocalItemID);
            outcome.RivalWW = TrimBlanks(reader.ExpectedSeller);
            // A mapping that was never made (its first reading failed) has no page to report on.
            if (con.value(QStringLiteral("SELECT count(*) FROM RivalItems WHERE LocalItemID=? AND RivalWW=?"),
                          {outcome.LocalItemID, outcome.RivalWW})
                    .toInt() == 0)
                return;
            // A refused page's id is not the rival's item: the known one is kept.
        }
        LogReading(con, outcome, CurrentDateTimeColumn());
        transaction.Commit();
    } catch (...) {
        // The store is failing; the reading still reports its own result.
    }
}

} // namespace vantero
