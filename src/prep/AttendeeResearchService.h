#pragma once

#include "core/CalendarEvent.h"
#include "core/MeetingBrief.h"
#include "sync/CalendarService.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <optional>

// Prepares the briefing for one upcoming meeting.
class AttendeeResearchService : public QObject {
    Q_OBJECT

public:
    explicit AttendeeResearchService(QObject *parent = nullptr);
    ~AttendeeResearchService() override;

    static AttendeeResearchService &shared();

    void setCalendarService(CalendarService *service) { m_calendarService = service; }
    CalendarService *calendarService() const { return m_calendarService; }

    // The brief, or nothing; never throws.
    virtual QCoro::Task<std::optional<MeetingBrief>> researchMeeting(CalendarEvent event);

private:
    QPointer<CalendarService> m_calendarService;
};
