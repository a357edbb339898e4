#include "ResearchCache.h"

#include "PrepLog.h"
#include "core/MeetingBrief.h"
#include "core/SafeLinks.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
        for (std::optional<QString> *text :
             {&research.name, &research.role, &research.company, &research.companyDescription,
              &research.recentNews, &research.notes}) {
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

CachedResearch::CachedResearch(QString attendeeId_, QString email_, std::optional<QString> name_,
                               const BriefingResponse::Profile &profile, const QString &eventId,
                               QDateTime cachedAt_)
    : attendeeId(std::move(attendeeId_))
    , email(std::move(email_))
    , name(std::move(name_))
    , role(profile.role)
    , company(profile.company)
    , companyDescription(profile.companyDescription)
    , recentNews(profile.recentNews)
    , linkedInURL(profile.linkedInURL)
    , notes(profile.notes)
    , cachedAt(std::move(cachedAt_))
    , eventIds{eventId} {}

QByteArray CachedResearch::encode() const {
    // Sorted so the same record always gives the same bytes.
    QStringList sortedEventIds = eventIds.values();
    sortedEventIds.sort();
    QJsonObject o{{QStringLiteral("attendeeId"), attendeeId},
                  {QStringLiteral("email"), email},
                  {QStringLiteral("cachedAt"), ReferenceDate::secondsSince2001(cachedAt)},
                  {QStringLiteral("eventIds"), QJsonArray::fromStringList(sortedEventIds)}};
    JsonFields::putOptional(o, QStringLiteral("name"), name);
    JsonFields::putOptional(o, QStringLiteral("role"), role);
    JsonFields::putOptional(o, QStringLiteral("company"), company);
    JsonFields::putOptional(o, QStringLiteral("companyDescription"), companyDescription);
    JsonFields::putOptional(o, QStringLiteral("recentNews"), recentNews);
    JsonFields::putOptional(o, QStringLiteral("linkedInURL"), linkedInURL);
    JsonFields::putOptional(o, QStringLiteral("notes"), notes);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<CachedResearch> CachedResearch::decode(const QByteArray &bytes) {
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject o = document.object();
    const QJsonValue id = o.value(u"attendeeId"), email = o.value(u"email"),
                     cachedAt = o.value(u"cachedAt");
    if (!id.isString() || !email.isString() || !cachedAt.isDouble())
        return std::nullopt;
    const auto when = ReferenceDate::fromSecondsSince2001(cachedAt.toDouble());
    if (!when)
        return std::nullopt;
    bool ok = true;
    const QStringList eventIds = JsonFields::stringList(o.value(u"eventIds"), ok);
    CachedResearch r;
    r.attendeeId = id.toString();
    r.email = email.toString();
    r.name = JsonFields::optionalString(o, u"name", ok);
    r.role = JsonFields::optionalString(o, u"role", ok);
    r.company = JsonFields::optionalString(o, u"company", ok);
    r.companyDescription = JsonFields::optionalString(o, u"companyDescription", ok);
    r.recentNews = JsonFields::optionalString(o, u"recentNews", ok);
    r.linkedInURL = JsonFields::optionalUrl(o, u"linkedInURL", ok);
    if (r.linkedInURL && !SafeLinks::isLinkedIn(*r.linkedInURL))
        r.linkedInURL.reset();
    r.notes = JsonFields::optionalString(o, u"notes", ok);
    r.cachedAt = *when;
    r.eventIds = QSet<QString>(eventIds.begin(), eventIds.end());
    if (!ok)
        return std::nullopt;
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
    auto research = CachedResearch::decode(*bytes);
    if (!research)
        return std::nullopt;
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
