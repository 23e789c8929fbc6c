#pragma once

#include "history/AlertRules.h"
#include "history/NotifyChannels.h"
#include "store/Connection.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace vantero {

// An alert with what a message about it names beyond the stored row.
struct TNotifyAlert {
    TAlert alert;
    QString shopName; // the rival shop's name, empty for the own page
    QString pageUrl;  // the page the alert is about
};

// One message to every channel: about one alert, or a round's summary.
struct TNotifyMessage {
    QString title;    // a line: the subject of a mail, the title of a card
    QString markdown; // DingTalk, WeCom
    QString text;     // Feishu's text, the mail's body
    QList<TNotifyAlert> alerts;
};

// More alerts than this in one round are sent as one summary.
inline constexpr int kAlertsPerRound = 5;

// Looks up the shop names and page addresses of alerts on con.
QList<TNotifyAlert> WithPageDetails(const TConnection& con, const QList<TAlert>& alerts);

// The messages of one round, undercuts first (and marked): one per alert, or one summary when
// the round has more than kAlertsPerRound.
QList<TNotifyMessage> RoundMessages(QList<TNotifyAlert> alerts);
// The message "发送测试消息" sends.
TNotifyMessage TestMessage(const QString& channelName);

// What a robot or webhook is sent: an address and a JSON body.
struct TRobotRequest {
    QString url;
    QByteArray body;
};

// The signatures the robots check, for a time in milliseconds (DingTalk) or seconds (Feishu):
// base64 of HMAC-SHA256 over "timestamp\nsecret", DingTalk's keyed by the secret, Feishu's keyed
// by that text over nothing. DingTalk's goes into the address percent-encoded.
QString DingTalkSign(qint64 timestampMs, const QString& secret);
QString FeishuSign(qint64 timestampSeconds, const QString& secret);

TRobotRequest RobotRequest(const TNotifyChannel& channel, const TChannelSecrets& secrets, const TNotifyMessage& message,
                           qint64 nowMs);
// The Chinese reason a robot's answer (HTTP status and body) is a failure, or nothing.
QString RobotAnswerProblem(TChannelKind kind, long httpStatus, const QByteArray& body);

} // namespace vantero
