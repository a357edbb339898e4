// Calendar feeds are whatever a stranger's server or a downloaded file holds.
#include "sync/FeedParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const QDateTime from(QDate(2027, 3, 1), QTime(0, 0), Qt::UTC);
    static const FeedOwner owner{QStringLiteral("A"), QStringLiteral("A"), QStringLiteral("F")};
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    // The feed's own name becomes an account's label: one bounded line.
    if (const auto name = FeedParser::calendarName(bytes))
        Q_ASSERT(!name->isEmpty() && name->size() <= FeedParser::maximumNameLength &&
                 !name->contains(u'\n') && name->trimmed() == *name);
    try {
        for (const CalendarEvent &event : FeedParser::parse(bytes, owner, from, from.addDays(90))) {
            // Every instance lies in the window, is timed and joins only over the web.
            Q_ASSERT(event.startDate.isValid() && event.startDate < from.addDays(90));
            Q_ASSERT(!event.isAllDay);
            if (event.meetingLink)
                Q_ASSERT(event.meetingLink->scheme() == u"https" ||
                         event.meetingLink->scheme() == u"http");
            (void)event.meetingType();
        }
    } catch (const FeedError &) {
    }
    return 0;
}
