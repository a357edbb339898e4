#pragma once

#include "core/MeetingBrief.h"

#include <QWidget>

class QLabel;

// One attendee of a brief: avatar initial, name (a link to the LinkedIn profile when known),
// "role at company" when both are known, and up to two lines of notes.
class AttendeeRow : public QWidget {
    Q_OBJECT

public:
    explicit AttendeeRow(const MeetingBrief::AttendeeProfile &profile, QWidget *parent = nullptr);

    const MeetingBrief::AttendeeProfile &profile() const { return m_profile; }
    // The name shown: the profile's name, else its e-mail address.
    static QString displayName(const MeetingBrief::AttendeeProfile &profile);
    static QString initial(const MeetingBrief::AttendeeProfile &profile);

private:
    MeetingBrief::AttendeeProfile m_profile;
};

// A brief's summary, talking points and attendees on a subtle rounded card; each section only
// when it has items.
class MeetingBriefCard : public QWidget {
    Q_OBJECT

public:
    explicit MeetingBriefCard(const MeetingBrief &brief, QWidget *parent = nullptr);

    static constexpr int cornerRadius = 18;

protected:
    void paintEvent(QPaintEvent *event) override;
};
