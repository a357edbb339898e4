#pragma once

#include "platform/SecretStore.h"
#include "prep/AttendeeResearchService.h"
#include "prep/LLMService.h"
#include "prep/ResearchCache.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SMSService.h"
#include "sync/SignInListener.h"
#include "sync/SlackService.h"

class AppSettings;
class Clock;

// The application's long-lived services, each created once, in dependency order, and handed
// to its users by reference. Creating them touches neither the network nor the keyring.
struct AppServices {
    AppServices(AppSettings &settings, Clock &clock);

    SecretStore secrets;
    BackendAPIClient backend;
    CalendarProxyClient proxy;
    CalendarSignInListener signIn;
    CalendarService calendar;
    SlackService slack;
    SMSService sms;
    LLMService llm;
    ResearchCache researchCache;
    AttendeeResearchService research;
};
