#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QVariantMap>

// Whether the desktop asks for quiet: the notification server's "Inhibited" property
// (org.freedesktop.Notifications on the session bus, KDE Plasma and others), or on GNOME the
// GSettings key org.gnome.desktop.notifications show-banners set to false. Both are watched
// rather than asked: the property through the server's PropertiesChanged and its coming and
// going on the bus, the key through GSettings' own change signal (where its schema is
// installed). isOn() answers at once from what was last announced; a source that is missing or
// has not answered yet counts as "not quiet".
class DoNotDisturb : public QObject {
    Q_OBJECT

public:
    explicit DoNotDisturb(QDBusConnection bus = QDBusConnection::sessionBus(),
                          QObject *parent = nullptr);
    ~DoNotDisturb() override;

    bool isOn() const { return m_inhibited || m_bannersHidden; }
    bool notificationsInhibited() const { return m_inhibited; }
    bool bannersHidden() const { return m_bannersHidden; }

Q_SIGNALS:
    void changed(bool on);

private Q_SLOTS:
    void takeProperties(const QString &interface, const QVariantMap &changed,
                        const QStringList &invalidated, const QDBusMessage &message);

private:
    void readInhibited();
    void followOwner(const QString &owner);
    void watchBanners();
    static void bannersChanged(struct _GSettings *, char *, void *self);
    void update(bool &source, bool value);

    QDBusConnection m_bus;
    QDBusServiceWatcher m_server;
    // The server's unique name while it is on the bus; signals from anyone else are ignored.
    QString m_owner;
    // Counts the reads asked for, so that a reply to an earlier one is not taken for news.
    quint64 m_reads = 0;
    bool m_inhibited = false;
    bool m_bannersHidden = false;
    struct _GSettings *m_banners = nullptr;
};
