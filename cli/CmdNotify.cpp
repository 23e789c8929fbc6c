// notify: the channels alerts are sent to (list, add, remove, test), as "提醒设置" keeps them.
#include "cli/Cli.h"
#include "cli/Output.h"
#include "history/NotifyChannels.h"
#include "history/NotifySender.h"

#include <QTextStream>

#include <cstdio>

namespace vantero::cli {

namespace {

const QString kUsage = QStringLiteral(
    "notify list [--csv | --json]\n"
    "  notify add NAME dingtalk|wecom|feishu|webhook --webhook URL [--secret SECRET] [--card] [--disabled]\n"
    "  notify add NAME email --server HOST[:PORT] [--security starttls|tls|plain] --from ADDRESS --to ADDRESS[,...]\n"
    "             [--user USER --password PASSWORD]\n"
    "  notify add NAME ... --replace [--rename NEW_NAME]   修改已有的渠道（未给出的地址、密钥和密码保持不变）\n"
    "  notify remove NAME\n"
    "  notify test NAME\n"
    "  地址、密钥或密码写作 - 时从标准输入读一行（不出现在进程列表中）");

// A secret given as "-" is read from standard input, one line each, so it never shows in ps.
QString SecretArgument(TCliContext& context, const QString& option) {
    const QString value = context.TakeOption(option);
    if (value != QStringLiteral("-"))
        return value;
    static QTextStream in(stdin); // one stream: several secrets come line after line
    return in.readLine().trimmed();
}

int RunList(TCliContext& context) {
    const bool json = context.TakeJsonFlag();
    if (!context.args.isEmpty())
        context.UsageError(QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));
    const QStringList header{QStringLiteral("名称"), QStringLiteral("类型"), QStringLiteral("启用"),
                             QStringLiteral("地址"), QStringLiteral("签名"), QStringLiteral("收件人")};
    QList<QStringList> rows;
    for (const TNotifyChannel& channel : LoadChannels()) {
        const TChannelSecrets secrets = TSecretStore::Lookup(channel.name);
        const bool mail = channel.kind == TChannelKind::Email;
        const QString address =
            mail ? ChannelKindTexts::SecurityWord(channel.security) + QStringLiteral("://") + channel.server
                 : MaskedAddress(secrets.webhook);
        QString signing;
        if (mail)
            signing = channel.user.isEmpty()
                          ? QString()
                          : channel.user + (secrets.password.isEmpty() ? QStringLiteral("（无密码）")
                                                                       : QStringLiteral("（密码已保存）"));
        else if (!secrets.secret.isEmpty())
            signing = QStringLiteral("已设置");
        QString kind = ChannelKindTexts::Word(channel.kind);
        if (channel.kind == TChannelKind::Feishu && channel.feishuCard)
            kind += QStringLiteral(" card");
        rows << QStringList{channel.name, kind,    channel.enabled ? QStringLiteral("是") : QStringLiteral("否"),
                            address,      signing, mail ? channel.to.join(u',') : QString()};
    }
    WriteTable(context.out, header, rows, json);
    context.err << QStringLiteral("地址、密钥和密码保存在：%1\n").arg(TSecretStore::Where());
    return kExitOk;
}

int RunAdd(TCliContext& context) {
    const bool replace = context.TakeFlag(QStringLiteral("--replace"));
    const QString rename = context.TakeOption(QStringLiteral("--rename"));
    TChannelSecrets secrets;
    secrets.webhook = SecretArgument(context, QStringLiteral("--webhook"));
    secrets.secret = SecretArgument(context, QStringLiteral("--secret"));
    secrets.password = SecretArgument(context, QStringLiteral("--password"));
    TNotifyChannel channel;
    channel.feishuCard = context.TakeFlag(QStringLiteral("--card"));
    channel.enabled = !context.TakeFlag(QStringLiteral("--disabled"));
    channel.server = context.TakeOption(QStringLiteral("--server"));
    const QString security = context.TakeOption(QStringLiteral("--security"));
    channel.from = context.TakeOption(QStringLiteral("--from"));
    const QString to = context.TakeOption(QStringLiteral("--to"));
    channel.user = context.TakeOption(QStringLiteral("--user"));
    if (context.args.size() != 2)
        context.UsageError(QStringLiteral("notify add 需要渠道名称和类型\n  ") + kUsage);
    channel.name = context.args[0].trimmed();
    const std::optional<TChannelKind> kind = ChannelKindTexts::FromWord(context.args[1]);
    if (!kind)
        context.UsageError(
            QStringLiteral("未知的渠道类型：%1（可用 dingtalk、wecom、feishu、email、webhook）").arg(context.args[1]));
    channel.kind = *kind;
    if (!security.isNull()) {
        const std::optional<TMailSecurity> chosen = ChannelKindTexts::SecurityFromWord(security);
        if (!chosen)
            context.UsageError(QStringLiteral("未知的加密方式：%1（可用 starttls、tls、plain）").arg(security));
        channel.security = *chosen;
    }
    for (const QString& address : to.split(u',', Qt::SkipEmptyParts))
        channel.to << address.trimmed();
    QString oldName;
    if (replace) {
        oldName = channel.name;
        if (!rename.isEmpty())
            channel.name = rename.trimmed();
    }
    const TRefusableVoid stored = PutChannel(channel, secrets, oldName);
    if (!stored) {
        context.err << stored.refusal() << '\n';
        return kExitRefused;
    }
    context.err
        << QStringLiteral("已保存渠道“%1”；地址、密钥和密码保存在：%2\n").arg(channel.name, TSecretStore::Where());
    return kExitOk;
}

int RunRemove(TCliContext& context) {
    if (context.args.size() != 1)
        context.UsageError(QStringLiteral("notify remove 需要渠道名称"));
    const TRefusableVoid removed = RemoveChannel(context.args.first());
    if (!removed) {
        context.err << removed.refusal() << '\n';
        return kExitRefused;
    }
    return kExitOk;
}

int RunTest(TCliContext& context) {
    if (context.args.size() != 1)
        context.UsageError(QStringLiteral("notify test 需要渠道名称"));
    const QString name = context.args.first().trimmed();
    for (const TNotifyChannel& channel : LoadChannels()) {
        if (channel.name != name)
            continue;
        TSendOptions once;
        once.tries = 1;
        const TSendResult result = SendMessage(channel, TSecretStore::Lookup(name), TestMessage(name), once);
        if (!result.ok) {
            context.err << result.error << '\n';
            return kExitRefused;
        }
        context.out << QStringLiteral("已发送测试消息到“%1”\n").arg(name);
        return kExitOk;
    }
    context.err << QStringLiteral("没有名为“%1”的渠道").arg(name) << '\n';
    return kExitRefused;
}

int RunNotify(TCliContext& context) {
    if (context.args.isEmpty())
        context.UsageError(kUsage);
    const QString action = context.args.takeFirst();
    if (action == QStringLiteral("list"))
        return RunList(context);
    if (action == QStringLiteral("add"))
        return RunAdd(context);
    if (action == QStringLiteral("remove"))
        return RunRemove(context);
    if (action == QStringLiteral("test"))
        return RunTest(context);
    context.UsageError(QStringLiteral("未知的 notify 操作：%1\n  ").arg(action) + kUsage);
}

const TCliRegistration registration("notify",
                                    "notify list|add|remove|test ...   提醒渠道：钉钉、企业微信、飞书群机器人，"
                                    "电子邮件和通用 Webhook",
                                    &RunNotify);

} // namespace

} // namespace vantero::cli
