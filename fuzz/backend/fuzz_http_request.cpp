// Whatever arrives on the stand-in's port: the request parser, then the routes behind it.
#include "BackendRouter.h"
#include "HttpRequest.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks where the bytes are split in two reads, as TCP may deliver them.
    const QByteArrayView bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    const qsizetype split = bytes.isEmpty() ? 0 : qsizetype(data[0]) % (bytes.size() + 1);

    HttpRequestParser parser;
    parser.feed(bytes.first(split));
    const HttpRequestParser::State state = parser.feed(bytes.sliced(split));

    HttpRequestParser whole;
    if (whole.feed(bytes) != state)
        __builtin_trap();
    if (state == HttpRequestParser::State::Invalid &&
        (parser.errorStatus() < 400 || parser.errorStatus() > 499 ||
         parser.errorReason().isEmpty()))
        __builtin_trap();
    if (state != HttpRequestParser::State::Complete)
        return 0;

    const HttpRequest &request = parser.request();
    if (request.method.isEmpty() || !request.path.startsWith(QLatin1Char('/')) ||
        request.body.toUtf8().size() > HttpRequestParser::maxBodyBytes)
        __builtin_trap();

    // Asking for up to 100,000 generated events is slow by design, not a finding.
    if (request.path.startsWith(QLatin1String("/_admin/grants")))
        return 0;
    BackendRouter router(QStringLiteral("fuzz"), true);
    router.setOrigin(QStringLiteral("http://127.0.0.1:1"));
    const HttpResponse response = router.handle(request);
    if (response.status < 200 || response.status > 599)
        __builtin_trap();
    (void)response.serialize();
    return 0;
}
