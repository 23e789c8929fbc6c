#pragma once

#include <QString>

namespace vantero {

// Why a download failed, in the words the user reads: the engine, the shop client and the
// version check all report through these.
namespace NetTexts {
inline const QString BadAddress = QStringLiteral("宝贝地址无效：只能读取 http 或 https 地址");
inline const QString ConnectTimeout = QStringLiteral("连接超时：%1 秒内未收到服务器的响应");
inline const QString ReadTimeout = QStringLiteral("读取超时：%1 秒内未能读完页面");
inline const QString TooLarge = QStringLiteral("页面过大：超过 %1 MB，已放弃读取");
inline const QString HttpStatus = QStringLiteral("下载页面失败：服务器返回 HTTP %1 %2");
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
} // namespace NetTexts

} // namespace vantero
