#include "history/AlertRules.h"

#include "catalogue/GridData.h"

#include <cmath>

namespace vantero {

namespace {

// Prices compare in whole cents: 0.1 + 0.2 must equal 0.3.
qint64 Cents(double price) {
    return std::llround(price * 100.0);
}

} // namespace

std::optional<TAlertKind> RivalAlertKind(const TRivalStep& step, double percent) {
    if (!step.newPrice || !step.oldPrice)
        return std::nullopt;
    const qint64 now = Cents(*step.newPrice);
    const qint64 before = Cents(*step.oldPrice);
    if (now <= 0 || before <= 0)
        return std::nullopt;
    if (step.ownPrice && Cents(*step.ownPrice) > 0) {
        const bool belowNow = now < Cents(*step.ownPrice);
        // Without a known own price at the previous reading, the rival was not known to be below.
        const bool belowBefore = step.oldOwnPrice && Cents(*step.oldOwnPrice) > 0 && before < Cents(*step.oldOwnPrice);
        if (belowNow && !belowBefore)
            return TAlertKind::Undercut;
    }
    // More than percent: a change of exactly the percentage is not reported.
    if (now != before && double(std::llabs(now - before)) * 100.0 > percent * double(before) + 1e-6)
        return TAlertKind::PriceChange;
    return std::nullopt;
}

bool OwnFailureAlertDue(int failedInRow, bool reportedInThisRun) {
    return failedInRow >= kFailuresBeforeAlert && !reportedInThisRun;
}

namespace AlertTexts {

QString KindName(TAlertKind kind) {
    switch (kind) {
    case TAlertKind::Undercut:
        return QStringLiteral("同行低于自己的价格");
    case TAlertKind::PriceChange:
        return QStringLiteral("同行价格变动");
    case TAlertKind::OwnPageFailing:
        return QStringLiteral("自己的宝贝连续读取失败");
    case TAlertKind::RivalItemGone:
        return QStringLiteral("同行宝贝已下架");
    }
    return QStringLiteral("未知提醒");
}

QString ChangePercent(const std::optional<double>& oldPrice, const std::optional<double>& newPrice) {
    if (!oldPrice || !newPrice || !(*oldPrice > 0))
        return {};
    const double change = (*newPrice - *oldPrice) / *oldPrice * 100.0;
    return (change > 0 ? QStringLiteral("+") : QString()) + QString::number(change, 'f', 1) + u'%';
}

QString Message(const TAlert& alert) {
    auto price = [](const std::optional<double>& value) { return value ? FormatPrice(*value) : QStringLiteral("-"); };
    const QString item = QStringLiteral("“%1”").arg(alert.itemName.isEmpty() ? alert.localItemID : alert.itemName);
    switch (alert.kind) {
    case TAlertKind::Undercut:
        return QStringLiteral("%1：%2 的价格由 %3 降到 %4，低于您的 %5")
            .arg(item, alert.rivalWW, price(alert.oldPrice), price(alert.newPrice), price(alert.ownPrice));
    case TAlertKind::PriceChange:
        return QStringLiteral("%1：%2 的价格由 %3 变为 %4（%5）")
            .arg(item, alert.rivalWW, price(alert.oldPrice), price(alert.newPrice),
                 ChangePercent(alert.oldPrice, alert.newPrice));
    case TAlertKind::OwnPageFailing:
        return QStringLiteral("%1：您的宝贝页面已连续 %2 次读取失败").arg(item).arg(kFailuresBeforeAlert);
    case TAlertKind::RivalItemGone:
        return QStringLiteral("%1：%2 的宝贝已下架或不存在（最后的价格 %3）")
            .arg(item, alert.rivalWW, price(alert.oldPrice));
    }
    return item;
}

} // namespace AlertTexts

QStringList AlertTableHeader() {
    return {QStringLiteral("编号"),       QStringLiteral("时间"), QStringLiteral("类型"),   QStringLiteral("宝贝编号"),
            QStringLiteral("宝贝名称"),   QStringLiteral("同行"), QStringLiteral("原价格"), QStringLiteral("新价格"),
            QStringLiteral("自己的价格"), QStringLiteral("状态"), QStringLiteral("说明"),   QStringLiteral("发送失败")};
}

QStringList AlertTableRow(const TAlert& alert) {
    auto price = [](const std::optional<double>& value) { return value ? FormatPrice(*value) : QString(); };
    return {QString::number(alert.id),
            alert.createdAt,
            AlertTexts::KindName(alert.kind),
            alert.localItemID,
            alert.itemName,
            alert.rivalWW.isEmpty() ? QStringLiteral("自己") : alert.rivalWW,
            price(alert.oldPrice),
            price(alert.newPrice),
            price(alert.ownPrice),
            alert.isRead ? QStringLiteral("已读") : QStringLiteral("未读"),
            AlertTexts::Message(alert),
            alert.sendFailures};
}

} // namespace vantero
