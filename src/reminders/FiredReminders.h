#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <functional>
#include <memory>

namespace PrivateFiles {
class Folder;
}

// The reminders already shown, by key, with when each was shown. Kept in a small file (0600)
// for a day, so that a restart inside a reminder's window never shows it twice.
class FiredReminders {
public:
    static constexpr const char *fileName = "FiredReminders.json";
    static constexpr qint64 maxFileBytes = 256 * 1024;

    // Reads what `folder` holds; an empty `folder` keeps the record in memory only.
    explicit FiredReminders(const QString &folder);
    ~FiredReminders();

    // $XDG_DATA_HOME/Zelvane
    static QString defaultFolder();

    bool contains(const QString &key) const { return m_fired.contains(key); }
    // Records the key as shown at `when`, and forgets keys shown more than a day before it.
    void insert(const QString &key, const QDateTime &when);
    // Forgets the keys `drop` picks.
    void removeIf(const std::function<bool(const QString &)> &drop);
    const QHash<QString, QDateTime> &all() const { return m_fired; }

private:
    void save() const;

    std::unique_ptr<PrivateFiles::Folder> m_folder;
    QHash<QString, QDateTime> m_fired;
};
