#pragma once

#include "core/CalendarEvent.h"

#include <QObject>
#include <QPointer>
#include <optional>

class AddFeedModel;
class CalendarService;
class SignInModel;

// The first-run flow behind the onboarding window: which step shows, and connecting or
// disconnecting a calendar provider (or adding a calendar feed) through the calendar service.
class OnboardingFlow : public QObject {
    Q_OBJECT

public:
    enum Step { welcome = 0, connectCalendar = 1 };
    static constexpr int stepCount = 2;

    explicit OnboardingFlow(CalendarService &calendarService, QObject *parent = nullptr);

    int step() const { return m_step; }
    bool isLastStep() const { return m_step == stepCount - 1; }
    // A sign-in or a feed's first read is running.
    bool isConnecting() const;
    const std::optional<QString> &connectionError() const;
    bool isProviderConnected(CalendarProvider provider) const;
    bool isCalendarConnected() const;
    // Why the provider cannot be connected on this desktop; absent when it can.
    std::optional<QString> unavailableReason(CalendarProvider provider) const;

    void back();
    // "Continue" on every step but the last, where it is "Get Started" and emits completed().
    void forward();

    // Runs the browser sign-in; a failure, also one after the browser's return, leaves its
    // description in connectionError(). The desktop's calendars connect at once.
    void connectProvider(CalendarProvider provider);
    void disconnectProvider(CalendarProvider provider);
    AddFeedModel &feedForm() const { return *m_feedForm; }

Q_SIGNALS:
    void changed();
    void completed();

private:
    QPointer<CalendarService> m_calendarService;
    AddFeedModel *m_feedForm;
    SignInModel *m_signIn;
    int m_step = welcome;
};
