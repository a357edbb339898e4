#pragma once

#include <QCoroTask>
#include <QString>

// Desktop notifications through org.freedesktop.Notifications on the session bus.
namespace DesktopNotification {
// False when no notification server took it.
QCoro::Task<bool> show(QString summary, QString body);
} // namespace DesktopNotification
