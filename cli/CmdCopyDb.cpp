// copy-db: a whole database from a file to a server database and back.
#include "cli/Cli.h"
#include "store/DatabaseCopy.h"

namespace vantero::cli {

namespace {

int RunCopyDb(TCliContext& context) {
    const bool merge = context.TakeFlag(QStringLiteral("--merge"));
    if (context.args.size() != 2)
        context.UsageError(QStringLiteral("copy-db 需要源数据库和目标数据库"));
    const TRefusable<TCopyCounts> copied = CopyDatabase(context.args[0], context.args[1], merge);
    if (!copied)
        throw TCliExit{kExitRefused, copied.refusal()};
    for (const auto& [table, rows] : copied->rows)
        context.out << table << '\t' << rows << '\n';
    if (merge)
        context.err
            << CopyTexts::Merged.arg(copied->rows[0].second).arg(copied->rows[1].second).arg(copied->rows[2].second)
            << '\n';
    else
        context.err << CopyTexts::Done.arg(copied->total()) << '\n';
    return kExitOk;
}

const TCliRegistration copyRegistration(
    "copy-db",
    "copy-db [--merge] SOURCE TARGET   把整个数据库（含历史）复制到另一个数据库文件或团队数据库（postgresql://…）",
    &RunCopyDb);

} // namespace

} // namespace vantero::cli
