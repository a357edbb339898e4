#pragma once

#include "core/CalendarEvent.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <optional>

class AddFeedModel;
class CalendarService;
class SignInModel;
class SlackService;

// What the Accounts settings tab does: connects calendar accounts and Slack through their
// browser sign-ins, adds calendar feeds, removes accounts, and keeps the last connection error
// to show.
class AccountsModel : public QObject {
    Q_OBJECT

public:
    AccountsModel(CalendarService &calendarService, SlackService &slack, QObject *parent = nullptr);

    QList<ConnectedAccount> accounts() const;
    bool isConnecting() const;
    const std::optional<QString> &connectionError() const;
    // As last read from the secret store; `changed` follows each new reading.
    bool isSlackConnected() const { return m_slackConnected; }
    QCoro::Task<> reloadSlack();
    // The tab is shown (again): the last connection error is dropped and Slack re-read.
    void tabShown();
    // Why the account's calendars are not current (a feed's failed poll, the desktop's
    // calendar store gone); absent while they are.
    std::optional<QString> accountProblem(const QString &accountId) const;
    // Why the provider cannot be connected on this desktop; absent when it can.
    std::optional<QString> unavailableReason(CalendarProvider provider) const;
    AddFeedModel &feedForm() const { return *m_feedForm; }

    // A sign-in, or for the desktop's calendars the connection itself (they need none).
    void connectProvider(CalendarProvider provider);
    void connectSlack();
    void removeAccount(const QString &accountId);
    void disconnectSlack();

Q_SIGNALS:
    void changed();
    // A browser sign-in started here has come back; the window that started it should return
    // to the front.
    void signInReturned();

private:
    QCoro::Task<> runSlackConnection();

    QPointer<CalendarService> m_calendarService;
    QPointer<SlackService> m_slack;
    AddFeedModel *m_feedForm;
    // Calendar and Slack sign-ins share it: one shows as connecting, the last one's error shows.
    SignInModel *m_signIn;
    bool m_slackConnected = false;
};
