#include "DesktopCalendars.h"

#include "platform/Module.h"

#include <QCoroDBus>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QPointer>

namespace {
QDBusMessage busCall(const QString &method) {
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                          QStringLiteral("/org/freedesktop/DBus"),
                                          QStringLiteral("org.freedesktop.DBus"), method);
}
} // namespace

DesktopCalendars::DesktopCalendars(Clock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock) {}

DesktopCalendars::~DesktopCalendars() = default;

QString DesktopCalendars::problemText() {
    return tr("Evolution Data Server is not running on this desktop");
}

void DesktopCalendars::watch() {
    if (m_watcher)
        return;
    m_watcher = new QDBusServiceWatcher(QString::fromLatin1(DesktopCalendarStore::registryService),
                                        QDBusConnection::sessionBus(),
                                        QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &owner) {
                m_owned = !owner.isEmpty();
                setAvailability();
            });
    askOwner();
    askActivatable();
}

QCoro::Task<> DesktopCalendars::askOwner() {
    QPointer<DesktopCalendars> self(this);
    QDBusMessage ask = busCall(QStringLiteral("NameHasOwner"));
    ask << QString::fromLatin1(DesktopCalendarStore::registryService);
    const QDBusMessage reply = co_await QDBusConnection::sessionBus().asyncCall(ask, 5000);
    // The watcher's word, when it came first, is the newer one.
    if (!self || m_owned)
        co_return;
    m_owned = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
              reply.arguments().constFirst().toBool();
    setAvailability();
}

QCoro::Task<> DesktopCalendars::askActivatable() {
    QPointer<DesktopCalendars> self(this);
    const QDBusMessage reply = co_await QDBusConnection::sessionBus().asyncCall(
        busCall(QStringLiteral("ListActivatableNames")), 5000);
    if (!self)
        co_return;
    m_activatable = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                    reply.arguments().constFirst().toStringList().contains(
                        QLatin1String(DesktopCalendarStore::registryService));
    setAvailability();
}

void DesktopCalendars::setAvailability() {
    Availability now = Availability::absent;
    if (m_owned.value_or(false) || m_activatable.value_or(false))
        now = Availability::present;
    else if ((!m_owned || !m_activatable) && m_availability == Availability::unknown)
        // Not running, and whether it can be started is not known yet.
        now = Availability::unknown;
    if (now == m_availability)
        return;
    m_availability = now;
    Q_EMIT availabilityChanged();
}

DesktopCalendarStore *DesktopCalendars::store() {
    if (m_store || m_loadFailed)
        return m_store.get();
    const auto entry = reinterpret_cast<DesktopCalendarStore::Entry *>(
        Module::resolve(DesktopCalendarStore::moduleName, DesktopCalendarStore::entryPoint));
    if (!entry) {
        m_loadFailed = true;
        return nullptr;
    }
    m_store.reset(entry(m_clock, [this](DesktopCalendarStore::Change change) { changed(change); }));
    return m_store.get();
}

void DesktopCalendars::changed(DesktopCalendarStore::Change change) {
    switch (change) {
    case DesktopCalendarStore::Change::lost:
        Q_EMIT lostChanged();
        break;
    case DesktopCalendarStore::Change::calendars:
        Q_EMIT calendarsChanged();
        break;
    case DesktopCalendarStore::Change::events:
        Q_EMIT eventsChanged();
        break;
    }
}

void DesktopCalendars::open() {
    const bool wasLost = isLost();
    m_wantOpen = true;
    watch();
    if (DesktopCalendarStore *calendars = store())
        calendars->open();
    else if (!wasLost)
        Q_EMIT lostChanged();
}

void DesktopCalendars::close() {
    const bool wasLost = isLost();
    m_wantOpen = false;
    if (m_store)
        m_store->close();
    else if (wasLost)
        Q_EMIT lostChanged();
}

bool DesktopCalendars::isLost() const {
    return m_store ? m_store->isLost() : m_wantOpen && m_loadFailed;
}

QList<DesktopCalendar> DesktopCalendars::calendars() const {
    return m_store ? m_store->calendars() : QList<DesktopCalendar>();
}

QList<ProxyCalendar> DesktopCalendars::listedCalendars() const {
    return m_store ? m_store->listedCalendars() : QList<ProxyCalendar>();
}

QList<CalendarEvent> DesktopCalendars::events(const QString &accountId) const {
    return m_store ? m_store->events(accountId) : QList<CalendarEvent>();
}

void DesktopCalendars::refresh() {
    if (m_wantOpen && m_store)
        m_store->refresh();
}
