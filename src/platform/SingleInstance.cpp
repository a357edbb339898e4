#include "SingleInstance.h"

#include "PlatformLog.h"

#include <QCoroDBusPendingCall>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QLoggingCategory>

namespace {

const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");
const QString applicationInterface = QStringLiteral("org.freedesktop.Application");

// RequestName flags and replies as the D-Bus standard defines them.
constexpr uint doNotQueue = 4;
constexpr uint primaryOwner = 1;
constexpr uint alreadyOwner = 4;
} // namespace

// The org.freedesktop.Application interface that desktops and later starts call.
class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationAdaptor(SingleInstance *owner)
        : QDBusAbstractAdaptor(owner)
        , m_owner(owner) {}

public Q_SLOTS:
    void Activate(const QVariantMap &) { Q_EMIT m_owner->activated(); }
    void Open(const QStringList &, const QVariantMap &) { Q_EMIT m_owner->activated(); }
    void ActivateAction(const QString &, const QVariantList &, const QVariantMap &) {
        Q_EMIT m_owner->activated();
    }

private:
    SingleInstance *m_owner;
};

SingleInstance::SingleInstance(QObject *parent)
    : QObject(parent) {
    new ApplicationAdaptor(this);
    // Registered before the name is requested, so a caller that sees the name finds the object.
    m_registered = QDBusConnection::sessionBus().registerObject(objectPath, this);
}

SingleInstance::~SingleInstance() {
    if (m_registered)
        QDBusConnection::sessionBus().unregisterObject(objectPath);
}

QCoro::Task<bool> SingleInstance::claim() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        co_return true;
    QDBusMessage request = QDBusMessage::createMethodCall(busService, busPath, busService,
                                                          QStringLiteral("RequestName"));
    request << serviceName << doNotQueue;
    const QDBusMessage reply = co_await bus.asyncCall(request);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(lcPlatform) << "requesting the bus name failed:" << reply.errorMessage();
        co_return true;
    }
    const uint result = reply.arguments().value(0).toUInt();
    co_return result == primaryOwner || result == alreadyOwner;
}

QCoro::Task<> SingleInstance::release() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        co_return;
    QDBusMessage request = QDBusMessage::createMethodCall(busService, busPath, busService,
                                                          QStringLiteral("ReleaseName"));
    request << serviceName;
    co_await bus.asyncCall(request);
}

QCoro::Task<bool> SingleInstance::activateRunning() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        co_return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        serviceName, objectPath, applicationInterface, QStringLiteral("Activate"));
    call << QVariantMap();
    const QDBusMessage reply = co_await bus.asyncCall(call);
    if (reply.type() != QDBusMessage::ReplyMessage)
        qCWarning(lcPlatform) << "activating the running Zelvane failed:" << reply.errorMessage();
    co_return reply.type() == QDBusMessage::ReplyMessage;
}

#include "SingleInstance.moc"
