#include "DesktopNotification.h"

#include "PlatformLog.h"

#include <QCoroDBusPendingCall>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QPointer>
#include <QVariantMap>

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString appId = QStringLiteral("app.zelvane.Zelvane");
constexpr int answerLimitMs = 5000;
} // namespace

DesktopNotification::DesktopNotification(QObject *parent)
    : QObject(parent) {
    // Matched on path and interface alone: naming the service would make Qt look up its
    // owner synchronously. Ids of other applications' notifications are ignored below.
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(QString(), path, service, QStringLiteral("ActionInvoked"), this,
                SLOT(onActionInvoked(uint, QString)));
    bus.connect(QString(), path, service, QStringLiteral("NotificationClosed"), this,
                SLOT(onNotificationClosed(uint, uint)));
}

void DesktopNotification::onActionInvoked(uint id, const QString &actionKey) {
    if (m_shown.contains(id))
        Q_EMIT actionInvoked(id, actionKey);
}

void DesktopNotification::onNotificationClosed(uint id, uint) {
    if (m_shown.removeOne(id))
        Q_EMIT closed(id);
}

QCoro::Task<std::optional<uint>> DesktopNotification::show(QString summary, QString body,
                                                           QStringList actions, Urgency urgency) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        co_return std::nullopt;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    const bool critical = urgency == Urgency::critical;
    const QVariantMap hints{
        {QStringLiteral("urgency"), QVariant::fromValue(uchar(critical ? 2 : 1))},
        {QStringLiteral("desktop-entry"), appId},
    };
    // Zero keeps it up until the user answers; -1 leaves the timeout to the server.
    const int expireTimeout = critical ? 0 : -1;
    call << QStringLiteral("Zelvane") << uint(0) << appId << summary << body << actions << hints
         << expireTimeout;
    QPointer<DesktopNotification> self(this);
    const QDBusMessage reply = co_await bus.asyncCall(call, answerLimitMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() ||
        reply.arguments().constFirst().typeId() != QMetaType::UInt) {
        qCWarning(lcPlatform) << "no desktop notification:" << reply.errorMessage();
        co_return std::nullopt;
    }
    const uint id = reply.arguments().constFirst().toUInt();
    if (self)
        self->m_shown.append(id);
    co_return std::optional<uint>(id);
}
