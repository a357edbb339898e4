#include "OnboardingFlow.h"

#include "AddFeedModel.h"
#include "ModelsLog.h"
#include "platform/Error.h"
#include "sync/CalendarService.h"

OnboardingFlow::OnboardingFlow(CalendarService &calendarService, QObject *parent)
    : QObject(parent)
    , m_calendarService(&calendarService)
    , m_feedForm(new AddFeedModel(calendarService, this)) {
    connect(&calendarService, &CalendarService::accountsChanged, this, &OnboardingFlow::changed);
    connect(m_feedForm, &AddFeedModel::changed, this, &OnboardingFlow::changed);
    // The token exchange after the browser's return fails after runConnection has ended.
    connect(&calendarService, &CalendarService::signInFailed, this, [this](const QString &error) {
        if (!m_awaitingRedirect)
            return;
        m_connectionError = error;
        Q_EMIT changed();
    });
    connect(&calendarService, &CalendarService::signInFinished, this,
            [this] { m_awaitingRedirect = false; });
}

bool OnboardingFlow::isConnecting() const {
    return m_isConnecting || m_feedForm->isAdding();
}

bool OnboardingFlow::isProviderConnected(CalendarProvider provider) const {
    return m_calendarService && m_calendarService->connectedProviders().contains(provider);
}

bool OnboardingFlow::isCalendarConnected() const {
    return m_calendarService && m_calendarService->isConnected();
}

void OnboardingFlow::back() {
    if (m_step == welcome)
        return;
    --m_step;
    Q_EMIT changed();
}

void OnboardingFlow::forward() {
    if (isLastStep()) {
        Q_EMIT completed();
        return;
    }
    ++m_step;
    Q_EMIT changed();
}

void OnboardingFlow::connectProvider(CalendarProvider provider) {
    // Feeds have no sign-in; they come through feedForm().
    if (isConnecting() || !m_calendarService || provider == CalendarProvider::feed)
        return;
    m_isConnecting = true;
    m_connectionError.reset();
    Q_EMIT changed();
    runConnection(provider);
}

void OnboardingFlow::disconnectProvider(CalendarProvider provider) {
    if (m_calendarService)
        m_calendarService->disconnectProvider(provider);
}

QCoro::Task<> OnboardingFlow::runConnection(CalendarProvider provider) {
    QPointer<OnboardingFlow> self(this);
    std::optional<QString> error;
    // A click handler is a boundary: whatever the sign-in throws ends up as the shown error.
    try {
        co_await m_calendarService->addAccount(provider);
    } catch (const Error &e) {
        error = e.description();
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
    } catch (...) {
        error = QStringLiteral("The sign-in could not be started.");
    }
    if (error)
        qCWarning(lcModels) << "calendar sign-in failed:" << *error;
    if (!self)
        co_return;
    m_connectionError = error;
    m_isConnecting = false;
    m_awaitingRedirect = !error;
    Q_EMIT changed();
}
