// A shop page as the rival shops dialog reads it, and the percent decoding of account names:
// the first byte picks the page's declared encoding, the rest is the page (and, on its own, the
// text to decode).
#include "catalogue/ShopPage.h"

#include <cstdint>

using namespace vantero;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    static const QByteArray kContentTypes[] = {"", "text/html; charset=gbk", "text/html; charset=utf-8",
                                               "text/html; charset=x-unknown"};
    const QByteArray& contentType = kContentTypes[data[0] % 4];
    const QByteArrayView page(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    ReadShopPage(page, contentType);
    QByteArray decoded;
    QString error;
    if (PercentDecode(page, &decoded, &error, data[0] & 4 ? QByteArray("UTF-8") : QByteArray("GBK")) &&
        decoded.size() > page.size())
        __builtin_trap(); // decoding never lengthens a text
    return 0;
}
