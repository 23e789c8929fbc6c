// alerts: the stored price alerts.
#include "cli/AlertOutput.h"
#include "cli/Cli.h"
#include "cli/Output.h"
#include "history/AlertStore.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace vantero::cli {

namespace {

// A time given on the command line: the stored form, a date alone (its midnight), or ISO 8601.
QDateTime ParseTimeArgument(const QString& text) {
    QDateTime time = DateTimeFromColumn(text);
    if (time.isValid())
        return time;
    const QDate date = QDate::fromString(text.trimmed(), Qt::ISODate);
    if (date.isValid())
        return date.startOfDay();
    time = QDateTime::fromString(text.trimmed(), Qt::ISODate);
    if (time.isValid())
        return time;
    return QDateTime::fromString(text.trimmed(), QStringLiteral("yyyy-MM-dd HH:mm"));
}

int RunAlerts(TCliContext& context) {
    const bool json = context.TakeJsonFlag();
    TAlertFilter filter;
    filter.unreadOnly = context.TakeFlag(QStringLiteral("--unread"));
    const QString since = context.TakeOption(QStringLiteral("--since"));
    if (!since.isNull()) {
        filter.since = ParseTimeArgument(since);
        if (!filter.since.isValid())
            context.UsageError(
                QStringLiteral("无法识别的时间：%1（应为 2026-01-31 或 2026-01-31 08:05:00）").arg(since));
    }
    if (!context.args.isEmpty())
        context.UsageError(QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));

    const TConnection con = context.OpenDatabase();
    QList<QStringList> rows;
    for (const TAlert& alert : ListAlerts(con, filter))
        rows << AlertTableRow(alert);
    WriteTable(context.out, AlertTableHeader(), rows, json);
    return kExitOk;
}

const TCliRegistration registration("alerts", "alerts [--csv | --json] [--since TIME] [--unread]   打印价格提醒",
                                    &RunAlerts);

} // namespace

void WriteAlertJsonLine(QTextStream& out, const TAlert& alert) {
    const QStringList header = AlertTableHeader();
    const QStringList row = AlertTableRow(alert);
    QJsonObject object;
    for (int i = 0; i < header.size(); ++i)
        object.insert(header[i], row.value(i));
    out << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << '\n';
}

} // namespace vantero::cli
