// An item page as a reading takes it apart: the first byte picks how the answer declares the
// page's encoding (none and GBK by default, GBK, UTF-8, an unknown charset), the rest is the page.
#include "reader/PageText.h"
#include "reader/UtReadItemThr.h"

#include <cstdint>

using namespace vantero;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    static const QByteArray kContentTypes[] = {"text/html", "text/html; charset=GBK", "text/html; charset=utf-8",
                                               "text/html; charset=x-unknown"};
    static TReadItem reader{TConnection()};
    const TPageText page(QByteArray(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1)),
                         kContentTypes[data[0] % 4]);
    reader.ItemName.clear();
    reader.SellerNick.clear();
    reader.ItemID.clear();
    reader.ParsePage(page);
    TReadItem::ConvertPrice(reader.ItemName);
    TReadItem::ConvertSales(reader.SellerNick);
    return 0;
}
