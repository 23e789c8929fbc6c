// detail, map, unmap, rename, delete-item: the commands of the detail panel and the item
// mapping dialog.
#include "catalogue/ItemCommands.h"
#include "catalogue/MainData.h"
#include "cli/Cli.h"
#include "cli/Output.h"
#include "common/TextHelpers.h"
#include "reader/UtReadItemThr.h"

namespace vantero::cli {

namespace {

const QString kNoItem = QStringLiteral("没有宝贝编号为 %1 的宝贝");

// The arguments of a command, exactly count of them.
QStringList TakeArguments(TCliContext& context, int count) {
    if (context.args.size() != count)
        context.UsageError(context.args.size() < count ? QStringLiteral("缺少参数")
                                                       : QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));
    return context.args;
}

// The own item, with data.qry left on its Items record; a missing item ends the command.
TItem RequireItem(TMainData& data, const QString& itemId) {
    data.qry.Reopen(kSelectItems);
    std::optional<TItem> item = LocateItem(data.qry, itemId);
    if (!item)
        throw TCliExit{kExitRefused, kNoItem.arg(itemId)};
    return *item;
}

int RunDetail(TCliContext& context) {
    const bool json = context.TakeJsonFlag();
    const QString itemId = TakeArguments(context, 1).at(0);

    TMainData data(context.OpenDatabase());
    data.LoadRivals();
    const TItem item = RequireItem(data, itemId);
    const QStringList header{QStringLiteral("序号"), QStringLiteral("店主"),         QStringLiteral("宝贝名称"),
                             QStringLiteral("价格"), QStringLiteral("最后更新时间"), QStringLiteral("宝贝地址")};
    WriteTable(context.out, header, DetailRows(data.RivalAccounts, item, data.qryDetail), json);
    return kExitOk;
}

int RunMap(TCliContext& context) {
    const QStringList args = TakeArguments(context, 3);
    TMainData data(context.OpenDatabase());
    data.LoadRivals();
    const TItem item = RequireItem(data, args[0]);
    const QString account = TrimBlanks(args[1]);
    // As in the mapping dialog, only a listed rival shop can be chosen.
    bool listed = false;
    for (const QString& rival : std::as_const(data.RivalAccounts))
        listed = listed || TrimBlanks(rival).compare(account, Qt::CaseInsensitive) == 0;
    if (!listed)
        throw TCliExit{kExitRefused, QStringLiteral("%1 不是已添加的同行").arg(account)};
    const QString address = TrimBlanks(args[2]);
    if (address.isEmpty())
        context.UsageError(QStringLiteral("宝贝地址为空"));

    TReadItem reader(data.con);
    reader.URL = address;
    reader.LocalItemID = item.ItemID;
    reader.ExpectedSeller = account;
    reader.FreeWhenDone = false;
    reader.ResultMsg = WM_READITEM_RESULT;
    RunReading(reader);

    context.out << TReadItem::ResultName(reader.ResultCode) << " (" << reader.ResultCode << ")\n";
    const QString message = ReadResultMessage(reader.ResultCode);
    if (message.isEmpty())
        return kExitOk;
    context.err << message << '\n';
    if (!reader.ErrorText.isEmpty())
        context.err << reader.ErrorText << '\n';
    return kExitRefused;
}

int RunUnmap(TCliContext& context) {
    const QStringList args = TakeArguments(context, 2);
    TMainData data(context.OpenDatabase());
    const TItem item = RequireItem(data, args[0]);
    DeleteMapping(data.con, item.ItemID, TrimBlanks(args[1]));
    return kExitOk;
}

int RunRename(TCliContext& context) {
    const QStringList args = TakeArguments(context, 2);
    TMainData data(context.OpenDatabase());
    const TItem item = RequireItem(data, args[0]);
    StoreCustomName(data.qry, item.ItemID, TrimBlanks(args[1]));
    return kExitOk;
}

int RunDeleteItem(TCliContext& context) {
    const bool confirmed = context.TakeFlag(QStringLiteral("--yes"));
    const QString itemId = TakeArguments(context, 1).at(0);
    if (!confirmed)
        context.UsageError(QStringLiteral("删除宝贝需要 --yes 确认"));
    TMainData data(context.OpenDatabase());
    const TItem item = RequireItem(data, itemId);
    DeleteLocatedItem(data.qry, data.con, item.ItemID);
    context.err << ItemTexts::Deleted.arg(item.ItemName) << '\n';
    return kExitOk;
}

const TCliRegistration detailRegistration("detail", "detail OWN_ITEM_ID [--csv | --json]   打印宝贝的详细列表",
                                          &RunDetail);
const TCliRegistration mapRegistration("map", "map OWN_ITEM_ID ACCOUNT RIVAL_ITEM_URL   读取同行宝贝并设置对应关系",
                                       &RunMap);
const TCliRegistration unmapRegistration("unmap", "unmap OWN_ITEM_ID ACCOUNT   删除与该同行宝贝的对应关系", &RunUnmap);
const TCliRegistration renameRegistration("rename", "rename OWN_ITEM_ID NAME   更改宝贝名称（空名称恢复宝贝标题）",
                                          &RunRename);
const TCliRegistration deleteRegistration("delete-item", "delete-item OWN_ITEM_ID --yes   删除宝贝及其同行记录",
                                          &RunDeleteItem);

} // namespace

} // namespace vantero::cli
