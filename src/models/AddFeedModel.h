#pragma once

#include "core/CalendarEvent.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <optional>

class CalendarService;

// What the "add calendar feed" form does: reads the feed once through the calendar service
// and adds it as an account, keeping whether a read is running and why the last one failed.
class AddFeedModel : public QObject {
    Q_OBJECT

public:
    explicit AddFeedModel(CalendarService &calendarService, QObject *parent = nullptr);

    bool isAdding() const { return m_isAdding; }
    const std::optional<QString> &error() const { return m_error; }

    // Ignored while a read is running. An empty name becomes the service's default.
    void add(const QString &address, const QString &displayName);
    // Forgets the last failure, as when the form is put away.
    void clearError();

Q_SIGNALS:
    void changed();
    void added(const ConnectedAccount &account);

private:
    QCoro::Task<> run(QString address, QString displayName);

    QPointer<CalendarService> m_calendarService;
    bool m_isAdding = false;
    std::optional<QString> m_error;
};
