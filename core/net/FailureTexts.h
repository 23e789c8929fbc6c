#pragma once

#include "common/StoreTexts.h"

#include <QString>

namespace vantero {

// Why a download failed, in the words the user reads: the engine, the shop client and the
// version check all report through these.
namespace NetTexts {
inline const QString BadAddress = QStringLiteral("宝贝地址无效：只能读取 http 或 https 地址");
inline const QString ConnectTimeout = QStringLiteral("连接超时：%1 秒内未收到服务器的响应");
inline const QString ReadTimeout = QStringLiteral("读取超时：%1 秒内未能读完页面");
inline const QString TooLarge = QStringLiteral("页面过大：超过 %1 MB，已放弃读取");
inline const QString Transport = QStringLiteral("下载页面失败：%1（%2）");
inline const QString TooManyRedirects = QStringLiteral("重定向次数过多（超过 %1 次）");
inline const QString Refused = QStringLiteral("服务器拒绝连接");
inline const QString HostNotFound = QStringLiteral("找不到服务器");
inline const QString ConnectionClosed = QStringLiteral("连接被服务器关闭");
inline const QString Insecure = QStringLiteral("不安全的重定向");
inline const QString Network = QStringLiteral("网络错误");
inline const QString BadResponse = QStringLiteral("服务器的响应无效");
inline const QString Receive = QStringLiteral("接收页面失败");
inline const QString Tls = QStringLiteral("安全连接失败");

// What an HTTP error status means to the user.
inline QString HttpStatusMeaning(int status) {
    switch (status) {
    case 400:
        return QStringLiteral("请求无效");
    case 401:
        return QStringLiteral("需要登录");
    case 403:
        return QStringLiteral("禁止访问");
    case 404:
        return QStringLiteral("页面不存在");
    case 405:
        return QStringLiteral("不支持这种请求");
    case 408:
        return QStringLiteral("请求超时");
    case 410:
        return QStringLiteral("页面已被删除");
    case 429:
        return QStringLiteral("访问过于频繁，请稍后再试");
    case 500:
        return QStringLiteral("服务器内部错误");
    case 502:
        return QStringLiteral("网关错误");
    case 503:
        return QStringLiteral("服务暂时不可用");
    case 504:
        return QStringLiteral("网关超时");
    default:
        break;
    }
    if (status >= 500)
        return QStringLiteral("服务器出错");
    if (status >= 400)
        return QStringLiteral("请求被拒绝");
    if (status >= 300)
        return QStringLiteral("页面已转到别处");
    return QStringLiteral("无法处理的响应");
}

// "服务器返回 404：页面不存在（HTTP 404 Not Found）": the Chinese sentence first, the status line
// as the server sent it in brackets after it.
inline QString HttpStatus(int status, const QString& reason) {
    const QString line = QStringLiteral("HTTP %1 %2").arg(status).arg(reason).trimmed();
    return QStringLiteral("服务器返回 %1：%2（%3）").arg(status).arg(HttpStatusMeaning(status), line);
}

} // namespace NetTexts

// Why an entered address is not read, naming what is wrong with it and the address itself.
namespace AddressTexts {
inline const QString Empty = QStringLiteral("地址为空");
inline const QString Blank = QStringLiteral("地址中含有空格或换行，请检查后重新输入：%1");
inline const QString Backslash = QStringLiteral("地址中含有反斜杠“\\”，网址只用“/”：%1");
inline const QString UserInfo =
    QStringLiteral("地址中含有“@”前的用户名或密码，页面将来自“@”之后的网站，为安全起见不予读取：%1");
inline const QString NoHost = QStringLiteral("地址中缺少网站名：%1");
inline const QString LongHost = QStringLiteral("地址中的网站名过长（超过 %1 个字符）：%2");
inline const QString Port = QStringLiteral("地址中的端口号“%1”无效（只能是 1 到 65535）：%2");
inline const QString Invalid = QStringLiteral("地址无效：%1");
inline const QString LocalRedirect = QStringLiteral("页面重定向到本机或局域网地址，为安全起见不予读取：%1");
} // namespace AddressTexts

// Why an alert could not be sent to a channel (a robot, a webhook, a mail server), and why a
// channel could not be kept.
namespace NotifyTexts {
inline const QString Timeout = QStringLiteral("发送超时：%1 秒内未完成");
inline const QString HttpStatus = QStringLiteral("发送失败：服务器返回 HTTP %1");
inline const QString Transport = QStringLiteral("发送失败：%1（%2）");
inline const QString RobotRefused = QStringLiteral("机器人拒绝了消息：%1（错误码 %2）");
inline const QString BadAnswer = QStringLiteral("机器人的回答无法识别");
inline const QString NoStartTls = QStringLiteral("邮件服务器不支持 STARTTLS 加密，未发送");
inline const QString LoginDenied = QStringLiteral("邮件服务器拒绝登录：用户名或密码错误");
inline const QString MailRefused = QStringLiteral("邮件服务器拒绝了邮件（%1）");
inline const QString NoSecret = QStringLiteral("找不到该渠道保存的地址或密码（系统钥匙环未解锁？）");
inline const QString Disabled = QStringLiteral("该渠道已停用");
inline const QString BadWebhook = QStringLiteral("机器人地址无效：应为 https:// 或 http:// 开头的完整地址");
inline const QString BadServer = QStringLiteral("邮件服务器无效：应为 主机名 或 主机名:端口");
inline const QString BadMailAddress = QStringLiteral("邮件地址无效：%1");
inline const QString NoRecipient = QStringLiteral("至少需要一个收件人");
inline const QString NoName = QStringLiteral("渠道名称不能为空");
inline const QString DuplicateName = QStringLiteral("已有名为“%1”的渠道");
inline const QString UnknownChannel = QStringLiteral("没有名为“%1”的渠道");
inline const QString WriteFailed = QStringLiteral("无法保存提醒渠道：%1（%2）");
inline const QString ChannelFailing = QStringLiteral("提醒渠道“%1”已连续 %2 轮发送失败，请在“提醒设置”中检查该渠道。");
inline const QString KeyringFailed = QStringLiteral("无法写入系统钥匙环（%1）");
inline const QString Untrusted = QStringLiteral("服务器的证书不受信任，未发送（%1）");
inline const QString NotSentAtExit = QStringLiteral("程序退出，未发送");
} // namespace NotifyTexts

} // namespace vantero
