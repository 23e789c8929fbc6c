// libsecret's headers use names Qt defines as macros: they come first, with Qt's kept out.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include "history/NotifyChannels.h"
#include "net/FailureTexts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantero {

namespace {

const QString kWebhook = QStringLiteral("webhook");
const QString kSecret = QStringLiteral("secret");
const QString kPassword = QStringLiteral("password");

const SecretSchema* Schema() {
    static const SecretSchema schema = {"cn.vantero.NotifyChannel",
                                        SECRET_SCHEMA_NONE,
                                        {{"channel", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {"part", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return &schema;
}

QString TakeError(GError*& error) {
    const QString text = error ? QString::fromUtf8(error->message) : QString();
    if (error)
        g_error_free(error);
    error = nullptr;
    return text;
}

// Writes a file that only its owner may read, replacing the old one in one step (a crash
// leaves the old or the new file, never half of one or a readable copy).
QString WritePrivateFile(const QString& path, const QByteArray& bytes) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return NotifyTexts::WriteFailed.arg(path, QStringLiteral("无法创建文件夹"));
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    const QByteArray temporary = QFile::encodeName(path + QStringLiteral(".tmp"));
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return NotifyTexts::WriteFailed.arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    ::fchmod(fd, 0600); // an older file of that name may have had other permissions
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const QString reason = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            ::unlink(temporary.constData());
            return NotifyTexts::WriteFailed.arg(path, reason);
        }
        written += n;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced || ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(temporary.constData());
        return NotifyTexts::WriteFailed.arg(path, reason);
    }
    return {};
}

QJsonObject ReadJsonObject(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QString KeyringLookup(const QString& channel, const QString& part) {
    GError* error = nullptr;
    gchar* value = secret_password_lookup_sync(Schema(), nullptr, &error, "channel", channel.toUtf8().constData(),
                                               "part", part.toUtf8().constData(), nullptr);
    TakeError(error);
    if (!value)
        return {};
    const QString text = QString::fromUtf8(value);
    secret_password_free(value);
    return text;
}

QString KeyringStore(const QString& channel, const QString& part, const QString& value) {
    GError* error = nullptr;
    const QByteArray label = QStringLiteral("Vantero 提醒渠道 %1 (%2)").arg(channel, part).toUtf8();
    secret_password_store_sync(Schema(), SECRET_COLLECTION_DEFAULT, label.constData(), value.toUtf8().constData(),
                               nullptr, &error, "channel", channel.toUtf8().constData(), "part",
                               part.toUtf8().constData(), nullptr);
    return TakeError(error);
}

void KeyringClear(const QString& channel, const QString& part) {
    GError* error = nullptr;
    if (part.isEmpty())
        secret_password_clear_sync(Schema(), nullptr, &error, "channel", channel.toUtf8().constData(), nullptr);
    else
        secret_password_clear_sync(Schema(), nullptr, &error, "channel", channel.toUtf8().constData(), "part",
                                   part.toUtf8().constData(), nullptr);
    TakeError(error);
}

QList<std::pair<QString, QString>> Parts(const TChannelSecrets& secrets) {
    return {{kWebhook, secrets.webhook}, {kSecret, secrets.secret}, {kPassword, secrets.password}};
}

const QRegularExpression& MailAddressPattern() {
    static const QRegularExpression pattern(QStringLiteral("^[^@\\s<>,;]+@[^@\\s<>,;]+$"));
    return pattern;
}

QJsonObject ChannelToJson(const TNotifyChannel& channel) {
    QJsonObject object{{QStringLiteral("name"), channel.name},
                       {QStringLiteral("kind"), ChannelKindTexts::Word(channel.kind)},
                       {QStringLiteral("enabled"), channel.enabled}};
    if (channel.kind == TChannelKind::Feishu)
        object.insert(QStringLiteral("card"), channel.feishuCard);
    if (channel.kind == TChannelKind::Email) {
        object.insert(QStringLiteral("server"), channel.server);
        object.insert(QStringLiteral("security"), ChannelKindTexts::SecurityWord(channel.security));
        object.insert(QStringLiteral("from"), channel.from);
        object.insert(QStringLiteral("to"), QJsonArray::fromStringList(channel.to));
        object.insert(QStringLiteral("user"), channel.user);
    }
    return object;
}

std::optional<TNotifyChannel> ChannelFromJson(const QJsonObject& object) {
    const std::optional<TChannelKind> kind =
        ChannelKindTexts::FromWord(object.value(QStringLiteral("kind")).toString());
    TNotifyChannel channel;
    channel.name = object.value(QStringLiteral("name")).toString().trimmed();
    if (!kind || channel.name.isEmpty())
        return std::nullopt;
    channel.kind = *kind;
    channel.enabled = object.value(QStringLiteral("enabled")).toBool(true);
    channel.feishuCard = object.value(QStringLiteral("card")).toBool(false);
    channel.server = object.value(QStringLiteral("server")).toString();
    channel.security = ChannelKindTexts::SecurityFromWord(object.value(QStringLiteral("security")).toString())
                           .value_or(TMailSecurity::StartTls);
    channel.from = object.value(QStringLiteral("from")).toString();
    for (const QJsonValue& to : object.value(QStringLiteral("to")).toArray())
        channel.to << to.toString();
    channel.user = object.value(QStringLiteral("user")).toString();
    return channel;
}

} // namespace

namespace ChannelKindTexts {

QString Name(TChannelKind kind) {
    switch (kind) {
    case TChannelKind::DingTalk:
        return QStringLiteral("钉钉群机器人");
    case TChannelKind::WeCom:
        return QStringLiteral("企业微信群机器人");
    case TChannelKind::Feishu:
        return QStringLiteral("飞书群机器人");
    case TChannelKind::Email:
        return QStringLiteral("电子邮件");
    case TChannelKind::Webhook:
        return QStringLiteral("通用 Webhook");
    }
    return {};
}

QString Word(TChannelKind kind) {
    switch (kind) {
    case TChannelKind::DingTalk:
        return QStringLiteral("dingtalk");
    case TChannelKind::WeCom:
        return QStringLiteral("wecom");
    case TChannelKind::Feishu:
        return QStringLiteral("feishu");
    case TChannelKind::Email:
        return QStringLiteral("email");
    case TChannelKind::Webhook:
        return QStringLiteral("webhook");
    }
    return {};
}

std::optional<TChannelKind> FromWord(const QString& word) {
    for (TChannelKind kind : {TChannelKind::DingTalk, TChannelKind::WeCom, TChannelKind::Feishu, TChannelKind::Email,
                              TChannelKind::Webhook})
        if (Word(kind).compare(word.trimmed(), Qt::CaseInsensitive) == 0)
            return kind;
    return std::nullopt;
}

QString SecurityWord(TMailSecurity security) {
    switch (security) {
    case TMailSecurity::StartTls:
        return QStringLiteral("starttls");
    case TMailSecurity::Tls:
        return QStringLiteral("tls");
    case TMailSecurity::Plain:
        return QStringLiteral("plain");
    }
    return {};
}

std::optional<TMailSecurity> SecurityFromWord(const QString& word) {
    for (TMailSecurity security : {TMailSecurity::StartTls, TMailSecurity::Tls, TMailSecurity::Plain})
        if (SecurityWord(security).compare(word.trimmed(), Qt::CaseInsensitive) == 0)
            return security;
    return std::nullopt;
}

} // namespace ChannelKindTexts

QString UserConfigFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/vantero");
}

QString ChannelsFilePath() {
    return UserConfigFolder() + QStringLiteral("/notify-channels.json");
}

QString TSecretStore::FilePath() {
    return UserConfigFolder() + QStringLiteral("/notify-secrets.json");
}

bool TSecretStore::KeyringUsable() {
    // Without a session bus there is no keyring to ask, and asking would try to start a bus.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
        qEnvironmentVariable("VANTERO_SECRETS") == QStringLiteral("file"))
        return false;
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    TakeError(error);
    if (!service)
        return false;
    SecretCollection* collection =
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    TakeError(error);
    // A locked keyring would ask for its password: a run nobody watches must not wait for that.
    const bool usable = collection && !secret_collection_get_locked(collection);
    if (collection)
        g_object_unref(collection);
    g_object_unref(service);
    return usable;
}

QString TSecretStore::Where() {
    return KeyringUsable() ? QStringLiteral("系统钥匙环") : FilePath();
}

TRefusableVoid TSecretStore::Store(const QString& channel, const TChannelSecrets& secrets) {
    const bool keyring = KeyringUsable();
    QJsonObject all = ReadJsonObject(FilePath());
    QJsonObject own = all.value(channel).toObject();
    for (const auto& [part, value] : Parts(secrets)) {
        if (keyring && !value.isEmpty()) {
            const QString problem = KeyringStore(channel, part, value);
            if (!problem.isEmpty())
                return TRefusal{NotifyTexts::KeyringFailed.arg(problem)};
            own.remove(part); // one place only: the file is read first
        } else if (value.isEmpty()) {
            own.remove(part);
            if (keyring)
                KeyringClear(channel, part);
        } else {
            own.insert(part, value);
        }
    }
    if (own.isEmpty())
        all.remove(channel);
    else
        all.insert(channel, own);
    if (all.isEmpty() && !QFile::exists(FilePath()))
        return std::monostate{};
    const QString problem = WritePrivateFile(FilePath(), QJsonDocument(all).toJson());
    if (!problem.isEmpty())
        return TRefusal{problem};
    return std::monostate{};
}

TChannelSecrets TSecretStore::Lookup(const QString& channel) {
    const QJsonObject own = ReadJsonObject(FilePath()).value(channel).toObject();
    TChannelSecrets secrets{own.value(kWebhook).toString(), own.value(kSecret).toString(),
                            own.value(kPassword).toString()};
    if ((secrets.webhook.isEmpty() || secrets.secret.isEmpty() || secrets.password.isEmpty()) && KeyringUsable()) {
        if (secrets.webhook.isEmpty())
            secrets.webhook = KeyringLookup(channel, kWebhook);
        if (secrets.secret.isEmpty())
            secrets.secret = KeyringLookup(channel, kSecret);
        if (secrets.password.isEmpty())
            secrets.password = KeyringLookup(channel, kPassword);
    }
    return secrets;
}

void TSecretStore::Remove(const QString& channel) {
    if (KeyringUsable())
        KeyringClear(channel, QString());
    QJsonObject all = ReadJsonObject(FilePath());
    if (all.contains(channel)) {
        all.remove(channel);
        WritePrivateFile(FilePath(), QJsonDocument(all).toJson());
    }
}

QList<TNotifyChannel> LoadChannels() {
    QList<TNotifyChannel> channels;
    for (const QJsonValue& value : ReadJsonObject(ChannelsFilePath()).value(QStringLiteral("channels")).toArray())
        if (const std::optional<TNotifyChannel> channel = ChannelFromJson(value.toObject()))
            channels << *channel;
    return channels;
}

TRefusableVoid SaveChannels(const QList<TNotifyChannel>& channels) {
    QJsonArray array;
    for (const TNotifyChannel& channel : channels)
        array << ChannelToJson(channel);
    const QString problem =
        WritePrivateFile(ChannelsFilePath(), QJsonDocument(QJsonObject{{QStringLiteral("channels"), array}}).toJson());
    if (!problem.isEmpty())
        return TRefusal{problem};
    return std::monostate{};
}

QString CheckChannel(const TNotifyChannel& channel, const TChannelSecrets& secrets) {
    if (channel.name.trimmed().isEmpty())
        return NotifyTexts::NoName;
    if (channel.kind == TChannelKind::Email) {
        const QUrl server(QStringLiteral("smtp://") + channel.server.trimmed());
        if (channel.server.trimmed().isEmpty() || !server.isValid() || server.host().isEmpty() ||
            !server.path().isEmpty())
            return NotifyTexts::BadServer;
        if (!MailAddressPattern().match(channel.from.trimmed()).hasMatch())
            return NotifyTexts::BadMailAddress.arg(channel.from);
        if (channel.to.isEmpty())
            return NotifyTexts::NoRecipient;
        for (const QString& to : channel.to)
            if (!MailAddressPattern().match(to.trimmed()).hasMatch())
                return NotifyTexts::BadMailAddress.arg(to);
        return {};
    }
    const QUrl url(secrets.webhook.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QStringLiteral("https") && url.scheme() != QStringLiteral("http")))
        return NotifyTexts::BadWebhook;
    return {};
}

TRefusableVoid PutChannel(const TNotifyChannel& given, const TChannelSecrets& secrets, const QString& oldName) {
    TNotifyChannel channel = given;
    channel.name = channel.name.trimmed();
    QList<TNotifyChannel> channels = LoadChannels();
    const QString replaced = oldName.trimmed();
    qsizetype at = -1;
    bool taken = false;
    for (qsizetype i = 0; i < channels.size(); ++i) {
        if (!replaced.isEmpty() && channels[i].name == replaced)
            at = i;
        else if (channels[i].name == channel.name)
            taken = true;
    }
    if (!oldName.isEmpty() && at < 0)
        return TRefusal{NotifyTexts::UnknownChannel.arg(oldName)};
    if (taken)
        return TRefusal{NotifyTexts::DuplicateName.arg(channel.name)};
    // What was stored stays unless given anew; a rename carries it over.
    const TChannelSecrets stored = at >= 0 ? TSecretStore::Lookup(replaced) : TChannelSecrets{};
    TChannelSecrets merged = secrets;
    if (merged.webhook.isEmpty())
        merged.webhook = stored.webhook;
    if (merged.secret.isEmpty())
        merged.secret = stored.secret;
    if (merged.password.isEmpty())
        merged.password = stored.password;
    if (const QString problem = CheckChannel(channel, merged); !problem.isEmpty())
        return TRefusal{problem};
    if (at >= 0)
        channels[at] = channel;
    else
        channels << channel;
    if (TRefusableVoid saved = TSecretStore::Store(channel.name, merged); !saved)
        return saved;
    if (TRefusableVoid saved = SaveChannels(channels); !saved)
        return saved;
    if (at >= 0 && replaced != channel.name)
        TSecretStore::Remove(replaced);
    return std::monostate{};
}

TRefusableVoid RemoveChannel(const QString& name) {
    QList<TNotifyChannel> channels = LoadChannels();
    const qsizetype removed = channels.removeIf([&](const TNotifyChannel& c) { return c.name == name.trimmed(); });
    if (removed == 0)
        return TRefusal{NotifyTexts::UnknownChannel.arg(name)};
    if (TRefusableVoid saved = SaveChannels(channels); !saved)
        return saved;
    TSecretStore::Remove(name.trimmed());
    return std::monostate{};
}

QString MaskedAddress(const QString& address) {
    const QUrl url(address);
    if (!url.isValid() || url.host().isEmpty())
        return address.isEmpty() ? QString() : QStringLiteral("（已保存）");
    QString path = url.path();
    // A token as the path's last part (Feishu's hook id) is hidden too.
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash >= 0 && path.size() - slash > 17)
        path = path.left(slash + 1) + QStringLiteral("…");
    const QString port = url.port() > 0 ? QStringLiteral(":%1").arg(url.port()) : QString();
    return url.scheme() + QStringLiteral("://") + url.host() + port + path +
           (url.hasQuery() ? QStringLiteral("?…") : QString());
}

} // namespace vantero
