#include "ManualClock.h"
#include "TestEnvironment.h"
#include "app/AppServices.h"
#include "core/AppSettings.h"
#include "prep/AttendeeResearchService.h"
#include "reminders/FiredReminders.h"
#include "reminders/ReminderScheduler.h"
#include "sync/CalendarService.h"

#include <QCoroSignal>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
// Research whose outcome the test decides: each run waits until `finish` names its event. The
// service's own bookkeeping (what is being researched, for how long) stays real.
class ScriptedResearch : public AttendeeResearchService {
    Q_OBJECT

public:
    using AttendeeResearchService::AttendeeResearchService;

    QStringList started;

    QCoro::Task<std::optional<MeetingBrief>> prepareBrief(CalendarEvent event) override {
        started.append(event.id);
        while (true) {
            const auto [id, brief] = co_await qCoro(this, &ScriptedResearch::finished);
            if (id == event.id)
                co_return brief;
        }
    }

Q_SIGNALS:
    void finished(QString id, std::optional<MeetingBrief> brief);
};

struct Firing {
    QString what; // "id lead-time", or "id -" for a delivery without one
    std::optional<MeetingBrief> brief;
};

MeetingBrief briefFor(const QString &id, const QString &line) {
    MeetingBrief brief;
    brief.eventId = id;
    brief.summary = {line};
    return brief;
}
} // namespace

class TestScheduler : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<AppServices> services;
    CalendarService *calendar = nullptr;
    std::unique_ptr<ScriptedResearch> research;
    std::unique_ptr<ReminderScheduler> scheduler;
    QList<Firing> firings;

    CalendarEvent event(const QString &id, double secondsFromNow,
                        std::optional<QString> account = u"ACC"_s, QStringList attendees = {}) {
        CalendarEvent e;
        e.id = id;
        e.title = id;
        e.startDate = clock->now().addMSecs(qint64(secondsFromNow * 1000));
        e.endDate = e.startDate.addSecs(1800);
        e.accountId = std::move(account);
        e.attendeeEmails = std::move(attendees);
        return e;
    }

    // A scheduler whose firings are recorded; its record of shown reminders is kept in `folder`.
    void makeScheduler(const QString &folder = {}) {
        scheduler =
            std::make_unique<ReminderScheduler>(*calendar, *research, *settings, *clock, folder);
        connect(
            scheduler.get(), &ReminderScheduler::reminderFired, this,
            [this](const CalendarEvent &e, std::optional<std::chrono::seconds> leadTime,
                   const std::optional<MeetingBrief> &b) {
                firings.append(
                    {e.id + u' ' + (leadTime ? QString::number(leadTime->count()) : u"-"_s), b});
            });
    }

    // An earlier run of the app that shows `count` reminders and quits.
    void earlierRun(const QString &folder, int count) {
        ReminderScheduler first(*calendar, *research, *settings, *clock, folder);
        QSignalSpy shown(&first, &ReminderScheduler::reminderFired);
        first.start();
        QTRY_COMPARE(shown.size(), count);
    }

    QStringList fired() const {
        QStringList what;
        for (const Firing &f : firings)
            what << f.what;
        return what;
    }

    // Moves time on and lets queued deliveries run.
    template <typename Step> void advance(Step step) {
        clock->advance(step);
        QCoreApplication::processEvents();
    }

    // Lets a research run end; its result arrives through the event loop.
    void finish(const QString &id, std::optional<MeetingBrief> brief) {
        Q_EMIT research->finished(id, std::move(brief));
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        clock = std::make_unique<ManualClock>();
        services = std::make_unique<AppServices>(*settings, *clock);
        calendar = &services->calendar;
        research =
            std::make_unique<ScriptedResearch>(services->llm, services->researchCache, *calendar,
                                               services->slack, services->secrets, *clock);
        firings.clear();
        makeScheduler();
    }

    void cleanup() {
        // Runs still waiting end, so no coroutine outlives its test.
        for (const QString &id :
             QSet<QString>(research->started.cbegin(), research->started.cend()))
            finish(id, std::nullopt);
        scheduler.reset();
        research.reset();
        services.reset();
        settings.reset();
        env.reset();
    }

    // Each lead time fires once, when its window opens; between things due the scheduler
    // sleeps, at the longest for its longest sleep.
    void leadTimesFireOnceAndTheSchedulerSleepsBetween() {
        for (auto offset :
             {ReminderOffset::fifteenMin, ReminderOffset::fiveMin, ReminderOffset::atStart})
            settings->addReminder(offset, u"ACC"_s);
        // Without guests, "far" never wakes the scheduler for research.
        calendar->publishEvents({event(u"m"_s, 600), event(u"far"_s, 4200)});
        QSignalSpy ticks(scheduler.get(), &ReminderScheduler::ticked);
        scheduler->start();
        // Ten minutes out the 15-minute window has closed; the 5-minute one opens 5:15 before.
        advance(600 - 315 - 1);
        QCOMPARE(ticks.size(), 0);
        QVERIFY(firings.isEmpty());
        advance(1);
        QCOMPARE(ticks.size(), 1);
        QCOMPARE(fired(), QStringList{u"m 300"_s});
        advance(300 - 1);
        QCOMPARE(ticks.size(), 1);
        advance(1);
        QCOMPARE(fired(), (QStringList{u"m 300"_s, u"m 0"_s}));
        advance(std::chrono::seconds(ReminderScheduler::longestSleep) - std::chrono::seconds(1));
        QCOMPARE(ticks.size(), 2);
        advance(1);
        QCOMPARE(ticks.size(), 3);
        QCOMPARE(firings.size(), 2);
    }

    void dueWindowEdges_data() {
        QTest::addColumn<double>("secondsToStart");
        QTest::addColumn<bool>("fires");
        // Offset 300: due while start - 300 - now is in (-30, 15].
        QTest::newRow("16 s before the window") << 316.0 << false;
        QTest::newRow("window opens (15 s early)") << 315.0 << true;
        QTest::newRow("on time") << 300.0 << true;
        QTest::newRow("29 s late") << 271.0 << true;
        QTest::newRow("30 s late is too late") << 270.0 << false;
    }

    void dueWindowEdges() {
        QFETCH(double, secondsToStart);
        QFETCH(bool, fires);
        settings->addReminder(ReminderOffset::fiveMin, u"ACC"_s);
        calendar->publishEvents({event(u"e"_s, secondsToStart)});
        scheduler->start();
        // Delivered through the event loop, never inside the check.
        QVERIFY(firings.isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(fired(), fires ? QStringList{u"e 300"_s} : QStringList{});
    }

    void offsetsFollowTheAccount() {
        settings->addReminder(ReminderOffset::oneMin, u"OTHER"_s);
        settings->removeReminder(ReminderOffset::oneMin, u"EMPTY"_s);
        calendar->publishEvents({
            event(u"no-account"_s, 60, std::nullopt),
            event(u"default"_s, 60, u"NEW"_s),
            event(u"other"_s, 60, u"OTHER"_s),
            event(u"empty"_s, 60, u"EMPTY"_s),
        });
        scheduler->start();
        advance(50); // 10 s before start
        QCOMPARE(fired(), (QStringList{u"other 60"_s, u"no-account 0"_s, u"default 0"_s}));
    }

    // A meeting that started in the ten minutes before the app did gets one late reminder;
    // one that started earlier, or has ended, gets none.
    void meetingsUnderWayAtStartUp() {
        calendar->publishEvents({event(u"just"_s, -5), event(u"ten"_s, -600),
                                 event(u"eleven"_s, -660), event(u"ended"_s, -1801),
                                 event(u"soon"_s, 10)});
        scheduler->start();
        advance(60);
        QCOMPARE(fired(), (QStringList{u"just -"_s, u"ten -"_s, u"soon 0"_s}));
    }

    // A shown reminder is remembered for a day, then forgotten; what is dropped stays dropped.
    void firedRemindersAreKeptADay() {
        const QString folder = env->dataHome() + u"/Zelvane"_s;
        FiredReminders fired(folder);
        const QDateTime first = clock->now();
        fired.insert(u"a"_s, first);
        fired.insert(u"b"_s, first.addSecs(24 * 3600));
        QVERIFY(fired.contains(u"a"_s));
        fired.insert(u"c"_s, first.addSecs(24 * 3600 + 1));
        QVERIFY(!fired.contains(u"a"_s) && fired.contains(u"b"_s) && fired.contains(u"c"_s));
        fired.removeIf([](const QString &key) { return key == u"b"; });
        const FiredReminders reread(folder);
        QVERIFY(!reread.contains(u"a"_s) && !reread.contains(u"b"_s) && reread.contains(u"c"_s));
    }

    // The record of shown reminders outlives the app: started again just after meetings began
    // whose reminders the last run showed, nothing comes again; a meeting whose reminder no run
    // showed gets its one late reminder. The time the machine slept, as the system announces
    // it, is a span the reminders could not show in.
    void restartsAndSleep() {
        const QString folder = env->dataHome() + u"/Zelvane"_s;
        const CalendarEvent soon = event(u"soon"_s, 10), under = event(u"under"_s, -60);
        calendar->publishEvents({soon, under});
        earlierRun(folder, 2);
        QVERIFY(QFileInfo::exists(folder + u"/FiredReminders.json"_s));
        QCOMPARE(QFileInfo(folder + u"/FiredReminders.json"_s).permissions() & 0x0077, 0);
        advance(20);
        calendar->publishEvents({soon, under, event(u"missed"_s, -30)});
        makeScheduler(folder);
        scheduler->start();
        advance(30);
        QCOMPARE(fired(), QStringList{u"missed -"_s});

        calendar->publishEvents({event(u"announced"_s, 120)});
        scheduler->noteSleeping();
        clock->setNow(clock->now().addSecs(180));
        scheduler->noteWoken();
        QCoreApplication::processEvents();
        QCOMPARE(fired(), (QStringList{u"missed -"_s, u"announced -"_s}));
    }

    // The wall clock set forward past the planned wake (announced by the system) is a span
    // the reminders could not show in: the meeting whose lead time fell inside it gets its
    // late reminder at once, unless it was dismissed, and the calendars are read again. Set
    // forward less than that, nothing is missed and nothing is read.
    void clockSetForwardIsAMissedSpan() {
        settings->addReminder(ReminderOffset::fiveMin, u"ACC"_s);
        const CalendarEvent gone = event(u"gone"_s, 600);
        calendar->publishEvents({event(u"near"_s, 600), gone, event(u"jumped"_s, 700)});
        scheduler->start();
        scheduler->dismiss(gone.id);
        QSignalSpy refreshes(calendar, &CalendarService::isLoadingChanged);
        clock->setNow(clock->now().addSecs(100));
        scheduler->noteClockChanged();
        QCoreApplication::processEvents();
        QVERIFY(firings.isEmpty() && refreshes.isEmpty());
        clock->setNow(clock->now().addSecs(550));
        scheduler->noteClockChanged();
        QCoreApplication::processEvents();
        QVERIFY(!refreshes.isEmpty());
        // "near" started during the jump; "jumped" gets its late reminder when it starts.
        QCOMPARE(fired(), QStringList{u"near -"_s});
        advance(49);
        QCOMPARE(firings.size(), 1);
        advance(1);
        QCOMPARE(fired(), (QStringList{u"near -"_s, u"jumped -"_s}));
        // Listed only once its lead time had passed, after the jump: no late reminder.
        calendar->publishEvents({event(u"unseen"_s, 260)});
        advance(300);
        QCOMPARE(firings.size(), 2);
    }

    void pruningUsesTheTextBeforeTheLastHyphen() {
        settings->addReminder(ReminderOffset::fiveMin, u"ACC"_s);
        const CalendarEvent hyphenated = event(u"nylas_a-b-c"_s, 300);
        calendar->publishEvents({hyphenated});
        scheduler->start();
        QCoreApplication::processEvents();
        // Still listed: its key survives pruning, so it does not fire again.
        calendar->publishEvents({hyphenated});
        QCoreApplication::processEvents();
        QCOMPARE(fired(), QStringList{u"nylas_a-b-c 300"_s});
        // Removed, then listed again inside the window: it fires again.
        calendar->publishEvents({});
        calendar->publishEvents({hyphenated});
        QCoreApplication::processEvents();
        QCOMPARE(fired(), (QStringList{u"nylas_a-b-c 300"_s, u"nylas_a-b-c 300"_s}));
    }

    void snoozeRedeliversAMinuteLaterWithTheCurrentBrief() {
        const CalendarEvent e = event(u"s"_s, 10, u"ACC"_s, {u"x@y.z"_s});
        calendar->publishEvents({e});
        scheduler->start();
        QCoreApplication::processEvents();
        QCOMPARE(fired(), QStringList{u"s 0"_s});
        QVERIFY(!firings[0].brief);

        scheduler->scheduleSnooze(e);
        advance(59.9);
        QCOMPARE(firings.size(), 1);
        // A brief that arrives during the snooze travels with the re-delivery.
        finish(u"s"_s, briefFor(u"s"_s, "ready"));
        advance(0.1);
        QCOMPARE(fired(), (QStringList{u"s 0"_s, u"s -"_s}));
        QCOMPARE(firings[1].brief.value_or(MeetingBrief()).summary, QStringList{u"ready"_s});
        // The event has started by now; a snooze is delivered all the same.
        scheduler->scheduleSnooze(e);
        advance(60);
        QCOMPARE(firings.size(), 3);
        // Snoozed twice, it comes back once, a minute after the second; dismissed, never.
        scheduler->scheduleSnooze(e);
        advance(30);
        scheduler->scheduleSnooze(e);
        advance(59);
        QCOMPARE(firings.size(), 3);
        advance(1);
        QCOMPARE(firings.size(), 4);
        scheduler->scheduleSnooze(e);
        advance(17);
        scheduler->dismiss(e.id);
        advance(120);
        QCOMPARE(firings.size(), 4);
    }

    // Research starts once for each meeting with guests that is within the hour; a brief
    // that comes after the menu's progress mark has timed out is kept all the same.
    void researchStartsWithinTheHourOnce() {
        const QStringList people{u"a@x.com"_s};
        calendar->publishEvents({
            // Exactly an hour away is within the hour.
            event(u"soon"_s, 60 * 60, u"ACC"_s, people),
            event(u"alone"_s, 59 * 60),
            event(u"later"_s, 61 * 60 + 10, u"ACC"_s, people),
            event(u"started"_s, -1, u"ACC"_s, people),
        });
        QSignalSpy researching(scheduler.get(), &ReminderScheduler::researchingChanged);
        QSignalSpy briefs(scheduler.get(), &ReminderScheduler::briefsChanged);
        scheduler->start();
        QCOMPARE(research->started, QStringList{u"soon"_s});
        QVERIFY(scheduler->researching().contains(u"soon"_s));
        QVERIFY(researching.count() >= 1);

        // The cold-start pass asks again, but the run in progress answers for it.
        advance(ReminderScheduler::coldStartDelay);
        QCOMPARE(research->started, QStringList{u"soon"_s});
        // "later" enters the hour on a later wake; the menu's mark for "soon" times out.
        advance(120);
        QCOMPARE(research->started, (QStringList{u"soon"_s, u"later"_s}));
        QVERIFY(!scheduler->researching().contains(u"soon"_s));
        finish(u"soon"_s, briefFor(u"soon"_s, "late"));
        QCOMPARE(briefs.count(), 1);
        QCOMPARE(scheduler->briefs().value(u"soon"_s).summary, QStringList{u"late"_s});
        // Done, it is not researched again at the next check.
        calendar->publishEvents(calendar->events());
        QCOMPARE(research->started, (QStringList{u"soon"_s, u"later"_s}));
    }

    void coldStartPassRetriesWhatTheFirstCheckStarted() {
        calendar->publishEvents({event(u"c"_s, 1800, u"ACC"_s, {u"a@x.com"_s})});
        scheduler->start();
        finish(u"c"_s, std::nullopt);
        advance(ReminderScheduler::coldStartDelay);
        QCOMPARE(research->started, (QStringList{u"c"_s, u"c"_s}));
    }

    void briefTravelsWithTheFiring() {
        settings->addReminder(ReminderOffset::twoMin, u"ACC"_s);
        calendar->publishEvents({event(u"b"_s, 200, u"ACC"_s, {u"a@x.com"_s})});
        scheduler->start();
        finish(u"b"_s, briefFor(u"b"_s, "prep"));
        advance(75); // 125 s before start: the 2-minute window
        QCOMPARE(fired(), QStringList{u"b 120"_s});
        QCOMPARE(firings.last().brief.value_or(MeetingBrief()).eventId, u"b"_s);
    }

    void nothingHappensOnceTheSchedulerIsGone() {
        const CalendarEvent e = event(u"g"_s, 10);
        calendar->publishEvents({e});
        scheduler->start();
        scheduler->scheduleSnooze(e);
        scheduler.reset();
        advance(120);
        QVERIFY(firings.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
