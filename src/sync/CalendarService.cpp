#include "CalendarService.h"

CalendarService::CalendarService(QObject *parent)
    : QObject(parent) {}

CalendarService::~CalendarService() {
    stopMonitoring();
}

CalendarService &CalendarService::shared() {
    static CalendarService *instance = new CalendarService;
    return *instance;
}

void CalendarService::publishEvents(QList<CalendarEvent> events) {
    m_events = std::move(events);
    Q_EMIT eventsChanged();
}

QSet<QString> CalendarService::userDomains() const {
    return {};
}

QCoro::Task<QHash<QString, QList<EmailThread>>> CalendarService::fetchEmailContext(QStringList) {
    co_return {};
}

void CalendarService::startMonitoring() {}

void CalendarService::stopMonitoring() {}
