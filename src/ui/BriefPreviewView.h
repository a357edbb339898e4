#pragma once

#include "core/CalendarEvent.h"
#include "core/Clock.h"
#include "core/MeetingBrief.h"

#include <QWidget>
#include <functional>

// The content of the brief preview window: the meeting's particulars, its brief, a join
// button when it has a link, and when the brief was prepared. Escape and "Close" call
// `onDismiss`.
class BriefPreviewView : public QWidget {
    Q_OBJECT

public:
    BriefPreviewView(const CalendarEvent &event, const MeetingBrief &brief,
                     std::function<void()> onDismiss, QWidget *parent = nullptr,
                     Clock &clock = Clock::system());

    // Start with the medium date and short time, " - ", end with the short time only.
    static QString timeString(const CalendarEvent &event, const QLocale &locale = QLocale());
    // "Prepared 5 minutes ago", "Prepared yesterday", ...
    static QString preparedText(const QDateTime &generatedAt, const QDateTime &now);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    std::function<void()> m_onDismiss;
};
