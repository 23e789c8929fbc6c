// The engine against a server that answers every request with the fuzz input and closes: status
// lines, headers, chunked and compressed bodies, redirects, cut answers. Addresses that are not on
// this machine go to a proxy port where nobody listens, so nothing leaves the machine.
#include "net/HttpEngine.h"
#include "support/RawTestServer.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace vantero;
using namespace vantero::test;

namespace {

std::mutex gMutex;
QByteArray gAnswer;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TRawTestServer* server = [] {
        SetHttpProxy(QUrl(QStringLiteral("http://127.0.0.1:9")));
        return new TRawTestServer([](TRawConnection& connection) {
            if (connection.readRequest(2000).isEmpty())
                return;
            QByteArray answer;
            {
                std::lock_guard lock(gMutex);
                answer = gAnswer;
            }
            connection.send(answer);
        });
    }();
    {
        std::lock_guard lock(gMutex);
        gAnswer = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
    }
    THttpRequest request;
    request.url = QUrl(server->url(QStringLiteral("/item.htm?id=1")));
    request.limits = {2000, 2000, 1 << 20, 3};
    try {
        const THttpResponse response = HttpGet(request);
        // A success is a whole answer within the limits, never more than was sent when plain.
        if (response.status < 200 || response.status > 299 || response.body.size() > request.limits.maxBytes)
            std::abort();
    } catch (const THttpFailure& failure) {
        if (failure.text.isEmpty())
            std::abort();
    }
    // The server's side of this input ends before the next, so nothing of it is in flight when
    // the fuzzer looks for leaks.
    while (server->finished() < server->connections())
        std::this_thread::yield();
    return 0;
}
