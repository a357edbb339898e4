#pragma once

#include "FeedParser.h"

#include <QByteArray>
#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QObject>
#include <QUrl>
#include <chrono>
#include <stop_token>

// What a server said about a feed's version, sent back to ask "changed since?".
struct FeedValidators {
    QByteArray etag;
    QByteArray lastModified;

    bool operator==(const FeedValidators &) const = default;
};

struct FeedDownload {
    bool notModified = false;
    QByteArray body;
    FeedValidators validators;
};

// Reads a calendar feed from https (webcal is https), from plain http only on this
// computer's loopback interface, or from a local file. Conditional requests spare an
// unchanged feed; larger than 20 MB, slower than the time limit, not iCalendar or
// unreachable is a FeedError.
class CalendarFeedClient : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds timeout{60'000};

    explicit CalendarFeedClient(std::chrono::milliseconds timeLimit = timeout,
                                QObject *parent = nullptr);
    // Stops parses still running.
    ~CalendarFeedClient() override;

    // The address to fetch, or absent for anything else (other schemes, relative paths).
    static std::optional<QUrl> normalizedAddress(const QString &text);

    QCoro::Task<FeedDownload> download(QUrl address, FeedValidators previous);
    // Parses away from the GUI thread; FeedError(stopped) once this client is gone.
    QCoro::Task<QList<CalendarEvent>> parse(QByteArray body, FeedOwner owner, QDateTime from,
                                            QDateTime to);

private:
    QCoro::Task<FeedDownload> downloadHttp(QUrl address, FeedValidators previous);
    static QCoro::Task<FeedDownload> readFile(QString path, FeedValidators previous);

    QNetworkAccessManager m_network;
    std::chrono::milliseconds m_timeLimit;
    std::stop_source m_stop;
};
