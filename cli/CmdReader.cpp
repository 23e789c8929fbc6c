// read-item: one item page read and stored as the windows read it; settings: shown or changed.
#include "catalogue/GridData.h"
#include "catalogue/ItemCommands.h"
#include "catalogue/MainData.h"
#include "catalogue/Settings.h"
#include "cli/Cli.h"
#include "common/TermSignals.h"
#include "common/TextHelpers.h"
#include "net/HttpEngine.h"
#include "net/WebAddress.h"
#include "reader/PageFields.h"
#include "reader/ReadModes.h"
#include "reader/UtReadItemThr.h"

#include <QEventLoop>

namespace vantero::cli {

namespace {

// One "Name: value" line; line breaks inside a value would break the line format.
void WriteLine(QTextStream& out, const char* name, const QString& value) {
    QString flat = value;
    flat.replace(u'\r', u' ').replace(u'\n', u' ');
    out << name << ": " << flat << '\n';
}

QString PageKindKey(TPageKind kind) {
    switch (kind) {
    case TPageKind::TooShort:
        return QStringLiteral("too-short 页面不足 100 字节，未读取");
    case TPageKind::Read:
        return QStringLiteral("item 按宝贝页面读取");
    case TPageKind::Login:
        return QStringLiteral("login 登录页面");
    case TPageKind::Verification:
        return QStringLiteral("verification 访问验证页面");
    case TPageKind::AccessDenied:
        return QStringLiteral("access-denied 拒绝访问页面");
    }
    return {};
}

// Where each field came from, so a user can see why a page reads as it does.
void WriteExplanation(QTextStream& out, const TItemFields& fields) {
    if (fields.encoding.isEmpty()) {
        WriteLine(out, "Page", QStringLiteral("none 没有读到页面"));
        return;
    }
    QString encoding = QString::fromLatin1(fields.encoding);
    if (fields.declaredCharset.isEmpty())
        encoding += QStringLiteral("（页面未声明编码）");
    else if (fields.declarationOverruled)
        encoding += QStringLiteral("（声明的 %1 与页面字节不符）").arg(QString::fromLatin1(fields.declaredCharset));
    else
        encoding += QStringLiteral("（声明 %1）").arg(QString::fromLatin1(fields.declaredCharset));
    WriteLine(out, "Encoding", encoding);
    QString page = PageKindKey(fields.kind);
    if (fields.blocked())
        page += QStringLiteral("：%1（%2）").arg(fields.blockText, fields.blockEvidence);
    WriteLine(out, "Page", page);
    if (fields.gone)
        WriteLine(out, "Gone", QStringLiteral("宝贝已下架或不存在（%1）").arg(fields.goneEvidence));
    // The source that won, then every candidate it was preferred to.
    auto source = [&](const char* name, const TFieldReading& field) {
        QString line = FieldSourceKey(field.source) + u' ' + FieldSourceText(field.source);
        if (!field.detail.isEmpty())
            line += QStringLiteral("：") + field.detail;
        WriteLine(out, name, line);
        const QByteArray passed = QByteArray(name) + "PassedOver";
        for (const QString& candidate : field.passedOver)
            WriteLine(out, passed.constData(), candidate);
    };
    source("ItemNameFrom", fields.itemName);
    source("SellerNickFrom", fields.sellerNick);
    source("ShopNameFrom", fields.shopName);
    source("ItemIDFrom", fields.itemId);
    source("PriceFrom", fields.price);
    if (fields.priceState == TPriceState::Found) {
        WriteLine(out, "PriceLow", FormatPrice(fields.priceValue));
        WriteLine(out, "PriceHigh", FormatPrice(fields.priceHigh));
        WriteLine(out, "PriceKind",
                  fields.promotionPrice ? QStringLiteral("promotion 进行中的促销价") : QStringLiteral("listed 标价"));
    } else {
        WriteLine(out, "PriceLow",
                  fields.priceState == TPriceState::Invalid ? QStringLiteral("invalid 价格不大于 0")
                                                            : QStringLiteral("none 没有价格"));
    }
    source("SellCountFrom", fields.sellCount);
}

int RunReadItem(TCliContext& context) {
    const bool explain = context.TakeFlag(QStringLiteral("--explain"));
    const QString rivalOf = context.TakeOption(QStringLiteral("--rival-of"));
    const QString seller = context.TakeOption(QStringLiteral("--seller"));
    const bool browser = context.TakeFlag(QStringLiteral("--browser"));
    if (context.args.size() != 1 || context.args.first().startsWith(QLatin1String("--")))
        context.UsageError(QStringLiteral("read-item 需要一个宝贝地址"));
    const bool rival = !rivalOf.isNull();
    if (rival && TrimBlanks(rivalOf).isEmpty())
        context.UsageError(QStringLiteral("--rival-of 需要自己宝贝的 ItemID"));
    if (rival && seller.isNull())
        context.UsageError(QStringLiteral("读取同行宝贝时必须用 --seller 给出同行的旺旺"));
    if (!rival && !seller.isNull())
        context.UsageError(QStringLiteral("--seller 只用于同行宝贝（与 --rival-of 一起）；自己的宝贝按“我的旺旺”核对"));

    const TConnection con = context.OpenDatabase();
    ApplyTlsResume(con);
    TReadItem reader(con);
    reader.TargetWnd = 0;
    reader.FreeWhenDone = false;
    reader.ResultMsg = WM_READITEM_RESULT;
    reader.ReadModeOverride = browser ? rmBrowser : rmDirect;
    if (rival) {
        // A rival item always belongs to an own item that exists.
        TRecordSet items(con);
        items.Reopen(QStringLiteral("select * from Items where ItemID=?"), {TrimBlanks(rivalOf)});
        if (items.Eof())
            throw TCliExit{kExitRefused, QStringLiteral("没有 ItemID 为 %1 的宝贝").arg(TrimBlanks(rivalOf))};
        reader.URL = TrimBlanks(context.args.first());
        reader.LocalItemID = TrimBlanks(rivalOf);
        reader.ExpectedSeller = TrimBlanks(seller);
    } else {
        TRecordSet setting(con);
        reader.URL = context.args.first();
        reader.LocalItemID.clear();
        reader.ExpectedSeller = LoadSettings(setting).ownAccount;
    }
    RunReading(reader);

    const int code = reader.ResultCode;
    context.out << "ResultCode: " << code << ' ' << TReadItem::ResultName(code) << '\n';
    WriteLine(context.out, "ItemName", reader.ItemName);
    WriteLine(context.out, "SellerNick", reader.SellerNick);
    WriteLine(context.out, "ItemID", reader.ItemID);
    WriteLine(context.out, "Price", FormatPrice(reader.Price));
    WriteLine(context.out, "SellCount", QString::number(reader.SellCount));
    WriteLine(context.out, "ErrorText", reader.ErrorText);
    if (reader.SellerByShopName)
        WriteLine(context.out, "SellerCheck",
                  QStringLiteral("页面没有卖家旺旺，按店铺名称“%1”核对").arg(TrimBlanks(reader.Fields.shopName.text)));
    if (explain) {
        WriteExplanation(context.out, reader.Fields);
        WriteLine(context.out, "Timing",
                  reader.Timing.isEmpty() ? QStringLiteral("none 没有直接下载页面")
                                          : THttpTiming::DisplayFromStored(reader.Timing));
    }
    if (code == TReadItem::rcUpdated || code == TReadItem::rcAdded)
        return kExitOk;
    // Every refusal says why on the message channel, a page without an item too.
    QString reason = reader.ErrorText;
    if (reason.isEmpty() && code == TReadItem::rcNoItem)
        reason = QStringLiteral("页面中没有找到宝贝编号，这不是宝贝页面或页面已变化：%1").arg(ShownAddress(reader.URL));
    if (reason.isEmpty())
        reason = ReadResultMessage(code).trimmed();
    context.err << reason << '\n';
    return kExitRefused;
}

int RunSettings(TCliContext& context) {
    const QString interval = context.TakeOption(QStringLiteral("--interval"));
    const QString ownAccount = context.TakeOption(QStringLiteral("--own-account"));
    const QString ownShop = context.TakeOption(QStringLiteral("--own-shop"));
    const QString tlsResume = context.TakeOption(QStringLiteral("--tls-resume"));
    if (!context.args.isEmpty())
        context.UsageError(QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));
    if (!tlsResume.isNull() && tlsResume != QLatin1String("on") && tlsResume != QLatin1String("off"))
        context.UsageError(QStringLiteral("--tls-resume 只能是 on 或 off"));

    TRecordSet qry(context.OpenDatabase());
    TSettingValues values = LoadSettings(qry);
    if (!interval.isNull()) {
        const int minutes = ParseUpdateMinutes(interval);
        if (!IsAllowedUpdateMinutes(minutes))
            throw TCliExit{kExitRefused, SettingTexts::TooShort};
        StoreSettings(qry, minutes, std::nullopt);
    }
    // A value given on the command line is the user's word, an empty one too.
    TOwnShopChange ownShopChange;
    if (!ownAccount.isNull())
        ownShopChange.ownAccount = ownAccount;
    if (!ownShop.isNull())
        ownShopChange.shopName = ownShop;
    if (ownShopChange.ownAccount || ownShopChange.shopName)
        StoreOwnShop(qry, ownShopChange);
    if (!interval.isNull() || !ownAccount.isNull() || !ownShop.isNull()) {
        context.err << SettingTexts::Saved << '\n';
        values = LoadSettings(qry);
    }
    if (!tlsResume.isNull()) {
        SetTlsResume(qry.Connection(), tlsResume == QLatin1String("on"));
        if (interval.isNull() && ownAccount.isNull() && ownShop.isNull())
            context.err << SettingTexts::Saved << '\n';
    }
    WriteLine(context.out, "UpdateTimeOut", values.updateTimeOut);
    WriteLine(context.out, "WW", values.ownAccount);
    WriteLine(context.out, "OwnShopName", OwnShopName(qry.Connection()));
    WriteLine(context.out, "TlsResume", TlsResumeOn(qry.Connection()) ? QStringLiteral("on") : QStringLiteral("off"));
    return kExitOk;
}

const TCliRegistration
    readItem("read-item",
             "read-item URL [--rival-of OWN_ITEM_ID --seller ACCOUNT] [--explain] [--browser]   "
             "读取一个宝贝页面并保存；--explain 列出每项的来源和下载各阶段的用时；--browser 用浏览器读取",
             &RunReadItem);
const TCliRegistration settings("settings",
                                "settings [--interval MINUTES] [--own-account NAME] [--own-shop SHOP_NAME] "
                                "[--tls-resume on|off]   "
                                "查看或修改系统设置；--own-shop 设置“我的店铺名称”；--tls-resume 复用加密会话",
                                &RunSettings);

} // namespace

void RunReading(TReadItem& reader) {
    // This thread keeps handling events while it waits: a rendered reading runs the browser here,
    // and a termination signal ends the reading as a stopped one, as the window's exit does.
    QEventLoop loop;
    QObject::connect(&reader, &QThread::finished, &loop, &QEventLoop::quit);
    QObject::connect(&TTermSignals::Install(), &TTermSignals::received, &reader, &TReadItem::RequestStop);
    if (TTermSignals::Received())
        reader.RequestStop();
    reader.start();
    loop.exec();
    reader.wait();
}

} // namespace vantero::cli
