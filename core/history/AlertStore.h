#pragma once

#include "history/AlertRules.h"
#include "store/Connection.h"

#include <QList>

namespace vantero {

// The alert switches, kept in Options ("AlertsOn", "AlertPercent").
struct TAlertSettings {
    bool on = true;
    double percent = kDefaultAlertPercent;
};
inline constexpr double kMinAlertPercent = 1;
inline constexpr double kMaxAlertPercent = 100;

TAlertSettings ReadAlertSettings(const TConnection& con);
// Stores the switches; a percentage outside 1 to 100 is brought into that range.
void WriteAlertSettings(const TConnection& con, const TAlertSettings& settings);

// Looks at the price history written since the last look and at the own pages' failures in a
// row, stores the alerts they call for and moves the mark ("AlertsCheckedRow") past what it
// looked at, all in one write transaction, so two programs on one file never report a reading
// twice. With alerts switched off only the mark moves. Returns the new alerts, oldest first.
QList<TAlert> CheckAlerts(const TConnection& con);

struct TAlertFilter {
    QDateTime since; // invalid: from the first
    bool unreadOnly = false;
    bool newestFirst = false;
};
QList<TAlert> ListAlerts(const TConnection& con, const TAlertFilter& filter = {});
int UnreadAlertCount(const TConnection& con);
void MarkAlertsRead(const TConnection& con, const QList<qint64>& ids);
void MarkAllAlertsRead(const TConnection& con);

} // namespace vantero
