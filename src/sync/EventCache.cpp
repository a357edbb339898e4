#include "EventCache.h"

#include "SyncLog.h"
#include "core/HexColor.h"
#include "core/JsonRead.h"
#include "platform/PrivateFiles.h"

#include <QCoroFuture>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtConcurrent>

namespace {
constexpr int formatVersion = 1;
// 9999-12-31T23:59:59Z: further out is no meeting, and QDateTime would not hold it everywhere.
constexpr qint64 latestMs = 253402300799000;

QByteArray digest(const QByteArray &bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
}

void putOptional(QJsonObject &o, const QString &key, const std::optional<QString> &value) {
    if (value)
        o.insert(key, *value);
}

QJsonObject eventToJson(const CalendarEvent &event) {
    QJsonObject o{
        {QStringLiteral("id"), event.id},
        {QStringLiteral("title"), event.title},
        {QStringLiteral("start"), double(event.startDate.toMSecsSinceEpoch())},
        {QStringLiteral("end"), double(event.endDate.toMSecsSinceEpoch())},
        {QStringLiteral("calendarTitle"), event.calendarTitle},
        {QStringLiteral("isAllDay"), event.isAllDay},
        {QStringLiteral("attendees"), QJsonArray::fromStringList(event.attendeeEmails)},
        {QStringLiteral("provider"), CalendarProviders::toString(event.provider)},
    };
    if (event.calendarColor.isValid())
        o.insert(QStringLiteral("calendarColor"), event.calendarColor.name(QColor::HexRgb));
    if (event.meetingLink)
        o.insert(QStringLiteral("meetingLink"), event.meetingLink->toString(QUrl::FullyEncoded));
    putOptional(o, QStringLiteral("organizer"), event.organizerEmail);
    putOptional(o, QStringLiteral("location"), event.location);
    putOptional(o, QStringLiteral("notes"), event.notes);
    putOptional(o, QStringLiteral("calendarId"), event.calendarId);
    putOptional(o, QStringLiteral("accountId"), event.accountId);
    putOptional(o, QStringLiteral("conferencingProvider"), event.conferencingProvider);
    return o;
}

QDateTime instant(const QJsonObject &o, QStringView key) {
    const qint64 ms = JsonRead::integer(o, key);
    if (ms < 0 || ms > latestMs)
        throw DecodingError(key.toString() + QStringLiteral(": out of range"));
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

CalendarEvent eventFromJson(const QJsonValue &value) {
    const QJsonObject o = JsonRead::object(value, u"event");
    CalendarEvent event;
    event.id = JsonRead::string(o, u"id");
    event.title = JsonRead::string(o, u"title");
    event.startDate = instant(o, u"start");
    event.endDate = instant(o, u"end");
    event.calendarTitle = JsonRead::string(o, u"calendarTitle");
    event.isAllDay = JsonRead::boolean(o, u"isAllDay");
    event.attendeeEmails = JsonRead::stringList(o.value(u"attendees"), u"attendees");
    const auto provider = CalendarProviders::fromString(JsonRead::string(o, u"provider"));
    if (!provider)
        throw DecodingError(QStringLiteral("provider: not a known provider"));
    event.provider = *provider;
    if (const auto color = JsonRead::optionalString(o, u"calendarColor")) {
        // Only what encode writes: "#" and six hex digits.
        const auto parsed = color->size() == 7 && color->startsWith(u'#')
                                ? colorFromSixDigitHex(QStringView(*color))
                                : std::nullopt;
        if (!parsed || parsed->name(QColor::HexRgb) != color->toLower())
            throw DecodingError(QStringLiteral("calendarColor: not a colour"));
        event.calendarColor = *parsed;
    }
    event.meetingLink = JsonRead::optionalUrl(o, u"meetingLink");
    event.organizerEmail = JsonRead::optionalString(o, u"organizer");
    event.location = JsonRead::optionalString(o, u"location");
    event.notes = JsonRead::optionalString(o, u"notes");
    event.calendarId = JsonRead::optionalString(o, u"calendarId");
    event.accountId = JsonRead::optionalString(o, u"accountId");
    event.conferencingProvider = JsonRead::optionalString(o, u"conferencingProvider");
    return event;
}
} // namespace

struct EventCache::Disk {
    explicit Disk(const QString &path)
        : folder(path) {}

    Lists load();
    void write(const Lists &lists);

    PrivateFiles::Folder folder;
    // A digest of what the file holds, so an unchanged refresh writes nothing; the file's text
    // itself is not worth keeping in memory.
    QByteArray written;
};

EventCache::EventCache(const QString &folder) {
    if (!folder.isEmpty())
        m_disk = std::make_shared<Disk>(folder);
    // Thousands of events take longer to read than the rest of the app's start.
    m_loading = m_disk ? QtConcurrent::run([disk = m_disk] { return disk->load(); })
                       : QtFuture::makeReadyFuture(Lists());
    m_loaded = m_loading.then([](const Lists &) {});
    m_lastWrite = m_loaded;
}

EventCache::Lists EventCache::Disk::load() {
    const auto bytes = folder.read(QLatin1String(fileName), maxFileBytes);
    if (!bytes)
        return {};
    // A file that does not read whole is no list at all: half a list could drop a meeting
    // and keep one that was moved.
    try {
        Lists lists = decode(*bytes);
        written = digest(*bytes);
        return lists;
    } catch (const DecodingError &error) {
        qCWarning(lcSync) << "the stored events are unreadable:" << error.detail();
        return {};
    }
}

void EventCache::takeLoaded() {
    if (m_taken)
        return;
    m_taken = true;
    m_lists = m_loading.result();
    m_loading = {};
}

const EventCache::Lists &EventCache::lists() {
    takeLoaded();
    return m_lists;
}

// What was asked to be written is on disk before the cache goes: nothing is lost at quit, and
// a cache made after this one reads what this one wrote.
EventCache::~EventCache() {
    m_lastWrite.waitForFinished();
}

void EventCache::replace(const QString &accountId, const QList<CalendarEvent> &events) {
    takeLoaded();
    m_lists.insert(accountId, events);
}

void EventCache::drop(const QString &accountId) {
    takeLoaded();
    if (m_lists.remove(accountId))
        saveNow();
}

void EventCache::keepOnly(const QSet<QString> &accountIds) {
    takeLoaded();
    if (m_lists.removeIf(
            [&accountIds](const auto &entry) { return !accountIds.contains(entry.key()); }) > 0)
        saveNow();
}

void EventCache::saveNow() {
    if (!m_disk || !m_disk->folder.isOpen())
        return;
    // After any write still on its way, which holds older lists.
    m_lastWrite.waitForFinished();
    m_disk->write(m_lists);
}

QCoro::Task<> EventCache::save() {
    if (!m_disk || !m_disk->folder.isOpen())
        co_return;
    takeLoaded();
    // Encoding thousands of events and waiting for the disk are no work for the main thread.
    m_lastWrite = m_lastWrite.then(QtFuture::Launch::Async,
                                   [disk = m_disk, lists = m_lists] { disk->write(lists); });
    QFuture<void> written = m_lastWrite;
    co_await written;
}

void EventCache::Disk::write(const Lists &lists) {
    const QByteArray bytes = encode(lists);
    const QByteArray digested = digest(bytes);
    if (digested == written)
        return;
    if (bytes.size() > maxFileBytes) {
        // Kept in memory only: a file this large would not be read back.
        qCWarning(lcSync) << "the events are too many to keep on disk:" << bytes.size() << "bytes";
        folder.remove(QLatin1String(fileName));
        written.clear();
        return;
    }
    if (folder.write(QLatin1String(fileName), bytes))
        written = digested;
    else
        qCWarning(lcSync) << "the events could not be kept on disk";
}

QByteArray EventCache::encode(const Lists &lists) {
    // Accounts in a fixed order, so equal lists write equal bytes.
    QStringList ids = lists.keys();
    ids.sort();
    QJsonObject accounts;
    for (const QString &id : std::as_const(ids)) {
        QJsonArray events;
        for (const CalendarEvent &event : lists.value(id))
            events.append(eventToJson(event));
        accounts.insert(id, events);
    }
    const QJsonObject root{{QStringLiteral("version"), formatVersion},
                           {QStringLiteral("accounts"), accounts}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

EventCache::Lists EventCache::decode(const QByteArray &bytes) {
    const QJsonObject root = JsonRead::object(bytes);
    if (JsonRead::integer(root, u"version") != formatVersion)
        throw DecodingError(QStringLiteral("version: not a known version"));
    const QJsonObject accounts = JsonRead::object(root.value(u"accounts"), u"accounts");
    Lists lists;
    for (auto it = accounts.begin(); it != accounts.end(); ++it) {
        QList<CalendarEvent> events;
        for (const QJsonValue &event : JsonRead::array(*it, u"events"))
            events.append(eventFromJson(event));
        lists.insert(it.key(), std::move(events));
    }
    return lists;
}
