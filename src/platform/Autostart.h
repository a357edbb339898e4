#pragma once

#include <QString>

// The XDG autostart entry that starts Zelvane at login:
// $XDG_CONFIG_HOME/autostart/app.zelvane.Zelvane.desktop
namespace Autostart {
QString entryPath();
// Writes the entry for `executable`; false when it cannot be written.
bool enable(const QString &executable);
bool disable();
bool isEnabled();
} // namespace Autostart
