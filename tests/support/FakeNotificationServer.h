#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// The desktop's notification server on a test's private bus: it records what it is asked to show
// (or refuses), says whether the desktop is in do-not-disturb (counting how often it is asked, and
// announcing a change as a real server does), and emits the actions the test chooses. A test
// target lists this header among its sources for moc.
class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
    Q_PROPERTY(bool Inhibited READ isInhibited)

public:
    QList<QStringList> shown; // summary, body, actions, urgency, time-out
    bool refuse = false;
    bool inhibited = false;
    int inhibitedReads = 0;

    bool isInhibited() {
        ++inhibitedReads;
        return inhibited;
    }
    // Changes Inhibited and says so on `bus`: with its new value, or only that it changed.
    void announceInhibited(QDBusConnection bus, bool value, bool withValue = true) {
        inhibited = value;
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
        const QString name = QStringLiteral("Inhibited");
        signal << QStringLiteral("org.freedesktop.Notifications")
               << (withValue ? QVariantMap{{name, value}} : QVariantMap())
               << (withValue ? QStringList() : QStringList{name});
        bus.send(signal);
    }

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int timeout) {
        if (refuse) {
            sendErrorReply(QDBusError::Failed, QStringLiteral("notifications are off"));
            return 0;
        }
        shown.append({summary, body, actions.join(u','),
                      QString::number(hints.value(QStringLiteral("urgency")).toInt()),
                      QString::number(timeout)});
        return uint(shown.size()) + 40;
    }
    void CloseNotification(uint) {}

Q_SIGNALS:
    void ActionInvoked(uint id, const QString &actionKey);
    void NotificationClosed(uint id, uint reason);
};
