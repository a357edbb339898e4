// The desktop's calendars at size: 3,000 events, 300 of them recurring, in one local calendar
// of a real Evolution Data Server. Prints two figures:
//   load    from startMonitoring() of a service holding the Desktop Calendars account to the
//           first published list with the calendar's meetings (what the scheduler receives);
//   change  from the store announcing one changed event (a view of the bench's own sees the
//           same signal) to the service publishing it.
// It starts the store itself, so it needs a private session bus:
//   tests/support/with-keyring.sh --bare build/release/bench/sync/bench_desktop
#include "DesktopStore.h"
#include "ManualClock.h"
#include "TestEnvironment.h"
#include "platform/SecretStore.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SignInListener.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {
const QDateTime now(QDate(2030, 3, 4), QTime(9, 0), Qt::UTC);

QByteArray stamp(const QDateTime &t) {
    return t.toString(u"yyyyMMdd'T'HHmmss").toUtf8();
}

QByteArray event(int i, const QByteArray &summary) {
    const QDateTime start = now.addDays((i * 7) % 85).addSecs(3600 * (8 + i % 9));
    QByteArray e = "BEGIN:VEVENT\r\nUID:event-" + QByteArray::number(i) +
                   "@bench.example\r\nDTSTAMP:20300101T000000Z\r\nSUMMARY:" + summary +
                   "\r\nDTSTART;TZID=Europe/Berlin:" + stamp(start) +
                   "\r\nDTEND;TZID=Europe/Berlin:" + stamp(start.addSecs(1800)) + "\r\n";
    if (i % 10 == 0)
        e += i % 20 == 0 ? "RRULE:FREQ=WEEKLY;BYDAY=MO,WE\r\n" : "RRULE:FREQ=DAILY;INTERVAL=2\r\n";
    e += "ORGANIZER;CN=Organizer:mailto:organizer@partner.example\r\n";
    for (int a = 0; a < 4; ++a)
        e += "ATTENDEE;CN=Person;PARTSTAT=ACCEPTED:mailto:person" + QByteArray::number(a) +
             "@partner.example\r\n";
    e += "LOCATION:Room " + QByteArray::number(i % 40) +
         "\r\nDESCRIPTION:Agenda\\, notes. Join: https://meet.google.com/abc-defg-hij\r\n"
         "END:VEVENT\r\n";
    return e;
}

QByteArray calendar(const QByteArray &events) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Bench//EN\r\nMETHOD:PUBLISH\r\n" + events +
           "END:VCALENDAR\r\n";
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

// Runs the event loop until `done()` holds or `timeoutMs` pass, sleeping in between as the app's
// own loop does. processEvents() with a time limit never sleeps: it would keep one of the
// processors busy and slow down the store and the workers being measured. The figures are
// taken in the handlers, so how often this looks does not change them.
bool waitUntil(const std::function<bool()> &done, int timeoutMs) {
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    look.start(5);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

bool contains(const QList<CalendarEvent> &events, const QString &title) {
    return std::any_of(events.cbegin(), events.cend(),
                       [&](const CalendarEvent &e) { return e.title == title; });
}

// Records when the store announces a change, as every view of the calendar hears it.
struct ChangeWitness {
    QElapsedTimer *clock;
    qint64 at = -1;
    bool populated = false;
    static void heard(ECalClientView *, const GSList *, gpointer data) {
        auto *self = static_cast<ChangeWitness *>(data);
        self->at = self->clock->nsecsElapsed();
    }
    static void complete(ECalClientView *, const GError *, gpointer data) {
        static_cast<ChangeWitness *>(data)->populated = true;
    }
};
} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    DesktopStore store;
    if (!store.start()) {
        std::fprintf(stderr, "the calendar store did not start\n");
        return 1;
    }
    const QString calendarId =
        store.createCalendar(QStringLiteral("Bench"), QStringLiteral("#aa3355"));
    QByteArray events;
    for (int i = 0; i < 3000; ++i)
        events += event(i, "Meeting " + QByteArray::number(i));
    store.put(calendarId, calendar(events));

    TestEnvironment environment;
    auto settings = environment.makeSettings();
    const ConnectedAccount account = ConnectedAccount::create(
        CalendarProvider::desktop, QStringLiteral("Desktop Calendars"), QString());
    settings->setValue(AppSettings::Key::ConnectedAccounts,
                       QJsonDocument(QJsonArray{account.toJson()}).toJson());
    ManualClock clock(now);
    SecretStore secrets;
    CalendarProxyClient proxy(secrets, clock);
    CalendarSignInListener listener;

    QList<double> loads;
    qsizetype published = 0;
    for (int run = 0; run < 5; ++run) {
        CalendarService service(*settings, proxy, secrets, listener, clock);
        QElapsedTimer timer;
        bool loaded = false;
        QObject::connect(&service, &CalendarService::eventsChanged, &service, [&] {
            if (!loaded && contains(service.events(), QStringLiteral("Meeting 1"))) {
                loaded = true;
                loads << timer.nsecsElapsed() / 1e6;
                published = service.events().size();
            }
        });
        timer.start();
        service.startMonitoring();
        if (!waitUntil([&] { return loaded; }, 60000)) {
            std::fprintf(stderr, "the calendar never loaded\n");
            return 1;
        }
    }

    CalendarService service(*settings, proxy, secrets, listener, clock);
    service.startMonitoring();
    waitUntil([&] { return contains(service.events(), QStringLiteral("Meeting 1")); }, 60000);

    QElapsedTimer timer;
    timer.start();
    ChangeWitness witness{&timer};
    GError *error = nullptr;
    ECalClientView *view = nullptr;
    e_cal_client_get_view_sync(store.client(calendarId), "#t", &view, nullptr, &error);
    if (!view) {
        std::fprintf(stderr, "no view: %s\n", error ? error->message : "");
        return 1;
    }
    e_cal_client_view_set_flags(view, E_CAL_CLIENT_VIEW_FLAGS_NONE, nullptr);
    g_signal_connect(view, "objects-modified", G_CALLBACK(&ChangeWitness::heard), &witness);
    g_signal_connect(view, "complete", G_CALLBACK(&ChangeWitness::complete), &witness);
    e_cal_client_view_start(view, nullptr);
    // The store's file backend crashes when an event is replaced while a view still walks the
    // calendar to fill itself, so nothing is written before the view is complete.
    if (!waitUntil([&] { return witness.populated; }, 60000)) {
        std::fprintf(stderr, "the view never completed\n");
        return 1;
    }

    QList<double> changes, roundTrips;
    for (int change = 0; change < 20; ++change) {
        const int index = 3 + change * 10; // every other one a recurring series
        const QString title = QStringLiteral("Changed %1").arg(change);
        witness.at = -1;
        const qint64 sent = timer.nsecsElapsed();
        qint64 arrived = -1;
        const auto connection =
            QObject::connect(&service, &CalendarService::eventsChanged, &service, [&] {
                if (arrived < 0 && contains(service.events(), title))
                    arrived = timer.nsecsElapsed();
            });
        store.put(calendarId, calendar(event(index, title.toUtf8())));
        waitUntil([&] { return arrived >= 0 && witness.at >= 0; }, 10000);
        QObject::disconnect(connection);
        if (arrived < 0 || witness.at < 0) {
            std::fprintf(stderr, "change %d never arrived\n", change);
            return 1;
        }
        changes << (arrived - witness.at) / 1e6;
        roundTrips << (arrived - sent) / 1e6;
    }
    e_cal_client_view_stop(view, nullptr);
    g_object_unref(view);

    std::printf("desktop calendars: 3000 events (300 recurring), %lld meetings published\n",
                static_cast<long long>(published));
    std::printf("load    median %.1f ms (5 runs: min %.1f, max %.1f)\n", median(loads),
                *std::min_element(loads.cbegin(), loads.cend()),
                *std::max_element(loads.cbegin(), loads.cend()));
    std::printf("change  median %.1f ms after the store announced it (20 changes: max %.1f); "
                "%.1f ms from the write\n",
                median(changes), *std::max_element(changes.cbegin(), changes.cend()),
                median(roundTrips));
    return 0;
}
