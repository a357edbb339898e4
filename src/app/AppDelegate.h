#pragma once

#include "core/CalendarEvent.h"
#include "core/MeetingBrief.h"

#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>

class AppSettings;
class BatteryService;
class CalendarService;
class QMenu;
class QSystemTrayIcon;
class ReminderScheduler;

// Owns the long-lived services, starts them in order, wires their callbacks and opens
// every window the application shows.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(AppSettings &settings, QObject *parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();

    void showReminder(const CalendarEvent &event, const std::optional<MeetingBrief> &brief);
    void showOnboarding();
    void configureLaunchAtLogin();
    void toggleLaunchAtLogin();

    ReminderScheduler *reminderScheduler() const { return m_reminderScheduler.get(); }
    QSystemTrayIcon *statusItem() const { return m_statusItem.get(); }

private:
    void setupServices();
    void setupMenuBar();

    AppSettings &m_settings;
    std::unique_ptr<QSystemTrayIcon> m_statusItem;
    std::unique_ptr<QMenu> m_menu;
    QPointer<CalendarService> m_calendarService;
    std::unique_ptr<ReminderScheduler> m_reminderScheduler;
};
