#pragma once

#include "UpdateManager.h"
#include "Updater.h"
#include "platform/ClockChangeMonitor.h"
#include "platform/DesktopNotification.h"
#include "platform/SecretStore.h"
#include "platform/SleepMonitor.h"
#include "platform/UpdateInstaller.h"
#include "prep/AttendeeResearchService.h"
#include "prep/LLMService.h"
#include "prep/ProviderKeyStatus.h"
#include "prep/ResearchCache.h"
#include "reminders/BatteryService.h"
#include "reminders/ReminderScheduler.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SMSService.h"
#include "sync/SignInListener.h"
#include "sync/SlackService.h"

#include <memory>

class AppSettings;
class Clock;
class SingleInstance;

// The application's long-lived services, each created once, in dependency order, and handed
// to its users by reference; every one reads time from `clock`. Creating them touches neither
// the network nor the keyring: services start when the application starts them.
struct AppServices {
    // `instance` is handed the bus name over to a newly installed version; may be null.
    AppServices(AppSettings &settings, Clock &clock, SingleInstance *instance = nullptr);
    ~AppServices();

    Clock &clock;
    SecretStore secrets;
    BackendAPIClient backend;
    CalendarProxyClient proxy;
    CalendarSignInListener signIn;
    CalendarService calendar;
    SlackService slack;
    SMSService sms;
    ProviderKeyStatus keyStatus;
    LLMService llm;
    ResearchCache researchCache;
    AttendeeResearchService research;
    ReminderScheduler scheduler;
    SleepMonitor sleep;
    ClockChangeMonitor clockChanges;
    BatteryService battery;
    DesktopNotification notifications;
    // How a verified update is installed depends on how this copy was installed.
    std::unique_ptr<UpdateInstaller> updateInstaller;
    Updater updater;
    UpdateManager updates;
};
