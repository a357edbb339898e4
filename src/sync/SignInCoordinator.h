#pragma once

#include "core/CalendarEvent.h"
#include "platform/Error.h"

#include <QCoroTask>
#include <QObject>
#include <QUrl>
#include <optional>

class AccountRegistry;
class CalendarProxyClient;
class CalendarSignInListener;
class RefreshCoordinator;

// The backend's sign-in service could not be reached (no detail), or answered without a page
// to open (`detail` says how).
class SignInServiceError : public Error {
public:
    explicit SignInServiceError(std::optional<QString> detail = std::nullopt)
        : m_detail(std::move(detail)) {}
    QString description() const override;

private:
    std::optional<QString> m_detail;
};

// Connects a calendar account through the backend's sign-in: listens for the browser's
// redirect, opens the provider's page, turns the code into an account and refreshes with it.
// Revokes a removed account's grant.
class SignInCoordinator : public QObject {
    Q_OBJECT

public:
    SignInCoordinator(AccountRegistry &accounts, CalendarProxyClient &proxy,
                      CalendarSignInListener &listener, RefreshCoordinator &refresh,
                      QObject *parent = nullptr);

    // Starts the sign-in: listens for the redirect, opens the provider's page in the browser
    // and returns its address. The account is added when the redirect arrives. Throws
    // SignInServiceError when the sign-in page cannot be had and BrowserError when no browser
    // can be opened; either way the listener stops.
    QCoro::Task<QUrl> addAccount(CalendarProvider provider);
    QCoro::Task<> completeConnection(QString code, CalendarProvider provider);

Q_SIGNALS:
    // The browser came back to the sign-in listener: with an added account, or without one.
    void signInFinished(bool connected);
    // Emitted before signInFinished(false) when the browser brought a code but turning it into
    // an account failed; `error` is the failure's text for the user.
    void signInFailed(const QString &error);

private:
    void onCodeReceived(const QString &code, CalendarProvider provider);
    void revokeGrant(const ConnectedAccount &account);

    AccountRegistry &m_accounts;
    CalendarProxyClient &m_proxy;
    CalendarSignInListener &m_listener;
    RefreshCoordinator &m_refresh;
};
