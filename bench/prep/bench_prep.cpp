// Prompt assembly and cache look-ups: the work a research run does before the model call.
#include "ManualClock.h"
#include "core/MeetingBrief.h"
#include "prep/ResearchCache.h"
#include "prep/ResearchPrompt.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {
constexpr int people = 8;

QString external(int i) {
    return QStringLiteral("person%1@partner%1.example.com").arg(i);
}
QString internal(int i) {
    return QStringLiteral("first.last%1@zelvane.app").arg(i);
}

struct Meeting {
    CalendarEvent event;
    QStringList externals, internals;
    QHash<QString, QList<EmailThread>> email;
    QHash<QString, QList<SlackMessage>> slack;
};

// Every person has more threads and messages than the prompt takes, all longer than the cut.
Meeting fullMeeting() {
    Meeting m;
    m.event.id = QStringLiteral("evt");
    m.event.title = QStringLiteral("Quarterly partnership review");
    m.event.startDate = QDateTime(QDate(2027, 1, 15), QTime(16, 30), Qt::UTC);
    m.event.calendarTitle = QStringLiteral("Work");
    m.event.location = QStringLiteral("Room 4");
    m.event.notes = QString(600, u'n');
    const QString snippet = QString(400, u's');
    for (int i = 0; i < people; ++i) {
        m.externals.append(external(i));
        m.internals.append(internal(i));
    }
    for (const QString &address : m.externals + m.internals) {
        for (int t = 0; t < 5; ++t)
            m.email[address].append({QStringLiteral("t%1").arg(t), QStringLiteral("Re: contract"),
                                     address, QStringLiteral("Jan 3, 2027"), snippet, 4});
        for (int s = 0; s < 6; ++s)
            m.slack[address].append({snippet, QStringLiteral("partners"), QStringLiteral("ana"),
                                     QStringLiteral("1767225600.000100"), QString()});
    }
    return m;
}

void buildBothPrompts(benchmark::State &state) {
    const Meeting m = fullMeeting();
    QList<MeetingBrief::AttendeeProfile> known;
    for (int i = 0; i < 3; ++i)
        known.append({external(i),
                      QStringLiteral("Known %1").arg(i),
                      QStringLiteral("CTO"),
                      QStringLiteral("Partner"),
                      {},
                      {},
                      {},
                      {}});
    qsizetype length = 0;
    for (auto _ : state) {
        const QString header = ResearchPrompt::meetingHeader(m.event);
        const QString internalSection = ResearchPrompt::internalSection(m.internals);
        const QString email = ResearchPrompt::emailSection(m.email);
        const QString slack = ResearchPrompt::slackSection(m.slack);
        const QString attendee = ResearchPrompt::attendeeUserPrompt(
            header, m.externals.mid(3), known, internalSection, email, slack);
        const QString topic =
            ResearchPrompt::topicUserPrompt(header, internalSection, email, slack);
        length = attendee.size() + topic.size();
        benchmark::DoNotOptimize(length);
    }
    state.counters["prompt_chars"] = double(length);
}
BENCHMARK(buildBothPrompts)->Unit(benchmark::kMicrosecond);

void cacheLookupPass(benchmark::State &state) {
    QTemporaryDir dir;
    ManualClock clock;
    ResearchCache cache(dir.path(), clock);
    const QSet<QString> domains{QStringLiteral("zelvane.app")};
    for (int i = 0; i < people; ++i) {
        MeetingBrief::AttendeeProfile p;
        p.email = external(i);
        p.name = QStringLiteral("Person");
        p.role = QStringLiteral("VP Engineering");
        p.company = QStringLiteral("Partner %1").arg(i);
        p.companyDescription = QString(200, u'd');
        p.recentNews = QString(300, u'r');
        p.linkedInURL = QUrl(QStringLiteral("https://www.linkedin.com/in/person%1").arg(i));
        const QString id = Attendee(p.email, std::nullopt, domains).id;
        cache.store(id, CachedResearch(id, p, QStringLiteral("evt"), clock.now()));
    }
    int hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (int i = 0; i < people; ++i)
            hits += cache.get(Attendee(external(i), std::nullopt, domains).id).has_value();
        benchmark::DoNotOptimize(hits);
    }
    if (hits != people)
        state.SkipWithError("cache missed");
    state.counters["people"] = people;
}
BENCHMARK(cacheLookupPass)->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
