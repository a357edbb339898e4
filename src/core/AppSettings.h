#pragma once

#include "ReminderOffset.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSettings>
#include <QString>
#include <memory>

// The user's plain preferences, each stored at once under its own key.
class AppSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool soundEnabled READ soundEnabled WRITE setSoundEnabled NOTIFY changed)
    Q_PROPERTY(bool respectDND READ respectDND WRITE setRespectDND NOTIFY changed)
    Q_PROPERTY(QString userDomain READ userDomain WRITE setUserDomain NOTIFY changed)
    Q_PROPERTY(bool hasCompletedOnboarding READ hasCompletedOnboarding WRITE
                   setHasCompletedOnboarding NOTIFY changed)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY changed)

public:
    // Takes ownership of `store`.
    explicit AppSettings(std::unique_ptr<QSettings> store, QObject *parent = nullptr);
    ~AppSettings() override;

    // $XDG_CONFIG_HOME/Zelvane/Zelvane.conf
    static std::unique_ptr<QSettings> defaultStore();

    bool soundEnabled() const;
    void setSoundEnabled(bool enabled);
    bool respectDND() const;
    void setRespectDND(bool respect);
    QString userDomain() const;
    void setUserDomain(const QString &domain);
    bool hasCompletedOnboarding() const;
    void setHasCompletedOnboarding(bool completed);
    bool launchAtLogin() const;
    void setLaunchAtLogin(bool enabled);

    QByteArray disabledCalendarsData() const;
    QByteArray accountRemindersData() const;

    QSet<QString> disabledCalendarIds() const;
    void setDisabledCalendarIds(const QSet<QString> &ids);
    QHash<QString, QList<ReminderOffset>> accountReminders() const;
    void setAccountReminders(const QHash<QString, QList<ReminderOffset>> &reminders);

    // Lead times in seconds, largest first; [0] for an account without an entry.
    QList<double> reminderOffsets(const QString &accountId) const;
    // The same, from an already decoded map (one decode serves a whole pass over events).
    static QList<double> reminderOffsets(const QHash<QString, QList<ReminderOffset>> &map,
                                         const QString &accountId);
    void addDefaultReminders(const QString &accountId);
    void addReminder(ReminderOffset offset, const QString &accountId);
    void removeReminder(ReminderOffset offset, const QString &accountId);
    void removeReminders(const QString &accountId);
    void toggleCalendar(const QString &calendarId);
    bool isCalendarEnabled(const QString &calendarId) const;

    // Keys owned by other services (connected accounts, the updater's records).
    QVariant value(const QString &key, const QVariant &fallback = {}) const;
    void setValue(const QString &key, const QVariant &value);
    void remove(const QString &key);

    // Decoders of the stored JSON; anything unreadable is empty.
    static QSet<QString> decodeDisabledCalendars(const QByteArray &data);
    static QHash<QString, QList<ReminderOffset>> decodeAccountReminders(const QByteArray &data);
    static QByteArray encodeDisabledCalendars(const QSet<QString> &ids);
    static QByteArray encodeAccountReminders(const QHash<QString, QList<ReminderOffset>> &map);

Q_SIGNALS:
    // Announced before a change is stored.
    void aboutToChange();
    void changed();

private:
    void write(const QString &key, const QVariant &value);

    std::unique_ptr<QSettings> m_store;
};
