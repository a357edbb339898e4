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
    // Why the feed account's last poll failed; absent for other accounts and working feeds.
    std::optional<QString> feedProblem(const QString &accountId) const;
    AddFeedModel &feedForm() const { return *m_feedForm; }

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
