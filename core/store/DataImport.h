#pragma once

#include "store/Connection.h"

#include <QString>

namespace vantero {

namespace ImportTexts {
inline const QString NoFile = QStringLiteral("请先选定一个数据库文件.");
inline const QString ConnectFailed = QStringLiteral("连接数据库失败： ");
inline const QString Done = QStringLiteral("导入完成.请刷新数据.");
inline const QString Added = QStringLiteral("新增宝贝 %1 个，对手店铺 %2 个，对应宝贝 %3 个。");
} // namespace ImportTexts

// Copies the own items, rival shops and item mappings that the program's database lacks from
// another database file of the same layout. The source is opened read-only and never written;
// rows already present in the target are left as they are.
class TDataImport {
public:
    explicit TDataImport(TConnection target);
    ~TDataImport();
    TDataImport(const TDataImport&) = delete;
    TDataImport& operator=(const TDataImport&) = delete;

    // Opens the source file or server database (closing a previous one). A file that is not a sound database of this
    // layout is refused before anything is read: false, and message holds the text to show
    // ("连接数据库失败： " + quoted path + reason).
    bool ConnectSource(const QString& path, QString* message);
    bool SourceConnected() const { return !m_sourceName.isEmpty() || m_sourceIsTarget || !m_serverSource.isNull(); }
    // The source is the target's own file (under any path); the steps then append nothing.
    bool SourceIsTarget() const { return m_sourceIsTarget; }
    void CloseSource();

    // The three copy steps; each returns the number of rows appended and throws TDatabaseError
    // on a failure. Every appended row is written whole or not at all.
    int ImportItems();
    int ImportRivals();
    int ImportRivalItems();

private:
    struct TCopiedColumn;
    int CopyTable(const QString& table, const QString& keys, const QList<TCopiedColumn>& columns);

    TConnection m_target;
    QString m_sourceName;       // name of the source's own read-only connection
    TConnection m_serverSource; // a server database as the source, only read
    bool m_sourceIsTarget = false;
};

// Whether two paths name the same file (symbolic and hard links included).
bool IsSameFile(const QString& first, const QString& second);

} // namespace vantero
