#include "history/NotifySender.h"

#include "net/FailureTexts.h"
#include "store/DatabaseError.h"
#include "store/Statement.h"

#include <QDateTime>

#include <chrono>
#include <curl/curl.h>
#include <memory>

namespace vantero {

namespace {

struct TEasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct TListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct TMimeDeleter {
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
using TList = std::unique_ptr<curl_slist, TListDeleter>;

void Append(TList& list, const QByteArray& line) {
    list.reset(curl_slist_append(list.release(), line.constData()));
}

size_t Collect(char* data, size_t size, size_t count, void* target) {
    auto* body = static_cast<QByteArray*>(target);
    // A robot's answer is a line of JSON; more is not read.
    if (body->size() < 64 * 1024)
        body->append(data, qsizetype(size * count));
    return size * count;
}

int Progress(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* flag = static_cast<const std::atomic<bool>*>(stop);
    return flag && flag->load() ? 1 : 0;
}

// A mail header's text in UTF-8, as a header may carry it.
QByteArray EncodedWord(const QString& text) {
    return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
}

QString TransferProblem(CURLcode code, const char* detail, int timeoutMs, bool mail) {
    const QString libcurl = QString::fromUtf8(*detail ? detail : curl_easy_strerror(code));
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return NotifyTexts::Timeout.arg((timeoutMs + 999) / 1000);
    case CURLE_COULDNT_CONNECT:
        return NotifyTexts::Transport.arg(NetTexts::Refused, libcurl);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return NotifyTexts::Transport.arg(NetTexts::HostNotFound, libcurl);
    case CURLE_USE_SSL_FAILED:
        return NotifyTexts::NoStartTls;
    case CURLE_LOGIN_DENIED:
        return NotifyTexts::LoginDenied;
    case CURLE_PEER_FAILED_VERIFICATION:
        return NotifyTexts::Untrusted.arg(libcurl);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
        return NotifyTexts::Transport.arg(NetTexts::Tls, libcurl);
    case CURLE_GOT_NOTHING:
        return NotifyTexts::Transport.arg(NetTexts::ConnectionClosed, libcurl);
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_WEIRD_SERVER_REPLY:
        if (mail)
            return NotifyTexts::MailRefused.arg(libcurl);
        return NotifyTexts::Transport.arg(NetTexts::Network, libcurl);
    default:
        return NotifyTexts::Transport.arg(NetTexts::Network, libcurl);
    }
}

void CommonOptions(CURL* easy, const TSendOptions& options, const std::atomic<bool>* stop, char* errorBuffer) {
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(options.timeoutMs));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(options.timeoutMs));
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(stop));
    // Messages to this machine never go through a proxy; others follow the system's settings.
    QByteArray noProxy = qgetenv("no_proxy");
    if (noProxy.isEmpty())
        noProxy = qgetenv("NO_PROXY");
    noProxy += noProxy.isEmpty() ? "" : ",";
    noProxy += "localhost,127.0.0.1,::1";
    curl_easy_setopt(easy, CURLOPT_NOPROXY, noProxy.constData()); // copied by libcurl
    if (!options.caFile.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, options.caFile.toLocal8Bit().constData());
}

QString SendRobotOnce(const TNotifyChannel& channel, const TChannelSecrets& secrets, const TNotifyMessage& message,
                      const TSendOptions& options, const std::atomic<bool>* stop) {
    const TRobotRequest request = RobotRequest(channel, secrets, message, QDateTime::currentMSecsSinceEpoch());
    std::unique_ptr<CURL, TEasyDeleter> easy(curl_easy_init());
    char errorBuffer[CURL_ERROR_SIZE] = {};
    CommonOptions(easy.get(), options, stop, errorBuffer);
    const QByteArray url = request.url.toUtf8();
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.constData());
    curl_easy_setopt(easy.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDS, request.body.constData());
    curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDSIZE, long(request.body.size()));
    TList headers;
    Append(headers, "Content-Type: application/json; charset=utf-8");
    Append(headers, "Expect:");
    curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get());
    QByteArray answer;
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &answer);
    const CURLcode code = curl_easy_perform(easy.get());
    if (code != CURLE_OK)
        return TransferProblem(code, errorBuffer, options.timeoutMs, false);
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    return RobotAnswerProblem(channel.kind, status, answer);
}

QString SendMailOnce(const TNotifyChannel& channel, const TChannelSecrets& secrets, const TNotifyMessage& message,
                     const TSendOptions& options, const std::atomic<bool>* stop) {
    std::unique_ptr<CURL, TEasyDeleter> easy(curl_easy_init());
    char errorBuffer[CURL_ERROR_SIZE] = {};
    CommonOptions(easy.get(), options, stop, errorBuffer);
    const bool implicitTls = channel.security == TMailSecurity::Tls;
    const QByteArray url =
        ((implicitTls ? QStringLiteral("smtps://") : QStringLiteral("smtp://")) + channel.server.trimmed() + u'/')
            .toUtf8();
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.constData());
    curl_easy_setopt(easy.get(), CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    // STARTTLS is required, never skipped when the server does not offer it.
    curl_easy_setopt(easy.get(), CURLOPT_USE_SSL,
                     long(channel.security == TMailSecurity::Plain ? CURLUSESSL_NONE : CURLUSESSL_ALL));
    const QByteArray user = channel.user.toUtf8();
    const QByteArray password = secrets.password.toUtf8();
    if (!user.isEmpty()) {
        curl_easy_setopt(easy.get(), CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(easy.get(), CURLOPT_PASSWORD, password.constData());
    }
    const QByteArray from = '<' + channel.from.trimmed().toUtf8() + '>';
    curl_easy_setopt(easy.get(), CURLOPT_MAIL_FROM, from.constData());
    TList recipients;
    QStringList toHeader;
    for (const QString& to : channel.to) {
        Append(recipients, '<' + to.trimmed().toUtf8() + '>');
        toHeader << to.trimmed();
    }
    curl_easy_setopt(easy.get(), CURLOPT_MAIL_RCPT, recipients.get());

    TList headers;
    Append(headers,
           "From: " + EncodedWord(QStringLiteral("Vantero 价格提醒")) + " <" + channel.from.trimmed().toUtf8() + '>');
    Append(headers, "To: " + toHeader.join(QStringLiteral(", ")).toUtf8());
    Append(headers, "Subject: " + EncodedWord(message.title));
    Append(headers, "Date: " + QDateTime::currentDateTime().toString(Qt::RFC2822Date).toLatin1());
    curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get());
    std::unique_ptr<curl_mime, TMimeDeleter> mime(curl_mime_init(easy.get()));
    curl_mimepart* part = curl_mime_addpart(mime.get());
    const QByteArray body = message.text.toUtf8();
    curl_mime_data(part, body.constData(), size_t(body.size()));
    curl_mime_type(part, "text/plain; charset=UTF-8");
    curl_mime_encoder(part, "base64");
    curl_easy_setopt(easy.get(), CURLOPT_MIMEPOST, mime.get());
    const CURLcode code = curl_easy_perform(easy.get());
    if (code != CURLE_OK)
        return TransferProblem(code, errorBuffer, options.timeoutMs, true);
    return {};
}

qint64 RoundOf(const QList<TAlert>& alerts) {
    qint64 round = alerts.first().id;
    for (const TAlert& alert : alerts)
        round = std::min(round, alert.id);
    return round;
}

QList<TNotifyChannel> EnabledChannels() {
    QList<TNotifyChannel> channels = LoadChannels();
    channels.removeIf([](const TNotifyChannel& channel) { return !channel.enabled; });
    return channels;
}

// Waits ms, or less when stop is set.
void Pause(int ms, const std::atomic<bool>* stop) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until && !(stop && stop->load()))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 50)));
}

} // namespace

TSendResult SendMessage(const TNotifyChannel& channel, const TChannelSecrets& secrets, const TNotifyMessage& message,
                        const TSendOptions& options, const std::atomic<bool>* stop) {
    TSendResult result;
    const bool mail = channel.kind == TChannelKind::Email;
    if (mail ? (!channel.user.isEmpty() && secrets.password.isEmpty()) : secrets.webhook.isEmpty()) {
        result.error = NotifyTexts::NoSecret;
        return result;
    }
    int pause = options.backoffMs;
    while (result.tries < std::max(1, options.tries) && !(stop && stop->load())) {
        if (result.tries > 0) {
            Pause(pause, stop);
            pause *= 2;
        }
        ++result.tries;
        result.error = mail ? SendMailOnce(channel, secrets, message, options, stop)
                            : SendRobotOnce(channel, secrets, message, options, stop);
        if (result.error.isEmpty()) {
            result.ok = true;
            break;
        }
        // A robot that read the message and refused it refuses it again; a certificate stays untrusted.
        if (result.error.startsWith(NotifyTexts::RobotRefused.section(u'：', 0, 0)) ||
            result.error.startsWith(NotifyTexts::Untrusted.section(u'，', 0, 0)) ||
            result.error == NotifyTexts::LoginDenied || result.error == NotifyTexts::NoStartTls)
            break;
    }
    return result;
}

int FailedRoundsInRow(const TConnection& con, const QString& channel) {
    int failed = 0;
    TStatement statement(
        con, QStringLiteral("SELECT MIN(Ok) FROM AlertSends WHERE Channel=? AND ErrorText<>? GROUP BY Round "
                            "ORDER BY Round DESC"));
    statement.Bind({channel, NotifyTexts::NotSentAtExit});
    while (statement.Step() && statement.Integer(0) == 0)
        ++failed;
    return failed;
}

TNotifySender::TNotifySender(TConnection con, TSendOptions options)
    : m_con(std::move(con)), m_options(std::move(options)) {
    m_thread = std::thread([this] { Run(); });
}

TNotifySender::~TNotifySender() {
    {
        std::unique_lock lock(m_mutex);
        // A test nobody will read is dropped; rounds get their grace.
        std::erase_if(m_jobs, [](const TJob& job) { return job.testChannel.has_value(); });
        m_idle.wait_for(lock, std::chrono::milliseconds(std::max(0, m_options.closeGraceMs)),
                        [this] { return m_jobs.empty() && !m_sendingRound; });
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void TNotifySender::SetReportHandler(TReportHandler handler) {
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

void TNotifySender::SendRound(const QList<TAlert>& alerts) {
    if (alerts.isEmpty())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back({alerts, std::nullopt});
    }
    m_wake.notify_all();
}

void TNotifySender::SendTest(const TNotifyChannel& channel) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back({{}, channel});
    }
    m_wake.notify_all();
}

bool TNotifySender::WaitIdle(int ms) {
    std::unique_lock lock(m_mutex);
    auto idle = [this] { return m_jobs.empty() && !m_busy; };
    if (ms < 0) {
        m_idle.wait(lock, idle);
        return true;
    }
    return m_idle.wait_for(lock, std::chrono::milliseconds(ms), idle);
}

void TNotifySender::Report(const TSendReport& report) {
    TReportHandler handler;
    {
        std::lock_guard lock(m_mutex);
        handler = m_handler;
    }
    if (handler)
        handler(report);
}

void TNotifySender::Run() {
    for (;;) {
        TJob job;
        {
            std::unique_lock lock(m_mutex);
            m_busy = false;
            m_sendingRound = false;
            m_idle.notify_all();
            m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
            if (m_stop)
                break;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_busy = true;
            m_sendingRound = !job.testChannel;
        }
        if (job.testChannel) {
            TSendReport report;
            report.channel = job.testChannel->name;
            report.test = true;
            TSendOptions once = m_options;
            once.tries = 1; // the user is waiting for the answer
            report.result = SendMessage(*job.testChannel, TSecretStore::Lookup(job.testChannel->name),
                                        TestMessage(job.testChannel->name), once, &m_stop);
            Report(report);
        } else {
            try {
                SendRoundNow(job.alerts);
            } catch (const TDatabaseError&) {
                // The file is gone or locked for long: these alerts stay unsent, the next round tries again.
            }
        }
    }
    // The rounds still waiting when the program ends are accounted for, not dropped.
    std::deque<TJob> left;
    {
        std::lock_guard lock(m_mutex);
        left.swap(m_jobs);
    }
    try {
        const QList<TNotifyChannel> channels = left.empty() ? QList<TNotifyChannel>{} : EnabledChannels();
        for (const TJob& job : left)
            if (!job.testChannel && !job.alerts.isEmpty())
                for (const TNotifyChannel& channel : channels)
                    RecordUnsent(RoundOf(job.alerts), channel.name, job.alerts);
    } catch (const TDatabaseError&) {
        // Nothing more can be recorded on a file that is gone or locked.
    }
    TConnection::closeThreadConnections();
    std::lock_guard lock(m_mutex);
    m_busy = false;
    m_sendingRound = false;
    m_idle.notify_all();
}

void TNotifySender::RecordUnsent(qint64 round, const QString& channel, const QList<TAlert>& alerts) {
    const QString sentAt = CurrentDateTimeColumn();
    TWriteTransaction transaction(m_con);
    for (const TAlert& alert : alerts)
        m_con.exec(QStringLiteral("INSERT INTO AlertSends (AlertID, Round, Channel, SentAt, Ok, Tries, ErrorText) "
                                  "VALUES (?, ?, ?, ?, 0, 0, ?)"),
                   {alert.id, round, channel, sentAt, NotifyTexts::NotSentAtExit});
    transaction.Commit();
    TSendReport report;
    report.channel = channel;
    report.round = round;
    report.result.error = NotifyTexts::NotSentAtExit;
    Report(report);
}

void TNotifySender::SendRoundNow(const QList<TAlert>& alerts) {
    const QList<TNotifyChannel> channels = EnabledChannels();
    if (channels.isEmpty())
        return;
    const qint64 round = RoundOf(alerts);
    const QList<TNotifyMessage> messages = RoundMessages(WithPageDetails(m_con, alerts));
    for (const TNotifyChannel& channel : channels) {
        if (m_stop) {
            RecordUnsent(round, channel.name, alerts);
            continue;
        }
        const TChannelSecrets secrets = TSecretStore::Lookup(channel.name);
        TSendReport report;
        report.channel = channel.name;
        report.round = round;
        report.result.ok = true;
        bool recorded = false;
        QList<TAlert> unsent;
        for (const TNotifyMessage& message : messages) {
            const TSendResult result =
                m_stop ? TSendResult{} : SendMessage(channel, secrets, message, m_options, &m_stop);
            // Ended by a closing program: neither sent nor the channel's failure.
            if (m_stop && !result.ok) {
                for (const TNotifyAlert& item : message.alerts)
                    unsent << item.alert;
                continue;
            }
            const QString sentAt = CurrentDateTimeColumn();
            TWriteTransaction transaction(m_con);
            for (const TNotifyAlert& item : message.alerts)
                m_con.exec(QStringLiteral("INSERT INTO AlertSends (AlertID, Round, Channel, SentAt, Ok, Tries, "
                                          "ErrorText) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                           {item.alert.id, round, channel.name, sentAt, result.ok ? 1 : 0, result.tries, result.error});
            transaction.Commit();
            recorded = true;
            report.result.tries = std::max(report.result.tries, result.tries);
            if (!result.ok) {
                report.result.ok = false;
                report.result.error = result.error;
            }
        }
        if (recorded) {
            report.failedRoundsInRow = report.result.ok ? 0 : FailedRoundsInRow(m_con, channel.name);
            Report(report);
        }
        if (!unsent.isEmpty())
            RecordUnsent(round, channel.name, unsent);
    }
}

} // namespace vantero
