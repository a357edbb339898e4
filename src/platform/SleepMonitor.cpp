#include "SleepMonitor.h"

#include "PlatformLog.h"

#include <QDBusConnection>

SleepMonitor::SleepMonitor(QObject *parent)
    : QObject(parent) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() ||
        !bus.connect(QStringLiteral("org.freedesktop.login1"),
                     QStringLiteral("/org/freedesktop/login1"),
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
