// Feeds made to crash or exhaust the reader. Each is read in a child process, so a crash or a
// runaway is measured instead of ending the run: peak memory, time, and how the read ended
// (its label). A child is stopped at 20 s or 4 GiB of address space.
#include "sync/FeedParser.h"

#include <benchmark/benchmark.h>
#include <csignal>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const QDateTime windowStart(QDate(2027, 3, 1), QTime(0, 0), Qt::UTC);
const FeedOwner owner{QStringLiteral("ACC"), QStringLiteral("ACC"), QStringLiteral("Team")};
constexpr unsigned limitSeconds = 20;
constexpr rlim_t limitBytes = rlim_t(4) << 30;

QByteArray calendar(const QByteArray &events) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + events + "END:VCALENDAR\r\n";
}

QByteArray event(const QByteArray &uid, const QByteArray &lines) {
    return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTART:20270301T100000Z\r\n" + lines +
           "END:VEVENT\r\n";
}

QByteArray nested() {
    QByteArray feed = "BEGIN:VCALENDAR\r\n";
    for (int i = 0; i < 300'000; ++i)
        feed += "BEGIN:X-A\r\n";
    for (int i = 0; i < 300'000; ++i)
        feed += "END:X-A\r\n";
    return feed + "END:VCALENDAR\r\n";
}

QByteArray minutely(int events) {
    QByteArray all;
    for (int i = 0; i < events; ++i)
        all += event("m" + QByteArray::number(i), "RRULE:FREQ=MINUTELY\r\n");
    return calendar(all);
}

QByteArray manyRules() {
    QByteArray rules;
    for (int i = 0; i < 60; ++i)
        rules += "RRULE:FREQ=MINUTELY;INTERVAL=" + QByteArray::number(i + 1) + "\r\n";
    return calendar(event("r", rules));
}

QByteArray noValidDate() {
    return calendar(event("s", "RRULE:FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30\r\n"));
}

QByteArray millionLines() {
    QByteArray lines;
    for (int i = 0; i < 1'000'000; ++i)
        lines += "X:1\r\n";
    return calendar(event("x", lines));
}

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void BM_FeedAttack(benchmark::State &state, QByteArray (*make)()) {
    const QByteArray feed = make();
    for (auto _ : state) {
        // The pipe carries the child's verdict; the parent never parses, so no pool thread
        // exists when it forks.
        int verdict[2];
        if (::pipe(verdict) != 0) {
            state.SkipWithError("no pipe");
            return;
        }
        const double started = now();
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(verdict[0]);
            const rlimit space{limitBytes, limitBytes};
            ::setrlimit(RLIMIT_AS, &space);
            ::alarm(limitSeconds);
            QByteArray said;
            try {
                said = "read " +
                       QByteArray::number(
                           FeedParser::parse(feed, owner, windowStart, windowStart.addDays(90))
                               .size()) +
                       " events";
            } catch (const FeedError &error) {
                said = "refused: " + error.description().toUtf8();
            } catch (const std::bad_alloc &) {
                said = "out of memory";
            }
            [[maybe_unused]] const auto written =
                ::write(verdict[1], said.constData(), size_t(said.size()));
            ::_exit(0);
        }
        ::close(verdict[1]);
        QByteArray said;
        char buffer[512];
        for (ssize_t n; (n = ::read(verdict[0], buffer, sizeof buffer)) > 0;)
            said.append(buffer, n);
        ::close(verdict[0]);
        int status = 0;
        rusage usage{};
        ::wait4(child, &status, 0, &usage);
        state.counters["seconds"] = now() - started;
        state.counters["peak_rss_mb"] = double(usage.ru_maxrss) / 1024.0;
        state.counters["feed_kb"] = double(feed.size()) / 1024.0;
        if (WIFSIGNALED(status))
            said = WTERMSIG(status) == SIGALRM
                       ? "stopped at the time limit"
                       : "killed by " + QByteArray(strsignal(WTERMSIG(status)));
        state.SetLabel(said.toStdString());
    }
}
} // namespace

BENCHMARK_CAPTURE(BM_FeedAttack, nested_300000, &nested)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FeedAttack, minutely_10000_events, [] { return minutely(10'000); })
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FeedAttack, minutely_1000_events, [] { return minutely(1'000); })
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FeedAttack, one_event_60_rules, &manyRules)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FeedAttack, no_valid_date, &noValidDate)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FeedAttack, one_event_1000000_lines, &millionLines)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
