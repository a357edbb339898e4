#pragma once

#include <QCoroTask>

// Whether the desktop asks for quiet: the notification server's "Inhibited" property
// (org.freedesktop.Notifications on the session bus, KDE Plasma and others), or on GNOME the
// GSettings key org.gnome.desktop.notifications show-banners set to false. Both are read
// without blocking; a source that is missing or does not answer counts as "not quiet".
namespace DoNotDisturb {
QCoro::Task<bool> isOn();
QCoro::Task<bool> notificationsInhibited();
QCoro::Task<bool> bannersHidden();
} // namespace DoNotDisturb
