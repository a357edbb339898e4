#include "AppSettings.h"

#include "platform/PrivateFiles.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <algorithm>

namespace Key {
const QString soundEnabled = QStringLiteral("soundEnabled");
const QString respectDND = QStringLiteral("respectDND");
const QString userDomain = QStringLiteral("userDomain");
const QString disabledCalendars = QStringLiteral("disabledCalendars");
const QString accountReminders = QStringLiteral("accountReminders");
const QString hasCompletedOnboarding = QStringLiteral("hasCompletedOnboarding");
const QString launchAtLogin = QStringLiteral("launchAtLogin");
} // namespace Key

AppSettings::AppSettings(std::unique_ptr<QSettings> store, QObject *parent)
    : QObject(parent)
    , m_store(std::move(store)) {
    // Created before QSettings writes, which keeps the permissions of an existing file.
    const QFileInfo file(m_store->fileName());
    if (m_store->format() == QSettings::IniFormat && file.isAbsolute() &&
        PrivateFiles::makeFolder(file.path()))
        PrivateFiles::restrictFile(file.filePath());
}

AppSettings::~AppSettings() = default;

std::unique_ptr<QSettings> AppSettings::defaultStore() {
    // QSettings' own user-scope INI path ends in ".ini"; the desktop convention is ".conf".
    return std::make_unique<QSettings>(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/Zelvane/Zelvane.conf"),
        QSettings::IniFormat);
}

void AppSettings::write(const QString &key, const QVariant &value) {
    Q_EMIT aboutToChange();
    m_store->setValue(key, value);
    m_store->sync();
    Q_EMIT changed();
}

QVariant AppSettings::value(const QString &key, const QVariant &fallback) const {
    return m_store->value(key, fallback);
}

void AppSettings::setValue(const QString &key, const QVariant &value) {
    write(key, value);
}

void AppSettings::remove(const QString &key) {
    Q_EMIT aboutToChange();
    m_store->remove(key);
    m_store->sync();
    Q_EMIT changed();
}

bool AppSettings::soundEnabled() const {
    return m_store->value(Key::soundEnabled, true).toBool();
}
void AppSettings::setSoundEnabled(bool enabled) {
    write(Key::soundEnabled, enabled);
}
bool AppSettings::respectDND() const {
    return m_store->value(Key::respectDND, false).toBool();
}
void AppSettings::setRespectDND(bool respect) {
    write(Key::respectDND, respect);
}
QString AppSettings::userDomain() const {
    return m_store->value(Key::userDomain).toString();
}
void AppSettings::setUserDomain(const QString &domain) {
    write(Key::userDomain, domain);
}

bool AppSettings::hasCompletedOnboarding() const {
    return m_store->value(Key::hasCompletedOnboarding, false).toBool();
}

void AppSettings::setHasCompletedOnboarding(bool completed) {
    write(Key::hasCompletedOnboarding, completed);
}

bool AppSettings::launchAtLogin() const {
    return m_store->value(Key::launchAtLogin, true).toBool();
}

void AppSettings::setLaunchAtLogin(bool enabled) {
    write(Key::launchAtLogin, enabled);
}

QByteArray AppSettings::disabledCalendarsData() const {
    return m_store->value(Key::disabledCalendars).toByteArray();
}

QByteArray AppSettings::accountRemindersData() const {
    return m_store->value(Key::accountReminders).toByteArray();
}

QSet<QString> AppSettings::decodeDisabledCalendars(const QByteArray &data) {
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (!doc.isArray())
        return {};
    QSet<QString> ids;
    for (const QJsonValue &item : doc.array()) {
        if (!item.isString())
            return {};
        ids.insert(item.toString());
    }
    return ids;
}

QByteArray AppSettings::encodeDisabledCalendars(const QSet<QString> &ids) {
    QStringList sorted(ids.begin(), ids.end());
    sorted.sort();
    return QJsonDocument(QJsonArray::fromStringList(sorted)).toJson(QJsonDocument::Compact);
}

QHash<QString, QList<ReminderOffset>> AppSettings::decodeAccountReminders(const QByteArray &data) {
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (!doc.isObject())
        return {};
    QHash<QString, QList<ReminderOffset>> map;
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it->isArray())
            return {};
        QList<ReminderOffset> offsets;
        for (const QJsonValue &item : it->toArray()) {
            const double number = item.toDouble(-1);
            const auto offset = item.isDouble() && number == double(qint64(number))
                                    ? ReminderOffsets::fromRaw(qint64(number))
                                    : std::nullopt;
            if (!offset)
                return {}; // one unknown lead time makes the whole map unreadable
            offsets.append(*offset);
        }
        map.insert(it.key(), offsets);
    }
    return map;
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
    write(Key::disabledCalendars, encodeDisabledCalendars(ids));
}

QHash<QString, QList<ReminderOffset>> AppSettings::accountReminders() const {
    return decodeAccountReminders(accountRemindersData());
}

void AppSettings::setAccountReminders(const QHash<QString, QList<ReminderOffset>> &reminders) {
    write(Key::accountReminders, encodeAccountReminders(reminders));
}

QList<double> AppSettings::reminderOffsets(const QString &accountId) const {
    return reminderOffsets(accountReminders(), accountId);
}

QList<double> AppSettings::reminderOffsets(const QHash<QString, QList<ReminderOffset>> &map,
                                           const QString &accountId) {
    const auto it = map.constFind(accountId);
    if (it == map.constEnd())
        return {0.0};
    QList<ReminderOffset> offsets = *it;
    std::sort(offsets.begin(), offsets.end(), std::greater<>());
    QList<double> seconds;
    seconds.reserve(offsets.size());
    for (ReminderOffset offset : offsets)
        seconds.append(ReminderOffsets::timeInterval(offset));
    return seconds;
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

void AppSettings::toggleCalendar(const QString &calendarId) {
    QSet<QString> ids = disabledCalendarIds();
    if (!ids.remove(calendarId))
        ids.insert(calendarId);
    setDisabledCalendarIds(ids);
}

bool AppSettings::isCalendarEnabled(const QString &calendarId) const {
    return !disabledCalendarIds().contains(calendarId);
}
