#pragma once

#include "core/CalendarEvent.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

// Owns the connected accounts and publishes every account's upcoming events, sorted by start.
class CalendarService : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<CalendarEvent> events READ events NOTIFY eventsChanged)

public:
    explicit CalendarService(QObject *parent = nullptr);
    ~CalendarService() override;

    static CalendarService &shared();

    const QList<CalendarEvent> &events() const { return m_events; }
    // Replaces the published list; the refresh publishes through here.
    void publishEvents(QList<CalendarEvent> events);

    QSet<QString> userDomains() const;
    // Recent e-mail with each address, from every account; never fails.
    QCoro::Task<QHash<QString, QList<EmailThread>>> fetchEmailContext(QStringList emails);

    void startMonitoring();
    void stopMonitoring();

Q_SIGNALS:
    void eventsChanged();

private:
    QList<CalendarEvent> m_events;
};
