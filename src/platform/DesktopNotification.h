#pragma once

#include <QCoroTask>
#include <QObject>
#include <QStringList>
#include <optional>

// Desktop notifications through org.freedesktop.Notifications on the session bus, optionally
// with action buttons; the server reports which one the user chose and when a notification
// goes away.
class DesktopNotification : public QObject {
    Q_OBJECT

public:
    enum class Urgency { normal, critical };

    explicit DesktopNotification(QObject *parent = nullptr);

    // `actions` alternates keys and labels ("join", "Join", ...). A critical notification
    // stays until the user acts on it. The server's id for the notification, or nothing when
    // no server took it.
    QCoro::Task<std::optional<uint>> show(QString summary, QString body, QStringList actions = {},
                                          Urgency urgency = Urgency::normal);

Q_SIGNALS:
    // Only for notifications this object showed.
    void actionInvoked(uint id, const QString &actionKey);
    void closed(uint id);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    QList<uint> m_shown;
};
