#pragma once

#include "common/Refusal.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace vantero {

// Where alerts are sent besides the program's own windows.
enum class TChannelKind { DingTalk, WeCom, Feishu, Email, Webhook };

// How an e-mail channel talks to its server: STARTTLS on smtp:// (required, never dropped to
// plain), TLS from the start on smtps://, or plain for a relay on this machine or a trusted net.
enum class TMailSecurity { StartTls, Tls, Plain };

// One channel. The secret parts (the robot's address, which carries its access token, the
// signing secret and the mail password) are not members: they live in the user's keyring or
// secrets file (TSecretStore) under the channel's name.
struct TNotifyChannel {
    QString name; // unique, the key of its secrets and of its send records
    TChannelKind kind = TChannelKind::DingTalk;
    bool enabled = true;
    bool feishuCard = false; // Feishu: a card instead of plain text
    // E-mail.
    QString server; // host or host:port
    TMailSecurity security = TMailSecurity::StartTls;
    QString from;
    QStringList to;
    QString user;
};

// The secret parts of a channel, as far as they are set.
struct TChannelSecrets {
    QString webhook;  // the robot's or webhook's full address
    QString secret;   // the robot's signing secret (DingTalk, Feishu), optional
    QString password; // the mail password
};

namespace ChannelKindTexts {
QString Name(TChannelKind kind);
// The command line's word for a kind ("dingtalk", "wecom", "feishu", "email", "webhook").
QString Word(TChannelKind kind);
std::optional<TChannelKind> FromWord(const QString& word);
QString SecurityWord(TMailSecurity security);
std::optional<TMailSecurity> SecurityFromWord(const QString& word);
} // namespace ChannelKindTexts

// The user's configuration folder of the program ($XDG_CONFIG_HOME/vantero, ~/.config/vantero).
QString UserConfigFolder();

// The secrets of every channel, per user and never in the database: in the user's keyring where
// one is reachable and unlocked (no prompt is ever shown), otherwise in a file of mode 0600 in the
// user's configuration folder. A lookup tries the keyring first, then the file, so a run without
// the keyring (a timer's) still finds what was stored while it was absent.
class TSecretStore {
public:
    // "系统钥匙环" or the file's path: where a store now goes.
    static QString Where();
    static bool KeyringUsable();
    // An empty value removes that part.
    static TRefusableVoid Store(const QString& channel, const TChannelSecrets& secrets);
    static TChannelSecrets Lookup(const QString& channel);
    static void Remove(const QString& channel);
    static QString FilePath();
};

// The channel list of the user, in $XDG_CONFIG_HOME/vantero/notify-channels.json (mode 0600).
QList<TNotifyChannel> LoadChannels();
TRefusableVoid SaveChannels(const QList<TNotifyChannel>& channels);
QString ChannelsFilePath();

// Checks a channel with its secrets before it is kept: the sentence the user reads, or nothing.
QString CheckChannel(const TNotifyChannel& channel, const TChannelSecrets& secrets);

// Adds a channel (oldName empty; its name must be new) or replaces the channel named oldName
// (renaming it when the names differ), and stores its secrets; parts of secrets left empty keep
// what was stored.
TRefusableVoid PutChannel(const TNotifyChannel& channel, const TChannelSecrets& secrets,
                          const QString& oldName = QString());
TRefusableVoid RemoveChannel(const QString& name);

// The robot's address for lists: scheme, host and path without its token or query.
QString MaskedAddress(const QString& address);

} // namespace vantero
