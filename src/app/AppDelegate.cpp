#include "AppDelegate.h"

#include "core/AppSettings.h"
#include "platform/Autostart.h"
#include "prep/AttendeeResearchService.h"
#include "reminders/ReminderScheduler.h"
#include "sync/CalendarService.h"
#include "ui/SymbolIcons.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

AppDelegate::AppDelegate(AppSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    setupServices();
    setupMenuBar();
    configureLaunchAtLogin();
    if (!m_settings.hasCompletedOnboarding())
        showOnboarding();
}

void AppDelegate::setupServices() {
    m_calendarService = &CalendarService::shared();
    m_reminderScheduler = std::make_unique<ReminderScheduler>(
        *m_calendarService, AttendeeResearchService::shared(), m_settings);

    QPointer<AppDelegate> self(this);
    m_reminderScheduler->setOnReminderFired(
        [self](const CalendarEvent &event, double, const std::optional<MeetingBrief> &brief) {
            if (self)
                self->showReminder(event, brief);
        });

    m_calendarService->startMonitoring();
    m_reminderScheduler->start();
}

void AppDelegate::setupMenuBar() {
    m_menu = std::make_unique<QMenu>();
    QAction *quit = m_menu->addAction(QStringLiteral("Quit Zelvane"));
    connect(quit, &QAction::triggered, qApp, &QApplication::quit);

    m_statusItem = std::make_unique<QSystemTrayIcon>();
    m_statusItem->setIcon(
        SymbolIcons::icon(QStringLiteral("calendar"), Theme::Colors::textPrimary()));
    m_statusItem->setToolTip(QStringLiteral("Zelvane"));
    m_statusItem->setContextMenu(m_menu.get());
    // Without a tray host the icon stays hidden; the app keeps running for its reminders.
    m_statusItem->show();
}

void AppDelegate::showReminder(const CalendarEvent &, const std::optional<MeetingBrief> &) {}

void AppDelegate::showOnboarding() {}

void AppDelegate::configureLaunchAtLogin() {
    // A failure to write or remove the entry is not worth bothering the user with.
    if (m_settings.launchAtLogin())
        Autostart::enable(QCoreApplication::applicationFilePath());
    else
        Autostart::disable();
}

void AppDelegate::toggleLaunchAtLogin() {
    m_settings.setLaunchAtLogin(!m_settings.launchAtLogin());
    configureLaunchAtLogin();
}
