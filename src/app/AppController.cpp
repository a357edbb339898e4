#include "AppController.h"

#include "AppLog.h"
#include "AppServices.h"
#include "ReminderPresenter.h"
#include "StatusMenu.h"
#include "UpdateDialogs.h"
#include "UpdateManager.h"
#include "Updater.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "models/TrayCountdown.h"
#include "platform/AlertSound.h"
#include "platform/Autostart.h"
#include "platform/DesktopNotification.h"
#include "platform/DoNotDisturb.h"
#include "platform/PackageKitInstall.h"
#include "platform/ProcessMemory.h"
#include "platform/UpdateSignature.h"
#include "platform/UserLocalInstall.h"
#include "platform/WindowHints.h"
#include "prep/AttendeeResearchService.h"
#include "prep/LLMService.h"
#include "reminders/BatteryService.h"
#include "reminders/ReminderScheduler.h"
#include "sync/CalendarService.h"
#include "sync/SMSService.h"
#include "sync/SlackService.h"
#include "ui/BatteryAlertView.h"
#include "ui/BriefPreviewView.h"
#include "ui/OnboardingView.h"
#include "ui/OverlayWindow.h"
#include "ui/OverlayWindowController.h"
#include "ui/TrayIconPainter.h"
#include "ui/Widgets.h"
#include "ui/settings/GeneralContent.h"
#include "ui/settings/SettingsView.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDateTime>
#include <QDesktopServices>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <chrono>
#include <cstdio>

namespace {
void centreOnPrimaryScreen(QWidget *window) {
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

void playAlertSound() {
    if (!AlertSound::play())
        QApplication::beep();
}

// Microseconds since the epoch: the X side of the measurement stamps its events the same way.
qint64 epochUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void measureLine(const QString &text) {
    std::fprintf(stderr, "zelvane-measure %s\n", qPrintable(text));
    std::fflush(stderr);
}
} // namespace

AppController::AppController(AppSettings &settings, AppServices &services, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_services(services)
    , m_overlayController(std::make_unique<OverlayWindowController>(settings, services.clock))
    , m_reminderPresenter(std::make_unique<ReminderPresenter>(
          settings, *m_overlayController, services.notifications, services.clock,
          [this] { return m_doNotDisturb && m_doNotDisturb->isOn(); }))
    , m_measure(qEnvironmentVariableIntValue("ZELVANE_MEASURE") == 1) {
    connect(m_overlayController.get(), &OverlayWindowController::alertSoundDue, this,
            &playAlertSound);
    connect(&m_settings, &AppSettings::changed, this, [this](AppSettings::Key key) {
        if (key == AppSettings::Key::RespectDnd)
            followRespectDnd();
    });
    connect(m_overlayController.get(), &OverlayWindowController::snoozeRequested, this,
            [this](const CalendarEvent &event) { m_services.scheduler.scheduleSnooze(event); });
    // Dismissing a reminder, on the overlay or in a notification, ends its snooze too.
    connect(m_reminderPresenter.get(), &ReminderPresenter::dismissed, this,
            [this](const CalendarEvent &event) { m_services.scheduler.dismiss(event.id); });
    if (m_measure) {
        connect(m_overlayController.get(), &OverlayWindowController::overlayPainted, this, [this] {
            measureLine(QStringLiteral("overlay-painted reminder=%1 screens=%2 ms=%3 us=%4")
                            .arg(m_remindersShown)
                            .arg(m_overlayController->windows().size())
                            .arg(double(m_reminderClock.nsecsElapsed()) / 1e6, 0, 'f', 2)
                            .arg(epochUs()));
        });
    }
}

AppController::~AppController() {
    for (QWidget *window : {m_onboardingWindow.data(), m_settingsWindow.data()})
        delete window;
    for (const QPointer<QWidget> &window : std::as_const(m_briefWindows))
        delete window.data();
}

void AppController::followRespectDnd() {
    if (!m_settings.respectDND())
        m_doNotDisturb.reset();
    else if (!m_doNotDisturb)
        m_doNotDisturb = std::make_unique<DoNotDisturb>();
}

void AppController::start() {
    // The tray first: the services' start-up (the kept events, the first refresh) follows
    // once the icon's docking request is on its way.
    setupTray();
    WindowHints::sendQueuedRequests();
    if (m_measure)
        measureLine(QStringLiteral("tray-ready us=%1").arg(epochUs()));
    setupServices();
    followRespectDnd();
    setupUpdates();
    // A first start sets nothing up at login until the user has finished onboarding.
    if (m_settings.hasCompletedOnboarding())
        configureLaunchAtLogin();
    else
        showOnboarding();
}

void AppController::setupServices() {
    connect(&m_services.scheduler, &ReminderScheduler::reminderFired, this,
            [this](const CalendarEvent &event, std::optional<std::chrono::seconds>,
                   const std::optional<MeetingBrief> &brief) { showReminder(event, brief); });
    connect(&m_services.battery, &BatteryService::lowBattery, this,
            &AppController::showBatteryAlert);
    // A refresh parses thousands of events into short-lived documents; once it is done and they
    // are gone, the pages they held go back to the system, or the heap would stay at its
    // high-water mark between refreshes. Queued, so the refresh's own frames are freed first.
    connect(&m_services.calendar, &CalendarService::isLoadingChanged, this, [this] {
        if (!m_services.calendar.isLoading())
            QTimer::singleShot(0, this, &ProcessMemory::returnFreePages);
    });
    m_services.calendar.startMonitoring();
    m_services.scheduler.start();
    m_services.battery.startMonitoring();
}

QList<StatusMenuEntry> AppController::menuEntries() const {
    StatusMenuState state;
    state.events = m_services.calendar.events();
    state.briefs = m_services.scheduler.briefs();
    state.researching = m_services.scheduler.researching();
    state.now = m_services.clock.now();
    state.updateAvailable = m_services.updates.updateAvailable();
    state.hasCalendar = m_services.calendar.isConnected();
    return StatusMenuModel::entries(state);
}

void AppController::setupTray() {
    QPointer<AppController> self(this);
    m_statusMenu = std::make_unique<StatusMenu>(
        [self] { return self ? self->menuEntries() : QList<StatusMenuEntry>(); });
    connect(m_statusMenu.get(), &StatusMenu::prepMeetingRequested, this,
            &AppController::prepNextMeeting);
    connect(m_statusMenu.get(), &StatusMenu::viewBriefRequested, this, &AppController::viewBrief);
    connect(m_statusMenu.get(), &StatusMenu::joinRequested, this, &AppController::joinMeeting);
    connect(m_statusMenu.get(), &StatusMenu::connectCalendarRequested, this, [this] {
        openApp();
        if (auto *window = qobject_cast<SettingsView *>(m_settingsWindow.data()))
            window->selectTab(SidebarTab::accounts);
    });
    connect(m_statusMenu.get(), &StatusMenu::openAppRequested, this, &AppController::openApp);
    connect(m_statusMenu.get(), &StatusMenu::quitRequested, this, &QCoreApplication::quit);
    // Both update entries open the updater's check, which offers the install.
    connect(m_statusMenu.get(), &StatusMenu::checkForUpdatesRequested, &m_services.updates,
            &UpdateManager::checkForUpdates);
    connect(m_statusMenu.get(), &StatusMenu::installUpdateRequested, &m_services.updates,
            &UpdateManager::checkForUpdates);

    m_trayIcon = std::make_unique<QSystemTrayIcon>();
    m_trayCountdown = std::make_unique<TrayCountdown>(m_services.calendar, m_services.clock);
    connect(m_trayCountdown.get(), &TrayCountdown::statusChanged, this,
            &AppController::showTrayStatus);
    // A clock set to another day changes what the tray says about today.
    connect(&m_services.clockChanges, &ClockChangeMonitor::clockChanged, m_trayCountdown.get(),
            &TrayCountdown::refresh);
    showTrayStatus(m_trayCountdown->status());
    m_trayIcon->setContextMenu(m_statusMenu->menu());
    // Without a tray host the icon stays hidden; the app keeps running for its reminders.
    m_trayIcon->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        announceBackgroundRunning();
}

void AppController::showTrayStatus(const TrayStatus &status) {
    m_trayIcon->setIcon(TrayIconPainter::icon(status));
    m_trayIcon->setToolTip(status.toolTip);
}

void AppController::announceBackgroundRunning() {
    // Said once: without a tray icon the only way back in is starting Zelvane again.
    if (m_settings.value(AppSettings::Key::BackgroundNoticeShown).toBool())
        return;
    m_settings.setValue(AppSettings::Key::BackgroundNoticeShown, true);
    m_services.notifications.show(
        tr("Zelvane is running in the background"),
        tr("It reminds you of your meetings without a tray icon. To open Zelvane, "
           "start it again from your applications menu."));
}

void AppController::setupUpdates() {
    m_updateDialogs = std::make_unique<UpdateDialogs>(m_services.updater);
    connect(&m_services.updater, &Updater::installed, this, [](bool restarted) {
        if (restarted)
            QCoreApplication::quit();
    });
    connect(&m_services.updater, &Updater::updateReadyToInstall, this,
            &AppController::offerReadyUpdate);
    connect(&m_services.notifications, &DesktopNotification::actionInvoked, this,
            [this](uint id, const QString &action) {
                if (m_updateNotification == id && action == u"install")
                    m_services.updater.installReadyUpdate();
            });
    // However the application ends, an update prepared for the quit is put in place.
    connect(qApp, &QCoreApplication::aboutToQuit, &m_services.updater, &Updater::finishAtQuit);
    m_services.updater.startScheduledChecks();
}

QCoro::Task<> AppController::offerReadyUpdate(AppcastItem item) {
    QPointer<AppController> self(this);
    // Built before the co_await: a string literal inside one trips GCC.
    QString summary = tr("Zelvane %1 is ready to install").arg(item.displayVersion());
    QString body = tr("The update was downloaded and verified. Choose Install to install it now.");
    QStringList actions{QStringLiteral("install"), tr("Install")};
    const auto id = co_await m_services.notifications.show(std::move(summary), std::move(body),
                                                           std::move(actions));
    if (self && id)
        m_updateNotification = *id;
}

void AppController::prepNextMeeting(const CalendarEvent &event) {
    if (m_services.scheduler.researching().contains(event.id))
        return;
    m_services.scheduler.triggerResearch(event);
}

void AppController::joinMeeting(const CalendarEvent &event) {
    if (event.meetingLink)
        QDesktopServices::openUrl(*event.meetingLink);
}

void AppController::viewBrief(const CalendarEvent &event) {
    const auto brief = m_services.scheduler.briefs().constFind(event.id);
    if (brief != m_services.scheduler.briefs().constEnd())
        showBriefPreview(event, *brief);
}

void AppController::showReminder(const CalendarEvent &event,
                                 const std::optional<MeetingBrief> &brief) {
    if (m_measure) {
        ++m_remindersShown;
        m_reminderClock.start();
        measureLine(
            QStringLiteral("reminder-due reminder=%1 us=%2").arg(m_remindersShown).arg(epochUs()));
    }
    m_reminderPresenter->present(event, brief);
    sendReminderText(event, brief);
}

QCoro::Task<> AppController::sendReminderText(CalendarEvent event,
                                              std::optional<MeetingBrief> brief) {
    // Whether a text goes out is the SMS service's decision; its failures are not shown.
    try {
        co_await m_services.sms.sendMeetingReminder(event, brief);
    } catch (const std::exception &error) {
        qCWarning(lcApp) << "meeting reminder text not sent:" << error.what();
    } catch (...) {
        qCWarning(lcApp) << "meeting reminder text not sent";
    }
}

void AppController::showOnboarding() {
    if (m_onboardingWindow) {
        Widgets::bringToFront(m_onboardingWindow);
        return;
    }
    CalendarService &calendar = m_services.calendar;
    auto *view = new OnboardingView(calendar);
    connect(view, &OnboardingView::completed, this, [this] {
        m_settings.setHasCompletedOnboarding(true);
        configureLaunchAtLogin();
        if (QWidget *window = m_onboardingWindow) {
            m_onboardingWindow.clear();
            window->close();
            window->deleteLater();
        }
    });
    view->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint);
    view->setWindowTitle(tr("Welcome to Zelvane"));
    view->setFixedSize(OnboardingView::contentWidth, OnboardingView::contentHeight);
    centreOnPrimaryScreen(view);
    m_onboardingWindow = view;
    Widgets::bringToFront(view);
}

void AppController::openApp() {
    if (!m_settingsWindow) {
        // Created once and kept: closing only hides it, and the next opening shows it again.
        auto *window =
            new SettingsView(SettingsServices{m_settings, m_services.calendar, m_services.slack,
                                              m_services.llm, m_services.sms, m_services.secrets});
        window->setWindowFlags(Qt::Window);
        window->setWindowTitle(QStringLiteral("Zelvane"));
        window->resize(720, 520);
        centreOnPrimaryScreen(window);
        connectUpdates(window);
        connect(window, &SettingsView::quitRequested, this, &QCoreApplication::quit);
        m_settingsWindow = window;
    }
    Widgets::bringToFront(m_settingsWindow);
}

void AppController::connectUpdates(SettingsView *window) {
    UpdateManager *updates = &m_services.updates;
    GeneralContent *general = window->general();
    general->enableUpdates();
    general->setAutomaticUpdates(updates->automaticallyChecksForUpdates());
    window->setUpdateAvailable(updates->updateAvailable());
    connect(general, &GeneralContent::automaticUpdatesToggled, updates,
            &UpdateManager::setAutomaticallyChecksForUpdates);
    connect(updates, &UpdateManager::automaticallyChecksForUpdatesChanged, general,
            [general, updates] {
                general->setAutomaticUpdates(updates->automaticallyChecksForUpdates());
            });
    connect(general, &GeneralContent::checkNowRequested, updates, &UpdateManager::checkForUpdates);
    connect(window, &SettingsView::updateRequested, updates, &UpdateManager::checkForUpdates);
    connect(updates, &UpdateManager::updateAvailableChanged, window,
            &SettingsView::setUpdateAvailable);
}

void AppController::showBriefPreview(const CalendarEvent &event, const MeetingBrief &brief) {
    auto *view = new BriefPreviewView(event, brief, m_services.clock);
    connect(view, &BriefPreviewView::dismissRequested, this, [this, view] {
        if (m_briefWindow == view)
            m_briefWindow.clear();
        view->close();
    });
    view->setWindowFlags(Qt::Window);
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->setWindowTitle(tr("Meeting Brief"));
    view->resize(520, 480);
    centreOnPrimaryScreen(view);
    m_briefWindow = view;
    m_briefWindows.removeIf([](const QPointer<QWidget> &window) { return window.isNull(); });
    m_briefWindows.append(view);
    Widgets::bringToFront(view);
}

void AppController::showBatteryAlert() {
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        auto *window = new OverlayWindow(screen, tr("Battery Critical"));
        window->setAttribute(Qt::WA_DeleteOnClose);
        auto *view = new BatteryAlertView;
        connect(view, &BatteryAlertView::dismissRequested, window, &QWidget::close);
        window->setContent(view);
        window->present();
    }
    if (m_settings.soundEnabled())
        playAlertSound();
}

void AppController::configureLaunchAtLogin() {
    // A failure to write or remove the entry is not worth bothering the user with.
    Autostart::apply(m_settings.launchAtLogin());
}

void AppController::toggleLaunchAtLogin() {
    m_settings.setLaunchAtLogin(!m_settings.launchAtLogin());
    configureLaunchAtLogin();
}
