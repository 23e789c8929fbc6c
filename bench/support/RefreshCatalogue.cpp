#include "support/RefreshCatalogue.h"

#include "store/Connection.h"

#include <QSqlDatabase>
#include <QSqlQuery>

namespace vantero::bench {

void FillRefreshCatalogue(const TConnection& con) {
    QSqlDatabase db = con.database();
    db.transaction();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("insert into Rival (RivalWW, ShopURL, ShopName, ShopClass, ShopType) values (?,?,?,?,?)"));
    for (int r = 0; r < kRefreshRivals; ++r) {
        q.addBindValue(QStringLiteral("同行店铺%1").arg(r));
        q.addBindValue(QStringLiteral("http://shop%1.taobao.com/").arg(100000 + r));
        q.addBindValue(QStringLiteral("店铺%1").arg(r));
        q.addBindValue(QStringLiteral("淘宝"));
        q.addBindValue(QStringLiteral("淘宝"));
        q.exec();
    }
    q.prepare(QStringLiteral("insert into Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount, LastUpdated) "
                             "values (?,?,?,?,?,?,?)"));
    for (int i = 0; i < kRefreshItems; ++i) {
        q.addBindValue(QString::number(5000000000LL + i));
        q.addBindValue(QStringLiteral("夏季新款纯棉短袖T恤 男士宽松休闲 款号%1").arg(i));
        q.addBindValue(i % 10 == 0 ? QStringLiteral("我的名称%1").arg(i) : QString());
        q.addBindValue(QStringLiteral("http://item.taobao.com/item.htm?id=%1").arg(5000000000LL + i));
        q.addBindValue(50.0 + i % 300);
        q.addBindValue(i % 97);
        q.addBindValue(QStringLiteral("2026-12-01 10:00:00"));
        q.exec();
    }
    q.prepare(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                             "SellCount, LastUpdated) values (?,?,?,?,?,?,?,?)"));
    for (int i = 0; i < kRefreshItems; ++i) {
        for (int r = 0; r < kRefreshRivals; ++r) {
            const qint64 rivalId = 6000000000LL + qint64(i) * kRefreshRivals + r;
            q.addBindValue(QStringLiteral("同行店铺%1").arg(r));
            q.addBindValue(QString::number(5000000000LL + i));
            q.addBindValue(QString::number(rivalId));
            q.addBindValue(QStringLiteral("同行的宝贝 %1").arg(rivalId));
            q.addBindValue(QStringLiteral("http://item.taobao.com/item.htm?id=%1").arg(rivalId));
            q.addBindValue(45.0 + (i + r) % 310);
            q.addBindValue((i * r) % 50);
            q.addBindValue(QStringLiteral("2026-12-02 11:00:00"));
            q.exec();
        }
    }
    db.commit();
}

} // namespace vantero::bench
