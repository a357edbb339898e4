#include "AppSettings.h"

#include "CoreLog.h"
#include "JsonRead.h"
#include "platform/PrivateFiles.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QStandardPaths>
#include <algorithm>

namespace {
struct KeyEntry {
    const char *name;
    // Its type is the type every read returns.
    QVariant fallback;
};

KeyEntry entry(AppSettings::Key key) {
    using K = AppSettings::Key;
    switch (key) {
    case K::SoundEnabled:
        return {"soundEnabled", true};
    case K::RespectDnd:
        return {"respectDND", false};
    case K::HasCompletedOnboarding:
        return {"hasCompletedOnboarding", false};
    case K::LaunchAtLogin:
        return {"launchAtLogin", true};
    case K::DisabledCalendars:
        return {"disabledCalendars", QByteArray()};
    case K::AccountReminders:
        return {"accountReminders", QByteArray()};
    case K::AccountAlertStyles:
        return {"accountAlertStyles", QByteArray()};
    case K::ConnectedAccounts:
        return {"connectedAccounts", QByteArray()};
    case K::BackgroundNoticeShown:
        return {"backgroundNoticeShown", false};
    case K::UpdateChecksEnabled:
        return {"SUEnableAutomaticChecks", true};
    case K::UpdateDownloadsEnabled:
        return {"SUAutomaticallyUpdate", false};
    case K::UpdateLastCheck:
        return {"SULastCheckTime", QDateTime()};
    case K::UpdateLastItem:
        return {"SULastItem", QVariantMap()};
    case K::UpdateSkippedVersion:
        return {"SUSkippedVersion", QString()};
    case K::UpdateHasLaunchedBefore:
        return {"SUHasLaunchedBefore", false};
    case K::SmsEnabled:
        return {"smsEnabled", false};
    case K::SmsPhoneNumber:
        return {"smsPhoneNumber", QString()};
    case K::AIKeyStatus:
        return {"aiKeyStatus", QByteArray()};
    case K::BackendOrigin:
        return {"backendOrigin", QString()};
    }
    Q_UNREACHABLE();
}

// QSettings reads a whole file at once on the calling thread: a file far larger than the app
// ever writes costs seconds at start.
constexpr qint64 maxStoreBytes = 1024 * 1024;
// The longest line kept from a file set aside for its size: more than any value the app
// stores, and the app's keys fit the file limit together.
constexpr qsizetype maxLineBytes = maxStoreBytes / 16;
// A larger file is set aside without looking for the settings in it.
constexpr qint64 maxSalvagedBytes = 64 * 1024 * 1024;

bool isStoredName(QByteArrayView name) {
    const QMetaEnum keys = QMetaEnum::fromType<AppSettings::Key>();
    for (int i = 0; i < keys.keyCount(); ++i)
        if (name == entry(AppSettings::Key(keys.value(i))).name)
            return true;
    return false;
}

// The lines of an oversized store worth keeping: section heads and the app's own keys of a
// sane length, within the file limit.
QByteArray saneLines(const QByteArray &bytes) {
    QByteArray kept;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        const QByteArrayView line(bytes.constData() + start, end - start);
        start = end + 1;
        if (line.size() > maxLineBytes || kept.size() + line.size() + 1 > maxStoreBytes)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (line.trimmed().startsWith('[') ||
            (equals > 0 && isStoredName(line.first(equals).trimmed()))) {
            kept += line;
            kept += '\n';
        }
    }
    return kept;
}

// Makes the store's folder the user's alone and its file one that QSettings may follow and
// read: QSettings writes through a symbolic link and reads any size. Anything else under the
// file's name is set aside as "<name>.bad-<time>"; of a file too large, the sane lines are
// kept. True when something was set aside.
bool prepareStoreFile(const QString &path) {
    const QFileInfo file(path);
    const PrivateFiles::Folder folder(file.path());
    if (!folder.isOpen())
        return false;
    const QString name = file.fileName();
    const auto entry = folder.entry(name);
    const bool oversized =
        entry.kind == PrivateFiles::Folder::Entry::Kind::regular && entry.size > maxStoreBytes;
    bool setAside = false;
    if (entry.kind == PrivateFiles::Folder::Entry::Kind::other || oversized) {
        const QString aside =
            name + QStringLiteral(".bad-") +
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmsszzz"));
        setAside = folder.rename(name, aside);
        if (setAside && !oversized) {
            qCWarning(lcCore) << "the settings file" << path
                              << "is not a regular file; it was set aside as" << aside;
        } else if (setAside) {
            const QByteArray kept = saneLines(
                PrivateFiles::readRegularFile(folder.path() + u'/' + aside, maxSalvagedBytes)
                    .value_or(QByteArray()));
            folder.write(name, kept);
            qCWarning(lcCore) << "the settings file" << path << "is larger than" << maxStoreBytes
                              << "bytes; it was set aside as" << aside << "and" << kept.size()
                              << "bytes of it kept";
        }
    }
    // Made before QSettings writes, which keeps the permissions of an existing file.
    PrivateFiles::restrictFile(path);
    return setAside;
}
} // namespace

AppSettings::AppSettings(std::unique_ptr<QSettings> store, QObject *parent)
    : QObject(parent)
    , m_store(std::move(store)) {
    const QFileInfo file(m_store->fileName());
    // A store made elsewhere has read its file already; after a change, it reads it again.
    if (m_store->format() == QSettings::IniFormat && file.isAbsolute() &&
        prepareStoreFile(file.filePath()))
        m_store = std::make_unique<QSettings>(file.filePath(), QSettings::IniFormat);
}

AppSettings::~AppSettings() = default;

std::unique_ptr<QSettings> AppSettings::defaultStore() {
    // QSettings' own user-scope INI path ends in ".ini"; the desktop convention is ".conf".
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                         QStringLiteral("/Zelvane/Zelvane.conf");
    // Checked before QSettings reads the file.
    prepareStoreFile(path);
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

QString AppSettings::storedName(Key key) {
    return QString::fromLatin1(entry(key).name);
}

QVariant AppSettings::defaultValue(Key key) {
    return entry(key).fallback;
}

QVariant AppSettings::effective(Key key, const QVariant &stored) const {
    const QVariant fallback = entry(key).fallback;
    if (!stored.isValid())
        return fallback;
    // A restarted INI store hands back text for what was written as a bool.
    QVariant typed = stored;
    if (typed.metaType() != fallback.metaType() && !typed.convert(fallback.metaType()))
        return fallback;
    return typed;
}

QVariant AppSettings::value(Key key) const {
    return effective(key, m_store->value(storedName(key)));
}

void AppSettings::setValue(Key key, const QVariant &value) {
    const QString name = storedName(key);
    const QVariant stored = m_store->value(name);
    const bool changes = effective(key, stored) != effective(key, value);
    if (!changes && stored.metaType() == value.metaType() && stored == value)
        return;
    if (changes)
        Q_EMIT aboutToChange(key);
    m_store->setValue(name, value);
    m_store->sync();
    if (changes)
        Q_EMIT changed(key);
}

bool AppSettings::contains(Key key) const {
    return m_store->contains(storedName(key));
}

void AppSettings::remove(Key key) {
    const QString name = storedName(key);
    if (!m_store->contains(name))
        return;
    const bool changes = value(key) != defaultValue(key);
    if (changes)
        Q_EMIT aboutToChange(key);
    m_store->remove(name);
    m_store->sync();
    if (changes)
        Q_EMIT changed(key);
}

bool AppSettings::soundEnabled() const {
    return value(Key::SoundEnabled).toBool();
}
void AppSettings::setSoundEnabled(bool enabled) {
    setValue(Key::SoundEnabled, enabled);
}
bool AppSettings::respectDND() const {
    return value(Key::RespectDnd).toBool();
}
void AppSettings::setRespectDND(bool respect) {
    setValue(Key::RespectDnd, respect);
}

bool AppSettings::hasCompletedOnboarding() const {
    return value(Key::HasCompletedOnboarding).toBool();
}

void AppSettings::setHasCompletedOnboarding(bool completed) {
    setValue(Key::HasCompletedOnboarding, completed);
}

bool AppSettings::launchAtLogin() const {
    return value(Key::LaunchAtLogin).toBool();
}

void AppSettings::setLaunchAtLogin(bool enabled) {
    setValue(Key::LaunchAtLogin, enabled);
}

QByteArray AppSettings::disabledCalendarsData() const {
    return value(Key::DisabledCalendars).toByteArray();
}

QByteArray AppSettings::accountRemindersData() const {
    return value(Key::AccountReminders).toByteArray();
}

QSet<QString> AppSettings::decodeDisabledCalendars(const QByteArray &data) {
    if (data.isEmpty())
        return {};
    try {
        const QStringList ids = JsonRead::stringList(JsonRead::array(data), u"disabled calendars");
        return {ids.cbegin(), ids.cend()};
    } catch (const DecodingError &error) {
        qCWarning(lcCore) << "the disabled calendars are unreadable:" << error.detail();
        return {};
    }
}

QByteArray AppSettings::encodeDisabledCalendars(const QSet<QString> &ids) {
    QStringList sorted(ids.begin(), ids.end());
    sorted.sort();
    return QJsonDocument(QJsonArray::fromStringList(sorted)).toJson(QJsonDocument::Compact);
}

QHash<QString, QList<ReminderOffset>> AppSettings::decodeAccountReminders(const QByteArray &data) {
    if (data.isEmpty())
        return {};
    // One unknown lead time makes the whole map unreadable.
    try {
        QHash<QString, QList<ReminderOffset>> map;
        const QJsonObject object = JsonRead::object(data);
        for (auto it = object.begin(); it != object.end(); ++it) {
            QList<ReminderOffset> offsets;
            for (const QJsonValue &item : JsonRead::array(*it, u"lead times")) {
                const auto offset = ReminderOffsets::fromRaw(JsonRead::integer(item, u"lead time"));
                if (!offset)
                    throw DecodingError(QStringLiteral("lead time: not a known lead time"));
                offsets.append(*offset);
            }
            map.insert(it.key(), offsets);
        }
        return map;
    } catch (const DecodingError &error) {
        qCWarning(lcCore) << "the reminder lead times are unreadable:" << error.detail();
        return {};
    }
}

QByteArray AppSettings::encodeAccountReminders(const QHash<QString, QList<ReminderOffset>> &map) {
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it) {
        QJsonArray offsets;
        for (ReminderOffset offset : *it)
            offsets.append(ReminderOffsets::raw(offset));
        object.insert(it.key(), offsets);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QSet<QString> AppSettings::disabledCalendarIds() const {
    return decodeDisabledCalendars(disabledCalendarsData());
}

void AppSettings::setDisabledCalendarIds(const QSet<QString> &ids) {
    setValue(Key::DisabledCalendars, encodeDisabledCalendars(ids));
}

QHash<QString, QList<ReminderOffset>> AppSettings::accountReminders() const {
    return decodeAccountReminders(accountRemindersData());
}

void AppSettings::setAccountReminders(const QHash<QString, QList<ReminderOffset>> &reminders) {
    setValue(Key::AccountReminders, encodeAccountReminders(reminders));
}

QList<std::chrono::seconds> AppSettings::reminderOffsets(const QString &accountId) const {
    return reminderOffsets(accountReminders(), accountId);
}

QList<std::chrono::seconds>
AppSettings::reminderOffsets(const QHash<QString, QList<ReminderOffset>> &map,
                             const QString &accountId) {
    const auto it = map.constFind(accountId);
    if (it == map.constEnd())
        return {std::chrono::seconds::zero()};
    QList<ReminderOffset> offsets = *it;
    std::sort(offsets.begin(), offsets.end(), std::greater<>());
    QList<std::chrono::seconds> leadTimes;
    leadTimes.reserve(offsets.size());
    for (ReminderOffset offset : offsets)
        leadTimes.append(ReminderOffsets::leadTime(offset));
    return leadTimes;
}

void AppSettings::addDefaultReminders(const QString &accountId) {
    auto map = accountReminders();
    if (map.contains(accountId))
        return;
    map.insert(accountId, {ReminderOffset::atStart});
    setAccountReminders(map);
}

void AppSettings::addReminder(ReminderOffset offset, const QString &accountId) {
    auto map = accountReminders();
    QList<ReminderOffset> offsets = map.value(accountId);
    if (!offsets.contains(offset))
        offsets.append(offset);
    std::sort(offsets.begin(), offsets.end());
    map.insert(accountId, offsets);
    setAccountReminders(map);
}

void AppSettings::removeReminder(ReminderOffset offset, const QString &accountId) {
    auto map = accountReminders();
    QList<ReminderOffset> offsets = map.value(accountId);
    offsets.removeAll(offset);
    map.insert(accountId, offsets);
    setAccountReminders(map);
}

void AppSettings::removeReminders(const QString &accountId) {
    auto map = accountReminders();
    map.remove(accountId);
    setAccountReminders(map);
}

namespace {
const QString notificationOnlyName = QStringLiteral("notificationOnly");

// The accounts whose reminders come as notifications; anything unreadable is none, so a
// damaged record never silences a reminder.
QSet<QString> notificationOnlyAccounts(const QByteArray &data) {
    QSet<QString> accounts;
    if (data.isEmpty())
        return accounts;
    try {
        const QJsonObject object = JsonRead::object(data);
        for (auto it = object.begin(); it != object.end(); ++it)
            if (it.value().toString() == notificationOnlyName)
                accounts.insert(it.key());
    } catch (const DecodingError &error) {
        qCWarning(lcCore) << "the alert styles are unreadable:" << error.detail();
    }
    return accounts;
}
} // namespace

AlertStyle AppSettings::alertStyle(const QString &accountId) const {
    return notificationOnlyAccounts(value(Key::AccountAlertStyles).toByteArray())
                   .contains(accountId)
               ? AlertStyle::notificationOnly
               : AlertStyle::fullScreen;
}

void AppSettings::setAlertStyle(const QString &accountId, AlertStyle style) {
    QSet<QString> accounts = notificationOnlyAccounts(value(Key::AccountAlertStyles).toByteArray());
    const bool changes = style == AlertStyle::notificationOnly ? !accounts.contains(accountId)
                                                               : accounts.contains(accountId);
    if (!changes)
        return;
    if (style == AlertStyle::notificationOnly)
        accounts.insert(accountId);
    else
        accounts.remove(accountId);
    QStringList sorted(accounts.cbegin(), accounts.cend());
    sorted.sort();
    QJsonObject object;
    for (const QString &id : std::as_const(sorted))
        object.insert(id, notificationOnlyName);
    setValue(Key::AccountAlertStyles, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void AppSettings::toggleCalendar(const QString &calendarId) {
    QSet<QString> ids = disabledCalendarIds();
    if (!ids.remove(calendarId))
        ids.insert(calendarId);
    setDisabledCalendarIds(ids);
}

bool AppSettings::isCalendarEnabled(const QString &calendarId) const {
    return !disabledCalendarIds().contains(calendarId);
}
