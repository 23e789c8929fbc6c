#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace vantero {

// What an alert is about; the numbers are those stored in Alerts.Kind.
enum class TAlertKind {
    Undercut = 1,       // a rival's price dropped below the own price
    PriceChange = 2,    // a rival's price moved by more than the set percentage
    OwnPageFailing = 3, // the own item's page failed several times in a row
    RivalItemGone = 4,  // a rival's page says its item is gone, after a good reading
};

inline constexpr int kFailuresBeforeAlert = 3;
inline constexpr double kDefaultAlertPercent = 10;

// One stored alert, with the own item's shown name.
struct TAlert {
    qint64 id = 0;
    QString createdAt; // stored date-time form
    TAlertKind kind = TAlertKind::Undercut;
    QString localItemID;
    QString itemName;
    QString rivalWW; // empty for the own page
    std::optional<double> oldPrice;
    std::optional<double> newPrice;
    std::optional<double> ownPrice;
    bool isRead = false;
    // The channels this alert could not be sent to, each with its error ("钉钉群：发送超时…"),
    // joined by "；"; empty when it went everywhere or was sent nowhere.
    QString sendFailures;
};

// A rival's new reading as the rules see it. A price that is absent is one the page did not show
// (or that was never read); a failed reading never gets this far.
struct TRivalStep {
    std::optional<double> oldPrice;    // the rival's previous reading with a price
    std::optional<double> oldOwnPrice; // the own price when that reading was made
    std::optional<double> newPrice;    // this reading's price
    std::optional<double> ownPrice;    // the own price now
};

// The alert a rival's reading calls for, if any. An undercut is reported when the rival is now
// cheaper than the own item and was not at its previous reading, so a rival that stays below is
// reported once, and again only after it rose to the own price or above and dropped again. A
// first reading (no previous price) reports nothing. Otherwise a move of more than percent of
// the previous price is a price change. One reading gives one alert at most.
std::optional<TAlertKind> RivalAlertKind(const TRivalStep& step, double percent);

// Whether an own page that failed failedInRow times in a row is to be reported now: once it
// reaches the limit, and once per run of failures.
bool OwnFailureAlertDue(int failedInRow, bool reportedInThisRun);

// Texts of the alerts.
namespace AlertTexts {
inline const QString NotifyTitle = QStringLiteral("价格提醒");
inline const QString ManyNew = QStringLiteral("另有 %1 条新提醒");
QString KindName(TAlertKind kind);
// One line naming the item, the shop and the prices.
QString Message(const TAlert& alert);
// The signed change from old to new in percent of old, as "+12.5%"; empty without both.
QString ChangePercent(const std::optional<double>& oldPrice, const std::optional<double>& newPrice);
} // namespace AlertTexts

// An alert as a row of texts under AlertTableHeader() (number, time, kind, item id and name,
// shop, old, new and own price, read or not, message, send failures), for lists and the command line.
QStringList AlertTableHeader();
QStringList AlertTableRow(const TAlert& alert);

} // namespace vantero
