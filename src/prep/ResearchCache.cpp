#include "ResearchCache.h"

#include "PrepLog.h"
#include "core/JsonRead.h"
#include "core/SafeLinks.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <cmath>

namespace {
constexpr qint64 referenceEpochMSecs = 978'307'200'000; // 2001-01-01T00:00:00Z
// About 300,000 years either way: far outside any real date, well inside qint64 milliseconds.
constexpr double furthestSeconds = 1e13;

// Ids are hex digests; anything that could leave the folder is refused.
bool usableId(const QString &id) {
    return !id.isEmpty() && !id.contains(u'/') && !id.contains(u'\\') && id != u"." && id != u"..";
}

QString fileName(const QString &attendeeId) {
    return attendeeId + QStringLiteral(".json");
}

qsizetype encodedSize(const QString &text) {
    return QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact).size();
}

// The record's file in at most `limit` bytes: the text taking the most of the file is cut
// first, and a cut text ends in an ellipsis. Nothing when what cannot be cut (ids, address,
// link) is too large on its own.
std::optional<QByteArray> encodeWithin(CachedResearch research, qint64 limit) {
    QByteArray bytes = research.encode();
    while (bytes.size() > limit) {
        std::optional<QString> *largest = nullptr;
        qsizetype largestSize = 0;
        for (std::optional<QString> *text : research.profile.texts()) {
            const qsizetype size = *text ? encodedSize(**text) : 0;
            if (size > largestSize) {
                largest = text;
                largestSize = size;
            }
        }
        if (!largest)
            return std::nullopt;
        // Characters differ in size (an escaped one takes six bytes): cut the text's share of
        // what is too much, and one more for the ellipsis; another round cuts what is left over.
        QString &text = **largest;
        const qsizetype excess = bytes.size() - limit;
        qsizetype keep = text.size() - (text.size() * excess + largestSize - 1) / largestSize - 1;
        if (keep > 0 && text.at(keep - 1).isHighSurrogate())
            --keep;
        if (keep > 0) {
            text.truncate(keep);
            text.append(QChar(0x2026));
        } else {
            largest->reset();
        }
        bytes = research.encode();
    }
    return bytes;
}
} // namespace

double ReferenceDate::secondsSince2001(const QDateTime &time) {
    return double(time.toMSecsSinceEpoch() - referenceEpochMSecs) / 1000.0;
}

std::optional<QDateTime> ReferenceDate::fromSecondsSince2001(double seconds) {
    if (!std::isfinite(seconds) || std::abs(seconds) > furthestSeconds)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(
        qint64(std::llround(seconds * 1000.0)) + referenceEpochMSecs, Qt::UTC);
}

CachedResearch::CachedResearch(QString attendeeId_, MeetingBrief::AttendeeProfile profile_,
                               const QString &eventId, QDateTime cachedAt_)
    : attendeeId(std::move(attendeeId_))
    , profile(std::move(profile_))
    , cachedAt(std::move(cachedAt_))
    , eventIds{eventId} {}

QByteArray CachedResearch::encode() const {
    // Sorted so the same record always gives the same bytes.
    QStringList sortedEventIds = eventIds.values();
    sortedEventIds.sort();
    QJsonObject o = profile.toJson();
    o.insert(QStringLiteral("attendeeId"), attendeeId);
    o.insert(QStringLiteral("cachedAt"), ReferenceDate::secondsSince2001(cachedAt));
    o.insert(QStringLiteral("eventIds"), QJsonArray::fromStringList(sortedEventIds));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

CachedResearch CachedResearch::decode(const QByteArray &bytes) {
    const QJsonObject o = JsonRead::object(bytes);
    CachedResearch r;
    r.attendeeId = JsonRead::string(o, u"attendeeId");
    const auto when = ReferenceDate::fromSecondsSince2001(JsonRead::number(o, u"cachedAt"));
    if (!when)
        throw DecodingError(QStringLiteral("cachedAt: beyond any date"));
    r.cachedAt = *when;
    const QStringList eventIds = JsonRead::stringList(o.value(u"eventIds"), u"eventIds");
    r.eventIds = QSet<QString>(eventIds.begin(), eventIds.end());
    r.profile = MeetingBrief::AttendeeProfile::fromJson(o);
    if (r.profile.linkedInURL && !SafeLinks::isLinkedIn(*r.profile.linkedInURL))
        r.profile.linkedInURL.reset();
    return r;
}

ResearchCache::ResearchCache(QString cacheDir, Clock &clock)
    : m_cacheDir(std::move(cacheDir))
    , m_folder(m_cacheDir)
    , m_clock(clock) {}

QString ResearchCache::defaultDirectory() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/Zelvane/ResearchCache");
}

QString ResearchCache::filePath(const QString &attendeeId) const {
    return m_cacheDir + u'/' + fileName(attendeeId);
}

std::optional<CachedResearch> ResearchCache::get(const QString &attendeeId) const {
    if (!usableId(attendeeId))
        return std::nullopt;
    // Read on the GUI thread: a FIFO or device put in the folder must not block it.
    const auto bytes = PrivateFiles::readRegularFile(filePath(attendeeId), maxFileBytes);
    if (!bytes)
        return std::nullopt;
    std::optional<CachedResearch> research;
    try {
        research = CachedResearch::decode(*bytes);
    } catch (const DecodingError &error) {
        // The file stays until research on the person is stored again.
        qCWarning(lcPrep) << "a research cache file is unreadable and was skipped:"
                          << error.detail();
        return std::nullopt;
    }
    const double age = ReferenceDate::secondsSince2001(m_clock.now()) -
                       ReferenceDate::secondsSince2001(research->cachedAt);
    if (age > std::chrono::duration<double>(maxAge).count()) {
        m_folder.remove(fileName(attendeeId));
        return std::nullopt;
    }
    return research;
}

void ResearchCache::store(const QString &attendeeId, const CachedResearch &research) const {
    if (!usableId(attendeeId))
        return;
    // A file over the read limit would never be read back, and the person researched again.
    const auto bytes = encodeWithin(research, maxFileBytes);
    if (!bytes) {
        qCWarning(lcPrep) << "research on an attendee is too large to keep, even shortened";
        return;
    }
    m_folder.write(fileName(attendeeId), *bytes);
}
