#include "history/NotifyMessages.h"

#include "catalogue/GridData.h"
#include "net/FailureTexts.h"
#include "store/Statement.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QUrl>

#include <algorithm>

namespace vantero {

namespace {

namespace Texts {
const QString UndercutMark = QStringLiteral("【低价警告】");
const QString Title = QStringLiteral("价格提醒：%1");
const QString SummaryTitle = QStringLiteral("价格提醒：本轮 %1 条新提醒");
const QString SummaryUndercuts = QStringLiteral("，其中 %1 条同行低于自己的价格");
const QString Item = QStringLiteral("宝贝：%1（编号 %2）");
const QString Shop = QStringLiteral("店铺：%1");
const QString OwnShop = QStringLiteral("自己的店铺");
const QString Prices = QStringLiteral("价格：%1 → %2");
const QString OwnPrice = QStringLiteral("自己的价格：%1");
const QString Time = QStringLiteral("时间：%1");
const QString Page = QStringLiteral("宝贝页面：%1");
const QString OpenPage = QStringLiteral("打开宝贝页面");
const QString TestTitle = QStringLiteral("Vantero 测试消息");
const QString TestBody = QStringLiteral("这是提醒渠道“%1”的测试消息：收到它说明渠道设置正确。");
} // namespace Texts

QString Price(const std::optional<double>& value) {
    return value ? FormatPrice(*value) : QStringLiteral("-");
}

QString ShopText(const TNotifyAlert& item) {
    if (item.alert.rivalWW.isEmpty())
        return Texts::OwnShop;
    if (item.shopName.isEmpty() || item.shopName == item.alert.rivalWW)
        return item.alert.rivalWW;
    return QStringLiteral("%1（%2）").arg(item.shopName, item.alert.rivalWW);
}

bool IsUndercut(const TNotifyAlert& item) {
    return item.alert.kind == TAlertKind::Undercut;
}

QString KindTitle(const TNotifyAlert& item) {
    return (IsUndercut(item) ? Texts::UndercutMark : QString()) + AlertTexts::KindName(item.alert.kind);
}

// The lines about one alert, without markup.
QStringList DetailLines(const TNotifyAlert& item) {
    const TAlert& alert = item.alert;
    QStringList lines;
    lines << Texts::Item.arg(alert.itemName.isEmpty() ? alert.localItemID : alert.itemName, alert.localItemID)
          << Texts::Shop.arg(ShopText(item));
    if (alert.kind != TAlertKind::OwnPageFailing) {
        QString prices = Texts::Prices.arg(Price(alert.oldPrice), Price(alert.newPrice));
        if (const QString change = AlertTexts::ChangePercent(alert.oldPrice, alert.newPrice); !change.isEmpty())
            prices += QStringLiteral("（%1）").arg(change);
        lines << prices;
    }
    lines << Texts::OwnPrice.arg(Price(alert.ownPrice)) << Texts::Time.arg(alert.createdAt);
    return lines;
}

// Markdown needs its link texts and brackets left alone: the few characters that would start
// markup are escaped where they come from the page.
QString MarkdownSafe(QString text) {
    for (const QChar c : {u'\\', u'*', u'_', u'[', u']', u'`', u'#'})
        text.replace(c, QStringLiteral("\\") + c);
    return text;
}

TNotifyMessage SingleMessage(const TNotifyAlert& item) {
    TNotifyMessage message;
    message.alerts = {item};
    message.title = Texts::Title.arg(KindTitle(item));
    QStringList markdown{QStringLiteral("### ") + message.title};
    for (const QString& line : DetailLines(item))
        markdown << MarkdownSafe(line);
    QStringList text{message.title};
    text << DetailLines(item);
    if (!item.pageUrl.isEmpty()) {
        markdown << QStringLiteral("[%1](%2)").arg(Texts::OpenPage, item.pageUrl);
        text << Texts::Page.arg(item.pageUrl);
    }
    message.markdown = markdown.join(QStringLiteral("\n\n"));
    message.text = text.join(u'\n');
    return message;
}

TNotifyMessage SummaryMessage(const QList<TNotifyAlert>& alerts) {
    TNotifyMessage message;
    message.alerts = alerts;
    const auto undercuts = std::count_if(alerts.begin(), alerts.end(), IsUndercut);
    message.title =
        Texts::SummaryTitle.arg(alerts.size()) + (undercuts > 0 ? Texts::SummaryUndercuts.arg(undercuts) : QString());
    QStringList markdown{QStringLiteral("### ") + message.title};
    QStringList text{message.title};
    int number = 0;
    for (const TNotifyAlert& item : alerts) {
        ++number;
        const QString mark = IsUndercut(item) ? Texts::UndercutMark : QString();
        const QString line = QStringLiteral("%1%2（%3，%4）")
                                 .arg(mark, AlertTexts::Message(item.alert), ShopText(item), item.alert.createdAt);
        QString markdownLine = QStringLiteral("%1. ").arg(number) + MarkdownSafe(line);
        if (!item.pageUrl.isEmpty())
            markdownLine += QStringLiteral(" [%1](%2)").arg(Texts::OpenPage, item.pageUrl);
        markdown << markdownLine;
        text << QStringLiteral("%1. ").arg(number) + line +
                    (item.pageUrl.isEmpty() ? QString() : QStringLiteral("\n   ") + item.pageUrl);
    }
    message.markdown = markdown.join(QStringLiteral("\n\n"));
    message.text = text.join(u'\n');
    return message;
}

QByteArray Json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject AlertJson(const TNotifyAlert& item) {
    auto number = [](const std::optional<double>& value) { return value ? QJsonValue(*value) : QJsonValue(); };
    const TAlert& alert = item.alert;
    return {{QStringLiteral("id"), alert.id},
            {QStringLiteral("kind"), AlertTexts::KindName(alert.kind)},
            {QStringLiteral("undercut"), IsUndercut(item)},
            {QStringLiteral("time"), alert.createdAt},
            {QStringLiteral("itemId"), alert.localItemID},
            {QStringLiteral("itemName"), alert.itemName},
            {QStringLiteral("shop"), alert.rivalWW},
            {QStringLiteral("shopName"), item.shopName},
            {QStringLiteral("oldPrice"), number(alert.oldPrice)},
            {QStringLiteral("newPrice"), number(alert.newPrice)},
            {QStringLiteral("ownPrice"), number(alert.ownPrice)},
            {QStringLiteral("url"), item.pageUrl},
            {QStringLiteral("message"), AlertTexts::Message(alert)}};
}

QJsonObject FeishuCard(const TNotifyMessage& message) {
    const bool undercut = std::any_of(message.alerts.begin(), message.alerts.end(), IsUndercut);
    QJsonArray elements{QJsonObject{{QStringLiteral("tag"), QStringLiteral("markdown")},
                                    {QStringLiteral("content"), message.markdown.section(u'\n', 2)}}};
    return {{QStringLiteral("config"), QJsonObject{{QStringLiteral("wide_screen_mode"), true}}},
            {QStringLiteral("header"),
             QJsonObject{{QStringLiteral("template"), undercut ? QStringLiteral("red") : QStringLiteral("blue")},
                         {QStringLiteral("title"), QJsonObject{{QStringLiteral("tag"), QStringLiteral("plain_text")},
                                                               {QStringLiteral("content"), message.title}}}}},
            {QStringLiteral("elements"), elements}};
}

} // namespace

QList<TNotifyAlert> WithPageDetails(const TConnection& con, const QList<TAlert>& alerts) {
    QList<TNotifyAlert> details;
    for (const TAlert& alert : alerts) {
        TNotifyAlert item{alert, {}, {}};
        if (alert.rivalWW.isEmpty()) {
            item.pageUrl =
                con.value(QStringLiteral("SELECT URL FROM Items WHERE ItemID=? LIMIT 1"), {alert.localItemID})
                    .toString();
        } else {
            item.pageUrl = con.value(QStringLiteral("SELECT URL FROM RivalItems WHERE LocalItemID=? AND RivalWW=? "
                                                    "LIMIT 1"),
                                     {alert.localItemID, alert.rivalWW})
                               .toString();
            item.shopName =
                con.value(QStringLiteral("SELECT ShopName FROM Rival WHERE RivalWW=? LIMIT 1"), {alert.rivalWW})
                    .toString();
        }
        details << item;
    }
    return details;
}

QList<TNotifyMessage> RoundMessages(QList<TNotifyAlert> alerts) {
    std::stable_partition(alerts.begin(), alerts.end(), IsUndercut);
    if (alerts.size() > kAlertsPerRound)
        return {SummaryMessage(alerts)};
    QList<TNotifyMessage> messages;
    for (const TNotifyAlert& item : std::as_const(alerts))
        messages << SingleMessage(item);
    return messages;
}

TNotifyMessage TestMessage(const QString& channelName) {
    TNotifyMessage message;
    message.title = Texts::TestTitle;
    message.text = Texts::TestTitle + u'\n' + Texts::TestBody.arg(channelName);
    message.markdown = QStringLiteral("### ") + Texts::TestTitle + QStringLiteral("\n\n") +
                       MarkdownSafe(Texts::TestBody.arg(channelName));
    return message;
}

QString DingTalkSign(qint64 timestampMs, const QString& secret) {
    const QByteArray key = secret.toUtf8();
    const QByteArray text = QByteArray::number(timestampMs) + '\n' + key;
    return QString::fromLatin1(QMessageAuthenticationCode::hash(text, key, QCryptographicHash::Sha256).toBase64());
}

QString FeishuSign(qint64 timestampSeconds, const QString& secret) {
    const QByteArray key = QByteArray::number(timestampSeconds) + '\n' + secret.toUtf8();
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(QByteArray(), key, QCryptographicHash::Sha256).toBase64());
}

TRobotRequest RobotRequest(const TNotifyChannel& channel, const TChannelSecrets& secrets, const TNotifyMessage& message,
                           qint64 nowMs) {
    TRobotRequest request{secrets.webhook.trimmed(), {}};
    switch (channel.kind) {
    case TChannelKind::DingTalk: {
        if (!secrets.secret.isEmpty()) {
            const QString sign = QString::fromLatin1(QUrl::toPercentEncoding(DingTalkSign(nowMs, secrets.secret)));
            request.url += (request.url.contains(u'?') ? u'&' : u'?') +
                           QStringLiteral("timestamp=%1&sign=%2").arg(nowMs).arg(sign);
        }
        request.body = Json({{QStringLiteral("msgtype"), QStringLiteral("markdown")},
                             {QStringLiteral("markdown"), QJsonObject{{QStringLiteral("title"), message.title},
                                                                      {QStringLiteral("text"), message.markdown}}}});
        break;
    }
    case TChannelKind::WeCom:
        request.body = Json({{QStringLiteral("msgtype"), QStringLiteral("markdown")},
                             {QStringLiteral("markdown"), QJsonObject{{QStringLiteral("content"), message.markdown}}}});
        break;
    case TChannelKind::Feishu: {
        QJsonObject body;
        if (channel.feishuCard) {
            body.insert(QStringLiteral("msg_type"), QStringLiteral("interactive"));
            body.insert(QStringLiteral("card"), FeishuCard(message));
        } else {
            body.insert(QStringLiteral("msg_type"), QStringLiteral("text"));
            body.insert(QStringLiteral("content"), QJsonObject{{QStringLiteral("text"), message.text}});
        }
        if (!secrets.secret.isEmpty()) {
            const qint64 seconds = nowMs / 1000;
            body.insert(QStringLiteral("timestamp"), QString::number(seconds));
            body.insert(QStringLiteral("sign"), FeishuSign(seconds, secrets.secret));
        }
        request.body = Json(body);
        break;
    }
    case TChannelKind::Webhook:
    case TChannelKind::Email: {
        QJsonArray alerts;
        for (const TNotifyAlert& item : message.alerts)
            alerts << AlertJson(item);
        request.body = Json({{QStringLiteral("title"), message.title},
                             {QStringLiteral("text"), message.text},
                             {QStringLiteral("alerts"), alerts}});
        break;
    }
    }
    return request;
}

QString RobotAnswerProblem(TChannelKind kind, long httpStatus, const QByteArray& body) {
    if (httpStatus < 200 || httpStatus >= 300) {
        // Robots answer some refusals with an error status and their usual body: its words say more.
        const QJsonObject answer = QJsonDocument::fromJson(body).object();
        const QString message =
            answer.value(QStringLiteral("errmsg")).toString(answer.value(QStringLiteral("msg")).toString());
        if (!message.isEmpty())
            return NotifyTexts::HttpStatus.arg(httpStatus) + QStringLiteral("：") + message;
        return NotifyTexts::HttpStatus.arg(httpStatus);
    }
    if (kind == TChannelKind::Webhook)
        return {};
    const QJsonObject answer = QJsonDocument::fromJson(body).object();
    // DingTalk and WeCom answer errcode/errmsg; Feishu code/msg, its older robots StatusCode.
    for (const auto& [codeKey, messageKey] :
         {std::pair{QStringLiteral("errcode"), QStringLiteral("errmsg")},
          std::pair{QStringLiteral("code"), QStringLiteral("msg")},
          std::pair{QStringLiteral("StatusCode"), QStringLiteral("StatusMessage")}}) {
        if (!answer.contains(codeKey))
            continue;
        const qint64 code = answer.value(codeKey).toInteger(-1);
        if (code == 0)
            return {};
        return NotifyTexts::RobotRefused.arg(answer.value(messageKey).toString(), QString::number(code));
    }
    return NotifyTexts::BadAnswer;
}

} // namespace vantero
