#include "OnboardingFlow.h"

#include "AddFeedModel.h"
#include "SignInModel.h"
#include "sync/CalendarService.h"

OnboardingFlow::OnboardingFlow(CalendarService &calendarService, QObject *parent)
    : QObject(parent)
    , m_calendarService(&calendarService)
    , m_feedForm(new AddFeedModel(calendarService, this))
    , m_signIn(new SignInModel(calendarService, this)) {
    connect(&calendarService, &CalendarService::accountsChanged, this, &OnboardingFlow::changed);
    connect(&calendarService, &CalendarService::desktopCalendarsChanged, this,
            &OnboardingFlow::changed);
    connect(m_feedForm, &AddFeedModel::changed, this, &OnboardingFlow::changed);
    connect(m_signIn, &SignInModel::changed, this, &OnboardingFlow::changed);
}

bool OnboardingFlow::isConnecting() const {
    return m_signIn->isConnecting() || m_feedForm->isAdding();
}

const std::optional<QString> &OnboardingFlow::connectionError() const {
    return m_signIn->error();
}

bool OnboardingFlow::isProviderConnected(CalendarProvider provider) const {
    return m_calendarService && m_calendarService->connectedProviders().contains(provider);
}

bool OnboardingFlow::isCalendarConnected() const {
    return m_calendarService && m_calendarService->isConnected();
}

std::optional<QString> OnboardingFlow::unavailableReason(CalendarProvider provider) const {
    // While it is not known yet, the choice stays open.
    if (provider != CalendarProvider::desktop || !m_calendarService ||
        m_calendarService->desktopAvailability() != DesktopCalendars::Availability::absent)
        return std::nullopt;
    return DesktopCalendars::problemText();
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
    // Feeds come through feedForm(); no sign-in starts while one is being read.
    if (m_feedForm->isAdding())
        return;
    if (provider == CalendarProvider::desktop) {
        if (m_calendarService && !unavailableReason(provider))
            m_calendarService->addDesktopCalendars();
        return;
    }
    m_signIn->connectCalendar(provider);
}

void OnboardingFlow::disconnectProvider(CalendarProvider provider) {
    if (m_calendarService)
        m_calendarService->disconnectProvider(provider);
}
