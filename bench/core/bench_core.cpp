// Scheduler pass, link scanning and attendee identity: the work done on every 15 s beat and
// on every calendar refresh.
#include "ManualClock.h"
#include "core/AppSettings.h"
#include "core/MeetingBrief.h"
#include "core/MeetingLinkParser.h"
#include "prep/AttendeeResearchService.h"
#include "prep/ResearchCache.h"
#include "reminders/ReminderScheduler.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SignInListener.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {
void schedulerPass(benchmark::State &state) {
    QTemporaryDir dir;
    AppSettings settings(
        std::make_unique<QSettings>(dir.filePath(QStringLiteral("z.conf")), QSettings::IniFormat));
    const QStringList accounts{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
    for (const QString &account : accounts)
        for (ReminderOffset offset : ReminderOffsets::all())
            settings.addReminder(offset, account);

    ManualClock clock;
    QList<CalendarEvent> events;
    for (int i = 0; i < 2000; ++i) {
        CalendarEvent e;
        e.id = QStringLiteral("nylas_event-%1").arg(i);
        e.title = QStringLiteral("Meeting %1").arg(i);
        e.startDate = clock.now().addSecs(3600 + i * 97);
        e.endDate = e.startDate.addSecs(1800);
        e.accountId = accounts[i % 3];
        events.append(e);
    }
    SecretStore secrets;
    CalendarProxyClient proxy(secrets, clock);
    CalendarSignInListener signIn;
    CalendarService calendar(settings, proxy, secrets, signIn, clock);
    BackendAPIClient backend;
    SlackService slack(backend, secrets, clock);
    ProviderKeyStatus keyStatus(settings);
    LLMService llm(secrets, keyStatus);
    ResearchCache cache(dir.filePath(QStringLiteral("cache")), clock);
    AttendeeResearchService research(llm, cache, calendar, slack, secrets, clock);
    ReminderScheduler scheduler(calendar, research, settings, clock);
    scheduler.start();
    for (auto _ : state) {
        // Publishing runs one full pass: reminders, pruning and the research check.
        calendar.publishEvents(events);
    }
    state.counters["events"] = double(events.size());
    state.counters["offsets_per_event"] = 6;
}
BENCHMARK(schedulerPass)->Unit(benchmark::kMicrosecond);

QString description(int bytes, bool linkAtEnd) {
    QString text;
    const QString filler = QStringLiteral("Agenda: quarterly review, see https://docs.example.com/"
                                          "a/b?c=d for notes. ");
    while (text.size() < bytes)
        text += filler;
    text.truncate(bytes);
    if (linkAtEnd) {
        const QString link = QStringLiteral(" https://us02web.zoom.us/j/8312345678?pwd=abc");
        text.replace(text.size() - link.size(), link.size(), link);
    }
    return text;
}

void extractLinkNoLink(benchmark::State &state) {
    const QString text = description(64 * 1024, false);
    for (auto _ : state)
        benchmark::DoNotOptimize(MeetingLinkParser::extractLink(text));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(extractLinkNoLink)->Unit(benchmark::kMicrosecond);

void extractLinkAtEnd(benchmark::State &state) {
    const QString text = description(64 * 1024, true);
    if (!MeetingLinkParser::extractLink(text))
        state.SkipWithError("link not found");
    for (auto _ : state)
        benchmark::DoNotOptimize(MeetingLinkParser::extractLink(text));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(extractLinkAtEnd)->Unit(benchmark::kMicrosecond);

void attendeeConstruction(benchmark::State &state) {
    const QSet<QString> domains{QStringLiteral("acme.com"), QStringLiteral("acme.io")};
    const QString email = QStringLiteral("jordan.lee@partner-company.example");
    for (auto _ : state)
        benchmark::DoNotOptimize(Attendee(email, std::nullopt, domains));
}
BENCHMARK(attendeeConstruction);
} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
