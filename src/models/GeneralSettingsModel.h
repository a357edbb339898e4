#pragma once

#include "core/AppSettings.h"
#include "core/CalendarEvent.h"
#include "core/ReminderOffset.h"
#include "sync/ProxyRecords.h"

#include <QObject>
#include <QPointer>

class CalendarService;

// What the General settings tab reads and changes: each account's calendars, lead times and
// alert style, the alert switches and starting at login.
class GeneralSettingsModel : public QObject {
    Q_OBJECT

public:
    GeneralSettingsModel(AppSettings &settings, CalendarService &calendarService,
                         QObject *parent = nullptr);

    QList<ConnectedAccount> accounts() const;
    // The account's e-mail address, or its provider's name when the address is empty.
    static QString sectionTitle(const ConnectedAccount &account);

    QList<ProxyCalendar> calendars(const QString &accountId) const;
    // The account a desktop calendar comes from (an online account's address, or "On This
    // Computer"); absent for the calendars of other accounts.
    std::optional<QString> calendarGroup(const QString &calendarId) const;
    bool isCalendarEnabled(const QString &calendarId) const;
    // "All 3 active", or "2 of 3 active" when some are switched off; one calendar reads
    // "1 of 1 active".
    QString calendarCountText(const QString &accountId) const;
    // Switches the calendar on or off and re-fetches the events, so its meetings come or go.
    void setCalendarEnabled(const QString &calendarId, bool enabled);

    // The chosen lead times, longest first; At start for an account without an entry.
    QList<ReminderOffset> reminders(const QString &accountId) const;
    // The lead times not chosen yet, in declared order.
    QList<ReminderOffset> missingReminders(const QString &accountId) const;
    void addReminder(const QString &accountId, ReminderOffset offset);
    void removeReminder(const QString &accountId, ReminderOffset offset);

    // How the account's reminders are shown, in the order they are offered.
    static const QList<AlertStyle> &alertStyles();
    // "Full-screen", "Notification only".
    static QString alertStyleLabel(AlertStyle style);
    AlertStyle alertStyle(const QString &accountId) const;
    void setAlertStyle(const QString &accountId, AlertStyle style);

    bool soundEnabled() const;
    void setSoundEnabled(bool enabled);
    bool respectDND() const;
    void setRespectDND(bool respect);
    // Stored at once and carried out on the autostart entry.
    bool launchAtLogin() const;
    void setLaunchAtLogin(bool enabled);

    // The tab came on screen: calendars are listed once if none are known yet.
    void tabAppeared();

Q_SIGNALS:
    void accountsChanged();
    void calendarsChanged();
    void settingsChanged();

private:
    AppSettings &m_settings;
    QPointer<CalendarService> m_calendarService;
};
