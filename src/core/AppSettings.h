#pragma once

#include "ReminderOffset.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSettings>
#include <QString>
#include <chrono>
#include <memory>

// How a due reminder of an account's meetings is shown: over every screen, or as a desktop
// notification with Join and Dismiss.
enum class AlertStyle { fullScreen, notificationOnly };

// The user's preferences and the services' small records, each stored at once under its own
// key. Every key, its stored name and its default are listed in one table (AppSettings.cpp).
class AppSettings : public QObject {
    Q_OBJECT

public:
    enum class Key {
        SoundEnabled,
        RespectDnd,
        HasCompletedOnboarding,
        LaunchAtLogin,
        DisabledCalendars,     // JSON array of calendar ids
        AccountReminders,      // JSON object: account id -> lead times
        AccountAlertStyles,    // JSON object: account id -> "notificationOnly"
        ConnectedAccounts,     // the calendar service's accounts, JSON
        BackgroundNoticeShown, // the "running without a tray icon" notice was shown
        UpdateChecksEnabled,
        UpdateDownloadsEnabled,
        UpdateLastCheck, // QDateTime
        UpdateLastItem,  // the newest appcast item seen, as a map
        UpdateSkippedVersion,
        UpdateHasLaunchedBefore,
        SmsEnabled,
        SmsPhoneNumber,
        AIKeyStatus,   // JSON object: provider -> whether the stored key last worked with it
        BackendOrigin, // a backend the user runs; empty: the product's own
    };
    Q_ENUM(Key)

    // Takes ownership of `store`.
    explicit AppSettings(std::unique_ptr<QSettings> store, QObject *parent = nullptr);
    ~AppSettings() override;

    // $XDG_CONFIG_HOME/Zelvane/Zelvane.conf
    static std::unique_ptr<QSettings> defaultStore();

    bool soundEnabled() const;
    void setSoundEnabled(bool enabled);
    bool respectDND() const;
    void setRespectDND(bool respect);
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

    // Lead times, largest first; [0 s] for an account without an entry.
    QList<std::chrono::seconds> reminderOffsets(const QString &accountId) const;
    // The same, from an already decoded map (one decode serves a whole pass over events).
    static QList<std::chrono::seconds>
    reminderOffsets(const QHash<QString, QList<ReminderOffset>> &map, const QString &accountId);
    void addDefaultReminders(const QString &accountId);
    void addReminder(ReminderOffset offset, const QString &accountId);
    void removeReminder(ReminderOffset offset, const QString &accountId);
    void removeReminders(const QString &accountId);
    // Full-screen for an account without an entry.
    AlertStyle alertStyle(const QString &accountId) const;
    // Full-screen, the default, is stored as no entry.
    void setAlertStyle(const QString &accountId, AlertStyle style);
    void toggleCalendar(const QString &calendarId);
    bool isCalendarEnabled(const QString &calendarId) const;

    // The stored value in the type of the key's default; the default when nothing usable is
    // stored.
    QVariant value(Key key) const;
    // Stores at once. Announces only when the value read back changes, so writing what is
    // already there (or the default over nothing) is silent.
    void setValue(Key key, const QVariant &value);
    void remove(Key key);
    bool contains(Key key) const;

    // The name the key is stored under, and the value read when nothing is stored.
    static QString storedName(Key key);
    static QVariant defaultValue(Key key);

    // Decoders of the stored JSON; anything unreadable is empty.
    static QSet<QString> decodeDisabledCalendars(const QByteArray &data);
    static QHash<QString, QList<ReminderOffset>> decodeAccountReminders(const QByteArray &data);
    static QByteArray encodeDisabledCalendars(const QSet<QString> &ids);
    static QByteArray encodeAccountReminders(const QHash<QString, QList<ReminderOffset>> &map);

Q_SIGNALS:
    // Announced before a change is stored.
    void aboutToChange(AppSettings::Key key);
    void changed(AppSettings::Key key);

private:
    QVariant effective(Key key, const QVariant &stored) const;

    std::unique_ptr<QSettings> m_store;
};
