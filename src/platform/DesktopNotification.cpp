#include "DesktopNotification.h"

#include "PlatformLog.h"

#include <QCoroDBusPendingCall>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QLoggingCategory>

namespace {}

namespace DesktopNotification {
QCoro::Task<bool> show(QString summary, QString body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        co_return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Zelvane") << uint(0) << QStringLiteral("app.zelvane.Zelvane") << summary
         << body << QStringList() << QVariantMap() << int(-1);
    const QDBusMessage reply = co_await bus.asyncCall(call);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(lcPlatform) << "no desktop notification:" << reply.errorMessage();
        co_return false;
    }
    co_return true;
}
} // namespace DesktopNotification
