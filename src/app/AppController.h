#pragma once

#include "Appcast.h"
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
class DoNotDisturb;
class OverlayWindowController;
class QSystemTrayIcon;
class ReminderPresenter;
class SettingsView;
class StatusMenu;
class TrayCountdown;
class UpdateDialogs;
struct StatusMenuEntry;
struct TrayStatus;

// Starts the application's services in order, connects them to the tray, the reminder and
// the windows, and opens every window the application shows.
class AppController : public QObject {
    Q_OBJECT

public:
    AppController(AppSettings &settings, AppServices &services, QObject *parent = nullptr);
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
    void joinMeeting(const CalendarEvent &event);
    QList<StatusMenuEntry> menuEntries() const;

    AppServices &services() const { return m_services; }
    OverlayWindowController *overlayController() const { return m_overlayController.get(); }
    QSystemTrayIcon *trayIcon() const { return m_trayIcon.get(); }
    StatusMenu *statusMenu() const { return m_statusMenu.get(); }
    TrayCountdown *trayCountdown() const { return m_trayCountdown.get(); }
    QWidget *onboardingWindow() const { return m_onboardingWindow; }
    QWidget *settingsWindow() const { return m_settingsWindow; }
    QWidget *briefWindow() const { return m_briefWindow; }
    // Present while the user asks for the desktop's Do Not Disturb to be respected.
    const DoNotDisturb *doNotDisturb() const { return m_doNotDisturb.get(); }

public Q_SLOTS:
    // What "Open Zelvane" and a second start of Zelvane open.
    void openApp();

private:
    void setupServices();
    void setupTray();
    void showTrayStatus(const TrayStatus &status);
    void connectUpdates(SettingsView *window);
    void setupUpdates();
    // One notification per update downloaded in the background that needs the user's word.
    QCoro::Task<> offerReadyUpdate(AppcastItem item);
    void announceBackgroundRunning();
    QCoro::Task<> sendReminderText(CalendarEvent event, std::optional<MeetingBrief> brief);
    // The desktop's quiet is watched only while the user asks for it to be respected.
    void followRespectDnd();

    AppSettings &m_settings;
    AppServices &m_services;
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    std::unique_ptr<StatusMenu> m_statusMenu;
    std::unique_ptr<TrayCountdown> m_trayCountdown;
    std::unique_ptr<OverlayWindowController> m_overlayController;
    std::unique_ptr<DoNotDisturb> m_doNotDisturb;
    std::unique_ptr<ReminderPresenter> m_reminderPresenter;
    std::unique_ptr<UpdateDialogs> m_updateDialogs;
    // The server's id of the notification offering a downloaded update.
    std::optional<uint> m_updateNotification;
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
