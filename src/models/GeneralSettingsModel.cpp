#include "GeneralSettingsModel.h"

#include "ModelsLog.h"
#include "core/AppSettings.h"
#include "platform/Autostart.h"
#include "sync/CalendarService.h"

#include <algorithm>
#include <functional>

GeneralSettingsModel::GeneralSettingsModel(AppSettings &settings, CalendarService &calendarService,
                                           QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_calendarService(&calendarService) {
    connect(&calendarService, &CalendarService::accountsChanged, this,
            &GeneralSettingsModel::accountsChanged);
    connect(&calendarService, &CalendarService::accountCalendarsChanged, this,
            &GeneralSettingsModel::calendarsChanged);
    connect(&calendarService, &CalendarService::desktopCalendarsChanged, this,
            &GeneralSettingsModel::calendarsChanged);
    connect(&settings, &AppSettings::changed, this, &GeneralSettingsModel::settingsChanged);
}

QList<ConnectedAccount> GeneralSettingsModel::accounts() const {
    return m_calendarService ? m_calendarService->accounts() : QList<ConnectedAccount>();
}

QString GeneralSettingsModel::sectionTitle(const ConnectedAccount &account) {
    return account.email.isEmpty() ? CalendarProviders::displayName(account.provider)
                                   : account.email;
}

QList<ProxyCalendar> GeneralSettingsModel::calendars(const QString &accountId) const {
    return m_calendarService ? m_calendarService->accountCalendars().value(accountId)
                             : QList<ProxyCalendar>();
}

std::optional<QString> GeneralSettingsModel::calendarGroup(const QString &calendarId) const {
    if (!m_calendarService)
        return std::nullopt;
    const QHash<QString, QString> groups = m_calendarService->desktopCalendarGroups();
    const auto found = groups.constFind(calendarId);
    return found == groups.cend() ? std::nullopt : std::optional(*found);
}

bool GeneralSettingsModel::isCalendarEnabled(const QString &calendarId) const {
    return m_settings.isCalendarEnabled(calendarId);
}

QString GeneralSettingsModel::calendarCountText(const QString &accountId) const {
    const QList<ProxyCalendar> list = calendars(accountId);
    const QSet<QString> disabled = m_settings.disabledCalendarIds();
    qsizetype enabled = 0;
    for (const ProxyCalendar &calendar : list)
        if (!disabled.contains(calendar.id))
            ++enabled;
    const int total = int(list.size());
    // "All 1 active" reads wrong: a single calendar is counted like a partial selection.
    if (enabled == total && total != 1)
        return tr("All %n active", "calendars of an account", total);
    return tr("%1 of %n active", "calendars of an account", total).arg(enabled);
}

void GeneralSettingsModel::setCalendarEnabled(const QString &calendarId, bool enabled) {
    if (m_settings.isCalendarEnabled(calendarId) == enabled)
        return;
    m_settings.toggleCalendar(calendarId);
    // fetchEvents never fails, so nothing escapes this unawaited task.
    if (m_calendarService)
        m_calendarService->fetchEvents();
}

QList<ReminderOffset> GeneralSettingsModel::reminders(const QString &accountId) const {
    const auto map = m_settings.accountReminders();
    const auto found = map.constFind(accountId);
    QList<ReminderOffset> offsets =
        found == map.constEnd() ? QList<ReminderOffset>{ReminderOffset::atStart} : *found;
    // In the order they fire: the earliest reminder first, At start last.
    std::sort(offsets.begin(), offsets.end(), std::greater<>());
    return offsets;
}

QList<ReminderOffset> GeneralSettingsModel::missingReminders(const QString &accountId) const {
    const QList<ReminderOffset> chosen = reminders(accountId);
    QList<ReminderOffset> missing;
    for (ReminderOffset offset : ReminderOffsets::all())
        if (!chosen.contains(offset))
            missing.append(offset);
    return missing;
}

void GeneralSettingsModel::addReminder(const QString &accountId, ReminderOffset offset) {
    m_settings.addReminder(offset, accountId);
}

void GeneralSettingsModel::removeReminder(const QString &accountId, ReminderOffset offset) {
    m_settings.removeReminder(offset, accountId);
}

const QList<AlertStyle> &GeneralSettingsModel::alertStyles() {
    static const QList<AlertStyle> styles{AlertStyle::fullScreen, AlertStyle::notificationOnly};
    return styles;
}

QString GeneralSettingsModel::alertStyleLabel(AlertStyle style) {
    switch (style) {
    case AlertStyle::fullScreen:
        return tr("Full-screen");
    case AlertStyle::notificationOnly:
        return tr("Notification only");
    }
    return {};
}

AlertStyle GeneralSettingsModel::alertStyle(const QString &accountId) const {
    return m_settings.alertStyle(accountId);
}

void GeneralSettingsModel::setAlertStyle(const QString &accountId, AlertStyle style) {
    m_settings.setAlertStyle(accountId, style);
}

bool GeneralSettingsModel::soundEnabled() const {
    return m_settings.soundEnabled();
}

void GeneralSettingsModel::setSoundEnabled(bool enabled) {
    m_settings.setSoundEnabled(enabled);
}

bool GeneralSettingsModel::respectDND() const {
    return m_settings.respectDND();
}

void GeneralSettingsModel::setRespectDND(bool respect) {
    m_settings.setRespectDND(respect);
}

bool GeneralSettingsModel::launchAtLogin() const {
    return m_settings.launchAtLogin();
}

void GeneralSettingsModel::setLaunchAtLogin(bool enabled) {
    m_settings.setLaunchAtLogin(enabled);
    if (!Autostart::apply(enabled))
        qCWarning(lcModels) << "The login entry could not be" << (enabled ? "written" : "removed");
}

void GeneralSettingsModel::tabAppeared() {
    if (m_calendarService && m_calendarService->accountCalendars().isEmpty() &&
        !m_calendarService->accounts().isEmpty())
        m_calendarService->fetchCalendars();
}
