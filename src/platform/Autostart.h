#pragma once

#include <QString>

// The XDG autostart entry that starts Zelvane at login:
// $XDG_CONFIG_HOME/autostart/app.zelvane.Zelvane.desktop
namespace Autostart {
QString entryPath();
// What the entry starts for the program at `running`: itself, or for a user-local install the
// program behind its "current" link, which outlives the versioned folder an update removes.
QString launcher(const QString &running);
// Writes the entry for `executable`; false when it cannot be written. The session skips the
// entry once `executable` is gone (TryExec), so a removed Zelvane is never started.
bool enable(const QString &executable);
// Removes the entry, or a link in its place.
bool disable();
// An entry of our own: a link under its name does not count.
bool isEnabled();
// Writes the entry for the launcher of this program, or removes it.
bool apply(bool enabled);
} // namespace Autostart
