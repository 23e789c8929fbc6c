#pragma once

#include <QList>
#include <QString>

namespace vantero {

enum class TColumnType { Text, Float, Integer, DateTime };

struct TColumnDef {
    const char* name;
    TColumnType type;
};

struct TTableDef {
    const char* name;
    QList<TColumnDef> columns;
};

// The four tables of the database, columns in their stored order.
const QList<TTableDef>& DatabaseTables();
const TTableDef* FindTable(const QString& name);

} // namespace vantero
