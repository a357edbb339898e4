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
        // A link found in text must classify without trouble and stay a valid URL.
        Q_ASSERT(event.meetingLink->isValid());
        (void)MeetingLinkParser::platform(*event.meetingLink);
    }
    (void)event.meetingType();
    return 0;
}
