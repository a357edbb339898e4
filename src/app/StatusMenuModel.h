#pragma once

#include "core/CalendarEvent.h"
#include "core/MeetingBrief.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QLocale>
#include <QSet>
#include <QString>
#include <optional>

// One row of the tray menu, decided without any widget so the rules can be checked directly.
struct StatusMenuEntry {
    enum class Kind {
        separator,
        updateNow,
        meeting,
        noMeetings,
        noCalendar,
        connectCalendar,
        openApp,
        checkForUpdates,
        quit,
        // An entry of a meeting's submenu.
        meetingAction
    };
    enum class Action {
        none,
        installUpdate,
        viewBrief,
        prepMeeting,
        join,
        connectCalendar,
        openApp,
        checkForUpdates,
        quit
    };
    // How the title is drawn: the first meeting stands out, the placeholder is muted.
    enum class Style { plain, update, firstMeeting, meeting, placeholder };

    Kind kind = Kind::separator;
    QString title;
    Action action = Action::none;
    Style style = Style::plain;
    std::optional<CalendarEvent> event;
    // A meeting with both a link and a brief opens a submenu of the two instead of acting.
    QList<StatusMenuEntry> submenu;

    bool isEnabled() const { return action != Action::none || !submenu.isEmpty(); }
};

struct StatusMenuState {
    QList<CalendarEvent> events; // sorted by start, as the calendar service publishes them
    QHash<QString, MeetingBrief> briefs;
    QSet<QString> researching;
    QDateTime now;
    bool updateAvailable = false;
    // No account at all: the menu says how to connect one instead of "No upcoming meetings".
    bool hasCalendar = true;
    QLocale locale;
};

namespace StatusMenuModel {
inline constexpr int maxMeetings = 5;
// Below this many whole minutes the first meeting shows a countdown instead of its clock time.
inline constexpr int countdownMinutes = 5;

QList<StatusMenuEntry> entries(const StatusMenuState &state);
// "NOW" for a meeting under way, "in 4 min" or the local clock time.
QString timeText(const CalendarEvent &event, int index, const QDateTime &now,
                 const QLocale &locale);
} // namespace StatusMenuModel
