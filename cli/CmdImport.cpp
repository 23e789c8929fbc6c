// import: the database import; check-update: one question to the vendor's version service.
#include "cli/Cli.h"
#include "store/DataImport.h"
#include "vendor/utCheckUpdate.h"

namespace vantero::cli {

namespace {

int RunImport(TCliContext& context) {
    if (context.args.size() != 1)
        context.UsageError(QStringLiteral("import 需要一个数据库文件"));
    const QString path = context.args.first().trimmed();
    if (path.isEmpty())
        throw TCliExit{kExitRefused, ImportTexts::NoFile};

    TDataImport import(context.OpenDatabase());
    QString message;
    if (!import.ConnectSource(path, &message))
        throw TCliExit{kExitRefused, message};
    const int items = import.ImportItems();
    const int rivals = import.ImportRivals();
    const int rivalItems = import.ImportRivalItems();
    context.out << QStringLiteral("Items\t%1\nRival\t%2\nRivalItems\t%3\n").arg(items).arg(rivals).arg(rivalItems);
    context.err << ImportTexts::Done << '\n';
    return kExitOk;
}

int RunCheckUpdate(TCliContext& context) {
    QString host = context.TakeOption(QStringLiteral("--host"));
    if (!context.args.isEmpty())
        context.UsageError(QStringLiteral("多余的参数：%1").arg(context.args.join(u' ')));
    if (host.isNull())
        host = VendorDownloadHost();
    context.out << QueryServerVersion(host, kSoftName, TCheckUpdate::kReadTimeoutMs) << '\n';
    return kExitOk;
}

const TCliRegistration importRegistration("import", "import FILE   从另一个数据库文件导入缺少的宝贝、同行和对应关系",
                                          &RunImport);
const TCliRegistration checkRegistration("check-update", "check-update [--host HOST[:PORT]]   向版本服务查询最新版本号",
                                         &RunCheckUpdate);

} // namespace

} // namespace vantero::cli
