#pragma once

#include "core/CalendarEvent.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>

class CalendarService;

// A browser sign-in started from a window, as onboarding and the Accounts tab show it: whether
// one is starting, why the last one failed (also once the browser is back, when turning the
// calendar's code into an account fails), and when the browser has come back.
class SignInModel : public QObject {
    Q_OBJECT

public:
    explicit SignInModel(CalendarService &calendarService, QObject *parent = nullptr);

    // Its page is not open yet.
    bool isConnecting() const { return m_isConnecting; }
    const std::optional<QString> &error() const { return m_error; }

    // Opens the provider's sign-in page; the account arrives with the browser's return. Ignored
    // while a sign-in is starting, and for feeds and the desktop's calendars, which have none.
    void connectCalendar(CalendarProvider provider);
    // Runs another service's sign-in, which ends with the browser's return, as this one.
    QCoro::Task<> run(std::function<QCoro::Task<>()> signIn);
    // Forgets the last failure, as a window shown again starts without it.
    void clearError();

Q_SIGNALS:
    void changed();
    // The browser came back from a sign-in started here.
    void returned();

private:
    // A calendar provider's browser comes back with its redirect, after the attempt has ended;
    // another service's when the attempt ends.
    enum class Return { withRedirect, whenDone };
    QCoro::Task<> attempt(std::function<QCoro::Task<>()> signIn, Return browserReturn);

    QPointer<CalendarService> m_calendarService;
    bool m_isConnecting = false;
    // The browser was sent to a calendar provider from here and has not come back yet.
    bool m_awaitingRedirect = false;
    std::optional<QString> m_error;
};
