#pragma once

#include "core/Clock.h"
#include "core/MeetingBrief.h"
#include "platform/PrivateFiles.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>
#include <chrono>
#include <optional>

// What the model found out about one external participant.
struct CachedResearch {
    QString attendeeId;
    MeetingBrief::AttendeeProfile profile;
    QDateTime cachedAt;
    QSet<QString> eventIds;

    CachedResearch() = default;
    // Made now, for the one event.
    CachedResearch(QString attendeeId, MeetingBrief::AttendeeProfile profile,
                   const QString &eventId, QDateTime cachedAt);

    // One compact JSON object: the profile's fields beside "attendeeId", "cachedAt" in seconds
    // since 2001-01-01 00:00:00 UTC, and "eventIds".
    QByteArray encode() const;
    // Throws DecodingError unless "attendeeId", "email", "cachedAt" and "eventIds" are present
    // and typed. A link that is not LinkedIn's is dropped.
    static CachedResearch decode(const QByteArray &bytes);

    bool operator==(const CachedResearch &) const = default;
};

// One JSON file per participant, kept 30 days. Never reports an error: anything that goes
// wrong is a miss or a skipped write.
class ResearchCache {
public:
    ResearchCache(QString cacheDir, Clock &clock);

    // $XDG_DATA_HOME/Zelvane/ResearchCache
    static QString defaultDirectory();

    const QString &cacheDir() const { return m_cacheDir; }
    QString filePath(const QString &attendeeId) const;

    std::optional<CachedResearch> get(const QString &attendeeId) const;
    void store(const QString &attendeeId, const CachedResearch &research) const;

    static constexpr std::chrono::seconds maxAge = std::chrono::days(30);
    // A record is a few kilobytes; anything far larger is not one.
    static constexpr qint64 maxFileBytes = 1024 * 1024;

private:
    QString m_cacheDir;
    PrivateFiles::Folder m_folder;
    Clock &m_clock;
};

namespace ReferenceDate {
// Seconds since 2001-01-01 00:00:00 UTC, the cache files' time scale.
double secondsSince2001(const QDateTime &time);
// Absent for values that are not finite or lie beyond any representable time.
std::optional<QDateTime> fromSecondsSince2001(double seconds);
} // namespace ReferenceDate
