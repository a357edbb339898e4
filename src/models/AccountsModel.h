#pragma once

#include "core/CalendarEvent.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QUrl>
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
    // A calendar sign-in is starting.
    bool isConnecting() const;
    const std::optional<QString> &connectionError() const;
    // Slack's sign-in waits for the browser (up to its time limit) and fails on its own.
    bool isSlackWaiting() const { return m_slackWaiting; }
    const std::optional<QString> &slackError() const { return m_slackError; }
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
    // Where a feed account reads from, as shown on its row; absent while unknown.
    std::optional<QString> feedAddress(const QString &accountId) const;
    // Host and path of a web address, or a file's path with the home folder as "~": what tells
    // two feeds apart, without the user name, password or query that may hold the feed's key.
    static QString shownAddress(const QUrl &address);
    AddFeedModel &feedForm() const { return *m_feedForm; }

    // A sign-in, or for the desktop's calendars the connection itself (they need none).
    void connectProvider(CalendarProvider provider);
    void connectSlack();
    // Stops waiting for Slack's browser sign-in; nothing is connected and no error shows.
    void cancelSlack();
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
    // Calendar sign-ins; Slack's runs beside them with its own state.
    SignInModel *m_signIn;
    bool m_slackConnected = false;
    bool m_slackWaiting = false;
    // Counts Slack sign-ins, so a cancelled one's end is told from the current one's.
    int m_slackAttempt = 0;
    std::optional<QString> m_slackError;
};
