// read-item: one item page read and stored as the windows read it; settings: shown or changed.
#include "catalogue/GridData.h"
#include "catalogue/MainData.h"
#include "catalogue/Settings.h"
#include "cli/Cli.h"
#include "common/TextHelpers.h"
#include "net/HttpEngine.h"
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
    auto source = [&](const char* name, const TFieldReading& field) {
        QString line = FieldSourceKey(field.source) + u' ' + FieldSourceText(field.source);
        if (!field.detail.isEmpty())
            line += QStringLiteral("：") + field.detail;
        WriteLine(out, name, line);
    };
    source("ItemNameFrom", fields.itemName);
    source("SellerNickFrom", fields.sellerNick);
    source("ItemIDFrom", fields.itemId);
    source("PriceFrom", fields.price);
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
    // This thread keeps handling events while it waits: a rendered reading runs the browser here.
    QEventLoop loop;
    QObject::connect(&reader, &QThread::finished, &loop, &QEventLoop::quit);
    reader.start();
    loop.exec();
    reader.wait();

    const int code = reader.ResultCode;
    context.out << "ResultCode: " << code << ' ' << TReadItem::ResultName(code) << '\n';
    WriteLine(context.out, "ItemName", reader.ItemName);
    WriteLine(context.out, "SellerNick", reader.SellerNick);
    WriteLine(context.out, "ItemID", reader.ItemID);
    WriteLine(context.out, "Price", FormatPrice(reader.Price));
    WriteLine(context.out, "SellCount", QString::number(reader.SellCount));
    WriteLine(context.out, "ErrorText", reader.ErrorText);
    if (explain) {
        WriteExplanation(context.out, reader.Fields);
        WriteLine(context.out, "Timing",
                  reader.Timing.isEmpty() ? QStringLiteral("none 没有直接下载页面")
                                          : THttpTiming::DisplayFromStored(reader.Timing));
    }
    return code == TReadItem::rcUpdated || code == TReadItem::rcAdded ? kExitOk : kExitRefused;
}

int RunSettings(TCliContext& context) {
    const QString interval = context.TakeOption(QStringLiteral("--interval"));
    const QString ownAccount = context.TakeOption(QStringLiteral("--own-account"));
    const QString tlsResume = context.TakeOption(QStringLiteral("--tls-resume"));
    if (!context.args.isEmpty())
        context.UsageError(QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));
    if (!tlsResume.isNull() && tlsResume != QLatin1String("on") && tlsResume != QLatin1String("off"))
        context.UsageError(QStringLiteral("--tls-resume 只能是 on 或 off"));

    TRecordSet qry(context.OpenDatabase());
    TSettingValues values = LoadSettings(qry);
    if (!interval.isNull() || !ownAccount.isNull()) {
        std::optional<int> minutes;
        if (!interval.isNull()) {
            minutes = ParseUpdateMinutes(interval);
            if (!IsAllowedUpdateMinutes(*minutes))
                throw TCliExit{kExitRefused, SettingTexts::TooShort};
        }
        std::optional<QString> account;
        if (!ownAccount.isNull())
            account = ownAccount;
        StoreSettings(qry, minutes, account);
        context.err << SettingTexts::Saved << '\n';
        values = LoadSettings(qry);
    }
    WriteLine(context.out, "UpdateTimeOut", values.updateTimeOut);
    WriteLine(context.out, "WW", values.ownAccount);
    if (!tlsResume.isNull()) {
        SetTlsResume(qry.Connection(), tlsResume == QLatin1String("on"));
        if (interval.isNull() && ownAccount.isNull())
            context.err << SettingTexts::Saved << '\n';
    }
    WriteLine(context.out, "TlsResume", TlsResumeOn(qry.Connection()) ? QStringLiteral("on") : QStringLiteral("off"));
    return kExitOk;
}

const TCliRegistration
    readItem("read-item",
             "read-item URL [--rival-of OWN_ITEM_ID --seller ACCOUNT] [--explain] [--browser]   "
             "读取一个宝贝页面并保存；--explain 列出每项的来源和下载各阶段的用时；--browser 用浏览器读取",
             &RunReadItem);
const TCliRegistration settings("settings",
                                "settings [--interval MINUTES] [--own-account NAME] [--tls-resume on|off]   "
                                "查看或修改系统设置（--tls-resume：复用加密会话）",
                                &RunSettings);

} // namespace

} // namespace vantero::cli
