#pragma once

#include "core/CalendarEvent.h"

#include <QByteArray>
#include <QCoroTask>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <memory>

namespace PrivateFiles {
class Folder;
}

// Every account's last good events, kept in a file (0600) so that reminders still come when
// the calendars cannot be reached from the start. Each account's list is replaced whole, so a
// list read back never holds an event that a later good read no longer had.
class EventCache {
public:
    using Lists = QHash<QString, QList<CalendarEvent>>;

    static constexpr const char *fileName = "Events.json";
    static constexpr qint64 maxFileBytes = 16 * 1024 * 1024;

    // Starts reading what `folder` holds on a worker; an empty `folder` keeps the lists in
    // memory only.
    explicit EventCache(const QString &folder);
    ~EventCache();
    EventCache(const EventCache &) = delete;
    EventCache &operator=(const EventCache &) = delete;

    // Finishes once the file is read. Everything below waits for that when called before.
    QFuture<void> loaded() const { return m_loaded; }
    // Each account's list, by account id.
    const Lists &lists();
    // Replaces the account's list in memory; the file follows at the next save.
    void replace(const QString &accountId, const QList<CalendarEvent> &events);
    // Writes the lists on a worker, when they changed since the file was last written; the task
    // ends once they are written or the write failed. Writes follow one another in the order
    // asked for, so the file ends with the newest lists.
    QCoro::Task<> save();
    // Both write at once: an account's events leave the disk with the account.
    void drop(const QString &accountId);
    // Drops the lists of every account not named.
    void keepOnly(const QSet<QString> &accountIds);

    static QByteArray encode(const Lists &lists);
    // Throws DecodingError for anything but a file `encode` could have written.
    static Lists decode(const QByteArray &bytes);

private:
    void saveNow();
    // Takes over what the read found, the first time it is asked for.
    void takeLoaded();

    // The file and what it holds, touched by one write at a time.
    struct Disk;
    std::shared_ptr<Disk> m_disk;
    Lists m_lists;
    QFuture<Lists> m_loading;
    QFuture<void> m_loaded;
    bool m_taken = false;
    // The last write asked for; the next one starts when it ends.
    QFuture<void> m_lastWrite;
};
