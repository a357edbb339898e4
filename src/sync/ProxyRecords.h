#pragma once

#include "core/CalendarEvent.h"
#include "core/JsonRead.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <optional>

// Records of the backend's calendar and e-mail proxy, decoded strictly: a required member
// missing or any member of the wrong type throws DecodingError; optional members may be
// absent or null.

struct ProxyCalendar {
    QString id;
    QString name;
    std::optional<QString> hexColor;
    std::optional<bool> isPrimary;

    static ProxyCalendar fromJson(const QJsonValue &value);
    bool operator==(const ProxyCalendar &) const = default;
};

struct ProxyEvent {
    struct EventTime {
        std::optional<qint64> startTime;
        std::optional<qint64> endTime;
        std::optional<QDateTime> startDate() const;
        std::optional<QDateTime> endDate() const;
    };
    struct ConferencingDetails {
        std::optional<QString> url;
    };
    struct Conferencing {
        std::optional<QString> provider;
        std::optional<ConferencingDetails> details;
    };
    struct Participant {
        QString email;
        std::optional<QString> name;
        std::optional<QString> status;
    };
    struct Organizer {
        QString email;
        std::optional<QString> name;
    };

    QString id;
    std::optional<QString> calendarId;
    std::optional<QString> title;
    std::optional<QString> description;
    std::optional<QString> status;
    std::optional<EventTime> when;
    std::optional<QString> location;
    std::optional<Conferencing> conferencing;
    std::optional<QList<Participant>> participants;
    std::optional<Organizer> organizer;

    static ProxyEvent fromJson(const QJsonValue &value);
};

struct ProxyMessage {
    struct Participant {
        QString email;
        std::optional<QString> name;
    };

    QString id;
    std::optional<QString> subject;
    std::optional<QList<Participant>> from;
    std::optional<qint64> date;
    std::optional<QString> snippet;
    std::optional<QString> threadId;

    static ProxyMessage fromJson(const QJsonValue &value);
};

struct ProxyGrant {
    QString grantId;
    QString provider;
    QString email;

    static ProxyGrant fromJson(const QByteArray &body);
};

// The proxy's list envelope {"data": [...], "next_cursor": "..."}.
template <typename T> struct ProxyListResponse {
    QList<T> data;
    std::optional<QString> nextCursor;

    static ProxyListResponse decode(const QByteArray &body);
};

extern template struct ProxyListResponse<ProxyCalendar>;
extern template struct ProxyListResponse<ProxyEvent>;
extern template struct ProxyListResponse<ProxyMessage>;

class ProxyError : public Error {
public:
    enum class Kind { invalidAuthURL };

    static ProxyError invalidAuthURL() { return ProxyError(Kind::invalidAuthURL); }
    Kind kind() const { return m_kind; }
    QString description() const override;

private:
    explicit ProxyError(Kind kind)
        : m_kind(kind) {}
    Kind m_kind;
};

// The colour events get when their calendar's own colour is unknown or unusable.
QColor systemBlue();

// The system's event for one proxy event, or nothing for a cancelled event or one without
// start or end time. `calendars` are the owning account's, used to name and colour it.
std::optional<CalendarEvent> makeCalendarEvent(const ProxyEvent &event, const QString &accountId,
                                               CalendarProvider provider,
                                               const QList<ProxyCalendar> &calendars);

// makeCalendarEvent for many events of one account: calendar colours are read once, and a
// conferencing address repeated across a recurring series is parsed once.
class CalendarEventConverter {
public:
    CalendarEventConverter(QString accountId, CalendarProvider provider,
                           const QList<ProxyCalendar> &calendars);
    std::optional<CalendarEvent> convert(const ProxyEvent &event);
    // Whether convert makes an event of `event` (not cancelled, with a start and an end).
    static bool converts(const ProxyEvent &event);
    // Fills `into`, a fresh record, with what convert makes of an event it converts.
    void convertInto(const ProxyEvent &event, CalendarEvent &into);

private:
    struct Calendar {
        QString id;
        QString name;
        QColor color;
    };
    QString m_accountId;
    CalendarProvider m_provider;
    QList<Calendar> m_calendars;
    QHash<QString, std::optional<QUrl>> m_conferencingLinks;
};
