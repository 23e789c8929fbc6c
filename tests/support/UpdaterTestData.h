#pragma once

// Catalogue and pages shared by the background update's tests.
#include "reader/UtReadAllItemThr.h"
#include "support/TestDatabase.h"
#include "support/TestHttpServer.h"

#include <QStringEncoder>

namespace vantero::test {

inline const QString kOwnAccount = QStringLiteral("myshop");

// An item page as the marketplace writes it, in GBK.
inline QByteArray ItemPage(const QString& title, const QString& seller, const QString& price, const QString& itemId) {
    QString html = QStringLiteral("<html><head><meta charset=\"gbk\"></head><body>\n");
    html += QStringLiteral("<input type=\"hidden\" name=\"title\" value=\"%1\" />\n").arg(title);
    html += QStringLiteral("<input type=\"hidden\" name=\"seller_nickname\" value=\"%1\" />\n").arg(seller);
    html += QStringLiteral("<input type=\"hidden\" name=\"current_price\" value= \"%1\" />\n").arg(price);
    html += QStringLiteral("<input type=\"hidden\" name=\"item_id_num\" value=\"%1\" />\n").arg(itemId);
    html += QStringLiteral("<li><span>30天售出：</span><em>7</em>件</li>\n<p>页面其余部分</p></body></html>\n");
    QStringEncoder encoder("GBK");
    return encoder(html);
}

// A catalogue in a fresh database (a file, or a database on the tests' own PostgreSQL server),
// with its pages served on 127.0.0.1.
class TUpdaterCatalogue {
public:
    explicit TUpdaterCatalogue(TTestEngine engine = TTestEngine::File) : db(engine) {
        db.exec(QStringLiteral("update Setting set WW=?"), {kOwnAccount});
    }

    TTestDatabase db;
    TTestHttpServer server;

    void AddRival(const QString& ww) {
        db.exec(QStringLiteral("insert into Rival (RivalWW, ShopURL) values (?, ?)"),
                {ww, server.url(QStringLiteral("/shop/") + ww)});
    }
    // An own item stored with price 1, its page (at /own/<id>) giving price.
    QString AddItem(const QString& id, const QString& title, const QString& price) {
        const QString path = QStringLiteral("/own/") + id;
        db.exec(QStringLiteral("insert into Items (ItemID, ItemName, CustomItemName, URL, Price, SellCount) "
                               "values (?, ?, ?, ?, 1, 0)"),
                {id, title, QStringLiteral("自定义名"), server.url(path)});
        server.route(path, ItemPage(title, kOwnAccount, price, id), "text/html; charset=gbk");
        return path;
    }
    // A mapped rival item stored with price 5; url as given (a path is served with a page by
    // pageSeller giving price).
    void AddMapping(const QString& ww, const QString& localId, const QString& rivalId, const QString& url,
                    const QString& pageSeller = {}, const QString& price = QStringLiteral("9.90")) {
        QString address = url;
        if (url.startsWith(u'/')) {
            address = server.url(url);
            server.route(url,
                         ItemPage(QStringLiteral("同行宝贝"), pageSeller.isEmpty() ? ww : pageSeller, price, rivalId),
                         "text/html; charset=gbk");
        }
        db.exec(QStringLiteral("insert into RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, "
                               "SellCount) values (?, ?, ?, ?, ?, 5, 0)"),
                {ww, localId, rivalId, QStringLiteral("同行宝贝"), address});
    }
    double ItemPrice(const QString& id) const {
        return db.value(QStringLiteral("select Price from Items where ItemID=?"), {id}).toDouble();
    }
    double RivalPrice(const QString& rivalId) const {
        return db.value(QStringLiteral("select Price from RivalItems where RivalItemID=?"), {rivalId}).toDouble();
    }
};

// Whether text is maker(t) for a whole second t between from and to.
template <typename Maker>
bool TextOfSomeSecond(const QString& text, Maker maker, const QDateTime& from, const QDateTime& to) {
    for (QDateTime t = from.addMSecs(-from.time().msec()); t <= to; t = t.addSecs(1)) {
        if (text == maker(t))
            return true;
    }
    return false;
}

} // namespace vantero::test
