#pragma once

#include "common/Refusal.h"

#include <QList>
#include <QPair>
#include <QString>

namespace vantero {

namespace CopyTexts {
inline const QString NotEmpty =
    QStringLiteral("目标数据库不是空的（表 %1 中已有数据）：不予覆盖。要把数据合并进去，请加 --merge");
inline const QString SameDatabase = QStringLiteral("源数据库与目标数据库相同");
inline const QString Done = QStringLiteral("复制完成：%1 行");
inline const QString Merged = QStringLiteral("合并完成：新增宝贝 %1 个，对手店铺 %2 个，对应宝贝 %3 个");
} // namespace CopyTexts

// How many rows a copy wrote, by table, in the order of the tables.
struct TCopyCounts {
    QList<QPair<QString, qint64>> rows;
    qint64 total() const;
};

// Copies a whole database, history included, from source to target (either a database file or
// a server database): every table of the program, each row with its row id, as one transaction
// on the target. The target is prepared as at start-up first; a target holding anything beyond
// its settings row is refused unless merge, which adds only the own items, rival shops and item
// mappings the target lacks, as the import does. The source is only read. Throws
// TDatabaseError for a failure of either database; nothing of a failed copy stays.
TRefusable<TCopyCounts> CopyDatabase(const QString& source, const QString& target, bool merge);

} // namespace vantero
