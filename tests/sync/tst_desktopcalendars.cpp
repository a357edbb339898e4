// The desktop's calendars, read from a real Evolution Data Server on a private session bus.

#include "DesktopStore.h"
#include "ManualClock.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "models/AccountsModel.h"
#include "models/GeneralSettingsModel.h"
#include "models/OnboardingFlow.h"
#include "platform/GLibCall.h"
#include "platform/SecretStore.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/DesktopCalendarSource.h"
#include "sync/DesktopEventReader.h"
#include "sync/SignInListener.h"
#include "sync/SlackService.h"

#include <QSignalSpy>
#include <QTest>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
// Monday 4 March 2030, 09:00 UTC: the series below crosses the switch to summer time.
const QDateTime now = QDateTime(QDate(2030, 3, 4), QTime(9, 0), Qt::UTC);
const QString accountId = u"DESKTOP-ACCOUNT"_s;

QDateTime utc(int month, int day, int hour, int minute = 0) {
    return QDateTime(QDate(2030, month, day), QTime(hour, minute), Qt::UTC);
}

QByteArray calendar(const QByteArray &events) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Zelvane tests//EN\r\nMETHOD:PUBLISH\r\n" +
           events + "END:VCALENDAR\r\n";
}

// A weekly stand-up in Berlin's time, five times from 11 March: the second is moved to the
// afternoon and renamed, the fourth cancelled.
const QByteArray standup = "BEGIN:VEVENT\r\nUID:standup@test\r\nDTSTAMP:20300101T000000Z\r\n"
                           "DTSTART;TZID=Europe/Berlin:20300311T100000\r\n"
                           "DTEND;TZID=Europe/Berlin:20300311T103000\r\n"
                           "RRULE:FREQ=WEEKLY;COUNT=5\r\nSUMMARY:Standup\r\nEND:VEVENT\r\n"
                           "BEGIN:VEVENT\r\nUID:standup@test\r\nDTSTAMP:20300101T000000Z\r\n"
                           "RECURRENCE-ID;TZID=Europe/Berlin:20300318T100000\r\n"
                           "DTSTART;TZID=Europe/Berlin:20300318T140000\r\n"
                           "DTEND;TZID=Europe/Berlin:20300318T143000\r\n"
                           "SUMMARY:Standup (moved)\r\nEND:VEVENT\r\n"
                           "BEGIN:VEVENT\r\nUID:standup@test\r\nDTSTAMP:20300101T000000Z\r\n"
                           "RECURRENCE-ID;TZID=Europe/Berlin:20300401T100000\r\n"
                           "DTSTART;TZID=Europe/Berlin:20300401T100000\r\n"
                           "DTEND;TZID=Europe/Berlin:20300401T103000\r\n"
                           "STATUS:CANCELLED\r\nSUMMARY:Standup\r\nEND:VEVENT\r\n";

QByteArray single(const QByteArray &uid, const QByteArray &summary, const QByteArray &start,
                  const QByteArray &end, const QByteArray &extra = {}) {
    return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTAMP:20300101T000000Z\r\nDTSTART:" + start +
           "\r\nDTEND:" + end + "\r\nSUMMARY:" + summary + "\r\n" + extra + "END:VEVENT\r\n";
}

const QByteArray review =
    single("review@test", "Review", "20300305T150000Z", "20300305T160000Z",
           "LOCATION:Room 4\r\nDESCRIPTION:Fallback https://zoom.us/j/123456789\r\n"
           "X-GOOGLE-CONFERENCE:https://meet.google.com/abc-defg-hij\r\n"
           "ORGANIZER;CN=Ann:mailto:ann@example.com\r\n"
           "ATTENDEE;CN=Bob;PARTSTAT=NEEDS-ACTION:mailto:bob@partner.org\r\n"
           "ATTENDEE;CN=Me;PARTSTAT=ACCEPTED:mailto:me@example.org\r\n");
// Left out: declined by the user (written in another case), cancelled, all day, over.
const QByteArray leftOut =
    single("declined@test", "Declined", "20300305T100000Z", "20300305T110000Z",
           "ATTENDEE;CN=Me;PARTSTAT=DECLINED:mailto:Me@Example.org\r\n") +
    single("cancelled@test", "Cancelled", "20300305T120000Z", "20300305T130000Z",
           "STATUS:CANCELLED\r\n") +
    "BEGIN:VEVENT\r\nUID:holiday@test\r\nDTSTAMP:20300101T000000Z\r\n"
    "DTSTART;VALUE=DATE:20300306\r\nDTEND;VALUE=DATE:20300307\r\nSUMMARY:Holiday\r\n"
    "END:VEVENT\r\n" +
    single("past@test", "Past", "20300201T100000Z", "20300201T110000Z");

QList<CalendarEvent> sorted(QList<CalendarEvent> events) {
    std::stable_sort(events.begin(), events.end(),
                     [](const auto &a, const auto &b) { return a.startDate < b.startDate; });
    return events;
}

QStringList titles(const QList<CalendarEvent> &events) {
    QStringList result;
    for (const CalendarEvent &event : sorted(events))
        result << event.title;
    return result;
}

std::optional<CalendarEvent> find(const QList<CalendarEvent> &events, const QString &title) {
    for (const CalendarEvent &event : events)
        if (event.title == title)
            return event;
    return std::nullopt;
}

bool listed(const DesktopCalendarSource &source, const QString &calendarId) {
    const auto &calendars = source.calendars();
    return std::any_of(calendars.cbegin(), calendars.cend(),
                       [&](const DesktopCalendar &c) { return c.id == calendarId; });
}
} // namespace

class TestDesktopCalendars : public QObject {
    Q_OBJECT

    std::unique_ptr<DesktopStore> store;
    ManualClock clock{now};
    QString team;

    // The running store with the "Team" calendar, whatever an earlier case left behind.
    void startStore() {
        if (!store)
            store = std::make_unique<DesktopStore>();
        if (!QDBusConnection::sessionBus().interface()->isServiceRegistered(
                QLatin1String(DesktopStore::registryName)))
            QVERIFY(store->start());
        if (team.isEmpty()) {
            store->addIdentity(u"me@example.org"_s);
            team = store->createCalendar(u"Team"_s, u"#3366cc"_s);
        }
        store->put(team, calendar(standup + review + leftOut));
    }

    static void openAndLoad(DesktopCalendarSource &source, const QString &calendarId) {
        source.open();
        QTRY_VERIFY_WITH_TIMEOUT(listed(source, calendarId), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(find(source.events(accountId), u"Review"_s), 20000);
    }

private Q_SLOTS:
    void meetingLinks_data() {
        QTest::addColumn<QByteArray>("properties");
        QTest::addColumn<QString>("link");
        QTest::newRow("conference beats location")
            << QByteArray("LOCATION:https://zoom.us/j/111\r\n"
                          "CONFERENCE;VALUE=URI:https://meet.google.com/aaa-bbbb-ccc\r\n")
            << u"https://meet.google.com/aaa-bbbb-ccc"_s;
        QTest::newRow("teams address")
            << QByteArray("X-MICROSOFT-SKYPETEAMSMEETINGURL:https://teams.microsoft.com/l/"
                          "meetup-join/19%3ameeting\r\n")
            << u"https://teams.microsoft.com/l/meetup-join/19%3Ameeting"_s;
        QTest::newRow("online meeting link, joined spelling")
            << QByteArray("X-MICROSOFT-ONLINEMEETINGCONFLINK:https://teams.microsoft.com/l/x\r\n")
            << u"https://teams.microsoft.com/l/x"_s;
        QTest::newRow("location before url and description")
            << QByteArray("LOCATION:https://zoom.us/j/222\r\nURL:https://zoom.us/j/333\r\n"
                          "DESCRIPTION:https://zoom.us/j/444\r\n")
            << u"https://zoom.us/j/222"_s;
        QTest::newRow("url before description")
            << QByteArray("URL:https://zoom.us/j/333\r\nDESCRIPTION:https://zoom.us/j/444\r\n")
            << u"https://zoom.us/j/333"_s;
        QTest::newRow("description last")
            << QByteArray("LOCATION:Room 1\r\nDESCRIPTION:Join https://zoom.us/j/444 now\r\n")
            << u"https://zoom.us/j/444"_s;
        QTest::newRow("a conference that is no web address is passed over")
            << QByteArray("X-GOOGLE-CONFERENCE:tel:+1-555-0100\r\nLOCATION:https://zoom.us/j/5\r\n")
            << u"https://zoom.us/j/5"_s;
        QTest::newRow("none") << QByteArray("LOCATION:Room 1\r\n") << QString();
    }
    void meetingLinks() {
        QFETCH(QByteArray, properties);
        QFETCH(QString, link);
        const QByteArray text = "BEGIN:VEVENT\r\nUID:x\r\nSUMMARY:Sync\r\n" + properties +
                                "DTSTART:20300305T100000Z\r\nEND:VEVENT\r\n";
        icalcomponent *event = icalcomponent_new_from_string(text.constData());
        QVERIFY(event);
        const DesktopEventReader reader(u"cal"_s, u"Team"_s, std::nullopt, {});
        const auto details = reader.details(event);
        icalcomponent_free(event);
        QCOMPARE(details.meetingLink.value_or(QUrl()).toString(), link);
    }

    // An event that occurs once is placed without the store's expansion, exactly where that
    // expansion places it: zones, dates, durations, missing ends and the window's edges.
    void singleEventsPlacedAsTheStoreDoes_data() {
        QTest::addColumn<QByteArray>("times");
        QTest::newRow("utc") << QByteArray("DTSTART:20300305T150000Z\r\nDTEND:20300305T160000Z");
        QTest::newRow("zone") << QByteArray("DTSTART;TZID=Europe/Berlin:20300305T150000\r\n"
                                            "DTEND;TZID=Europe/Berlin:20300305T160000");
        QTest::newRow("start and end in other zones")
            << QByteArray("DTSTART;TZID=Europe/Berlin:20300305T150000\r\n"
                          "DTEND;TZID=Asia/Tokyo:20300306T010000");
        QTest::newRow("floating") << QByteArray("DTSTART:20300305T150000\r\nDTEND:20300305T160000");
        QTest::newRow("zone unknown to the store")
            << QByteArray("DTSTART;TZID=Nowhere/Special:20300305T150000\r\n"
                          "DTEND;TZID=Nowhere/Special:20300305T160000");
        QTest::newRow("all day") << QByteArray(
            "DTSTART;VALUE=DATE:20300306\r\nDTEND;VALUE=DATE:20300307");
        QTest::newRow("all day ending the day it starts")
            << QByteArray("DTSTART;VALUE=DATE:20300306\r\nDTEND;VALUE=DATE:20300306");
        QTest::newRow("date without end") << QByteArray("DTSTART;VALUE=DATE:20300306");
        QTest::newRow("no end") << QByteArray("DTSTART;TZID=Europe/Berlin:20300305T150000");
        QTest::newRow("duration") << QByteArray("DTSTART:20300305T150000Z\r\nDURATION:PT1H30M");
        QTest::newRow("duration across the switch to summer time")
            << QByteArray("DTSTART;TZID=Europe/Berlin:20300330T120000\r\nDURATION:P1DT2H");
        QTest::newRow("days across the switch to summer time")
            << QByteArray("DTSTART;TZID=Europe/Berlin:20300330T120000\r\n"
                          "DTEND;TZID=Europe/Berlin:20300401T120000");
        QTest::newRow("end before start")
            << QByteArray("DTSTART:20300305T150000Z\r\nDTEND:20300305T140000Z");
        QTest::newRow("ends where the window starts")
            << QByteArray("DTSTART:20300304T080000Z\r\nDTEND:20300304T090000Z");
        QTest::newRow("crosses the window's start")
            << QByteArray("DTSTART:20300304T080000Z\r\nDTEND:20300304T090001Z");
        QTest::newRow("instant at the window's start") << QByteArray("DTSTART:20300304T090000Z");
        QTest::newRow("instant just before the window")
            << QByteArray("DTSTART:20300304T085959Z\r\nDTEND:20300304T085959Z");
        QTest::newRow("instant in the window") << QByteArray("DTSTART:20300305T150000Z");
        QTest::newRow("empty at the window's start")
            << QByteArray("DTSTART:20300304T090000Z\r\nDTEND:20300304T090000Z");
        QTest::newRow("starts where the window ends")
            << QByteArray("DTSTART:20300602T090000Z\r\nDTEND:20300602T100000Z");
        QTest::newRow("starts just before the window ends")
            << QByteArray("DTSTART:20300602T085959Z\r\nDTEND:20300602T100000Z");
        QTest::newRow("over") << QByteArray("DTSTART:20300201T100000Z\r\nDTEND:20300201T110000Z");
        QTest::newRow("detached instance")
            << QByteArray("RECURRENCE-ID;TZID=Europe/Berlin:20300318T100000\r\n"
                          "DTSTART;TZID=Europe/Berlin:20300318T140000\r\n"
                          "DTEND;TZID=Europe/Berlin:20300318T143000");
    }
    void singleEventsPlacedAsTheStoreDoes() {
        QFETCH(QByteArray, times);
        const QByteArray text =
            "BEGIN:VEVENT\r\nUID:x\r\nSUMMARY:Once\r\n" + times + "\r\nEND:VEVENT\r\n";
        GLib::Ref<ICalComponent> event(i_cal_component_new_from_string(text.constData()));
        QVERIFY(event);
        // Floating times are somewhere else than the tests' own zone.
        ICalTimezone *defaultZone = i_cal_timezone_get_builtin_timezone("America/New_York");
        GLib::Ref<ICalTime> from(i_cal_time_new_from_timet_with_zone(
            time_t(now.toSecsSinceEpoch()), FALSE, i_cal_timezone_get_utc_timezone()));
        GLib::Ref<ICalTime> to(i_cal_time_new_from_timet_with_zone(
            time_t(now.addDays(90).toSecsSinceEpoch()), FALSE, i_cal_timezone_get_utc_timezone()));
        const auto lookUp = [](const gchar *tzid, gpointer, GCancellable *,
                               GError **) -> ICalTimezone * {
            return i_cal_timezone_get_builtin_timezone(tzid);
        };
        // Each instance as start and end with their zones' offsets, and whether they are dates.
        const auto describe = [](const icaltimetype &start, const icaltimetype &end) {
            return QStringLiteral("%1 %2 %3 %4")
                .arg(QString::fromLatin1(icaltime_as_ical_string(start)))
                .arg(icaltime_as_timet_with_zone(start, start.zone))
                .arg(QString::fromLatin1(icaltime_as_ical_string(end)))
                .arg(icaltime_as_timet_with_zone(end, end.zone));
        };
        QStringList expected;
        const auto take = [](ICalComponent *, ICalTime *start, ICalTime *end, gpointer data,
                             GCancellable *, GError **) -> gboolean {
            static_cast<QList<std::pair<icaltimetype, icaltimetype>> *>(data)->append(
                {*static_cast<const icaltimetype *>(i_cal_object_get_native(I_CAL_OBJECT(start))),
                 *static_cast<const icaltimetype *>(i_cal_object_get_native(I_CAL_OBJECT(end)))});
            return TRUE;
        };
        QList<std::pair<icaltimetype, icaltimetype>> instances;
        QVERIFY(e_cal_recur_generate_instances_sync(event.get(), from.get(), to.get(), take,
                                                    &instances, lookUp, nullptr, defaultZone,
                                                    nullptr, nullptr));
        for (const auto &[start, end] : std::as_const(instances))
            expected << describe(start, end);

        const auto native = [](auto *object) {
            return i_cal_object_get_native(I_CAL_OBJECT(object));
        };
        const auto zoneOf = [](const char *tzid) -> icaltimezone * {
            ICalTimezone *zone = i_cal_timezone_get_builtin_timezone(tzid);
            return zone ? static_cast<icaltimezone *>(i_cal_object_get_native(I_CAL_OBJECT(zone)))
                        : nullptr;
        };
        const auto instance = DesktopEventReader::onlyInstance(
            static_cast<icalcomponent *>(native(event.get())),
            *static_cast<const icaltimetype *>(native(from.get())),
            *static_cast<const icaltimetype *>(native(to.get())), zoneOf,
            static_cast<icaltimezone *>(native(defaultZone)));
        QStringList placed;
        if (instance)
            placed << describe(instance->first, instance->second);
        QCOMPARE(placed, expected);
    }

    void choiceGreyedOutWithoutStore() {
        TestEnvironment environment;
        auto settings = environment.makeSettings();
        SecretStore secrets;
        CalendarProxyClient proxy(secrets, clock);
        CalendarSignInListener listener;
        BackendAPIClient backend;
        SlackService slack(backend, secrets, clock);
        CalendarService service(*settings, proxy, secrets, listener, clock);
        AccountsModel accounts(service, slack);
        OnboardingFlow onboarding(service);
        // Not known yet: nothing is greyed out before the bus has answered.
        QVERIFY(!accounts.unavailableReason(CalendarProvider::desktop));
        service.startMonitoring();
        QTRY_COMPARE(service.desktopAvailability(), DesktopCalendarSource::Availability::absent);
        const QString reason = u"Evolution Data Server is not running on this desktop"_s;
        QCOMPARE(accounts.unavailableReason(CalendarProvider::desktop), reason);
        QCOMPARE(onboarding.unavailableReason(CalendarProvider::desktop), reason);
        QVERIFY(!accounts.unavailableReason(CalendarProvider::google));
        QVERIFY(!onboarding.unavailableReason(CalendarProvider::feed));

        accounts.connectProvider(CalendarProvider::desktop);
        onboarding.connectProvider(CalendarProvider::desktop);
        QVERIFY(service.accounts().isEmpty());
    }

    void storeAbsentThenStarted() {
        DesktopCalendarSource source(clock);
        QSignalSpy lost(&source, &DesktopCalendarSource::lostChanged);
        source.watch();
        QTRY_COMPARE(source.availability(), DesktopCalendarSource::Availability::absent);
        source.open();
        QVERIFY(source.isLost());
        QCOMPARE(DesktopCalendars::problemText(),
                 u"Evolution Data Server is not running on this desktop"_s);

        startStore();
        QTRY_COMPARE_WITH_TIMEOUT(source.availability(),
                                  DesktopCalendarSource::Availability::present, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!source.isLost(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(find(source.events(accountId), u"Review"_s), 20000);
        QCOMPARE(lost.count(), 2);
    }

    void recurringSeriesWithException() {
        startStore();
        DesktopCalendarSource source(clock);
        source.watch();
        openAndLoad(source, team);

        const auto calendars = source.calendars();
        const auto info = std::find_if(calendars.cbegin(), calendars.cend(),
                                       [&](const DesktopCalendar &c) { return c.id == team; });
        QCOMPARE(info->name, u"Team"_s);
        QCOMPARE(info->hexColor, u"#3366cc"_s);
        QCOMPARE(info->group, u"On This Computer"_s);

        QList<CalendarEvent> events;
        for (const CalendarEvent &event : source.events(accountId))
            if (event.calendarId == team)
                events.append(event);
        events = sorted(events);
        QCOMPARE(titles(events), (QStringList{u"Review"_s, u"Standup"_s, u"Standup (moved)"_s,
                                              u"Standup"_s, u"Standup"_s}));
        // In Berlin's time: 10:00 is 09:00 UTC in winter and 08:00 UTC from 31 March.
        QCOMPARE(events[1].startDate, utc(3, 11, 9));
        QCOMPARE(events[1].endDate, utc(3, 11, 9, 30));
        QCOMPARE(events[2].startDate, utc(3, 18, 13));
        QCOMPARE(events[3].startDate, utc(3, 25, 9));
        QCOMPARE(events[4].startDate, utc(4, 8, 8));
        // A moved instance keeps the id of the place the series gave it.
        QCOMPARE(events[2].id, DesktopEventReader::eventId(team, u"standup@test"_s,
                                                           utc(3, 18, 9).toSecsSinceEpoch()));
        QCOMPARE(QSet<QString>({events[1].id, events[2].id, events[3].id, events[4].id}).size(), 4);

        const CalendarEvent &r = events[0];
        QCOMPARE(r.startDate, utc(3, 5, 15));
        QCOMPARE(r.meetingLink, QUrl(u"https://meet.google.com/abc-defg-hij"_s));
        QCOMPARE(r.attendeeEmails,
                 (QStringList{u"bob@partner.org"_s, u"me@example.org"_s, u"ann@example.com"_s}));
        QCOMPARE(r.organizerEmail, u"ann@example.com"_s);
        QCOMPARE(r.location, u"Room 4"_s);
        QCOMPARE(r.calendarTitle, u"Team"_s);
        QCOMPARE(r.calendarColor, QColor(0x33, 0x66, 0xcc));
        QCOMPARE(r.accountId, accountId);
        QCOMPARE(r.provider, CalendarProvider::desktop);

        // The store adds an EXDATE to a series for each instance written detached from it; a
        // synced account's calendar keeps the series as its server sent it, without them.
        const QString synced = store->createCalendar(
            u"Synced"_s, u"#228844"_s, calendar(QByteArray(standup).replace("Standup", "Synced")));
        QTRY_VERIFY_WITH_TIMEOUT(find(source.events(accountId), u"Synced"_s), 20000);
        events.clear();
        for (const CalendarEvent &event : source.events(accountId))
            if (event.calendarId == synced)
                events.append(event);
        events = sorted(events);
        QCOMPARE(titles(events),
                 (QStringList{u"Synced"_s, u"Synced (moved)"_s, u"Synced"_s, u"Synced"_s}));
        QCOMPARE(events[1].startDate, utc(3, 18, 13));
        QCOMPARE(events[3].startDate, utc(4, 8, 8));
    }

    // An online account's calendars come under its address, and that address is the user's
    // own: a meeting it declined is left out.
    void onlineAccountCalendarsGrouped() {
        startStore();
        const QString work =
            store->createAccountCalendar(u"alice@example.net"_s, u"Work"_s, u"#884422"_s);
        store->put(
            work,
            calendar(single("kept@test", "Kept", "20300305T100000Z", "20300305T110000Z",
                            "ATTENDEE;PARTSTAT=ACCEPTED:mailto:alice@example.net\r\n") +
                     single("no@test", "Declined by Alice", "20300305T120000Z", "20300305T130000Z",
                            "ATTENDEE;PARTSTAT=DECLINED:mailto:alice@example.net\r\n")));
        DesktopCalendarSource source(clock);
        source.watch();
        openAndLoad(source, work);
        const auto calendars = source.calendars();
        const auto info = std::find_if(calendars.cbegin(), calendars.cend(),
                                       [&](const DesktopCalendar &c) { return c.id == work; });
        QCOMPARE(info->group, u"alice@example.net"_s);
        QTRY_VERIFY(find(source.events(accountId), u"Kept"_s));
        QVERIFY(!find(source.events(accountId), u"Declined by Alice"_s));
        store->setEnabled(work, false);
        QTRY_VERIFY(!listed(source, work));
    }

    void changesArriveLive() {
        startStore();
        DesktopCalendarSource source(clock);
        source.watch();
        openAndLoad(source, team);
        QSignalSpy changed(&source, &DesktopCalendarSource::eventsChanged);

        store->put(team,
                   calendar(single("added@test", "Added", "20300306T080000Z", "20300306T083000Z") +
                            single("review@test", "Review moved", "20300307T150000Z",
                                   "20300307T160000Z", "SEQUENCE:1\r\n")));
        QTRY_VERIFY(find(source.events(accountId), u"Added"_s));
        QTRY_VERIFY(find(source.events(accountId), u"Review moved"_s));
        QVERIFY(!find(source.events(accountId), u"Review"_s));
        QCOMPARE(find(source.events(accountId), u"Review moved"_s)->startDate, utc(3, 7, 15));
        QVERIFY(changed.count() >= 1);

        // A series cut short loses its later instances.
        store->put(team, calendar(QByteArray(standup).replace("COUNT=5", "COUNT=1")));
        QTRY_COMPARE(titles(source.events(accountId)).count(u"Standup"_s), 1);
        QVERIFY(find(source.events(accountId), u"Standup (moved)"_s));

        store->remove(team, "added@test");
        QTRY_VERIFY(!find(source.events(accountId), u"Added"_s));
    }

    void disabledSourceLeaves() {
        startStore();
        DesktopCalendarSource source(clock);
        source.watch();
        openAndLoad(source, team);

        store->setEnabled(team, false);
        QTRY_VERIFY(!listed(source, team));
        QVERIFY(!find(source.events(accountId), u"Review"_s));

        store->setEnabled(team, true);
        QTRY_VERIFY(listed(source, team));
        QTRY_VERIFY(find(source.events(accountId), u"Review"_s));
    }

    void storeStopsAndReturns() {
        startStore();
        DesktopCalendarSource source(clock);
        source.watch();
        openAndLoad(source, team);
        // The team's own: calendars other cases left behind may still be loading.
        const auto teamTitles = [&] {
            QList<CalendarEvent> events;
            for (const CalendarEvent &event : source.events(accountId))
                if (event.calendarId == team)
                    events.append(event);
            return titles(events);
        };
        const QStringList before = teamTitles();

        store->stop();
        QTRY_VERIFY_WITH_TIMEOUT(source.isLost(), 10000);
        // The last meetings stay while the store is away.
        QCOMPARE(teamTitles(), before);
        QVERIFY(listed(source, team));

        QVERIFY(store->start());
        QTRY_VERIFY_WITH_TIMEOUT(!source.isLost(), 20000);
        // Followed again: a change made now arrives.
        store->put(team,
                   calendar(single("back@test", "Back", "20300306T090000Z", "20300306T093000Z")));
        QTRY_VERIFY_WITH_TIMEOUT(find(source.events(accountId), u"Back"_s), 20000);
        store->remove(team, "back@test");
    }

    void accountConnectsAndDisconnects() {
        startStore();
        TestEnvironment environment;
        auto settings = environment.makeSettings();
        SecretStore secrets;
        CalendarProxyClient proxy(secrets, clock);
        CalendarSignInListener listener;
        BackendAPIClient backend;
        SlackService slack(backend, secrets, clock);
        CalendarService service(*settings, proxy, secrets, listener, clock);
        AccountsModel model(service, slack);
        service.startMonitoring();
        QTRY_COMPARE_WITH_TIMEOUT(service.desktopAvailability(),
                                  DesktopCalendarSource::Availability::present, 20000);
        QVERIFY(!model.unavailableReason(CalendarProvider::desktop));

        model.connectProvider(CalendarProvider::desktop);
        model.connectProvider(CalendarProvider::desktop);
        QCOMPARE(service.accounts().size(), 1);
        const ConnectedAccount account = service.accounts().constFirst();
        QCOMPARE(account.provider, CalendarProvider::desktop);
        QVERIFY(settings->accountReminders().contains(account.id));
        QTRY_VERIFY_WITH_TIMEOUT(find(service.events(), u"Review"_s), 20000);
        const ProxyCalendar listedTeam{team, u"Team"_s, u"#3366cc"_s, std::nullopt};
        QTRY_VERIFY(service.accountCalendars().value(account.id).contains(listedTeam));
        GeneralSettingsModel general(*settings, service);
        QCOMPARE(general.calendarGroup(team), u"On This Computer"_s);
        QVERIFY(!general.calendarGroup(u"not-a-desktop-calendar"_s));
        QVERIFY(!model.accountProblem(account.id));

        // Switched off in General: its meetings leave at the next refresh.
        settings->toggleCalendar(team);
        QCoro::waitFor(service.fetchEvents());
        QVERIFY(!find(service.events(), u"Review"_s));
        QVERIFY(find(service.events(), u"Standup"_s) == std::nullopt);
        settings->toggleCalendar(team);

        service.removeAccount(account);
        QVERIFY(service.accounts().isEmpty());
        QVERIFY(service.events().isEmpty());
        QVERIFY(!settings->accountReminders().contains(account.id));
    }

    void cleanupTestCase() { store.reset(); }
};

QTEST_GUILESS_MAIN(TestDesktopCalendars)
#include "tst_desktopcalendars.moc"
