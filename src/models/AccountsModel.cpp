#include "AccountsModel.h"

#include "AddFeedModel.h"
#include "ModelsLog.h"
#include "platform/Error.h"
#include "sync/CalendarService.h"
#include "sync/SlackService.h"

namespace {
// A click is a boundary: whatever a sign-in throws becomes the text shown in red.
QString describe(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Error &e) {
        return e.description();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
    }
    return QStringLiteral("The sign-in could not be started.");
}
} // namespace

AccountsModel::AccountsModel(CalendarService &calendarService, SlackService &slack, QObject *parent)
    : QObject(parent)
    , m_calendarService(&calendarService)
    , m_slack(&slack)
    , m_feedForm(new AddFeedModel(calendarService, this)) {
    connect(&calendarService, &CalendarService::accountsChanged, this, &AccountsModel::changed);
    connect(&calendarService, &CalendarService::feedErrorsChanged, this, &AccountsModel::changed);
    // A sign-in started here that fails after the browser came back shows its error here.
    connect(&calendarService, &CalendarService::signInFailed, this, [this](const QString &error) {
        if (!m_awaitingCalendarRedirect)
            return;
        m_connectionError = error;
        Q_EMIT changed();
    });
    connect(&calendarService, &CalendarService::signInFinished, this, [this] {
        if (!m_awaitingCalendarRedirect)
            return;
        m_awaitingCalendarRedirect = false;
        Q_EMIT signInReturned();
    });
    reloadSlack();
}

QList<ConnectedAccount> AccountsModel::accounts() const {
    return m_calendarService ? m_calendarService->accounts() : QList<ConnectedAccount>();
}

std::optional<QString> AccountsModel::feedProblem(const QString &accountId) const {
    if (!m_calendarService)
        return std::nullopt;
    const auto &errors = m_calendarService->feedErrors();
    const auto found = errors.constFind(accountId);
    return found == errors.cend() ? std::nullopt : std::optional(*found);
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

void AccountsModel::begin() {
    m_isConnecting = true;
    m_connectionError.reset();
    Q_EMIT changed();
}

void AccountsModel::end(std::optional<QString> error) {
    m_connectionError = std::move(error);
    m_isConnecting = false;
    Q_EMIT changed();
}

void AccountsModel::connectProvider(CalendarProvider provider) {
    if (m_isConnecting || !m_calendarService)
        return;
    begin();
    runCalendarConnection(provider);
}

void AccountsModel::connectSlack() {
    if (!m_slack)
        return;
    begin();
    runSlackConnection();
}

QCoro::Task<> AccountsModel::runCalendarConnection(CalendarProvider provider) {
    QPointer<AccountsModel> self(this);
    std::optional<QString> error;
    try {
        co_await m_calendarService->addAccount(provider);
    } catch (...) {
        error = describe(std::current_exception());
        qCWarning(lcModels) << "Starting the calendar sign-in failed:" << *error;
    }
    if (!self)
        co_return;
    // The account arrives with the browser's redirect, after this task has ended.
    m_awaitingCalendarRedirect = !error;
    end(std::move(error));
}

QCoro::Task<> AccountsModel::runSlackConnection() {
    QPointer<AccountsModel> self(this);
    std::optional<QString> error;
    try {
        co_await m_slack->authenticate();
    } catch (...) {
        error = describe(std::current_exception());
        qCWarning(lcModels) << "The Slack sign-in failed:" << *error;
    }
    if (!self)
        co_return;
    end(std::move(error));
    Q_EMIT signInReturned();
    if (self)
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
