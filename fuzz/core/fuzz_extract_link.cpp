// Event descriptions and locations come from other people's calendars.
#include "core/CalendarEvent.h"
#include "core/MeetingLinkParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    CalendarEvent event;
    event.meetingLink = MeetingLinkParser::extractLink(text);
    event.location = text;
    event.conferencingProvider = text;
    if (event.meetingLink) {
        // A link found in text must classify without trouble and be a join target.
        Q_ASSERT(event.meetingLink->isValid());
        Q_ASSERT(MeetingLinkParser::joinTarget(event.meetingLink->toString(QUrl::FullyEncoded)));
        (void)MeetingLinkParser::platform(*event.meetingLink);
        (void)MeetingLinkParser::serviceName(*event.meetingLink);
    }
    if (const auto target = MeetingLinkParser::joinTarget(text)) {
        const QString scheme = target->scheme();
        Q_ASSERT(scheme == u"https" || scheme == u"http");
        Q_ASSERT(!target->host().isEmpty());
    }
    (void)event.meetingType();
    return 0;
}
