#include "ProcessMemory.h"

#include "PlatformLog.h"

#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

void ProcessMemory::returnFreePages() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

QImage ProcessMemory::imageOutsideHeap(QSize size, QImage::Format format) {
    if (size.isEmpty() || format == QImage::Format_Invalid)
        return {};
    const int bitsPerPixel = QImage::toPixelFormat(format).bitsPerPixel();
    const auto bytesPerLine = qsizetype((qint64(size.width()) * bitsPerPixel + 31) / 32 * 4);
    const auto bytes = size_t(bytesPerLine) * size_t(size.height());
    void *pixels = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pixels == MAP_FAILED) {
        qCWarning(lcPlatform) << "no mapping for an image of" << size
                              << "pixels:" << std::strerror(errno);
        QImage image(size, format);
        image.fill(Qt::transparent);
        return image;
    }
    struct Mapping {
        void *pixels;
        size_t bytes;
    };
    // Fresh anonymous pages are zero: transparent in every format with alpha.
    return QImage(
        static_cast<uchar *>(pixels), size.width(), size.height(), bytesPerLine, format,
        [](void *info) {
            const auto *mapping = static_cast<Mapping *>(info);
            munmap(mapping->pixels, mapping->bytes);
            delete mapping;
        },
        new Mapping{pixels, bytes});
}
