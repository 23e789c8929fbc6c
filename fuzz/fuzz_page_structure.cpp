// The structured reading of a page: the first byte picks how the answer is labelled (HTML with
// no charset, GBK or UTF-8; a JSON or a script answer) and whether the document counts as a
// browser's; the rest is the page. The script-literal reader also runs on the text alone. No
// input may crash, hang or grow memory beyond the page's size.
#include "reader/PageFields.h"
#include "reader/PageText.h"
#include "reader/ScriptLiteral.h"

#include <cstdint>

using namespace vantero;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    static const QByteArray kContentTypes[] = {"text/html", "text/html; charset=GBK", "text/html; charset=utf-8",
                                               "application/json; charset=utf-8",
                                               "application/javascript; charset=gbk"};
    const uint8_t mode = data[0];
    const QByteArray bytes(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    const TPageText page(bytes, kContentTypes[mode % 5]);
    static const QUrl address(QStringLiteral("http://item.example.test/item.htm?id=1234567"));
    const TItemFields fields = ReadItemFields(page, address, {}, (mode & 0x80) != 0);
    if (fields.priceState == TPriceState::Found && !(fields.priceValue > 0 && fields.priceHigh >= fields.priceValue))
        __builtin_trap(); // a found price is above 0 and no higher than its range's end
    for (const TScriptBlock& block : ScriptBlocks(page.text(), 20000))
        (void)block.name.size();
    return 0;
}
