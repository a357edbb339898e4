#include "AppServices.h"

AppServices::AppServices(AppSettings &settings, Clock &clock)
    : proxy(secrets, clock)
    , calendar(settings, proxy, secrets, signIn, clock)
    , slack(backend, secrets, clock)
    , sms(backend, secrets, clock)
    , llm(secrets)
    , researchCache(ResearchCache::defaultDirectory(), clock)
    , research(llm, researchCache, slack, secrets, clock) {}
