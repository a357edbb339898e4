#include "AccountsModel.h"

#include "AddFeedModel.h"
#include "ModelsLog.h"
#include "SignInModel.h"
#include "platform/Error.h"
#include "sync/CalendarService.h"
#include "sync/SlackService.h"

#include <QDir>

AccountsModel::AccountsModel(CalendarService &calendarService, SlackService &slack, QObject *parent)
    : QObject(parent)
    , m_calendarService(&calendarService)
    , m_slack(&slack)
    , m_feedForm(new AddFeedModel(calendarService, this))
    , m_signIn(new SignInModel(calendarService, this)) {
    connect(&calendarService, &CalendarService::accountsChanged, this, &AccountsModel::changed);
    connect(&calendarService, &CalendarService::feedErrorsChanged, this, &AccountsModel::changed);
    connect(&calendarService, &CalendarService::desktopCalendarsChanged, this,
            &AccountsModel::changed);
    connect(&calendarService, &CalendarService::feedAddressesChanged, this,
            &AccountsModel::changed);
    connect(m_signIn, &SignInModel::changed, this, &AccountsModel::changed);
    connect(m_signIn, &SignInModel::returned, this, &AccountsModel::signInReturned);
    reloadSlack();
}

QList<ConnectedAccount> AccountsModel::accounts() const {
    return m_calendarService ? m_calendarService->accounts() : QList<ConnectedAccount>();
}

bool AccountsModel::isConnecting() const {
    return m_signIn->isConnecting();
}

const std::optional<QString> &AccountsModel::connectionError() const {
    return m_signIn->error();
}

std::optional<QString> AccountsModel::accountProblem(const QString &accountId) const {
    return m_calendarService ? m_calendarService->accountProblem(accountId) : std::nullopt;
}

std::optional<QString> AccountsModel::unavailableReason(CalendarProvider provider) const {
    // While it is not known yet, the choice stays open.
    if (provider != CalendarProvider::desktop || !m_calendarService ||
        m_calendarService->desktopAvailability() != DesktopCalendars::Availability::absent)
        return std::nullopt;
    return DesktopCalendars::problemText();
}

std::optional<QString> AccountsModel::feedAddress(const QString &accountId) const {
    if (!m_calendarService)
        return std::nullopt;
    const std::optional<QUrl> address = m_calendarService->feedAddress(accountId);
    return address ? std::optional(shownAddress(*address)) : std::nullopt;
}

QString AccountsModel::shownAddress(const QUrl &address) {
    if (address.isLocalFile()) {
        const QString path = address.toLocalFile();
        const QString home = QDir::homePath();
        return path.startsWith(home + u'/') ? u'~' + path.mid(home.size()) : path;
    }
    return address
        .adjusted(QUrl::RemoveScheme | QUrl::RemoveUserInfo | QUrl::RemoveQuery |
                  QUrl::RemoveFragment | QUrl::StripTrailingSlash)
        .toString(QUrl::PrettyDecoded)
        .mid(2);
}

QCoro::Task<> AccountsModel::reloadSlack() {
    QPointer<AccountsModel> self(this);
    if (!m_slack)
        co_return;
    const bool connected = co_await m_slack->isConnected();
    if (!self || connected == m_slackConnected)
        co_return;
    m_slackConnected = connected;
    Q_EMIT changed();
}

void AccountsModel::tabShown() {
    m_signIn->clearError();
    reloadSlack();
}

void AccountsModel::connectProvider(CalendarProvider provider) {
    if (provider == CalendarProvider::desktop) {
        if (m_calendarService && !unavailableReason(provider))
            m_calendarService->addDesktopCalendars();
        return;
    }
    m_signIn->connectCalendar(provider);
}

void AccountsModel::connectSlack() {
    if (!m_slack || m_slackWaiting)
        return;
    runSlackConnection();
}

void AccountsModel::cancelSlack() {
    if (!m_slackWaiting)
        return;
    // The cancelled attempt's end is not shown.
    ++m_slackAttempt;
    m_slackWaiting = false;
    if (m_slack)
        m_slack->cancelSignIn();
    Q_EMIT changed();
}

QCoro::Task<> AccountsModel::runSlackConnection() {
    QPointer<AccountsModel> self(this);
    const int attempt = ++m_slackAttempt;
    m_slackWaiting = true;
    m_slackError.reset();
    Q_EMIT changed();
    std::optional<QString> error;
    // A click is a boundary: whatever the sign-in throws becomes the text shown on the row.
    try {
        co_await m_slack->authenticate();
    } catch (const Error &e) {
        error = e.description();
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
    } catch (...) {
        error = tr("The Slack sign-in could not be started.");
    }
    if (!self)
        co_return;
    if (attempt == m_slackAttempt) {
        if (error)
            qCWarning(lcModels) << "The Slack sign-in failed:" << *error;
        m_slackWaiting = false;
        m_slackError = std::move(error);
        Q_EMIT changed();
        Q_EMIT signInReturned();
    }
    co_await reloadSlack();
}

void AccountsModel::removeAccount(const QString &accountId) {
    if (!m_calendarService)
        return;
    // A copy: removing replaces the service's list, which the loop would still point into.
    const QList<ConnectedAccount> accounts = m_calendarService->accounts();
    for (const ConnectedAccount &account : accounts) {
        if (account.id == accountId) {
            m_calendarService->removeAccount(account);
            return;
        }
    }
}

void AccountsModel::disconnectSlack() {
    if (!m_slack)
        return;
    m_slack->disconnect();
    m_slackConnected = false;
    Q_EMIT changed();
}
