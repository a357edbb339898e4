#pragma once

#include "core/CalendarEvent.h"
#include "core/MeetingBrief.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>

class AppSettings;
struct AppServices;
class BatteryService;
class CalendarService;
class DesktopNotification;
class OverlayWindowController;
class QSystemTrayIcon;
class ReminderPresenter;
class ReminderScheduler;
class SettingsView;
class SingleInstance;
class StatusMenu;
class UpdateDialogs;
class UpdateInstaller;
class UpdateManager;
class Updater;
struct StatusMenuEntry;

// Owns the long-lived services, starts them in order, wires their callbacks and opens
// every window the application shows.
class AppController : public QObject {
    Q_OBJECT

public:
    // `instance` is handed the bus name over to a newly installed version; may be null.
    explicit AppController(AppSettings &settings, SingleInstance *instance = nullptr,
                           QObject *parent = nullptr);
    ~AppController() override;

    void start();

    void showReminder(const CalendarEvent &event, const std::optional<MeetingBrief> &brief);
    void showOnboarding();
    void showBriefPreview(const CalendarEvent &event, const MeetingBrief &brief);
    void showBatteryAlert();
    void configureLaunchAtLogin();
    void toggleLaunchAtLogin();

    // The tray menu's meeting actions.
    void prepNextMeeting(const CalendarEvent &event);
    void viewBrief(const CalendarEvent &event);
    QList<StatusMenuEntry> menuEntries() const;

    AppServices &services() const { return *m_services; }
    ReminderScheduler *reminderScheduler() const { return m_reminderScheduler.get(); }
    BatteryService *batteryService() const { return m_batteryService.get(); }
    OverlayWindowController *overlayController() const { return m_overlayController.get(); }
    QSystemTrayIcon *trayIcon() const { return m_trayIcon.get(); }
    StatusMenu *statusMenu() const { return m_statusMenu.get(); }
    QWidget *onboardingWindow() const { return m_onboardingWindow; }
    QWidget *settingsWindow() const { return m_settingsWindow; }
    QWidget *briefWindow() const { return m_briefWindow; }
    UpdateManager *updateManager() const { return m_updateManager.get(); }
    Updater *updater() const { return m_updater.get(); }

public Q_SLOTS:
    // What "Open Zelvane" and a second start of Zelvane open.
    void openApp();

private:
    void setupServices();
    void setupTray();
    void connectUpdates(SettingsView *window);
    void setupUpdates();
    void announceBackgroundRunning();
    QCoro::Task<> sendReminderText(CalendarEvent event, std::optional<MeetingBrief> brief);

    AppSettings &m_settings;
    std::unique_ptr<AppServices> m_services;
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    std::unique_ptr<StatusMenu> m_statusMenu;
    QPointer<CalendarService> m_calendarService;
    std::unique_ptr<ReminderScheduler> m_reminderScheduler;
    std::unique_ptr<BatteryService> m_batteryService;
    std::unique_ptr<OverlayWindowController> m_overlayController;
    std::unique_ptr<DesktopNotification> m_notifications;
    std::unique_ptr<ReminderPresenter> m_reminderPresenter;
    SingleInstance *m_instance;
    std::unique_ptr<UpdateInstaller> m_updateInstaller;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<UpdateManager> m_updateManager;
    std::unique_ptr<UpdateDialogs> m_updateDialogs;
    QPointer<QWidget> m_onboardingWindow;
    QPointer<QWidget> m_settingsWindow;
    QPointer<QWidget> m_briefWindow;
    // Every preview still open: a new one does not close the previous ones.
    QList<QPointer<QWidget>> m_briefWindows;

    // With ZELVANE_MEASURE=1 the app reports start-up and overlay timings on stderr.
    bool m_measure = false;
    QElapsedTimer m_reminderClock;
    int m_remindersShown = 0;
};
