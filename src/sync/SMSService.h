#pragma once

#include "core/CalendarEvent.h"
#include "core/MeetingBrief.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <optional>

class AppSettings;
class BackendAPIClient;
class Clock;
class SecretStore;

// Texts the user's phone when a reminder is shown. The switch and the number are kept in the
// settings, so text reminders set up once keep coming after a restart.
class SMSService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool smsEnabled READ smsEnabled WRITE setSmsEnabled NOTIFY smsEnabledChanged)
    Q_PROPERTY(QString phoneNumber READ phoneNumber WRITE setPhoneNumber NOTIFY phoneNumberChanged)

public:
    static constexpr qsizetype maxCharacters = 1600;

    SMSService(BackendAPIClient &backend, SecretStore &secrets, AppSettings &settings, Clock &clock,
               QObject *parent = nullptr);

    bool smsEnabled() const { return m_smsEnabled; }
    void setSmsEnabled(bool enabled);
    const QString &phoneNumber() const { return m_phoneNumber; }
    void setPhoneNumber(const QString &number);

    // Does nothing when switched off, without a number or without a backend credential.
    QCoro::Task<> sendMeetingReminder(CalendarEvent event, std::optional<MeetingBrief> brief);

    // The message text as of `now`, cut to 1,600 characters.
    static QString messageText(const CalendarEvent &event, const std::optional<MeetingBrief> &brief,
                               const QDateTime &now);
    // User-perceived characters (grapheme clusters) in `text`.
    static qsizetype characterCount(const QString &text);

Q_SIGNALS:
    void smsEnabledChanged();
    void phoneNumberChanged();

private:
    BackendAPIClient &m_backend;
    SecretStore &m_secrets;
    AppSettings &m_settings;
    Clock &m_clock;
    bool m_smsEnabled = false;
    QString m_phoneNumber;
};
