#pragma once

#include "platform/SecretStore.h"
#include "prep/AttendeeResearchService.h"
#include "prep/LLMService.h"
#include "prep/ResearchCache.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SignInListener.h"
#include "sync/SlackService.h"

// The sync and prep services wired as the application wires them. The research cache lives in
// $XDG_DATA_HOME, so a TestEnvironment keeps it private.
struct ServiceGraph {
    ServiceGraph(AppSettings &settings, Clock &clock)
        : proxy(secrets, clock)
        , calendar(settings, proxy, secrets, signIn, clock)
        , slack(backend, secrets, clock)
        , llm(secrets)
        , cache(ResearchCache::defaultDirectory(), clock) {}

    SecretStore secrets;
    BackendAPIClient backend;
    CalendarProxyClient proxy;
    CalendarSignInListener signIn;
    CalendarService calendar;
    SlackService slack;
    LLMService llm;
    ResearchCache cache;
};
