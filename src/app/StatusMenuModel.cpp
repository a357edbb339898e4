#include "StatusMenuModel.h"

#include "core/ClockTime.h"

#include <QCoreApplication>

namespace StatusMenuModel {

QString timeText(const CalendarEvent &event, int index, const QDateTime &now,
                 const QLocale &locale) {
    const int minutes =
        int(std::chrono::duration_cast<std::chrono::minutes>(event.timeUntilStart(now)).count());
    // A meeting under way reads NOW wherever it stands.
    if (minutes <= 0)
        return QCoreApplication::translate("StatusMenu", "NOW");
    if (index == 0 && minutes <= countdownMinutes)
        return QCoreApplication::translate("StatusMenu", "in %n min", nullptr, minutes);
    return ClockTime::format(event.startDate.toLocalTime().time(), locale);
}

namespace {
StatusMenuEntry separator() {
    return {};
}

StatusMenuEntry item(StatusMenuEntry::Kind kind, QString title, StatusMenuEntry::Action action,
                     StatusMenuEntry::Style style = StatusMenuEntry::Style::plain) {
    StatusMenuEntry entry;
    entry.kind = kind;
    entry.title = std::move(title);
    entry.action = action;
    entry.style = style;
    return entry;
}

StatusMenuEntry meetingEntry(const CalendarEvent &event, int index, const StatusMenuState &state) {
    using Action = StatusMenuEntry::Action;
    const bool ready = state.briefs.contains(event.id);
    const bool researching = !ready && state.researching.contains(event.id);
    const bool joinable = event.meetingLink.has_value();
    const QString prefix = ready         ? QStringLiteral("✨ ")
                           : researching ? QStringLiteral("⏳ ")
                                         : QString();
    // A meeting with a link joins from here; its brief, once ready, sits beside Join.
    const Action action = ready && joinable ? Action::none
                          : joinable        ? Action::join
                          : ready           ? Action::viewBrief
                          : researching     ? Action::none
                                            : Action::prepMeeting;
    StatusMenuEntry entry =
        item(StatusMenuEntry::Kind::meeting,
             prefix + timeText(event, index, state.now, state.locale) + QStringLiteral("  ") +
                 event.title,
             action,
             index == 0 ? StatusMenuEntry::Style::firstMeeting : StatusMenuEntry::Style::meeting);
    entry.event = event;
    if (ready && joinable) {
        for (const auto &[title, act] :
             {std::pair{QCoreApplication::translate("StatusMenu", "Join"), Action::join},
              std::pair{QCoreApplication::translate("StatusMenu", "View Brief"),
                        Action::viewBrief}}) {
            StatusMenuEntry sub = item(StatusMenuEntry::Kind::meetingAction, title, act);
            sub.event = event;
            entry.submenu << sub;
        }
    }
    return entry;
}
} // namespace

QList<StatusMenuEntry> entries(const StatusMenuState &state) {
    using Kind = StatusMenuEntry::Kind;
    using Action = StatusMenuEntry::Action;
    QList<StatusMenuEntry> result;

    if (state.updateAvailable) {
        result << item(Kind::updateNow,
                       QCoreApplication::translate("StatusMenu",
                                                   "⬆  Update Available — Install Now"),
                       Action::installUpdate, StatusMenuEntry::Style::update)
               << separator();
    }

    int index = 0;
    for (const CalendarEvent &event : state.events) {
        if (index == maxMeetings)
            break;
        // Listed until it ends, so a dismissed meeting can still be joined from here.
        if (event.endDate <= state.now)
            continue;
        result << meetingEntry(event, index, state);
        ++index;
    }
    if (index == 0 && !state.hasCalendar) {
        // Without this a new user who skipped the calendar finds an empty menu and no way on.
        result << item(Kind::noCalendar,
                       QCoreApplication::translate("StatusMenu", "No calendar connected"),
                       Action::none, StatusMenuEntry::Style::placeholder)
               << item(Kind::connectCalendar,
                       QCoreApplication::translate("StatusMenu", "Connect a Calendar…"),
                       Action::connectCalendar);
    } else if (index == 0) {
        result << item(Kind::noMeetings,
                       QCoreApplication::translate("StatusMenu", "No upcoming meetings"),
                       Action::none, StatusMenuEntry::Style::placeholder);
    }

    result << separator()
           << item(Kind::openApp, QCoreApplication::translate("StatusMenu", "Open Zelvane"),
                   Action::openApp);
    if (!state.updateAvailable) {
        result << separator()
               << item(Kind::checkForUpdates,
                       QCoreApplication::translate("StatusMenu", "Check for Updates…"),
                       Action::checkForUpdates);
    }
    result << separator()
           << item(Kind::quit, QCoreApplication::translate("StatusMenu", "Quit Zelvane"),
                   Action::quit);
    return result;
}

} // namespace StatusMenuModel
