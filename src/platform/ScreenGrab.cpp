#include "ScreenGrab.h"

#include "PlatformLog.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdlib>
#include <memory>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace {
template <typename T> using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

xcb_connection_t *connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// The X screen whose root holds every monitor Qt reports: the one the display name selects.
xcb_screen_t *xScreen(xcb_connection_t *c) {
    int number = 0;
    char *host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &number) == 0)
        number = 0;
    std::free(host);
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem;
         --number, xcb_screen_next(&it))
        if (number == 0)
            return it.data;
    return nullptr;
}

// Whether the root's pixels, as the server lays them out, are QImage::Format_RGB32: 24 bits
// of colour in 32-bit words of this machine's byte order, red in the high byte.
bool rootIsRgb32(xcb_connection_t *c, const xcb_screen_t *screen) {
    const xcb_setup_t *setup = xcb_get_setup(c);
    const auto hostOrder = QSysInfo::ByteOrder == QSysInfo::LittleEndian
                               ? XCB_IMAGE_ORDER_LSB_FIRST
                               : XCB_IMAGE_ORDER_MSB_FIRST;
    if (screen->root_depth != 24 || setup->image_byte_order != hostOrder)
        return false;
    bool wordPerPixel = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == 24)
            wordPerPixel = it.data->bits_per_pixel == 32;
    if (!wordPerPixel)
        return false;
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem;
         xcb_depth_next(&depths))
        for (auto visual = xcb_depth_visuals_iterator(depths.data); visual.rem;
             xcb_visualtype_next(&visual))
            if (visual.data->visual_id == screen->root_visual)
                return visual.data->red_mask == 0xff0000 && visual.data->green_mask == 0xff00 &&
                       visual.data->blue_mask == 0xff;
    return false;
}

QImage grabThroughSharedMemory(QScreen *screen) {
    xcb_connection_t *c = connection();
    if (!c || screen->devicePixelRatio() != 1.0)
        return {};
    const xcb_query_extension_reply_t *shm = xcb_get_extension_data(c, &xcb_shm_id);
    xcb_screen_t *x = xScreen(c);
    if (!shm || !shm->present || !x || !rootIsRgb32(c, x))
        return {};
    const QRect area = screen->geometry();
    const qsizetype bytesPerLine = qsizetype(area.width()) * 4;
    const auto size = size_t(bytesPerLine * area.height());
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0)
        return {};
    void *data = shmat(id, nullptr, 0);
#if defined(MADV_POPULATE_WRITE)
    // The segment's pages, and this side's mapping of them, in one call rather than one fault
    // per page while the X server writes the picture and again while the overlay dims and
    // paints it: thousands of faults, each dear in a virtual machine. A kernel that does not
    // know the advice refuses it, and the pages then come one fault at a time as before.
    if (data != reinterpret_cast<void *>(-1))
        madvise(data, size, MADV_POPULATE_WRITE);
#endif
    const xcb_shm_seg_t segment = xcb_generate_id(c);
    std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(
        data == reinterpret_cast<void *>(-1)
            ? nullptr
            : xcb_request_check(c, xcb_shm_attach_checked(c, segment, uint32_t(id), 0)),
        &std::free);
    // Gone once both sides have let go of it, whatever happens from here on.
    shmctl(id, IPC_RMID, nullptr);
    if (data == reinterpret_cast<void *>(-1))
        return {};
    if (error) {
        qCInfo(lcPlatform) << "the X server cannot share memory for a screen grab, error"
                           << error->error_code;
        shmdt(data);
        return {};
    }
    xcb_generic_error_t *grabError = nullptr;
    XcbReply<xcb_shm_get_image_reply_t> reply(
        xcb_shm_get_image_reply(c,
                                xcb_shm_get_image(c, x->root, int16_t(area.x()), int16_t(area.y()),
                                                  uint16_t(area.width()), uint16_t(area.height()),
                                                  ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment, 0),
                                &grabError),
        &std::free);
    error.reset(grabError);
    xcb_shm_detach(c, segment);
    xcb_flush(c);
    if (!reply) {
        qCInfo(lcPlatform) << "the X server did not grab the screen into shared memory, error"
                           << (error ? int(error->error_code) : 0);
        shmdt(data);
        return {};
    }
    return QImage(
        static_cast<uchar *>(data), area.width(), area.height(), bytesPerLine, QImage::Format_RGB32,
        [](void *memory) { shmdt(memory); }, data);
}
} // namespace

QImage ScreenGrab::grab(QScreen *screen) {
    if (!screen)
        return {};
    QImage image = grabThroughSharedMemory(screen);
    if (image.isNull())
        image = screen->grabWindow(0).toImage();
    return image;
}
