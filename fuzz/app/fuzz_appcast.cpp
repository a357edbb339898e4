// The update feed arrives from the network before anything about it is trusted.
#include "app/Appcast.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray feed(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto items = Appcast::parse(feed);
    if (!items)
        return 0;
    for (const AppcastItem &item : *items) {
        // Every kept item can be offered: it has a version and a signed web download.
        if (item.displayVersion().isEmpty() || item.enclosures.isEmpty())
            std::abort();
        for (const AppcastEnclosure &enclosure : item.enclosures)
            if (enclosure.length <= 0 || enclosure.edSignature.isEmpty() ||
                !enclosure.url.isValid())
                std::abort();
        (void)item.toRecord();
    }
    if (const auto newest = Appcast::newest(*items)) {
        for (const AppcastItem &item : *items)
            if (Appcast::compareVersions(item.displayVersion(), newest->displayVersion()) > 0)
                std::abort();
    }
    return 0;
}
