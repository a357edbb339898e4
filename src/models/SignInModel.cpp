#include "SignInModel.h"

#include "ModelsLog.h"
#include "platform/Error.h"
#include "sync/CalendarService.h"

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
    return SignInModel::tr("The sign-in could not be started.");
}
} // namespace

SignInModel::SignInModel(CalendarService &calendarService, QObject *parent)
    : QObject(parent)
    , m_calendarService(&calendarService) {
    // The token exchange after the browser's return fails after the attempt has ended.
    connect(&calendarService, &CalendarService::signInFailed, this, [this](const QString &error) {
        if (!m_awaitingRedirect)
            return;
        m_error = error;
        Q_EMIT changed();
    });
    connect(&calendarService, &CalendarService::signInFinished, this, [this] {
        if (!m_awaitingRedirect)
            return;
        m_awaitingRedirect = false;
        Q_EMIT returned();
    });
}

void SignInModel::connectCalendar(CalendarProvider provider) {
    if (m_isConnecting || !m_calendarService || provider == CalendarProvider::feed ||
        provider == CalendarProvider::desktop)
        return;
    const auto openPage = [service = m_calendarService, provider]() -> QCoro::Task<> {
        co_await service->addAccount(provider);
    };
    attempt(openPage, Return::withRedirect);
}

void SignInModel::clearError() {
    if (!m_error)
        return;
    m_error.reset();
    Q_EMIT changed();
}

QCoro::Task<> SignInModel::run(std::function<QCoro::Task<>()> signIn) {
    return attempt(std::move(signIn), Return::whenDone);
}

QCoro::Task<> SignInModel::attempt(std::function<QCoro::Task<>()> signIn, Return browserReturn) {
    QPointer<SignInModel> self(this);
    m_isConnecting = true;
    m_error.reset();
    Q_EMIT changed();
    std::optional<QString> error;
    try {
        co_await signIn();
    } catch (...) {
        error = describe(std::current_exception());
        qCWarning(lcModels) << "A sign-in failed:" << *error;
    }
    if (!self)
        co_return;
    // A calendar account arrives with the browser's redirect, after this task has ended.
    if (browserReturn == Return::withRedirect)
        m_awaitingRedirect = !error;
    m_error = std::move(error);
    m_isConnecting = false;
    Q_EMIT changed();
    if (browserReturn == Return::whenDone)
        Q_EMIT returned();
}
