#pragma once

#include <QString>

namespace vantero {

// Why the database or a file the program writes could not be used, in the words the user reads.
// Each names the problem first; the engine's own text follows in brackets where there is one.
// They belong to the one table of failure texts (net/FailureTexts.h includes them); they live
// here because the store, below the network layer, reports through them too.
namespace StoreTexts {
inline const QString WithDetail = QStringLiteral("%1（%2）");
inline const QString DiskFull = QStringLiteral("磁盘空间已满，无法写入数据库文件 \"%1\"");
inline const QString ReadingNotStored = QStringLiteral("磁盘空间已满，读取结果未能保存");
inline const QString ReadOnlyFile = QStringLiteral("数据库文件 \"%1\" 是只读的");
inline const QString ReadOnlyFolder = QStringLiteral("数据库文件所在的文件夹 \"%1\" 不允许写入");
inline const QString Locked = QStringLiteral("数据库文件 \"%1\" 正被另一个程序使用，请关闭该程序后再试");
inline const QString Damaged = QStringLiteral("数据库文件 \"%1\" 已损坏");
inline const QString Unreadable = QStringLiteral("无法读取数据库文件 \"%1\"");
inline const QString WriteFailed = QStringLiteral("无法写入数据库文件 \"%1\"");
inline const QString NotOurDatabase = QStringLiteral("文件 \"%1\" 不是本程序的数据库");
inline const QString NoCatalogueTables =
    QStringLiteral("文件不是本程序的数据库（其中没有 Items、Rival 或 RivalItems 表）");
inline const QString ConstraintFailed = QStringLiteral("数据不完整，未能保存");
inline const QString RoundStopped = QStringLiteral("更新已停止：%1");
inline const QString RoundStoppedAt = QStringLiteral("后台更新线程在 %1 停止（读取结果无法保存）");
inline const QString ForeignObjects =
    QStringLiteral("数据库文件中有本程序未创建的对象，为安全起见不予使用：%1。请删除这些对象或换用其他数据库文件");
inline const QString ForeignTrigger = QStringLiteral("触发器 %1（表 %2）");
inline const QString ForeignIndex = QStringLiteral("索引 %1（表 %2）");
inline const QString GeneratedColumn = QStringLiteral("表 %1 的计算列 %2");
inline const QString ListSeparator = QStringLiteral("、");
inline const QString ExportDiskFull = QStringLiteral("无法写入导出文件：磁盘空间已满");
inline const QString ExportReadOnly = QStringLiteral("无法写入导出文件：没有写入 \"%1\" 的权限");
inline const QString ExportFailed = QStringLiteral("无法写入导出文件 \"%1\"");
inline const QString ExportNoFolder = QStringLiteral("无法写入导出文件：文件夹 \"%1\" 不存在");
inline const QString ImportNotConnected = QStringLiteral("没有连接导入的数据库");
inline const QString ImportTableUnreadable = QStringLiteral("无法读取导入文件 \"%2\" 中的 %1 表");
inline const QString ImportColumnMissing = QStringLiteral("导入文件 \"%2\" 的 %1 表中缺少字段 %3");
// A team database on a server; %1 names the server and the database (ServerPlace).
inline const QString ServerPlace = QStringLiteral("服务器 %1 上的数据库 %2");
inline const QString ServerUnreachable = QStringLiteral("无法连接%1（%2）");
inline const QString ServerFailed = QStringLiteral("%1出错（%2）");
inline const QString ServerLost = QStringLiteral("与%1的连接已断开，操作未完成，请稍后重试（%2）");
// In place of the server's words when this program cut the connection itself (it is ending).
inline const QString ServerCutOff = QStringLiteral("程序正在结束，没有再等服务器响应");
// Why a connection that never got an answer was given up.
inline const QString ServerNoAnswer = QStringLiteral("服务器在 %1 秒内没有应答");
inline const QString ServerPassword =
    QStringLiteral("连接字符串中不能写密码：请把密码写入 ~/.pgpass，或由服务器的身份验证提供");
inline const QString ServerBadTarget = QStringLiteral("数据库连接字符串无效（%1）");
inline const QString ServerNotOurs = QStringLiteral("%1不是本程序的数据库：%2");
inline const QString FileOnly = QStringLiteral("这项操作只能用于数据库文件，不能用于%1");
} // namespace StoreTexts

} // namespace vantero
