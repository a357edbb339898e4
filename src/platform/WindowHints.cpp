#include "WindowHints.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>
#include <xcb/xcb.h>

namespace {
bool isX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

xcb_connection_t *connection() {
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name) {
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(c, 0, uint16_t(strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::vector<xcb_atom_t> atoms(xcb_connection_t *c, std::initializer_list<const char *> names) {
    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (const char *name : names)
        cookies.push_back(xcb_intern_atom(c, 0, uint16_t(strlen(name)), name));
    std::vector<xcb_atom_t> result;
    for (const xcb_intern_atom_cookie_t cookie : cookies) {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
        result.push_back(reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE));
    }
    return result;
}

// The X screen number the display name selects (":0.1" is screen 1); Qt joins every monitor
// of that screen into one X screen, so this is the number the compositing selection uses.
int defaultScreenNumber() {
    int screen = 0;
    char *host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) == 0)
        return 0;
    std::free(host);
    return screen;
}
} // namespace

void WindowHints::setAboveAllOnAllWorkspaces(QWindow *window) {
    if (!window || !isX11())
        return;
    xcb_connection_t *c = connection();
    if (!c)
        return;
    const auto id = xcb_window_t(window->winId());
    // One round trip for every name rather than one each.
    const std::vector<xcb_atom_t> names =
        atoms(c, {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_FULLSCREEN", "_NET_WM_STATE_STICKY",
                  "_NET_WM_STATE", "_NET_WM_DESKTOP"});
    const std::vector<xcb_atom_t> states(names.begin(), names.begin() + 3);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, names[3], XCB_ATOM_ATOM, 32,
                        uint32_t(states.size()), states.data());
    // 0xFFFFFFFF is "all desktops" for window managers that read the desktop, not the state.
    const uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, names[4], XCB_ATOM_CARDINAL, 32, 1,
                        &allDesktops);
    xcb_flush(c);
}

bool WindowHints::hasCompositingManager(const QScreen *) {
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return true;
    if (!isX11())
        return false;
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    const QByteArray selection = "_NET_WM_CM_S" + QByteArray::number(defaultScreenNumber());
    const xcb_atom_t selectionAtom = atom(c, selection.constData());
    if (selectionAtom == XCB_ATOM_NONE)
        return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selectionAtom), nullptr),
        &std::free);
    return reply && reply->owner != XCB_WINDOW_NONE;
}

void WindowHints::sendQueuedRequests() {
    if (xcb_connection_t *c = connection())
        xcb_flush(c);
}
