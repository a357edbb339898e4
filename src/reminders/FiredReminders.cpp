#include "FiredReminders.h"

#include "ReminderLog.h"
#include "core/JsonRead.h"
#include "platform/PrivateFiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace {
constexpr qint64 keptSeconds = 24 * 3600;
}

FiredReminders::FiredReminders(const QString &folder) {
    if (!folder.isEmpty())
        m_folder = std::make_unique<PrivateFiles::Folder>(folder);
    const auto bytes =
        m_folder ? m_folder->read(QLatin1String(fileName), maxFileBytes) : std::nullopt;
    if (!bytes)
        return;
    // Anything but an object of key -> seconds since the epoch is a record to start afresh.
    try {
        const QJsonObject stored = JsonRead::object(*bytes);
        for (auto it = stored.begin(); it != stored.end(); ++it)
            m_fired.insert(it.key(), QDateTime::fromSecsSinceEpoch(
                                         JsonRead::integer(*it, u"fired at"), Qt::UTC));
    } catch (const DecodingError &error) {
        m_fired.clear();
        qCWarning(lcReminders) << "the fired reminders record is unreadable:" << error.detail();
    }
}

FiredReminders::~FiredReminders() = default;

QString FiredReminders::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Zelvane");
}

void FiredReminders::insert(const QString &key, const QDateTime &when) {
    m_fired.insert(key, when);
    m_fired.removeIf(
        [&when](const auto &entry) { return entry.value().secsTo(when) > keptSeconds; });
    save();
}

void FiredReminders::removeIf(const std::function<bool(const QString &)> &drop) {
    if (m_fired.removeIf([&drop](const auto &entry) { return drop(entry.key()); }) > 0)
        save();
}

void FiredReminders::save() const {
    if (!m_folder || !m_folder->isOpen())
        return;
    QJsonObject record;
    for (auto it = m_fired.cbegin(); it != m_fired.cend(); ++it)
        record.insert(it.key(), double(it.value().toSecsSinceEpoch()));
    if (!m_folder->write(QLatin1String(fileName),
                         QJsonDocument(record).toJson(QJsonDocument::Compact)))
        qCWarning(lcReminders) << "The record of shown reminders could not be saved";
}
