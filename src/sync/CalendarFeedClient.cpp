#include "CalendarFeedClient.h"

#include "HttpExchange.h"

#include <QCoroFuture>
#include <QCoroNetworkReply>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkReply>
#include <QPointer>
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

CalendarFeedClient::CalendarFeedClient(QObject *parent)
    : QObject(parent) {
    // The feed's address is a secret: no disk cache, no cookies kept.
    m_network.setCookieJar(nullptr);
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
    request.setTransferTimeout(int(timeout.count()));
    // The address grants access, so it must not leak to another origin.
    applyRedirectPolicy(request);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setRawHeader("Accept", "text/calendar, */*;q=0.5");
    if (!previous.etag.isEmpty())
        request.setRawHeader("If-None-Match", previous.etag);
    if (!previous.lastModified.isEmpty())
        request.setRawHeader("If-Modified-Since", previous.lastModified);

    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> reply(
        m_network.get(request), [](QNetworkReply *r) { r->deleteLater(); });
    bool tooLarge = false;
    QNetworkReply *raw = reply.get();
    const auto checkSize = [raw, &tooLarge](qint64 received, qint64 total) {
        if (received > FeedParser::maximumSize || total > FeedParser::maximumSize) {
            tooLarge = true;
            raw->abort();
        }
    };
    connect(raw, &QNetworkReply::downloadProgress, raw, checkSize);
    co_await raw;
    if (tooLarge)
        throw FeedError(FeedError::Reason::tooLarge);
    if (wasRedirectRefused(*reply))
        throw RedirectError();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status <= 0 || reply->error() == QNetworkReply::RemoteHostClosedError ||
        reply->error() == QNetworkReply::OperationCanceledError ||
        reply->error() == QNetworkReply::TimeoutError)
        throw FeedError(FeedError::Reason::unreachable);
    FeedDownload result;
    // Built member by member: GCC 12 mishandles braced temporaries in co_return.
    if (status == 304) {
        result.notModified = true;
        result.validators = previous;
        co_return result;
    }
    if (status != 200)
        throw FeedError(FeedError::Reason::httpStatus, status);
    result.body = reply->readAll();
    if (result.body.size() > FeedParser::maximumSize)
        throw FeedError(FeedError::Reason::tooLarge);
    if (!FeedParser::looksLikeICalendar(result.body))
        throw FeedError(FeedError::Reason::notICalendar);
    result.validators.etag = reply->rawHeader("ETag");
    result.validators.lastModified = reply->rawHeader("Last-Modified");
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
    QFuture<Outcome> parsing = QtConcurrent::run([&]() -> Outcome {
        try {
            return FeedParser::parse(body, owner, from, to);
        } catch (const FeedError &error) {
            return error.reason();
        }
    });
    const Outcome outcome = co_await parsing;
    if (const auto *reason = std::get_if<FeedError::Reason>(&outcome))
        throw FeedError(*reason);
    co_return std::get<QList<CalendarEvent>>(outcome);
}
