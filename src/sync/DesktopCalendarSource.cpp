#include "DesktopCalendarSource.h"

#include "DesktopEventReader.h"
#include "ProxyRecords.h"
#include "SyncLog.h"
#include "core/Clock.h"

#include <QCoreApplication>
#include <QCoroDBus>
#include <QCoroFuture>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QPointer>
#include <QtConcurrent>
#include <algorithm>
#include <coroutine>
#include <functional>
#include <future>
#include <span>
#include <vector>

// GLib names a struct member "signals", which Qt defines as a keyword.
#undef signals
#include "platform/GLibCall.h"

#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

namespace {
using GLib::AsyncCall;
using GLib::ErrorPtr;
using GLib::Ref;

QString text(const gchar *value) {
    return value ? QString::fromUtf8(value) : QString();
}

// The store's queries for what occurs in [from, to). Every series is taken whole: the store
// would expand each one to test it against the range, and the worker expands it anyway. The
// series come first and alone, so their expansion (most of the work) runs while the store still
// lists the rest, in several parts of the window.
QByteArray seriesQuery() {
    return "(has-recurrences?)";
}

constexpr int otherParts = 4;
// The threads that expand the series.
constexpr int seriesShares = 3;

QByteArray othersQuery(const QDateTime &from, const QDateTime &to) {
    const auto stamp = [](const QDateTime &t) {
        return t.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
    };
    return "(and (not (has-recurrences?)) (occur-in-time-range? (make-time \"" + stamp(from) +
           "\") (make-time \"" + stamp(to) + "\")))";
}

// Components as the store hands them over (ICalComponent or ECalComponent), released together.
struct ComponentList {
    GSList *list = nullptr;
    explicit ComponentList(GSList *l)
        : list(l) {}
    ComponentList(const ComponentList &) = delete;
    ComponentList &operator=(const ComponentList &) = delete;
    ~ComponentList() { g_slist_free_full(list, g_object_unref); }
};

// What a worker needs to expand one batch of a calendar's components.
struct ExpandJob {
    std::unique_ptr<ComponentList> owner;
    QList<ICalComponent *> components;
    Ref<ECalClient> client;
    ICalTimezone *localZone = nullptr;
    qint64 from = 0, to = 0;
    DesktopEventReader reader;
    // Each TZID asked once: a zone the tz database lacks is a call to the store.
    mutable QHash<QByteArray, ICalTimezone *> zones;
};

// Sets `job` up to read `client`'s events over [from, to) with `reader`.
void setUpJob(ExpandJob &job, ECalClient *client, const QDateTime &from, const QDateTime &to,
              DesktopEventReader reader) {
    job.client.reset(E_CAL_CLIENT(g_object_ref(client)));
    job.localZone = e_cal_util_get_system_timezone();
    job.from = from.toSecsSinceEpoch();
    job.to = to.toSecsSinceEpoch();
    job.reader = std::move(reader);
}

ICalTimezone *resolveZone(const gchar *tzid, gpointer data, GCancellable *cancellable,
                          GError **error) {
    const auto *job = static_cast<const ExpandJob *>(data);
    const QByteArray key(tzid ? tzid : "");
    if (const auto found = job->zones.constFind(key); found != job->zones.cend())
        return *found;
    ICalTimezone *zone = e_cal_client_tzlookup_cb(tzid, job->client.get(), cancellable, error);
    job->zones.insert(key, zone);
    return zone;
}

// The meetings of some of a calendar's components, before a series is matched with the
// instances detached from it (which may come in another batch).
struct Expanded {
    // By UID: every instance the series' rule places in the window.
    QHash<QString, QList<CalendarEvent>> series;
    // By UID: single events and detached instances.
    QHash<QString, QList<CalendarEvent>> others;
    // By UID: where the series placed the instances that detached ones replace.
    QHash<QString, QSet<qint64>> replaced;
};

struct Expansion {
    const ExpandJob &job;
    const DesktopEventReader::Details &details;
    const QString &uid;
    std::optional<qint64> recurrenceId;
    QList<CalendarEvent> &out;
};

// Adds the instance from `start` to `end`.
void addInstance(Expansion &x, const icaltimetype &start, const icaltimetype &end) {
    // All-day events are left out, as for every other kind of calendar.
    if (start.is_date)
        return;
    const auto startSecs = DesktopEventReader::seconds(start);
    const auto endSecs = DesktopEventReader::seconds(end);
    if (!startSecs || !endSecs)
        return;
    x.out.append(x.job.reader.event(x.details, x.uid, *startSecs, *endSecs,
                                    x.recurrenceId.value_or(*startSecs)));
}

gboolean takeInstance(ICalComponent *, ICalTime *start, ICalTime *end, gpointer data,
                      GCancellable *, GError **) {
    const auto *s = static_cast<const icaltimetype *>(i_cal_object_get_native(I_CAL_OBJECT(start)));
    const auto *e = static_cast<const icaltimetype *>(i_cal_object_get_native(I_CAL_OBJECT(end)));
    if (s && e)
        addInstance(*static_cast<Expansion *>(data), *s, *e);
    return TRUE;
}

// Whether the store's expansion places `event` once, at its start: a detached instance, or an
// event without rules and dates of recurrence or exception.
bool occursOnce(icalcomponent *event, bool detached) {
    if (detached)
        return true;
    for (const auto kind :
         {ICAL_RRULE_PROPERTY, ICAL_RDATE_PROPERTY, ICAL_EXRULE_PROPERTY, ICAL_EXDATE_PROPERTY})
        if (icalcomponent_get_first_property(event, kind))
            return false;
    return true;
}

// Every meeting of the job's components inside its window. A series is expanded by the store's
// own recurrence code with the event's zone; an event that occurs once is placed as that code
// would place it, without its per-call cost.
Expanded expand(const ExpandJob &job, std::span<ICalComponent *const> components) {
    Ref<ICalTime> from(i_cal_time_new_from_timet_with_zone(time_t(job.from), FALSE,
                                                           i_cal_timezone_get_utc_timezone()));
    Ref<ICalTime> to(i_cal_time_new_from_timet_with_zone(time_t(job.to), FALSE,
                                                         i_cal_timezone_get_utc_timezone()));
    const auto &fromTime =
        *static_cast<const icaltimetype *>(i_cal_object_get_native(I_CAL_OBJECT(from.get())));
    const auto &toTime =
        *static_cast<const icaltimetype *>(i_cal_object_get_native(I_CAL_OBJECT(to.get())));
    const std::function<icaltimezone *(const char *)> zoneOf =
        [&job](const char *tzid) -> icaltimezone * {
        ICalTimezone *zone = resolveZone(tzid, const_cast<ExpandJob *>(&job), nullptr, nullptr);
        return zone ? static_cast<icaltimezone *>(i_cal_object_get_native(I_CAL_OBJECT(zone)))
                    : nullptr;
    };
    auto *localZone =
        job.localZone
            ? static_cast<icaltimezone *>(i_cal_object_get_native(I_CAL_OBJECT(job.localZone)))
            : nullptr;
    Expanded result;
    for (ICalComponent *ical : components) {
        auto *native = static_cast<icalcomponent *>(i_cal_object_get_native(I_CAL_OBJECT(ical)));
        const QString uid = text(icalcomponent_get_uid(native));
        const auto rid = DesktopEventReader::recurrenceId(native, zoneOf);
        // A cancelled detached instance still takes its place in the series.
        if (rid)
            result.replaced[uid].insert(*rid);
        const DesktopEventReader::Details details = job.reader.details(native);
        if (details.cancelled || details.declined)
            continue;
        QList<CalendarEvent> events;
        Expansion expansion{job, details, uid, rid, events};
        if (occursOnce(native, rid.has_value())) {
            if (const auto instance =
                    DesktopEventReader::onlyInstance(native, fromTime, toTime, zoneOf, localZone))
                addInstance(expansion, instance->first, instance->second);
        } else {
            GError *raw = nullptr;
            e_cal_recur_generate_instances_sync(
                ical, from.get(), to.get(), &takeInstance, &expansion, &resolveZone,
                const_cast<ExpandJob *>(&job), job.localZone, nullptr, &raw);
            if (const ErrorPtr error(raw); error)
                qCWarning(lcSync) << "Expanding desktop event" << uid
                                  << "failed:" << error->message;
        }
        if (!events.isEmpty())
            (rid ? result.others : result.series)[uid].append(std::move(events));
    }
    return result;
}

// Adds the events `into` lacks: one that straddles two parts of the window is in both.
void addNew(QList<CalendarEvent> &into, const QList<CalendarEvent> &events) {
    if (into.isEmpty()) {
        into = events;
        return;
    }
    for (const CalendarEvent &event : events)
        if (std::none_of(into.cbegin(), into.cend(),
                         [&](const CalendarEvent &known) { return known.id == event.id; }))
            into.append(event);
}

// The meetings of every part by UID: an instance detached from a series (moved, renamed,
// cancelled) replaces the series' instance it was cut from.
QHash<QString, QList<CalendarEvent>> merge(const QList<Expanded> &parts) {
    QHash<QString, QSet<qint64>> replaced;
    for (const Expanded &part : parts)
        for (auto it = part.replaced.cbegin(); it != part.replaced.cend(); ++it)
            replaced[it.key()].unite(it.value());
    QHash<QString, QList<CalendarEvent>> result;
    for (const Expanded &part : parts) {
        for (auto it = part.series.cbegin(); it != part.series.cend(); ++it) {
            const auto found = replaced.constFind(it.key());
            if (found == replaced.cend()) {
                addNew(result[it.key()], it.value());
                continue;
            }
            QList<CalendarEvent> kept;
            for (const CalendarEvent &event : it.value())
                if (!found->contains(event.startDate.toSecsSinceEpoch()))
                    kept.append(event);
            if (!kept.isEmpty())
                addNew(result[it.key()], kept);
        }
        for (auto it = part.others.cbegin(); it != part.others.cend(); ++it)
            addNew(result[it.key()], it.value());
    }
    return result;
}

// Frees the job's components on a worker: thousands of them take tens of milliseconds, which
// neither the interface's thread nor the reading should wait for.
void release(ExpandJob &job) {
    job.components.clear();
    job.owner.reset();
}

// Lists what `query` matches into `job`; false when the store refused.
bool list(ExpandJob &job, const QByteArray &query, GCancellable *cancellable,
          const QString &calendarId) {
    GSList *components = nullptr;
    GError *raw = nullptr;
    e_cal_client_get_object_list_sync(job.client.get(), query.constData(), &components, cancellable,
                                      &raw);
    job.owner = std::make_unique<ComponentList>(components);
    for (GSList *l = components; l; l = l->next)
        job.components.append(I_CAL_COMPONENT(l->data));
    if (const ErrorPtr error(raw); error) {
        qCWarning(lcSync) << "Reading desktop calendar" << calendarId
                          << "failed:" << error->message;
        return false;
    }
    return true;
}

// The job's components expanded in `shares` parts side by side, each part with zones of its own.
QList<Expanded> expandShared(const ExpandJob &job, int shares) {
    const std::span<ICalComponent *const> all(job.components.constData(),
                                              size_t(job.components.size()));
    const auto share = [&](int i) {
        return all.subspan(all.size() * i / shares,
                           all.size() * (i + 1) / shares - all.size() * i / shares);
    };
    std::vector<ExpandJob> helpers(shares - 1);
    std::vector<std::future<Expanded>> expanding;
    for (int i = 1; i < shares; ++i) {
        ExpandJob &helper = helpers[i - 1];
        helper.client.reset(E_CAL_CLIENT(g_object_ref(job.client.get())));
        helper.localZone = job.localZone;
        helper.from = job.from;
        helper.to = job.to;
        helper.reader = job.reader;
        expanding.push_back(std::async(std::launch::async, [&helper, components = share(i)] {
            return expand(helper, components);
        }));
    }
    QList<Expanded> parts{expand(job, share(0))};
    for (auto &part : expanding)
        parts.append(part.get());
    return parts;
}

// A whole calendar read and expanded on workers: thousands of events are parsed there, not on
// the thread that runs the interface. Each query has a thread of its own: the store answers them
// one after another, so the first answers are parsed and expanded while it still writes out the
// later ones, on every processor. The first query's components, the series, take the most
// expanding, which `firstShares` threads share. Absent when the store refused a query.
std::optional<QHash<QString, QList<CalendarEvent>>>
readAll(const QList<std::shared_ptr<ExpandJob>> &jobs, const QList<QByteArray> &queries,
        int firstShares, GCancellable *cancellable, const QString &calendarId) {
    std::vector<std::future<std::optional<QList<Expanded>>>> reading;
    for (qsizetype i = 0; i < jobs.size(); ++i)
        reading.push_back(
            std::async(std::launch::async, [&, i]() -> std::optional<QList<Expanded>> {
                if (!list(*jobs[i], queries[i], cancellable, calendarId))
                    return std::nullopt;
                return expandShared(*jobs[i], i == 0 ? firstShares : 1);
            }));
    QList<Expanded> parts;
    bool refused = false;
    for (auto &part : reading) {
        std::optional<QList<Expanded>> expanded = part.get();
        refused = refused || !expanded;
        if (expanded)
            parts.append(std::move(*expanded));
    }
    if (refused)
        return std::nullopt;
    return merge(parts);
}
} // namespace

struct DesktopCalendarSource::Bus {
    GCancellable *cancellable = g_cancellable_new();
    guint watch = 0;
    ESourceRegistry *registry = nullptr;

    ~Bus() {
        g_cancellable_cancel(cancellable);
        g_object_unref(cancellable);
        if (watch)
            g_bus_unwatch_name(watch);
    }
};

struct DesktopCalendarSource::Calendar {
    DesktopCalendarSource *owner;
    DesktopCalendar info;
    Ref<ESource> source;
    ECalClient *client = nullptr;
    ECalClientView *view = nullptr;
    GCancellable *cancellable = g_cancellable_new();
    bool opening = false;
    bool loading = false;
    QDateTime expandedAt;
    QHash<QString, QList<CalendarEvent>> byUid;
    // UIDs the view reported changed, read again once a load in progress is done.
    QSet<QString> pending;
    bool flushScheduled = false;
    // Each UID's latest reading; an older one that finishes later is dropped.
    QHash<QString, quint64> readings;

    Calendar(DesktopCalendarSource *o, DesktopCalendar i, ESource *s)
        : owner(o)
        , info(std::move(i))
        , source(E_SOURCE(g_object_ref(s))) {}
    Calendar(const Calendar &) = delete;
    Calendar &operator=(const Calendar &) = delete;
    ~Calendar() {
        release();
        g_object_unref(cancellable);
    }

    // Lets go of the store's objects; the meetings read so far stay.
    void release() {
        g_cancellable_cancel(cancellable);
        g_object_unref(cancellable);
        cancellable = g_cancellable_new();
        if (view) {
            g_signal_handlers_disconnect_by_data(view, this);
            e_cal_client_view_stop(view, nullptr);
            g_object_unref(view);
            view = nullptr;
        }
        if (client) {
            g_signal_handlers_disconnect_by_data(client, this);
            g_object_unref(client);
            client = nullptr;
        }
        opening = false;
        loading = false;
    }
};

DesktopCalendarSource::DesktopCalendarSource(Clock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_bus(std::make_unique<Bus>()) {}

DesktopCalendarSource::~DesktopCalendarSource() {
    dropRegistry();
    m_calendars.clear();
}

void DesktopCalendarSource::watch() {
    if (m_bus->watch)
        return;
    m_bus->watch =
        g_bus_watch_name(G_BUS_TYPE_SESSION, registryService, G_BUS_NAME_WATCHER_FLAGS_NONE,
                         reinterpret_cast<GBusNameAppearedCallback>(&nameAppeared),
                         reinterpret_cast<GBusNameVanishedCallback>(&nameVanished), this, nullptr);
    findActivatable();
}

QCoro::Task<> DesktopCalendarSource::findActivatable() {
    QPointer<DesktopCalendarSource> self(this);
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames"));
    const QDBusMessage reply = co_await bus.asyncCall(call, 5000);
    if (!self)
        co_return;
    const bool activatable =
        reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
        reply.arguments().constFirst().toStringList().contains(QLatin1String(registryService));
    setAvailability(m_nameOwned, activatable);
}

void DesktopCalendarSource::nameAppeared(void *, const char *, const char *, void *data) {
    auto *self = static_cast<DesktopCalendarSource *>(data);
    self->setAvailability(true, self->m_activatable);
}

void DesktopCalendarSource::nameVanished(void *, const char *, void *data) {
    auto *self = static_cast<DesktopCalendarSource *>(data);
    // Gone while read: the calendars are let go, their meetings stay.
    if (self->m_bus->registry) {
        qCWarning(lcSync) << "The desktop's calendar store left the session bus";
        self->dropRegistry();
        self->setLost(self->m_wantOpen);
    }
    self->setAvailability(false, self->m_activatable);
}

void DesktopCalendarSource::setAvailability(bool owned, std::optional<bool> activatable) {
    m_nameOwned = owned;
    m_activatable = activatable;
    Availability now = Availability::absent;
    if (owned || activatable.value_or(false))
        now = Availability::present;
    else if (!activatable && m_availability == Availability::unknown)
        // Not running, and whether it can be started is not known yet.
        now = Availability::unknown;
    if (m_wantOpen && !m_bus->registry && !m_connecting) {
        // After a loss the store is not started again at once; the next refresh tries.
        if (owned || (activatable.value_or(false) && !m_lost))
            connectRegistry();
        else if (now == Availability::absent)
            setLost(true);
    }
    if (now == m_availability)
        return;
    m_availability = now;
    Q_EMIT availabilityChanged();
}

void DesktopCalendarSource::setLost(bool lost) {
    if (lost == m_lost)
        return;
    m_lost = lost;
    Q_EMIT lostChanged();
}

void DesktopCalendarSource::open() {
    m_wantOpen = true;
    watch();
    if (!m_bus->registry && !m_connecting && (m_nameOwned || m_activatable.value_or(false)))
        connectRegistry();
    else if (m_availability == Availability::absent)
        setLost(true);
}

void DesktopCalendarSource::close() {
    m_wantOpen = false;
    dropRegistry();
    const bool hadEvents = std::any_of(m_calendars.cbegin(), m_calendars.cend(),
                                       [](const CalendarPtr &c) { return !c->byUid.isEmpty(); });
    m_calendars.clear();
    setLost(false);
    if (!m_calendarList.isEmpty()) {
        m_calendarList.clear();
        Q_EMIT calendarsChanged();
    }
    if (hadEvents)
        Q_EMIT eventsChanged();
}

void DesktopCalendarSource::refresh() {
    if (!m_wantOpen)
        return;
    if (!m_bus->registry) {
        if (!m_connecting && (m_nameOwned || m_activatable.value_or(false)))
            connectRegistry();
        return;
    }
    const QDateTime now = m_clock.now();
    for (const CalendarPtr &calendar : std::as_const(m_calendars)) {
        if (!calendar->client && !calendar->opening)
            openCalendar(calendar);
        else if (calendar->client && !calendar->loading &&
                 (!calendar->expandedAt.isValid() ||
                  calendar->expandedAt.secsTo(now) >= reexpandAge.count()))
            loadCalendar(calendar);
    }
}

QCoro::Task<> DesktopCalendarSource::connectRegistry() {
    QPointer<DesktopCalendarSource> self(this);
    m_connecting = true;
    GCancellable *cancellable = G_CANCELLABLE(g_object_ref(m_bus->cancellable));
    const Ref<GAsyncResult> result =
        co_await AsyncCall([cancellable](GAsyncReadyCallback ready, gpointer data) {
            e_source_registry_new(cancellable, ready, data);
        });
    g_object_unref(cancellable);
    GError *raw = nullptr;
    ESourceRegistry *registry = e_source_registry_new_finish(result.get(), &raw);
    const ErrorPtr error(raw);
    if (!self) {
        if (registry)
            g_object_unref(registry);
        co_return;
    }
    m_connecting = false;
    if (!registry) {
        qCWarning(lcSync) << "The desktop's calendar store cannot be reached:"
                          << (error ? error->message : "no reason given");
        setLost(m_wantOpen);
        co_return;
    }
    if (!m_wantOpen) {
        g_object_unref(registry);
        co_return;
    }
    m_bus->registry = registry;
    for (const char *signal :
         {"source-added", "source-removed", "source-changed", "source-enabled", "source-disabled"})
        g_signal_connect_swapped(registry, signal, G_CALLBACK(&registryChanged), this);
    setLost(false);
    syncCalendars();
}

void DesktopCalendarSource::dropRegistry() {
    for (const CalendarPtr &calendar : std::as_const(m_calendars))
        calendar->release();
    if (!m_bus->registry)
        return;
    g_signal_handlers_disconnect_by_data(m_bus->registry, this);
    g_object_unref(m_bus->registry);
    m_bus->registry = nullptr;
}

void DesktopCalendarSource::registryChanged(void *data, void *, void *) {
    static_cast<DesktopCalendarSource *>(data)->scheduleSync();
}

void DesktopCalendarSource::scheduleSync() {
    // A new online account adds several sources at once: they are taken in one pass.
    if (m_syncScheduled)
        return;
    m_syncScheduled = true;
    QPointer<DesktopCalendarSource> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (!self)
                return;
            self->m_syncScheduled = false;
            self->syncCalendars();
        },
        Qt::QueuedConnection);
}

QCoro::Task<> DesktopCalendarSource::syncCalendars() {
    QPointer<DesktopCalendarSource> self(this);
    // A registry that is going away reports every source removed before the bus says it has
    // gone: the calendars are taken from it only once its name is confirmed owned, so its
    // last meetings stay when it stops.
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << QString::fromLatin1(registryService);
    const QDBusMessage reply = co_await QDBusConnection::sessionBus().asyncCall(ask, 5000);
    if (!self)
        co_return;
    ESourceRegistry *registry = m_bus->registry;
    if (!registry || reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() ||
        !reply.arguments().constFirst().toBool())
        co_return;
    QSet<QString> own;
    GList *identities = e_source_registry_list_sources(registry, E_SOURCE_EXTENSION_MAIL_IDENTITY);
    for (GList *l = identities; l; l = l->next) {
        auto *identity = static_cast<ESourceMailIdentity *>(
            e_source_get_extension(E_SOURCE(l->data), E_SOURCE_EXTENSION_MAIL_IDENTITY));
        if (const QString a = text(e_source_mail_identity_get_address(identity)); !a.isEmpty())
            own.insert(a.toLower());
    }
    g_list_free_full(identities, g_object_unref);

    QList<DesktopCalendar> list;
    QHash<QString, ESource *> sources;
    GList *enabled = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_CALENDAR);
    for (GList *l = enabled; l; l = l->next) {
        auto *source = E_SOURCE(l->data);
        DesktopCalendar calendar;
        calendar.id = text(e_source_get_uid(source));
        calendar.name = text(e_source_get_display_name(source));
        auto *selectable = static_cast<ESourceSelectable *>(
            e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR));
        if (const QString color = text(e_source_selectable_get_color(selectable)); !color.isEmpty())
            calendar.hexColor = color;
        // An online account's calendars sit under its collection, named by its address.
        if (Ref<ESource> collection{e_source_registry_find_extension(
                registry, source, E_SOURCE_EXTENSION_COLLECTION)}) {
            auto *extension = static_cast<ESourceCollection *>(
                e_source_get_extension(collection.get(), E_SOURCE_EXTENSION_COLLECTION));
            const QString identity = text(e_source_collection_get_identity(extension));
            calendar.group = identity.contains(u'@')
                                 ? identity
                                 : text(e_source_get_display_name(collection.get()));
            if (identity.contains(u'@'))
                own.insert(identity.toLower());
        } else {
            const QString parent = text(e_source_get_parent(source));
            Ref<ESource> stub{parent.isEmpty() || parent == u"local-stub"
                                  ? nullptr
                                  : e_source_registry_ref_source(registry, parent.toUtf8())};
            calendar.group =
                stub ? text(e_source_get_display_name(stub.get())) : tr("On This Computer");
        }
        sources.insert(calendar.id, source);
        list.append(calendar);
    }
    std::sort(list.begin(), list.end(), [](const DesktopCalendar &a, const DesktopCalendar &b) {
        if (a.group != b.group)
            return a.group.localeAwareCompare(b.group) < 0;
        return a.name.localeAwareCompare(b.name) < 0;
    });
    m_ownAddresses = own;

    bool eventsGone = false;
    for (auto it = m_calendars.begin(); it != m_calendars.end();) {
        if (sources.contains(it.key())) {
            ++it;
            continue;
        }
        eventsGone = eventsGone || !(*it)->byUid.isEmpty();
        (*it)->release();
        it = m_calendars.erase(it);
    }
    for (const DesktopCalendar &info : std::as_const(list)) {
        CalendarPtr calendar = m_calendars.value(info.id);
        if (!calendar) {
            calendar = std::make_shared<Calendar>(this, info, sources.value(info.id));
            m_calendars.insert(info.id, calendar);
            openCalendar(calendar);
            continue;
        }
        const bool renamed = !(calendar->info == info);
        calendar->info = info;
        // After the store returned, the source is the new registry's object.
        calendar->source.reset(E_SOURCE(g_object_ref(sources.value(info.id))));
        if (!calendar->client && !calendar->opening)
            openCalendar(calendar);
        else if (renamed && calendar->client && !calendar->loading)
            loadCalendar(calendar);
    }
    g_list_free_full(enabled, g_object_unref);
    if (list != m_calendarList) {
        m_calendarList = list;
        Q_EMIT calendarsChanged();
    }
    if (eventsGone)
        Q_EMIT eventsChanged();
}

bool DesktopCalendarSource::isCurrent(const CalendarPtr &calendar) const {
    return m_calendars.value(calendar->info.id) == calendar;
}

QCoro::Task<> DesktopCalendarSource::openCalendar(CalendarPtr calendar) {
    QPointer<DesktopCalendarSource> self(this);
    calendar->opening = true;
    GCancellable *cancellable = G_CANCELLABLE(g_object_ref(calendar->cancellable));
    ESource *source = calendar->source.get();
    const Ref<GAsyncResult> connected =
        co_await AsyncCall([source, cancellable](GAsyncReadyCallback ready, gpointer data) {
            e_cal_client_connect(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, 30, cancellable, ready,
                                 data);
        });
    GError *raw = nullptr;
    Ref<EClient> client{e_cal_client_connect_finish(connected.get(), &raw)};
    ErrorPtr error(raw);
    if (!self || !isCurrent(calendar) || g_cancellable_is_cancelled(cancellable)) {
        g_object_unref(cancellable);
        co_return;
    }
    if (!client) {
        g_object_unref(cancellable);
        qCWarning(lcSync) << "Opening desktop calendar" << calendar->info.id
                          << "failed:" << (error ? error->message : "no reason given");
        calendar->opening = false;
        co_return;
    }
    auto *calClient = E_CAL_CLIENT(client.get());
    e_cal_client_set_default_timezone(calClient, e_cal_util_get_system_timezone());

    // The view is started before the first reading, so no change falls between the two.
    const Ref<GAsyncResult> viewed =
        co_await AsyncCall([calClient, cancellable](GAsyncReadyCallback ready, gpointer data) {
            e_cal_client_get_view(calClient, "#t", cancellable, ready, data);
        });
    g_object_unref(cancellable);
    ECalClientView *view = nullptr;
    raw = nullptr;
    e_cal_client_get_view_finish(calClient, viewed.get(), &view, &raw);
    error.reset(raw);
    Ref<ECalClientView> viewRef{view};
    if (!self || !isCurrent(calendar) || !calendar->opening)
        co_return;
    if (!view) {
        qCWarning(lcSync) << "Following desktop calendar" << calendar->info.id
                          << "failed:" << (error ? error->message : "no reason given");
        calendar->opening = false;
        co_return;
    }
    calendar->client = E_CAL_CLIENT(client.release());
    calendar->view = viewRef.release();
    Calendar *receiver = calendar.get();
    g_signal_connect(calendar->client, "backend-died", G_CALLBACK(&backendDied), receiver);
    g_signal_connect(calendar->view, "objects-added", G_CALLBACK(&objectsChanged), receiver);
    g_signal_connect(calendar->view, "objects-modified", G_CALLBACK(&objectsChanged), receiver);
    g_signal_connect(calendar->view, "objects-removed", G_CALLBACK(&objectsRemoved), receiver);
    e_cal_client_view_set_flags(calendar->view, E_CAL_CLIENT_VIEW_FLAGS_NONE, nullptr);
    raw = nullptr;
    e_cal_client_view_start(calendar->view, &raw);
    if (const ErrorPtr started(raw); started)
        qCWarning(lcSync) << "Following desktop calendar" << calendar->info.id
                          << "failed:" << started->message;
    calendar->opening = false;
    co_await loadCalendar(calendar);
}

void DesktopCalendarSource::backendDied(void *, void *data) {
    auto *calendar = static_cast<Calendar *>(data);
    qCWarning(lcSync) << "The store's backend of desktop calendar" << calendar->info.id << "died";
    // Its meetings stay; the next refresh opens it again.
    calendar->release();
}

QCoro::Task<> DesktopCalendarSource::loadCalendar(CalendarPtr calendar) {
    QPointer<DesktopCalendarSource> self(this);
    ECalClient *client = calendar->client;
    if (!client)
        co_return;
    // Held, so the comparison after each wait is with a live object.
    const Ref<ECalClient> held{E_CAL_CLIENT(g_object_ref(client))};
    calendar->loading = true;
    const QDateTime from = m_clock.now(), to = from.addSecs(window.count());
    // A job for each query, as they are read side by side: each has its own zones.
    QList<QByteArray> queries{seriesQuery()};
    for (int part = 0; part < otherParts; ++part) {
        const qint64 span = window.count() / otherParts;
        queries.append(othersQuery(from.addSecs(part * span),
                                   part + 1 == otherParts ? to : from.addSecs((part + 1) * span)));
    }
    const DesktopEventReader reader(calendar->info.id, calendar->info.name, calendar->info.hexColor,
                                    m_ownAddresses);
    QList<std::shared_ptr<ExpandJob>> jobs;
    for (qsizetype i = 0; i < queries.size(); ++i) {
        jobs.append(std::make_shared<ExpandJob>());
        setUpJob(*jobs.last(), client, from, to, reader);
    }
    // Changes reported from here on are in this reading already.
    calendar->pending.clear();
    const std::shared_ptr<GCancellable> cancellable(
        G_CANCELLABLE(g_object_ref(calendar->cancellable)), g_object_unref);
    const QString id = calendar->info.id;
    QFuture<std::optional<QHash<QString, QList<CalendarEvent>>>> reading =
        QtConcurrent::run([jobs, queries, cancellable, id] {
            return readAll(jobs, queries, seriesShares, cancellable.get(), id);
        });
    std::optional<QHash<QString, QList<CalendarEvent>>> byUid = co_await reading;
    QThreadPool::globalInstance()->start([jobs] {
        for (const std::shared_ptr<ExpandJob> &job : jobs)
            release(*job);
    });
    if (!self || !isCurrent(calendar) || calendar->client != client)
        co_return;
    if (!byUid) {
        // A failed reading keeps the meetings of the last good one.
        calendar->loading = false;
        co_return;
    }
    calendar->byUid = std::move(*byUid);
    calendar->readings.clear();
    calendar->expandedAt = from;
    calendar->loading = false;
    Q_EMIT eventsChanged();
    if (!calendar->pending.isEmpty())
        flushChanged(calendar);
}

void DesktopCalendarSource::objectsChanged(void *, const void *components, void *data) {
    auto *calendar = static_cast<Calendar *>(data);
    QSet<QString> uids;
    for (auto *l = static_cast<const GSList *>(components); l; l = l->next)
        uids.insert(text(i_cal_component_get_uid(I_CAL_COMPONENT(l->data))));
    calendar->owner->queueChanged(calendar, std::move(uids));
}

void DesktopCalendarSource::objectsRemoved(void *, const void *ids, void *data) {
    auto *calendar = static_cast<Calendar *>(data);
    QSet<QString> uids;
    for (auto *l = static_cast<const GSList *>(ids); l; l = l->next)
        uids.insert(text(e_cal_component_id_get_uid(static_cast<ECalComponentId *>(l->data))));
    calendar->owner->queueChanged(calendar, std::move(uids));
}

void DesktopCalendarSource::queueChanged(Calendar *calendar, QSet<QString> uids) {
    const CalendarPtr current = m_calendars.value(calendar->info.id);
    if (current.get() != calendar)
        return;
    calendar->pending.unite(uids);
    if (calendar->loading || calendar->flushScheduled)
        return;
    // The view reports a change as several signals in a row: they are read in one go.
    calendar->flushScheduled = true;
    QPointer<DesktopCalendarSource> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, weak = std::weak_ptr<Calendar>(current)] {
            const CalendarPtr calendar = weak.lock();
            if (!self || !calendar)
                return;
            calendar->flushScheduled = false;
            if (self->isCurrent(calendar) && !calendar->loading)
                self->flushChanged(calendar);
        },
        Qt::QueuedConnection);
}

void DesktopCalendarSource::flushChanged(const CalendarPtr &calendar) {
    const QSet<QString> uids = std::exchange(calendar->pending, {});
    for (const QString &uid : uids)
        reloadUid(calendar, uid);
}

QCoro::Task<> DesktopCalendarSource::reloadUid(CalendarPtr calendar, QString uid) {
    QPointer<DesktopCalendarSource> self(this);
    ECalClient *client = calendar->client;
    if (!client)
        co_return;
    const Ref<ECalClient> held{E_CAL_CLIENT(g_object_ref(client))};
    const quint64 reading = ++calendar->readings[uid];
    const QByteArray id = uid.toUtf8();
    GCancellable *cancellable = G_CANCELLABLE(g_object_ref(calendar->cancellable));
    const Ref<GAsyncResult> fetched =
        co_await AsyncCall([client, cancellable, &id](GAsyncReadyCallback ready, gpointer data) {
            e_cal_client_get_objects_for_uid(client, id.constData(), cancellable, ready, data);
        });
    g_object_unref(cancellable);
    GSList *components = nullptr;
    GError *raw = nullptr;
    e_cal_client_get_objects_for_uid_finish(client, fetched.get(), &components, &raw);
    const ErrorPtr error(raw);
    auto job = std::make_shared<ExpandJob>();
    job->owner = std::make_unique<ComponentList>(components);
    for (GSList *l = components; l; l = l->next)
        job->components.append(e_cal_component_get_icalcomponent(E_CAL_COMPONENT(l->data)));
    const auto stillWanted = [&] {
        return self && isCurrent(calendar) && calendar->client == client &&
               calendar->readings.value(uid) == reading;
    };
    if (!stillWanted())
        co_return;
    const bool removed = error && g_error_matches(error.get(), E_CAL_CLIENT_ERROR,
                                                  E_CAL_CLIENT_ERROR_OBJECT_NOT_FOUND);
    if (error && !removed) {
        qCWarning(lcSync) << "Reading a changed event of desktop calendar" << calendar->info.id
                          << "failed:" << error->message;
        co_return;
    }
    QList<CalendarEvent> events;
    if (!removed) {
        const QDateTime from = m_clock.now(), to = from.addSecs(window.count());
        setUpJob(*job, client, from, to,
                 DesktopEventReader(calendar->info.id, calendar->info.name, calendar->info.hexColor,
                                    m_ownAddresses));
        QFuture<QHash<QString, QList<CalendarEvent>>> expanding = QtConcurrent::run([job] {
            const QList<Expanded> expanded{expand(*job, job->components)};
            release(*job);
            return merge(expanded);
        });
        QHash<QString, QList<CalendarEvent>> byUid = co_await expanding;
        if (!stillWanted())
            co_return;
        events = byUid.value(uid);
    }
    if (events.isEmpty() && !calendar->byUid.contains(uid))
        co_return;
    if (events.isEmpty())
        calendar->byUid.remove(uid);
    else
        calendar->byUid.insert(uid, std::move(events));
    Q_EMIT eventsChanged();
}

QList<CalendarEvent> DesktopCalendarSource::events(const QString &accountId) const {
    QList<CalendarEvent> all;
    for (const DesktopCalendar &info : m_calendarList) {
        const CalendarPtr calendar = m_calendars.value(info.id);
        if (!calendar)
            continue;
        for (const QList<CalendarEvent> &instances : std::as_const(calendar->byUid))
            for (const CalendarEvent &event : instances) {
                all.append(event);
                all.last().accountId = accountId;
            }
    }
    return all;
}

QList<ProxyCalendar> DesktopCalendarSource::listedCalendars() const {
    QList<ProxyCalendar> listed;
    listed.reserve(m_calendarList.size());
    for (const DesktopCalendar &calendar : m_calendarList)
        listed.append({calendar.id, calendar.name, calendar.hexColor, std::nullopt});
    return listed;
}
