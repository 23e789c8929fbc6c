// Alerts sent to the seller's chats and mailbox: each robot's format and signature, the mail
// dialogue, retries, the sender thread and where secrets are kept, all against servers of this
// test on 127.0.0.1.
#include "history/NotifyChannels.h"
#include "history/NotifyMessages.h"
#include "history/NotifySender.h"
#include "net/FailureTexts.h"
#include "support/RawTestServer.h"
#include "support/TestCertificate.h"
#include "support/TestDatabase.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <mutex>
#include <sys/stat.h>

using namespace vantero;
using namespace vantero::test;
using namespace Qt::StringLiterals;

namespace {

struct TReceived {
    QString target; // path and query
    QByteArray head;
    QByteArray body;
};

// A robot on loopback: records every POST and answers with the status and body the test sets.
class TRobotServer {
public:
    explicit TRobotServer(int status = 200, QByteArray answer = R"({"errcode":0,"errmsg":"ok"})")
        : m_status(status), m_answer(std::move(answer)), m_server([this](TRawConnection& c) { Serve(c); }) {}

    QString url(const QString& path) const { return m_server.url(path); }
    QList<TReceived> received() const {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    void answer(int status, const QByteArray& body) {
        std::lock_guard lock(m_mutex);
        m_status = status;
        m_answer = body;
    }

private:
    void Serve(TRawConnection& connection) {
        QByteArray bytes;
        auto complete = [](const QByteArray& b) {
            const qsizetype end = b.indexOf("\r\n\r\n");
            if (end < 0)
                return false;
            const QByteArray head = b.left(end).toLower();
            const qsizetype at = head.indexOf("content-length:");
            const qsizetype length =
                at < 0 ? 0 : head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
            return b.size() >= end + 4 + length;
        };
        if (!connection.readUntil(bytes, complete))
            return;
        const qsizetype end = bytes.indexOf("\r\n\r\n");
        TReceived request{QString::fromLatin1(bytes.left(bytes.indexOf("\r\n")).split(' ').value(1)), bytes.left(end),
                          bytes.mid(end + 4)};
        int status = 0;
        QByteArray answer;
        {
            std::lock_guard lock(m_mutex);
            m_received << request;
            status = m_status;
            answer = m_answer;
        }
        connection.send("HTTP/1.1 " + QByteArray::number(status) +
                        " X\r\nContent-Type: application/json\r\n"
                        "Content-Length: " +
                        QByteArray::number(answer.size()) + "\r\nConnection: close\r\n\r\n" + answer);
    }

    mutable std::mutex m_mutex;
    int m_status;
    QByteArray m_answer;
    QList<TReceived> m_received;
    TRawTestServer m_server; // last: its threads stop before the members they use go
};

// How the test's mail server offers encryption: not at all, after STARTTLS, or from the start.
enum class TMailTls { None, StartTls, Implicit };

// A mail server on loopback that speaks just enough SMTP to take one mail per connection. Its
// dialogues mark where TLS began ("<TLS>") or where a client's handshake failed ("<NO TLS>").
class TMailServer {
public:
    explicit TMailServer(TMailTls tls = TMailTls::None, TTestCertificate certificate = {})
        : m_tls(tls), m_certificate(std::move(certificate)), m_server([this](TRawConnection& c) { Serve(c); }) {}
    quint16 port() const { return m_server.port(); }
    QList<QByteArray> dialogues() const {
        std::lock_guard lock(m_mutex);
        return m_dialogues;
    }

private:
    void Serve(TRawConnection& c) {
        QByteArray log;
        QByteArray buffer;
        const auto keep = qScopeGuard([&] {
            std::lock_guard lock(m_mutex);
            m_dialogues << log;
        });
        auto secure = [&] {
            const bool secured = c.startTls(m_certificate.certFile, m_certificate.keyFile);
            log += secured ? "<TLS>\n" : "<NO TLS>\n";
            return secured;
        };
        auto line = [&]() -> QByteArray {
            if (!c.readUntil(buffer, [](const QByteArray& b) { return b.contains("\r\n"); }))
                return {};
            const qsizetype end = buffer.indexOf("\r\n");
            const QByteArray got = buffer.left(end);
            buffer.remove(0, end + 2);
            log += got + '\n';
            return got;
        };
        if (m_tls == TMailTls::Implicit && !secure())
            return;
        c.send("220 127.0.0.1 ESMTP test\r\n");
        for (;;) {
            const QByteArray command = line();
            const QByteArray verb = command.left(4).toUpper();
            if (command.isEmpty() && buffer.isEmpty())
                break;
            if (verb == "EHLO")
                c.send(m_tls == TMailTls::StartTls && !c.secured()
                           ? "250-127.0.0.1\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n"
                           : "250-127.0.0.1\r\n250 AUTH PLAIN\r\n");
            else if (command.toUpper() == "STARTTLS" && m_tls == TMailTls::StartTls && !c.secured()) {
                c.send("220 2.0.0 ready\r\n");
                buffer.clear(); // what came before the handshake is not trusted after it
                if (!secure())
                    break;
            } else if (verb == "AUTH") {
                // Without an initial response the credentials come on the next line.
                if (command.split(' ').size() < 3) {
                    c.send("334 \r\n");
                    line();
                }
                c.send("235 2.7.0 ok\r\n");
            } else if (verb == "MAIL" || verb == "RCPT")
                c.send("250 ok\r\n");
            else if (verb == "DATA") {
                c.send("354 go on\r\n");
                c.readUntil(buffer, [](const QByteArray& b) { return b.contains("\r\n.\r\n"); });
                const qsizetype end = buffer.indexOf("\r\n.\r\n");
                log += "<DATA>\n" + buffer.left(end) + "\n</DATA>\n";
                buffer.remove(0, end + 5);
                c.send("250 queued\r\n");
            } else if (verb == "QUIT") {
                c.send("221 bye\r\n");
                break;
            } else
                c.send("502 no\r\n");
        }
    }

    TMailTls m_tls;
    TTestCertificate m_certificate;
    mutable std::mutex m_mutex;
    QList<QByteArray> m_dialogues;
    TRawTestServer m_server;
};

TNotifyChannel MailChannel(quint16 port, TMailSecurity security) {
    TNotifyChannel mail;
    mail.name = QStringLiteral("邮件");
    mail.kind = TChannelKind::Email;
    mail.server = QStringLiteral("127.0.0.1:%1").arg(port);
    mail.security = security;
    mail.from = QStringLiteral("shop@example.invalid");
    mail.to = {QStringLiteral("boss@example.invalid"), QStringLiteral("team@example.invalid")};
    mail.user = QStringLiteral("shop");
    return mail;
}

// The mail of MailChannel arrived whole: its login, envelope, headers and the body in Chinese.
void VerifyWholeMail(const QByteArray& dialogue, const TNotifyMessage& message) {
    QVERIFY(dialogue.contains("AUTH PLAIN"));
    QVERIFY(dialogue.contains(QByteArray("\0shop\0pw", 8).toBase64()));
    QVERIFY(dialogue.contains("MAIL FROM:<shop@example.invalid>"));
    QVERIFY(dialogue.contains("RCPT TO:<boss@example.invalid>"));
    QVERIFY(dialogue.contains("RCPT TO:<team@example.invalid>"));
    QVERIFY(dialogue.contains("To: boss@example.invalid, team@example.invalid"));
    QVERIFY(dialogue.contains("Subject: =?UTF-8?B?" + message.title.toUtf8().toBase64() + "?="));
    QVERIFY(dialogue.contains("Date: "));
    // The body, base64 in its part, decodes to the message.
    const qsizetype start = dialogue.indexOf("base64\r\n\r\n") + 10;
    QVERIFY(start > 10);
    const QByteArray encoded = dialogue.mid(start, dialogue.indexOf("\r\n--", start) - start);
    QCOMPARE(QString::fromUtf8(QByteArray::fromBase64(encoded)), message.text);
    QVERIFY(message.text.contains(QStringLiteral("羊毛围巾")));
}

TAlert MakeAlert(qint64 id, TAlertKind kind, double oldPrice, double newPrice,
                 const QString& rival = QStringLiteral("rivalA")) {
    TAlert alert;
    alert.id = id;
    alert.createdAt = QStringLiteral("2026-01-31 08:05:00");
    alert.kind = kind;
    alert.localItemID = QStringLiteral("1001");
    alert.itemName = QStringLiteral("羊毛围巾");
    alert.rivalWW = rival;
    alert.oldPrice = oldPrice;
    alert.newPrice = newPrice;
    alert.ownPrice = 99.0;
    return alert;
}

QJsonObject JsonBody(const TReceived& request) {
    return QJsonDocument::fromJson(request.body).object();
}

void Exec(const TTestDatabase& db, const char* sql) {
    db.exec(QString::fromUtf8(sql));
}
QVariant Value(const TTestDatabase& db, const char* sql) {
    return db.value(QString::fromUtf8(sql));
}

TNotifyChannel Robot(TChannelKind kind, const QString& name = QStringLiteral("群")) {
    TNotifyChannel channel;
    channel.name = name;
    channel.kind = kind;
    return channel;
}

TSendOptions Quick() {
    TSendOptions options;
    options.backoffMs = 20;
    // Live loopback servers answer well within this on a loaded machine; dead ones set their own.
    options.timeoutMs = 60000;
    return options;
}

// A rival's page whose price (90.00) undercuts the seller's own (100) once SeedUndercutToCome's
// database reads it.
void ServeRivalPage(TRawConnection& c) {
    c.readRequest();
    const QByteArray body = QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body>"
                                           "<input type=\"hidden\" name=\"title\" value=\"同款\" />"
                                           "<input type=\"hidden\" name=\"seller_nickname\" value=\"rivalA\" />"
                                           "<input type=\"hidden\" name=\"current_price\" value=\"90.00\" />"
                                           "<input type=\"hidden\" name=\"item_id_num\" value=\"9001\" />"
                                           "</body></html>")
                                .toUtf8();
    c.send("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

void SeedUndercutToCome(const TTestDatabase& db, const QString& pageUrl) {
    db.exec(QStringLiteral("INSERT INTO Items (ItemID, ItemName, CustomItemName, Price) VALUES ('1001', "
                           "'纯棉T恤', '', 100)"));
    db.exec(QStringLiteral("INSERT INTO Rival (RivalWW, ShopName) VALUES ('rivalA', 'A 的小店')"));
    db.exec(QStringLiteral("INSERT INTO RivalItems (RivalWW, LocalItemID, RivalItemID, URL, Price) "
                           "VALUES ('rivalA', '1001', '9001', ?, 105)"),
            {pageUrl});
    db.exec(QStringLiteral("INSERT INTO PriceHistory (LocalItemID, RivalWW, ReadAt, Price, SellCount) "
                           "VALUES ('1001', 'rivalA', '2026-12-01 10:00:00', 105, 0)"));
}

struct TRun {
    int code;
    QString out;
    QString err;
};

TRun RunCli(const TTestDatabase& db, const QStringList& args, const QByteArray& input = {}) {
    QProcess process;
    process.start(QStringLiteral(VANTERO_CLI), QStringList{QStringLiteral("--db"), db.path()} + args);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    return TRun{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class TstNotify : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_config;

private slots:
    void initTestCase() {
        // The user's folder of this test; no keyring, as on a machine where no one is logged in.
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        QVERIFY(!TSecretStore::KeyringUsable());
    }
    // Each test starts with an empty channel list, whatever the one before left.
    void cleanup() {
        for (const TNotifyChannel& channel : LoadChannels())
            RemoveChannel(channel.name);
    }

    void robotsSignAsTheirDocumentationSays() {
        // Vectors worked out independently of this program.
        QCOMPARE(DingTalkSign(1700000000000, QStringLiteral("SEC0123456789abcdef")),
                 QStringLiteral("TSZbRFUuvaSQaRKUpF970OPCb2/LcQAP3wOvwZIzBZk="));
        QCOMPARE(FeishuSign(1700000000, QStringLiteral("SEC0123456789abcdef")),
                 QStringLiteral("PiO7POLlSx/DM2qf8Dy/XCWeJK3exVnevp5G99LEN2M="));
        const TNotifyMessage message = TestMessage(QStringLiteral("群"));
        const TRobotRequest request = RobotRequest(
            Robot(TChannelKind::DingTalk),
            {QStringLiteral("https://robot.invalid/send?access_token=T"), QStringLiteral("SEC0123456789abcdef"), {}},
            message, 1700000000000);
        QCOMPARE(request.url, QStringLiteral("https://robot.invalid/send?access_token=T&timestamp=1700000000000&sign="
                                             "TSZbRFUuvaSQaRKUpF970OPCb2%2FLcQAP3wOvwZIzBZk%3D"));
    }

    void eachRobotGetsItsOwnFormatAndSignature() {
        TRobotServer server;
        const QList<TNotifyAlert> alerts{{MakeAlert(1, TAlertKind::Undercut, 120, 95), QStringLiteral("A 的小店"),
                                          QStringLiteral("https://item.example.invalid/item.htm?id=42")}};
        const TNotifyMessage message = RoundMessages(alerts).first();
        const QString secret = QStringLiteral("SECsecret");

        // DingTalk: markdown, timestamp and sign in the address, checked here as the robot does.
        QVERIFY(SendMessage(Robot(TChannelKind::DingTalk), {server.url(u"/robot/send?access_token=abc"_s), secret, {}},
                            message, Quick())
                    .ok);
        TReceived got = server.received().last();
        const QUrlQuery query(QUrl(server.url(got.target)));
        QCOMPARE(query.queryItemValue(u"access_token"_s), QStringLiteral("abc"));
        const QByteArray ts = query.queryItemValue(u"timestamp"_s).toLatin1();
        QVERIFY(qAbs(ts.toLongLong() - QDateTime::currentMSecsSinceEpoch()) < 60000);
        const QByteArray expected =
            QMessageAuthenticationCode::hash(ts + '\n' + secret.toUtf8(), secret.toUtf8(), QCryptographicHash::Sha256)
                .toBase64();
        QCOMPARE(QUrl::fromPercentEncoding(query.queryItemValue(u"sign"_s, QUrl::FullyEncoded).toLatin1()).toLatin1(),
                 expected);
        QVERIFY(got.head.toLower().contains("content-type: application/json"));
        QJsonObject body = JsonBody(got);
        QCOMPARE(body[u"msgtype"].toString(), QStringLiteral("markdown"));
        const QString markdown = body[u"markdown"][u"text"].toString();
        QVERIFY(body[u"markdown"][u"title"].toString().contains(QStringLiteral("【低价警告】")));
        for (const QString& part :
             {QStringLiteral("羊毛围巾"), QStringLiteral("A 的小店"), QStringLiteral("120.00"), QStringLiteral("95.00"),
              QStringLiteral("99.00"), QStringLiteral("2026-01-31 08:05:00"),
              QStringLiteral("(https://item.example.invalid/item.htm?id=42)")})
            QVERIFY2(markdown.contains(part), qPrintable(part));

        // WeCom: markdown content, the key stays in the address.
        QVERIFY(SendMessage(Robot(TChannelKind::WeCom), {server.url(u"/cgi-bin/webhook/send?key=K1"_s), {}, {}},
                            message, Quick())
                    .ok);
        got = server.received().last();
        QCOMPARE(got.target, QStringLiteral("/cgi-bin/webhook/send?key=K1"));
        body = JsonBody(got);
        QCOMPARE(body[u"msgtype"].toString(), QStringLiteral("markdown"));
        QVERIFY(body[u"markdown"][u"content"].toString().contains(QStringLiteral("羊毛围巾")));

        // Feishu: text, then a card; the signature in the body, keyed by "timestamp\nsecret".
        server.answer(200, R"({"code":0,"msg":"success","data":{}})");
        TNotifyChannel feishu = Robot(TChannelKind::Feishu);
        QVERIFY(SendMessage(feishu, {server.url(u"/open-apis/bot/v2/hook/xyz"_s), secret, {}}, message, Quick()).ok);
        body = JsonBody(server.received().last());
        QCOMPARE(body[u"msg_type"].toString(), QStringLiteral("text"));
        QVERIFY(body[u"content"][u"text"].toString().contains(
            QStringLiteral("https://item.example.invalid/item.htm?id=42")));
        const QByteArray seconds = body[u"timestamp"].toString().toLatin1();
        QCOMPARE(body[u"sign"].toString().toLatin1(),
                 QMessageAuthenticationCode::hash({}, seconds + '\n' + secret.toUtf8(), QCryptographicHash::Sha256)
                     .toBase64());
        feishu.feishuCard = true;
        QVERIFY(SendMessage(feishu, {server.url(u"/open-apis/bot/v2/hook/xyz"_s), {}, {}}, message, Quick()).ok);
        body = JsonBody(server.received().last());
        QCOMPARE(body[u"msg_type"].toString(), QStringLiteral("interactive"));
        QCOMPARE(body[u"card"][u"header"][u"template"].toString(), QStringLiteral("red"));
        QVERIFY(!body.contains(u"sign"));

        // A generic webhook: the alert as data; any 2xx is success.
        server.answer(204, {});
        QVERIFY(SendMessage(Robot(TChannelKind::Webhook), {server.url(u"/hook"_s), {}, {}}, message, Quick()).ok);
        body = JsonBody(server.received().last());
        const QJsonObject alert = body[u"alerts"].toArray().first().toObject();
        QCOMPARE(alert[u"undercut"].toBool(), true);
        QCOMPARE(alert[u"newPrice"].toDouble(), 95.0);
        QCOMPARE(alert[u"ownPrice"].toDouble(), 99.0);
        QCOMPARE(alert[u"url"].toString(), QStringLiteral("https://item.example.invalid/item.htm?id=42"));
    }

    void robotRefusalsReadInChineseAndAreNotRetried_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("tries");
        QTest::newRow("dingtalk sign") << int(TChannelKind::DingTalk) << 200
                                       << QByteArray(R"({"errcode":310000,"errmsg":"sign not match"})")
                                       << QStringLiteral("机器人拒绝了消息：sign not match（错误码 310000）") << 1;
        QTest::newRow("wecom key") << int(TChannelKind::WeCom) << 200
                                   << QByteArray(R"({"errcode":93000,"errmsg":"invalid webhook url"})")
                                   << QStringLiteral("机器人拒绝了消息：invalid webhook url（错误码 93000）") << 1;
        QTest::newRow("feishu sign") << int(TChannelKind::Feishu) << 200
                                     << QByteArray(R"({"code":19021,"msg":"sign match fail"})")
                                     << QStringLiteral("机器人拒绝了消息：sign match fail（错误码 19021）") << 1;
        QTest::newRow("feishu old") << int(TChannelKind::Feishu) << 200 << QByteArray(R"({"StatusCode":0})")
                                    << QString() << 1;
        QTest::newRow("not a robot") << int(TChannelKind::DingTalk) << 200 << QByteArray("<html>hello</html>")
                                     << NotifyTexts::BadAnswer << 3;
        QTest::newRow("server error retried") << int(TChannelKind::Webhook) << 503 << QByteArray()
                                              << QStringLiteral("发送失败：服务器返回 HTTP 503") << 3;
    }
    void robotRefusalsReadInChineseAndAreNotRetried() {
        QFETCH(int, kind);
        QFETCH(int, status);
        QFETCH(QByteArray, answer);
        QFETCH(QString, error);
        QFETCH(int, tries);
        TRobotServer server(status, answer);
        const TSendResult result = SendMessage(Robot(TChannelKind(kind)), {server.url(u"/send"_s), {}, {}},
                                               TestMessage(QStringLiteral("群")), Quick());
        QCOMPARE(result.ok, error.isEmpty());
        QCOMPARE(result.error, error);
        QCOMPARE(result.tries, tries);
        QCOMPARE(server.received().size(), tries);
    }

    void aBusyRoundIsOneSummaryWithUndercutsFirst() {
        QList<TNotifyAlert> alerts;
        for (int i = 1; i <= 5; ++i)
            alerts << TNotifyAlert{MakeAlert(i, TAlertKind::PriceChange, 100, 130), {}, {}};
        QCOMPARE(RoundMessages(alerts).size(), 5);
        alerts << TNotifyAlert{MakeAlert(6, TAlertKind::Undercut, 100, 80, QStringLiteral("rivalB")), {}, {}};
        QList<TNotifyMessage> messages = RoundMessages(alerts);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].alerts.size(), 6);
        QCOMPARE(messages[0].alerts.first().alert.id, 6);
        QVERIFY(messages[0].title.contains(QStringLiteral("6 条")));
        const QStringList lines = messages[0].text.split(u'\n');
        QVERIFY(lines[1].startsWith(QStringLiteral("1. 【低价警告】")));
        QVERIFY(lines[1].contains(QStringLiteral("rivalB")));
        // Up to five: one message each, the undercut still first.
        alerts.removeAt(0);
        alerts.removeAt(0);
        messages = RoundMessages(alerts);
        QCOMPARE(messages.size(), 4);
        QVERIFY(messages[0].title.contains(QStringLiteral("【低价警告】同行低于自己的价格")));
        QVERIFY(!messages[1].title.contains(QStringLiteral("【低价警告】")));
    }

    void mailGoesThroughSmtpWithSubjectAndBodyInChinese() {
        TMailServer server;
        TNotifyChannel mail = MailChannel(server.port(), TMailSecurity::Plain);
        const TNotifyMessage message = RoundMessages({{MakeAlert(1, TAlertKind::Undercut, 120, 95), {}, {}}}).first();
        const TSendResult sent = SendMessage(mail, {{}, {}, QStringLiteral("pw")}, message, Quick());
        QVERIFY2(sent.ok, qPrintable(sent.error));
        // The server keeps a dialogue once its connection has ended, which may come after the
        // sender returned.
        QTRY_COMPARE_WITH_TIMEOUT(server.dialogues().size(), 1, 60000);
        VerifyWholeMail(server.dialogues().last(), message);
        if (QTest::currentTestFailed())
            return;

        // STARTTLS asked for and not offered: nothing goes out in the clear.
        mail.security = TMailSecurity::StartTls;
        const TSendResult refused = SendMessage(mail, {{}, {}, QStringLiteral("pw")}, message, Quick());
        QVERIFY(!refused.ok);
        QCOMPARE(refused.error, NotifyTexts::NoStartTls);
        QCOMPARE(refused.tries, 1);
        QTRY_COMPARE_WITH_TIMEOUT(server.dialogues().size(), 2, 60000);
        QVERIFY(!server.dialogues().last().contains("AUTH"));
    }

    void mailGoesOverTlsAndNeverToAnUntrustedServer_data() {
        QTest::addColumn<int>("security");
        QTest::newRow("smtps") << int(TMailSecurity::Tls);
        QTest::newRow("starttls") << int(TMailSecurity::StartTls);
    }
    void mailGoesOverTlsAndNeverToAnUntrustedServer() {
        QFETCH(int, security);
        QTemporaryDir folder;
        const TTestCertificate ours = MakeTestCertificate(folder.path(), QStringLiteral("mail"));
        const TTestCertificate another = MakeTestCertificate(folder.path(), QStringLiteral("another"));
        QVERIFY2(ours.ok() && another.ok(), qPrintable(ours.error + another.error));
        TMailServer server(TMailSecurity(security) == TMailSecurity::Tls ? TMailTls::Implicit : TMailTls::StartTls,
                           ours);
        const TNotifyChannel mail = MailChannel(server.port(), TMailSecurity(security));
        const TNotifyMessage message = RoundMessages({{MakeAlert(1, TAlertKind::Undercut, 120, 95), {}, {}}}).first();
        TSendOptions options = Quick();
        options.caFile = ours.certFile;
        const TSendResult sent = SendMessage(mail, {{}, {}, QStringLiteral("pw")}, message, options);
        QVERIFY2(sent.ok, qPrintable(sent.error));
        QTRY_COMPARE_WITH_TIMEOUT(server.dialogues().size(), 1, 30000);
        const QByteArray dialogue = server.dialogues().last();
        // The password and the mail go only inside TLS; on smtps nothing comes before it.
        const qsizetype secured = dialogue.indexOf("<TLS>\n");
        QVERIFY2(secured >= 0, dialogue.constData());
        QVERIFY(dialogue.indexOf("AUTH") > secured);
        if (TMailSecurity(security) == TMailSecurity::Tls)
            QCOMPARE(secured, 0);
        else
            QVERIFY(dialogue.left(secured).endsWith("STARTTLS\n"));
        VerifyWholeMail(dialogue, message);
        if (QTest::currentTestFailed())
            return;

        // A server whose certificate the client does not trust gets neither password nor mail,
        // and trying again would not make it trusted.
        options.caFile = another.certFile;
        const TSendResult refused = SendMessage(mail, {{}, {}, QStringLiteral("pw")}, message, options);
        QVERIFY(!refused.ok);
        QVERIFY2(refused.error.startsWith(QStringLiteral("服务器的证书不受信任，未发送（")), qPrintable(refused.error));
        QCOMPARE(refused.tries, 1);
        QTRY_COMPARE_WITH_TIMEOUT(server.dialogues().size(), 2, 30000);
        const QByteArray turnedAway = server.dialogues().last();
        QVERIFY2(turnedAway.contains("<NO TLS>") && !turnedAway.contains("AUTH") && !turnedAway.contains("MAIL"),
                 turnedAway.constData());
    }

    void deadChannelsFailWithinTheirTimeout_data() {
        QTest::addColumn<bool>("silent");
        QTest::newRow("never answers") << true;
        QTest::newRow("refuses") << false;
    }
    void deadChannelsFailWithinTheirTimeout() {
        QFETCH(bool, silent);
        TRawTestServer silentServer([](TRawConnection& c) { c.waitUntilClosed(10000); });
        QString url = silentServer.url(u"/send"_s);
        if (!silent) {
            TRawTestServer gone([](TRawConnection&) {});
            url = gone.url(u"/send"_s); // its port is closed once it goes
        }
        TSendOptions options = Quick();
        options.timeoutMs = 300;
        const TSendResult result =
            SendMessage(Robot(TChannelKind::WeCom), {url, {}, {}}, TestMessage(QStringLiteral("群")), options);
        QVERIFY(!result.ok);
        QCOMPARE(result.tries, 3);
        if (silent)
            QCOMPARE(result.error, QStringLiteral("发送超时：1 秒内未完成"));
        else
            QVERIFY2(result.error.startsWith(QStringLiteral("发送失败：服务器拒绝连接")), qPrintable(result.error));
        // A silent server would hold each try for 10 s: the timeout text says the limit ended them.
    }

    void senderRecordsEachChannelAndCountsFailedRounds() {
        TTestDatabase db;
        Exec(db, "INSERT INTO Items (ItemID, ItemName, URL, Price) VALUES ('1001', '羊毛围巾', "
                 "'https://own.invalid/1', 99)");
        Exec(db, "INSERT INTO Rival (RivalWW, ShopName) VALUES ('rivalA', 'A 的小店')");
        Exec(db, "INSERT INTO RivalItems (RivalWW, LocalItemID, RivalItemID, URL) VALUES ('rivalA', '1001', '42', "
                 "'https://rival.invalid/42')");
        TRobotServer good;
        TRawTestServer dead([](TRawConnection& c) { c.waitUntilClosed(10000); });
        TNotifyChannel goodChannel = Robot(TChannelKind::DingTalk, QStringLiteral("钉钉"));
        TNotifyChannel deadChannel = Robot(TChannelKind::WeCom, QStringLiteral("坏的"));
        TNotifyChannel offChannel = Robot(TChannelKind::WeCom, QStringLiteral("停用"));
        offChannel.enabled = false;
        QVERIFY(PutChannel(goodChannel, {good.url(u"/send?access_token=x"_s), {}, {}}));
        QVERIFY(PutChannel(deadChannel, {dead.url(u"/send?key=y"_s), {}, {}}));
        QVERIFY(PutChannel(offChannel, {good.url(u"/off"_s), {}, {}}));

        TSendOptions options = Quick();
        options.timeoutMs = 200;
        TNotifySender sender(db.connection(), options);
        std::mutex mutex;
        QList<TSendReport> reports;
        sender.SetReportHandler([&](const TSendReport& r) {
            std::lock_guard lock(mutex);
            reports << r;
        });
        for (int round = 0; round < 4; ++round) {
            const qint64 id = 10 + round;
            sender.SendRound({MakeAlert(id, TAlertKind::Undercut, 120, 95)});
            QVERIFY(sender.WaitIdle(120000));
        }
        QCOMPARE(good.received().size(), 4);
        for (const TReceived& r : good.received())
            QVERIFY(!r.target.startsWith(u"/off"));
        QVERIFY(
            JsonBody(good.received().first())[u"markdown"][u"text"].toString().contains(u"(https://rival.invalid/42)"));
        QVERIFY(
            JsonBody(good.received().first())[u"markdown"][u"text"].toString().contains(QStringLiteral("A 的小店")));
        QList<int> deadStreak;
        for (const TSendReport& r : reports)
            if (r.channel == deadChannel.name)
                deadStreak << r.failedRoundsInRow;
            else
                QVERIFY(r.result.ok && r.failedRoundsInRow == 0);
        QCOMPARE(deadStreak, (QList<int>{1, 2, 3, 4}));
        QCOMPARE(Value(db, "SELECT count(*) FROM AlertSends WHERE Channel='钉钉' AND Ok=1").toInt(), 4);
        QCOMPARE(Value(db, "SELECT count(*) FROM AlertSends WHERE Channel='坏的' AND Ok=0 AND Tries=3").toInt(), 4);
        QCOMPARE(Value(db, "SELECT ErrorText FROM AlertSends WHERE Channel='坏的' LIMIT 1").toString(),
                 QStringLiteral("发送超时：1 秒内未完成"));
        QCOMPARE(FailedRoundsInRow(db.connection(), deadChannel.name), 4);
        QCOMPARE(FailedRoundsInRow(db.connection(), goodChannel.name), 0);
        for (const QString& name : {goodChannel.name, deadChannel.name, offChannel.name})
            QVERIFY(RemoveChannel(name));
    }

    void aClosingSenderRecordsWhatItCouldNotSend() {
        TTestDatabase db;
        TRobotServer good;
        TRawTestServer silent([](TRawConnection& c) { c.waitUntilClosed(120000); });
        QVERIFY(PutChannel(Robot(TChannelKind::DingTalk, QStringLiteral("钉钉")), {good.url(u"/send"_s), {}, {}}));
        QVERIFY(
            PutChannel(Robot(TChannelKind::WeCom, QStringLiteral("不回答")), {silent.url(u"/send?key=k"_s), {}, {}}));
        TSendOptions options = Quick();
        options.timeoutMs = 60000; // a try would outlast any close
        options.closeGraceMs = 300;
        std::mutex mutex;
        QList<TSendReport> reports;
        QElapsedTimer closing;
        {
            TNotifySender sender(db.connection(), options);
            sender.SetReportHandler([&](const TSendReport& r) {
                std::lock_guard lock(mutex);
                reports << r;
            });
            sender.SendRound({MakeAlert(10, TAlertKind::Undercut, 120, 95)});
            sender.SendRound(
                {MakeAlert(11, TAlertKind::PriceChange, 120, 130), MakeAlert(12, TAlertKind::PriceChange, 80, 90)});
            sender.SendTest(Robot(TChannelKind::WeCom, QStringLiteral("不回答")));
            QTRY_COMPARE_WITH_TIMEOUT(silent.connections(), 1, 30000);
            closing.start();
        }
        // Far less than one try: the close does not wait for the silent channel.
        QVERIFY2(closing.elapsed() < 30000, qPrintable(QString::number(closing.elapsed())));
        QCOMPARE(good.received().size(), 1);
        QCOMPARE(
            Value(db, "SELECT group_concat(AlertID || ':' || Ok, ',') FROM AlertSends WHERE Channel='钉钉'").toString(),
            QStringLiteral("10:1,11:0,12:0"));
        QCOMPARE(Value(db, "SELECT group_concat(AlertID || ':' || Round, ',') FROM AlertSends WHERE Channel='不回答' "
                           "AND Ok=0 AND Tries=0 AND ErrorText='程序退出，未发送'")
                     .toString(),
                 QStringLiteral("10:10,11:11,12:11"));
        QCOMPARE(Value(db, "SELECT count(*) FROM AlertSends WHERE Ok=0 AND ErrorText<>'程序退出，未发送'").toInt(), 0);
        // Not the channel's failure: no notice of failing rounds comes of it.
        QCOMPARE(FailedRoundsInRow(db.connection(), QStringLiteral("不回答")), 0);
        std::lock_guard lock(mutex);
        QCOMPARE(reports.size(), 4);
        for (const TSendReport& r : std::as_const(reports)) {
            QVERIFY(!r.test);
            QCOMPARE(r.failedRoundsInRow, 0);
            QCOMPARE(r.result.ok, r.channel == QStringLiteral("钉钉") && r.round == 10);
        }
    }

    void aSignalledHeadlessRunEndsSoonAndShowsWhatWasNotSent() {
        TRawTestServer silent([](TRawConnection& c) { c.waitUntilClosed(120000); });
        TRawTestServer shop(&ServeRivalPage);
        TTestDatabase db;
        SeedUndercutToCome(db, shop.url(QStringLiteral("/item.htm?id=9001")));
        QVERIFY(
            PutChannel(Robot(TChannelKind::WeCom, QStringLiteral("不回答")), {silent.url(u"/send?key=k"_s), {}, {}}));

        // The timer's run, stopped while its alert hangs on a channel that never answers (a try
        // of 20 s, three of them): it ends within the close's grace and records the alert.
        QProcess process;
        process.start(QStringLiteral(VANTERO_CLI), {QStringLiteral("--db"), db.path(), QStringLiteral("update-all")});
        QTRY_COMPARE_WITH_TIMEOUT(silent.connections(), 1, 60000);
        QElapsedTimer closing;
        closing.start();
        process.terminate();
        QVERIFY(process.waitForFinished(60000));
        QVERIFY2(closing.elapsed() < 30000, qPrintable(QString::number(closing.elapsed())));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.contains(u"提醒未能发送到“不回答”：程序退出，未发送"_s), qPrintable(err));

        const TRun listed = RunCli(db, {u"alerts"_s, u"--json"_s});
        const QJsonArray alerts = QJsonDocument::fromJson(listed.out.toUtf8()).array();
        QCOMPARE(alerts.size(), 1);
        QCOMPARE(alerts[0][u"发送失败"].toString(), u"不回答：程序退出，未发送"_s);
    }

    void headlessRunsSendWhatTheyStoreAndShowFailures() {
        TRobotServer robot;
        quint16 deadPort = 0;
        {
            TRawTestServer gone([](TRawConnection&) {});
            deadPort = gone.port();
        }
        TRawTestServer shop(&ServeRivalPage);
        TTestDatabase db;
        SeedUndercutToCome(db, shop.url(QStringLiteral("/item.htm?id=9001")));
        auto run = [&](const QStringList& args, const QByteArray& input = {}) { return RunCli(db, args, input); };
        const QString webhook = robot.url(u"/robot/send?access_token=tok789"_s);
        TRun result =
            run({u"notify"_s, u"add"_s, u"钉钉群"_s, u"dingtalk"_s, u"--webhook"_s, u"-"_s, u"--secret"_s, u"-"_s},
                (webhook + u"\nSECabc\n"_s).toUtf8());
        QVERIFY2(result.code == 0, qPrintable(result.err));
        QCOMPARE(TSecretStore::Lookup(u"钉钉群"_s).secret, u"SECabc"_s);
        result = run({u"notify"_s, u"add"_s, u"坏的"_s, u"wecom"_s, u"--webhook"_s,
                      u"http://127.0.0.1:%1/send?key=k"_s.arg(deadPort)});
        QCOMPARE(result.code, 0);
        QCOMPARE(run({u"notify"_s, u"add"_s, u"坏的"_s, u"wecom"_s, u"--webhook"_s, webhook}).code, 3);
        QCOMPARE(run({u"notify"_s, u"add"_s, u"x"_s, u"telegram"_s}).code, 2);

        result = run({u"notify"_s, u"list"_s, u"--json"_s});
        QCOMPARE(result.code, 0);
        QVERIFY(result.out.contains(u"钉钉群"_s) && result.out.contains(u"坏的"_s));
        QVERIFY2(!result.out.contains(u"tok789"_s) && !result.out.contains(u"SECabc"_s), qPrintable(result.out));
        QVERIFY(result.err.contains(TSecretStore::FilePath()));

        result = run({u"notify"_s, u"test"_s, u"钉钉群"_s});
        QVERIFY2(result.code == 0, qPrintable(result.err));
        QVERIFY(JsonBody(robot.received().last())[u"markdown"][u"text"].toString().contains(u"测试消息"_s));
        result = run({u"notify"_s, u"test"_s, u"坏的"_s});
        QCOMPARE(result.code, 3);
        QVERIFY2(result.err.startsWith(u"发送失败：服务器拒绝连接"_s), qPrintable(result.err));

        // The timer's run: stores the undercut, sends it, and says which channel failed.
        const qsizetype before = robot.received().size();
        result = run({u"update-all"_s});
        QCOMPARE(result.code, 0);
        QCOMPARE(robot.received().size(), before + 1);
        const QString text = JsonBody(robot.received().last())[u"markdown"][u"text"].toString();
        QVERIFY2(text.contains(u"【低价警告】"_s) && text.contains(u"90.00"_s) && text.contains(u"A 的小店"_s),
                 qPrintable(text));
        QVERIFY2(result.err.contains(u"提醒未能发送到“坏的”"_s), qPrintable(result.err));
        result = run({u"alerts"_s, u"--json"_s});
        const QJsonArray alerts = QJsonDocument::fromJson(result.out.toUtf8()).array();
        QCOMPARE(alerts.size(), 1);
        QVERIFY2(alerts[0][u"发送失败"].toString().startsWith(u"坏的：发送失败：服务器拒绝连接"_s),
                 qPrintable(result.out));

        QCOMPARE(run({u"notify"_s, u"remove"_s, u"坏的"_s}).code, 0);
        QCOMPARE(run({u"notify"_s, u"remove"_s, u"坏的"_s}).code, 3);
        QCOMPARE(run({u"notify"_s, u"remove"_s, u"钉钉群"_s}).code, 0);
    }

    void secretsStayOutOfTheDatabaseAndTheChannelList() {
        TTestDatabase db;
        TNotifyChannel channel = Robot(TChannelKind::DingTalk, QStringLiteral("运营群"));
        const QString webhook = QStringLiteral("https://oapi.dingtalk.invalid/robot/send?access_token=TOKEN123");
        QVERIFY(PutChannel(channel, {webhook, QStringLiteral("SECRET456"), {}}));
        for (const QString& path : {TSecretStore::FilePath(), ChannelsFilePath()}) {
            struct stat status {};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
            QCOMPARE(status.st_mode & 0777, 0600u);
        }
        QFile list(ChannelsFilePath());
        QVERIFY(list.open(QIODevice::ReadOnly));
        const QByteArray listed = list.readAll();
        QVERIFY(listed.contains("运营群") && !listed.contains("TOKEN123") && !listed.contains("SECRET456"));
        QCOMPARE(TSecretStore::Lookup(channel.name).secret, QStringLiteral("SECRET456"));
        QCOMPARE(MaskedAddress(webhook), QStringLiteral("https://oapi.dingtalk.invalid/robot/send?…"));

        // Editing without giving the secrets again keeps them; a rename carries them over.
        channel.name = QStringLiteral("运营二群");
        QVERIFY(PutChannel(channel, {}, QStringLiteral("运营群")));
        QCOMPARE(TSecretStore::Lookup(QStringLiteral("运营二群")).webhook, webhook);
        QVERIFY(TSecretStore::Lookup(QStringLiteral("运营群")).webhook.isEmpty());
        QCOMPARE(LoadChannels().size(), 1);

        // Refusals: a second channel of that name, a bad address, an unknown name.
        const TRefusableVoid twice = PutChannel(channel, {webhook, {}, {}}, QStringLiteral("没有"));
        QCOMPARE(twice.refusal(), NotifyTexts::UnknownChannel.arg(QStringLiteral("没有")));
        QCOMPARE(PutChannel(Robot(TChannelKind::WeCom, channel.name), {webhook, {}, {}}).refusal(),
                 NotifyTexts::DuplicateName.arg(channel.name));
        QCOMPARE(PutChannel(Robot(TChannelKind::WeCom, QStringLiteral("x")), {QStringLiteral("ftp://a/b"), {}, {}})
                     .refusal(),
                 NotifyTexts::BadWebhook);

        QVERIFY(RemoveChannel(channel.name));
        QVERIFY(LoadChannels().isEmpty());
        QVERIFY(TSecretStore::Lookup(channel.name).webhook.isEmpty());
        QFile secrets(TSecretStore::FilePath());
        QVERIFY(secrets.open(QIODevice::ReadOnly));
        QVERIFY(!secrets.readAll().contains("TOKEN123"));
    }
};

QTEST_GUILESS_MAIN(TstNotify)
#include "tst_notify.moc"
