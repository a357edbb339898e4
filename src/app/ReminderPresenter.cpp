#include "ReminderPresenter.h"

#include "core/AppSettings.h"
#include "core/Clock.h"
#include "platform/DesktopNotification.h"
#include "ui/OverlayWindowController.h"

#include <QDesktopServices>
#include <QLocale>
#include <QPointer>

namespace {
const QString joinKey = QStringLiteral("join");
const QString dismissKey = QStringLiteral("dismiss");
} // namespace

ReminderPresenter::ReminderPresenter(AppSettings &settings, OverlayWindowController &overlay,
                                     DesktopNotification &notifications, Clock &clock,
                                     QuietCheck desktopQuiet, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_overlay(overlay)
    , m_notifications(notifications)
    , m_clock(clock)
    , m_desktopQuiet(std::move(desktopQuiet)) {
    connect(&m_overlay, &OverlayWindowController::joinRequested, this, &ReminderPresenter::join);
    connect(&m_overlay, &OverlayWindowController::dismissed, this, &ReminderPresenter::dismissed);
    connect(&m_notifications, &DesktopNotification::actionInvoked, this,
            &ReminderPresenter::onAction);
    connect(&m_notifications, &DesktopNotification::closed, this,
            [this](uint id) { m_notified.remove(id); });
}

QCoro::Task<> ReminderPresenter::present(CalendarEvent event, std::optional<MeetingBrief> brief) {
    QPointer<ReminderPresenter> self(this);
    if (event.accountId &&
        m_settings.alertStyle(*event.accountId) == AlertStyle::notificationOnly) {
        const bool notified = co_await notify(event);
        if (notified || !self)
            co_return;
        // Without a notification server the reminder still has to reach the user.
    } else if (m_settings.respectDND()) {
        if (m_desktopQuiet()) {
            const bool notified = co_await notify(event);
            if (notified || !self)
                co_return;
            // A reminder nobody sees is worse than one that interrupts.
        }
    }
    m_overlay.showOverlay(event, brief);
}

QCoro::Task<bool> ReminderPresenter::notify(CalendarEvent event) {
    QPointer<ReminderPresenter> self(this);
    QString body = event.reminderTimeText(m_clock.now());
    if (!event.calendarTitle.isEmpty())
        body += u'\n' + event.calendarTitle.toHtmlEscaped();
    QStringList actions;
    if (event.meetingLink)
        actions << joinKey << tr("Join");
    actions << dismissKey << tr("Dismiss");
    const std::optional<uint> id = co_await m_notifications.show(
        event.title, body, actions, DesktopNotification::Urgency::critical);
    if (!id || !self)
        co_return false;
    m_notified.insert(*id, event);
    co_return true;
}

void ReminderPresenter::onAction(uint id, const QString &actionKey) {
    const auto found = m_notified.constFind(id);
    if (found == m_notified.constEnd())
        return;
    const CalendarEvent event = *found;
    if (actionKey == joinKey) {
        m_notified.erase(found);
        join(event);
    } else if (actionKey == dismissKey) {
        m_notified.erase(found);
        Q_EMIT dismissed(event);
    }
}

void ReminderPresenter::join(const CalendarEvent &event) {
    if (event.meetingLink)
        QDesktopServices::openUrl(*event.meetingLink);
}
