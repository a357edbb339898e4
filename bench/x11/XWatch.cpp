// The X side of scripts/measure, one line on stdout per thing seen, each stamped with the
// wall clock in microseconds (the app stamps its own lines with the same clock):
//   monitor <x> <y> <w> <h>                     each monitor, once at the start
//   ready                                       the tray is owned and damage is watched
//   docked us=<t> window=<id>                   a tray icon asked to dock and was embedded
//   damage us=<t> <x> <y> <w> <h>               something was drawn on the screen
// It owns the XEmbed system tray selection (no panel runs on the private Xorg) and watches
// the root window's damage, which without a compositor covers every window drawn.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xrandr.h>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <string>

namespace {
long long nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

constexpr long dockRequest = 0;
constexpr long embeddedNotify = 0;
constexpr int iconSize = 24;
} // namespace

int main() {
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "xwatch: no display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);

    int monitorCount = 0;
    if (XRRMonitorInfo *monitors = XRRGetMonitors(display, root, True, &monitorCount)) {
        for (int i = 0; i < monitorCount; ++i)
            std::printf("monitor %d %d %d %d\n", monitors[i].x, monitors[i].y, monitors[i].width,
                        monitors[i].height);
        XRRFreeMonitors(monitors);
    }

    int damageEvent = 0, damageError = 0;
    if (!XDamageQueryExtension(display, &damageEvent, &damageError)) {
        std::fprintf(stderr, "xwatch: no DAMAGE extension\n");
        return 1;
    }
    XDamageCreate(display, root, XDamageReportRawRectangles);

    // The tray: a strip at the top left, above everything the window manager places.
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display, screen);
    attributes.event_mask = SubstructureNotifyMask;
    const Window tray =
        XCreateWindow(display, root, 0, 0, iconSize * 4, iconSize, 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
    const long horizontal = 0;
    XChangeProperty(display, tray, XInternAtom(display, "_NET_SYSTEM_TRAY_ORIENTATION", False),
                    XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(&horizontal), 1);
    XMapRaised(display, tray);
    const std::string selectionName = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
    const Atom selection = XInternAtom(display, selectionName.c_str(), False);
    const Atom opcode = XInternAtom(display, "_NET_SYSTEM_TRAY_OPCODE", False);
    const Atom xembed = XInternAtom(display, "_XEMBED", False);
    XSetSelectionOwner(display, selection, tray, CurrentTime);
    XEvent manager = {};
    manager.xclient.type = ClientMessage;
    manager.xclient.window = root;
    manager.xclient.message_type = XInternAtom(display, "MANAGER", False);
    manager.xclient.format = 32;
    manager.xclient.data.l[0] = CurrentTime;
    manager.xclient.data.l[1] = long(selection);
    manager.xclient.data.l[2] = long(tray);
    XSendEvent(display, root, False, StructureNotifyMask, &manager);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);

    int docked = 0;
    pollfd connection = {ConnectionNumber(display), POLLIN, 0};
    for (;;) {
        if (XPending(display) == 0) {
            if (poll(&connection, 1, -1) < 0)
                continue;
        }
        const long long stamp = nowUs();
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == damageEvent + XDamageNotify) {
                const auto &damage = reinterpret_cast<const XDamageNotifyEvent &>(event);
                std::printf("damage us=%lld %d %d %d %d\n", stamp, damage.area.x, damage.area.y,
                            damage.area.width, damage.area.height);
            } else if (event.type == ClientMessage && event.xclient.message_type == opcode &&
                       event.xclient.data.l[1] == dockRequest) {
                const Window icon = Window(event.xclient.data.l[2]);
                XReparentWindow(display, icon, tray, iconSize * docked++, 0);
                XResizeWindow(display, icon, iconSize, iconSize);
                XMapRaised(display, icon);
                XEvent notify = {};
                notify.xclient.type = ClientMessage;
                notify.xclient.window = icon;
                notify.xclient.message_type = xembed;
                notify.xclient.format = 32;
                notify.xclient.data.l[0] = CurrentTime;
                notify.xclient.data.l[1] = embeddedNotify;
                notify.xclient.data.l[3] = long(tray);
                XSendEvent(display, icon, False, NoEventMask, &notify);
                XSync(display, False);
                std::printf("docked us=%lld window=0x%lx\n", stamp, icon);
            }
        }
        std::fflush(stdout);
    }
}
