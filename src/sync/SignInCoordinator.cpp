#include "SignInCoordinator.h"

#include "AccountRegistry.h"
#include "CalendarProxyClient.h"
#include "HttpExchange.h"
#include "RefreshCoordinator.h"
#include "SignInListener.h"
#include "SyncLog.h"
#include "platform/BrowserLauncher.h"

#include <QCoreApplication>
#include <QPointer>

QString SignInServiceError::description() const {
    if (m_detail)
        return QCoreApplication::translate("SignInServiceError",
                                           "Zelvane's sign-in service is not working right now "
                                           "(%1). Try again later, or use a calendar feed.")
            .arg(*m_detail);
    return QCoreApplication::translate("SignInServiceError",
                                       "Zelvane could not reach its sign-in service. Check your "
                                       "connection, or use a calendar feed.");
}

SignInCoordinator::SignInCoordinator(AccountRegistry &accounts, CalendarProxyClient &proxy,
                                     CalendarSignInListener &listener, RefreshCoordinator &refresh,
                                     QObject *parent)
    : QObject(parent)
    , m_accounts(accounts)
    , m_proxy(proxy)
    , m_listener(listener)
    , m_refresh(refresh) {
    connect(&m_listener, &CalendarSignInListener::codeReceived, this,
            &SignInCoordinator::onCodeReceived);
    connect(&m_listener, &CalendarSignInListener::failed, this,
            [this] { Q_EMIT signInFinished(false); });
    connect(&m_accounts, &AccountRegistry::accountRemoved, this, &SignInCoordinator::revokeGrant);
}

QCoro::Task<QUrl> SignInCoordinator::addAccount(CalendarProvider provider) {
    QPointer<SignInCoordinator> self(this);
    const int port = co_await m_listener.startListening(provider);
    if (!self)
        throw SignInError();
    const QString redirect = QStringLiteral("http://127.0.0.1:") + QString::number(port) +
                             QStringLiteral("/nylas/callback");
    QUrl url;
    try {
        url =
            co_await m_proxy.getAuthURL(CalendarProviders::toString(provider).toLower(), redirect);
    } catch (const Error &error) {
        // The user learns what to do; the log keeps what went wrong.
        qCWarning(lcSync) << "Asking for the sign-in page failed:" << error.description();
        if (self)
            m_listener.stopListening();
        if (dynamic_cast<const TransportError *>(&error))
            throw SignInServiceError();
        throw SignInServiceError(error.description());
    }
    if (!self)
        throw SignInServiceError();
    try {
        BrowserLauncher::openPage(url);
    } catch (const BrowserError &) {
        m_listener.stopListening();
        throw;
    }
    co_return url;
}

QCoro::Task<> SignInCoordinator::completeConnection(QString code, CalendarProvider provider) {
    QPointer<SignInCoordinator> self(this);
    const ProxyGrant grant = co_await m_proxy.exchangeToken(code, std::nullopt);
    if (!self)
        co_return;
    m_accounts.add(ConnectedAccount::create(provider, grant.email, grant.grantId));
    co_await m_refresh.fetchEvents();
}

void SignInCoordinator::onCodeReceived(const QString &code, CalendarProvider provider) {
    // The browser has already been told the account is connected; a failure here just means
    // the account does not appear.
    [](QPointer<SignInCoordinator> self, QString code, CalendarProvider provider) -> QCoro::Task<> {
        bool connected = false;
        std::optional<QString> failure;
        try {
            if (self) {
                co_await self->completeConnection(code, provider);
                connected = true;
            }
        } catch (const Error &error) {
            failure = error.description();
        } catch (const std::exception &error) {
            failure = QString::fromUtf8(error.what());
        }
        if (failure)
            qCWarning(lcSync) << "Connecting the calendar account failed:" << *failure;
        if (!self)
            co_return;
        if (failure)
            Q_EMIT self->signInFailed(*failure);
        Q_EMIT self->signInFinished(connected);
    }(this, code, provider);
}

void SignInCoordinator::revokeGrant(const ConnectedAccount &account) {
    if (account.grantId.isEmpty())
        return;
    [](QPointer<CalendarProxyClient> proxy, QString grantId) -> QCoro::Task<> {
        try {
            if (proxy)
                co_await proxy->revokeGrant(grantId);
        } catch (const std::exception &error) {
            qCWarning(lcSync) << "Revoking a removed account's grant failed:" << error.what();
        }
    }(&m_proxy, account.grantId);
}
