#pragma once

#include "CardOverlay.h"
#include "core/CalendarEvent.h"
#include "core/Clock.h"
#include "core/MeetingBrief.h"

#include <optional>

class QLabel;
class QAbstractButton;

// The full-screen reminder: a dimmed backdrop with one card that says how soon the meeting
// starts, what it is and how it is held, its brief when one is ready, and join, snooze and
// dismiss. Escape dismisses; Return joins when there is a link.
class ReminderOverlayView : public CardOverlay {
    Q_OBJECT

public:
    ReminderOverlayView(CalendarEvent event, std::optional<MeetingBrief> brief, Clock &clock,
                        QWidget *parent = nullptr);

    static constexpr int maxCardWidth = 500;
    static constexpr std::chrono::seconds keyGuard{1};
    static constexpr int maxCardWidthWithBrief = 680;

    const CalendarEvent &calendarEvent() const { return m_event; }
    // The join control, or null when the event has no meeting link.
    QAbstractButton *joinButton() const { return m_joinButton; }

Q_SIGNALS:
    void dismissRequested();
    void joinRequested();
    void snoozeRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *buildCard();
    QWidget *buildMeetingTypeIndicator();
    QWidget *buildActionRow();

    CalendarEvent m_event;
    std::optional<MeetingBrief> m_brief;
    Clock &m_clock;
    QLabel *m_timeLabel = nullptr;
    QAbstractButton *m_joinButton = nullptr;
    QAbstractButton *m_snoozeButton = nullptr;
    QAbstractButton *m_dismissButton = nullptr;
    // Keys typed for another window in the moment the reminder takes focus are not its own.
    bool m_acceptsKeys = false;
    bool m_keyGuardStarted = false;
};
