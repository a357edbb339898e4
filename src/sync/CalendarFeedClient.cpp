#include "CalendarFeedClient.h"

#include "HttpExchange.h"

#include <QCoroFuture>
#include <QFileInfo>
#include <QHostAddress>
#include <QtConcurrent>
#include <variant>

namespace {
bool isLoopback(const QString &host) {
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

// A file's version, standing in for an ETag.
QByteArray fileVersion(const QFileInfo &info) {
    return QByteArray::number(info.size()) + '-' +
           QByteArray::number(info.lastModified().toMSecsSinceEpoch());
}
} // namespace

CalendarFeedClient::CalendarFeedClient(std::chrono::milliseconds timeLimit, QObject *parent)
    : QObject(parent)
    , m_timeLimit(timeLimit) {
    // The feed's address is a secret: no disk cache, no cookies kept.
    m_network.setCookieJar(nullptr);
}

CalendarFeedClient::~CalendarFeedClient() {
    // A parse still running ends at its next step instead of holding up the quit.
    m_stop.request_stop();
}

std::optional<QUrl> CalendarFeedClient::normalizedAddress(const QString &text) {
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(QLatin1Char('/')))
        return QUrl::fromLocalFile(trimmed);
    QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme == u"file")
        return url.isLocalFile() && !url.toLocalFile().isEmpty() ? std::optional(url)
                                                                 : std::nullopt;
    if (url.host().isEmpty())
        return std::nullopt;
    if (scheme == u"webcal" || scheme == u"webcals") {
        url.setScheme(QStringLiteral("https"));
        return url;
    }
    if (scheme == u"https" || (scheme == u"http" && isLoopback(url.host())))
        return url;
    return std::nullopt;
}

QCoro::Task<FeedDownload> CalendarFeedClient::download(QUrl address, FeedValidators previous) {
    // Arguments are plain locals: GCC 12 mishandles temporaries inside co_await.
    if (address.isLocalFile()) {
        const QString path = address.toLocalFile();
        co_return co_await readFile(path, previous);
    }
    co_return co_await downloadHttp(address, previous);
}

QCoro::Task<FeedDownload> CalendarFeedClient::downloadHttp(QUrl address, FeedValidators previous) {
    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setRawHeader("Accept", "text/calendar, */*;q=0.5");
    if (!previous.etag.isEmpty())
        request.setRawHeader("If-None-Match", previous.etag);
    if (!previous.lastModified.isEmpty())
        request.setRawHeader("If-Modified-Since", previous.lastModified);

    HttpReply reply;
    try {
        // The same limits as every other request: a feed that trickles in ends at the total.
        reply = co_await sendRequest(m_network, request, HttpVerb::get, {},
                                     {m_timeLimit, m_timeLimit, FeedParser::maximumSize});
    } catch (const BodyLimitError &) {
        throw FeedError(FeedError::Reason::tooLarge);
    } catch (const TimeLimitError &) {
        throw FeedError(FeedError::Reason::tooSlow);
    } catch (const TransportError &) {
        throw FeedError(FeedError::Reason::unreachable);
    }
    FeedDownload result;
    // Built member by member: GCC 12 mishandles braced temporaries in co_return.
    if (reply.status == 304) {
        result.notModified = true;
        result.validators = previous;
        co_return result;
    }
    if (reply.status != 200)
        throw FeedError(FeedError::Reason::httpStatus, reply.status);
    if (!FeedParser::looksLikeICalendar(reply.body))
        throw FeedError(FeedError::Reason::notICalendar);
    result.body = std::move(reply.body);
    result.validators.etag = reply.header("ETag");
    result.validators.lastModified = reply.header("Last-Modified");
    co_return result;
}

QCoro::Task<FeedDownload> CalendarFeedClient::readFile(QString path, FeedValidators previous) {
    // A FIFO or device would block the reader, so only regular files are opened, and the
    // reading happens on a worker thread.
    using Outcome = std::variant<FeedDownload, FeedError::Reason>;
    QFuture<Outcome> reading = QtConcurrent::run([path, previous]() -> Outcome {
        const QFileInfo info(path);
        if (!info.isFile())
            return FeedError::Reason::unreadable;
        if (info.size() > FeedParser::maximumSize)
            return FeedError::Reason::tooLarge;
        const QByteArray version = fileVersion(info);
        if (version == previous.etag)
            return FeedDownload{true, {}, previous};
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return FeedError::Reason::unreadable;
        FeedDownload result{false, file.read(FeedParser::maximumSize + 1), {version, {}}};
        if (result.body.size() > FeedParser::maximumSize)
            return FeedError::Reason::tooLarge;
        if (!FeedParser::looksLikeICalendar(result.body))
            return FeedError::Reason::notICalendar;
        return result;
    });
    const Outcome outcome = co_await reading;
    if (const auto *reason = std::get_if<FeedError::Reason>(&outcome))
        throw FeedError(*reason);
    co_return std::get<FeedDownload>(outcome);
}

QCoro::Task<QList<CalendarEvent>> CalendarFeedClient::parse(QByteArray body, FeedOwner owner,
                                                            QDateTime from, QDateTime to) {
    using Outcome = std::variant<QList<CalendarEvent>, FeedError::Reason>;
    QFuture<Outcome> parsing = QtConcurrent::run([&, stop = m_stop.get_token()]() -> Outcome {
        try {
            return FeedParser::parse(body, owner, from, to, stop);
        } catch (const FeedError &error) {
            return error.reason();
        }
    });
    const Outcome outcome = co_await parsing;
    if (const auto *reason = std::get_if<FeedError::Reason>(&outcome))
        throw FeedError(*reason);
    co_return std::get<QList<CalendarEvent>>(outcome);
}
