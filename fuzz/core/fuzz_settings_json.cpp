// The stored settings are a file in the user's home that anything may have written.
#include "core/AppSettings.h"
#include "core/CalendarEvent.h"
#include "core/JsonRead.h"
#include "core/MeetingBrief.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    const auto reminders = AppSettings::decodeAccountReminders(bytes);
    // Whatever decodes must survive its own round trip.
    if (AppSettings::decodeAccountReminders(AppSettings::encodeAccountReminders(reminders)) !=
        reminders)
        __builtin_trap();
    for (auto it = reminders.begin(); it != reminders.end(); ++it)
        (void)AppSettings::reminderOffsets(reminders, it.key());

    const auto calendars = AppSettings::decodeDisabledCalendars(bytes);
    if (AppSettings::decodeDisabledCalendars(AppSettings::encodeDisabledCalendars(calendars)) !=
        calendars)
        __builtin_trap();

    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    const QJsonArray items = doc.isArray() ? doc.array() : QJsonArray{doc.object()};
    for (const QJsonValue &item : items) {
        try {
            (void)ConnectedAccount::fromJson(item).toJson();
        } catch (const DecodingError &) {
        }
        try {
            (void)Attendee::fromJson(item);
        } catch (const DecodingError &) {
        }
        try {
            (void)MeetingBrief::fromJson(item);
        } catch (const DecodingError &) {
        }
    }
    return 0;
}
