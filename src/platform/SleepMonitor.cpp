#include "SleepMonitor.h"

#include "PlatformLog.h"

#include <QDBusConnection>

SleepMonitor::SleepMonitor(QObject *parent)
    : QObject(parent) {
    // Matched on path and interface alone: naming the service would make Qt look up its owner
    // with a call that blocks the start-up.
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() ||
        !bus.connect(QString(), QStringLiteral("/org/freedesktop/login1"),
                     QStringLiteral("org.freedesktop.login1.Manager"),
                     QStringLiteral("PrepareForSleep"), this, SLOT(onPrepareForSleep(bool))))
        qCInfo(lcPlatform) << "Sleep is not announced on this system; clock jumps stand in";
}

void SleepMonitor::onPrepareForSleep(bool sleeping) {
    if (sleeping)
        Q_EMIT aboutToSleep();
    else
        Q_EMIT woke();
}
