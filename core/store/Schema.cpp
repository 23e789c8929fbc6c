#include "store/Schema.h"

namespace vantero {

const QList<TTableDef>& DatabaseTables() {
    using enum TColumnType;
    static const QList<TTableDef> tables = {
        {"Items",
         {{"ItemID", Text},
          {"ItemName", Text},
          {"CustomItemName", Text},
          {"URL", Text},
          {"Price", Float},
          {"SellCount", Integer},
          {"LastUpdated", DateTime}}},
        {"Rival", {{"RivalWW", Text}, {"ShopURL", Text}, {"ShopName", Text}, {"ShopClass", Text}, {"ShopType", Text}}},
        {"RivalItems",
         {{"RivalWW", Text},
          {"LocalItemID", Text},
          {"RivalItemID", Text},
          {"ItemName", Text},
          {"URL", Text},
          {"Price", Float},
          {"SellCount", Integer},
          {"LastUpdated", DateTime}}},
        {"Setting", {{"UpdateTimeOut", Integer}, {"WW", Text}}},
    };
    return tables;
}

const TTableDef* FindTable(const QString& name) {
    for (const TTableDef& table : DatabaseTables()) {
        if (name.compare(QLatin1String(table.name), Qt::CaseInsensitive) == 0)
            return &table;
    }
    return nullptr;
}

} // namespace vantero
