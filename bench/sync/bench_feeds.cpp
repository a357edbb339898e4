// A 2 MB calendar feed of 3,000 events, 300 of them recurring, read the way every changed
// feed is read on a poll: parsed, expanded over the next 90 days and converted.
#include "sync/FeedParser.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

namespace {
const QDateTime windowStart(QDate(2027, 3, 1), QTime(0, 0), Qt::UTC);

QByteArray stamp(const QDateTime &t) {
    return t.toString(u"yyyyMMdd'T'HHmmss").toUtf8();
}

QByteArray generatedFeed() {
    QByteArray ics = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Bench//EN\r\n"
                     "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\n"
                     "BEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
                     "DTSTART:19700329T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\n"
                     "END:DAYLIGHT\r\nBEGIN:STANDARD\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
                     "DTSTART:19701025T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\n"
                     "END:STANDARD\r\nEND:VTIMEZONE\r\n";
    const QByteArray agenda =
        "DESCRIPTION:Agenda: review the quarter\\, decide on the roadmap\\, and agree "
        "on owners. Notes: https://docs.example.com/a/b?c=d\\nJoin: https://meet.jit.si/Room\r\n";
    for (int i = 0; i < 3000; ++i) {
        // A year before the window to a month after it, so most events fall outside.
        const QDateTime start = windowStart.addDays(-365 + (i * 37) % 487).addSecs(3600 * (i % 10));
        QByteArray e = "BEGIN:VEVENT\r\nUID:event-" + QByteArray::number(i) +
                       "@bench.example\r\nSUMMARY:Meeting " + QByteArray::number(i) +
                       "\r\nDTSTART;TZID=Europe/Berlin:" + stamp(start) +
                       "\r\nDTEND;TZID=Europe/Berlin:" + stamp(start.addSecs(1800)) + "\r\n";
        if (i % 10 == 0) {
            e += i % 20 == 0 ? "RRULE:FREQ=WEEKLY;BYDAY=MO,WE\r\n"
                             : "RRULE:FREQ=DAILY;INTERVAL=2\r\n";
            e += "EXDATE;TZID=Europe/Berlin:" + stamp(start.addDays(14)) + "\r\n";
        }
        e += "ORGANIZER;CN=Organizer:mailto:organizer@partner.example\r\n";
        for (int a = 0; a < 4; ++a)
            e += "ATTENDEE;CN=Person;PARTSTAT=ACCEPTED;ROLE=REQ-PARTICIPANT:mailto:person" +
                 QByteArray::number(a) + "@partner.example\r\n";
        e += "LOCATION:Room " + QByteArray::number(i % 40) + "\r\n" + agenda;
        e += "END:VEVENT\r\n";
        ics += e;
    }
    ics += "END:VCALENDAR\r\n";
    return ics;
}

void BM_ParseExpandConvert(benchmark::State &state) {
    const QByteArray feed = generatedFeed();
    const FeedOwner owner{QStringLiteral("ACC"), QStringLiteral("ACC"), QStringLiteral("Team")};
    qsizetype instances = 0;
    for (auto _ : state) {
        const auto events = FeedParser::parse(feed, owner, windowStart, windowStart.addDays(90));
        instances = events.size();
        benchmark::DoNotOptimize(events.data());
    }
    state.counters["feed_bytes"] = double(feed.size());
    state.counters["instances"] = double(instances);
}
} // namespace

BENCHMARK(BM_ParseExpandConvert)->Unit(benchmark::kMillisecond)->MinTime(3.0);

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
