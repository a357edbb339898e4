#include "AttendeeResearchService.h"

#include "sync/CalendarService.h"

AttendeeResearchService::AttendeeResearchService(QObject *parent)
    : QObject(parent) {}

AttendeeResearchService::~AttendeeResearchService() = default;

AttendeeResearchService &AttendeeResearchService::shared() {
    static AttendeeResearchService *instance = new AttendeeResearchService;
    return *instance;
}

QCoro::Task<std::optional<MeetingBrief>> AttendeeResearchService::researchMeeting(CalendarEvent) {
    co_return std::nullopt;
}
