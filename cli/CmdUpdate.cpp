// update-all: the background update of every reading, without windows.
#include "catalogue/HeadlessUpdate.h"
#include "catalogue/MainData.h"
#include "catalogue/SharedRound.h"
#include "cli/AlertOutput.h"
#include "cli/Cli.h"
#include "common/TermSignals.h"
#include "common/TextHelpers.h"
#include "history/AlertStore.h"
#include "history/NotifySender.h"
#include "net/FailureTexts.h"
#include "reader/ReadModes.h"
#include "reader/UtReadAllItemThr.h"
#include "store/ServerSession.h"

#include <mutex>

namespace vantero::cli {

namespace {

int RunUpdateAll(TCliContext& context) {
    // The browser runs for this command only when asked: then pages set to be read in it are,
    // and a direct reading that finds no item is tried there again.
    if (context.TakeFlag(QStringLiteral("--browser-fallback")))
        ForceBrowserFallback(true);
    const bool alertsJson = context.TakeFlag(QStringLiteral("--alerts-json"));
    const QString worker = context.TakeOption(QStringLiteral("--worker"));
    if (!worker.isNull() && (TrimBlanks(worker).isEmpty() || !IsServerTarget(context.databasePath)))
        context.UsageError(QStringLiteral("--worker 只用于团队数据库（--db postgresql://…），且需要一个工作者名称"));
    if (!context.args.isEmpty())
        context.UsageError(QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));

    TMainData data(context.OpenDatabase());
    data.ApplySettings();
    data.RefreshAllData();
    const auto showText = [&context](const QString& text) {
        context.err << text << '\n';
        context.err.flush();
    };
    // A worker reads its share of the round the workers on the team database read together.
    const TReadAllItemThr::Tally tally =
        worker.isNull() ? RunHeadlessUpdate(data, showText) : RunSharedRound(data, worker, showText);
    // Stored: updated or added (0, 1); refused: wrong seller or no item (2, 3); failed: 4.
    context.out << QStringLiteral("readings=%1 stored=%2 refused=%3 failed=%4\n")
                       .arg(tally.readings)
                       .arg(tally.stored)
                       .arg(tally.refused)
                       .arg(tally.failed);
    // The run's alerts, one JSON line each after the summary, for a job that mails them.
    const QList<TAlert> alerts = CheckAlerts(data.con);
    if (alertsJson) {
        for (const TAlert& alert : alerts)
            WriteAlertJsonLine(context.out, alert);
    }
    context.out.flush();
    // This process stored them, so it sends them, and ends when every channel is done: each
    // try is bounded by its time-out, so a dead channel cannot keep a timer's run alive. A
    // termination signal ends the sending as the window's exit does: what is left is recorded
    // as not sent.
    if (!alerts.isEmpty()) {
        std::mutex mutex; // outlives the sender, whose last reports come as it ends
        TNotifySender sender(data.con);
        sender.SetReportHandler([&](const TSendReport& report) {
            if (report.result.ok)
                return;
            std::lock_guard lock(mutex);
            context.err << QStringLiteral("提醒未能发送到“%1”：%2\n").arg(report.channel, report.result.error);
            if (report.failedRoundsInRow == kFailedRoundsBeforeNotice)
                context.err << NotifyTexts::ChannelFailing.arg(report.channel).arg(kFailedRoundsBeforeNotice) << '\n';
            context.err.flush();
        });
        sender.SendRound(alerts);
        while (!sender.WaitIdle(100) && !TTermSignals::Received()) {
        }
    }
    // The run said on the way why it stopped before its end.
    return tally.stoppedBecause.isEmpty() ? kExitOk : kExitDatabase;
}

const TCliRegistration
    registration("update-all",
                 "update-all [--browser-fallback] [--alerts-json] [--worker NAME]   "
                 "重新读取所有宝贝及其对应的同行宝贝（--browser-fallback：必要时用浏览器读取；"
                 "--alerts-json：每条新提醒打印一行 JSON；--worker：在团队数据库上与其他工作者共同完成一轮）",
                 &RunUpdateAll);

} // namespace

} // namespace vantero::cli
