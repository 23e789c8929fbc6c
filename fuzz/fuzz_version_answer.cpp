// The version service's answer: lines of name=value, looked up for our soft name.
#include "vendor/utCheckUpdate.h"

#include <cstdint>

using namespace vantero;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ParseServerVersion(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), kSoftName);
    return 0;
}
