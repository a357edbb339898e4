#pragma once

#include "core/CalendarEvent.h"
#include "core/Clock.h"
#include "core/MeetingBrief.h"

#include <QWidget>

// The content of the brief preview window: the meeting's particulars, its brief, a join
// button when it has a link, and when the brief was prepared. Escape and "Close" ask for it
// to be dismissed.
class BriefPreviewView : public QWidget {
    Q_OBJECT

public:
    BriefPreviewView(const CalendarEvent &event, const MeetingBrief &brief, Clock &clock,
                     QWidget *parent = nullptr);

    // Start with the medium date and short time, " - ", end with the short time only.
    static QString timeString(const CalendarEvent &event, const QLocale &locale = QLocale());
    // "Prepared 5 minutes ago", "Prepared yesterday", ...
    static QString preparedText(const QDateTime &generatedAt, const QDateTime &now);

Q_SIGNALS:
    void dismissRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
