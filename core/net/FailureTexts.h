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

} // namespace vantero
