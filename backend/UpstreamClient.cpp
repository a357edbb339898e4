#include "UpstreamClient.h"

#include <QCoroNetworkReply>
#include <QCoroTimer>
#include <QDateTime>
#include <QLocale>
#include <QNetworkReply>
#include <QTimeZone>
#include <QTimer>
#include <memory>

namespace {

bool worthRetrying(const UpstreamReply &reply, UpstreamClient::Resend resend) {
    if (resend == UpstreamClient::Resend::onlyWhenThrottled)
        return reply.status == 429;
    return reply.status == 0 || reply.status == 429 || reply.status >= 500;
}

// Retry-After as delta seconds or an HTTP date; nothing when absent or unreadable.
std::optional<std::chrono::milliseconds> retryAfter(const QByteArray &value) {
    if (value.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 seconds = value.trimmed().toLongLong(&ok);
    if (ok && seconds >= 0)
        return std::chrono::seconds(std::min<qint64>(seconds, 24 * 3600));
    // An HTTP date is always written in GMT ("Sun, 06 Nov 1994 08:49:37 GMT"), a zone Qt's
    // RFC 2822 reader does not take.
    QString text = QString::fromLatin1(value.trimmed());
    if (!text.endsWith(QLatin1String(" GMT")))
        return std::nullopt;
    text.chop(4);
    QDateTime when = QLocale::c().toDateTime(text, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss"));
    when.setTimeZone(QTimeZone::utc());
    if (!when.isValid())
        return std::nullopt;
    return std::chrono::milliseconds(
        std::max<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(when)));
}

} // namespace

QCoro::Task<UpstreamReply> UpstreamClient::postForm(QNetworkRequest request, Form fields,
                                                    QDeadlineTimer deadline, Resend resend) {
    QByteArray body;
    for (const auto &[key, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value);
    }
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    co_return co_await send(QByteArrayLiteral("POST"), request, body, deadline, resend);
}

QCoro::Task<UpstreamReply> UpstreamClient::send(QByteArray verb, QNetworkRequest request,
                                                QByteArray body, QDeadlineTimer deadline,
                                                Resend resend) {
    std::chrono::milliseconds backOff = firstBackOff;
    UpstreamReply reply;
    for (int attempt = 1;; ++attempt) {
        reply = co_await sendOnce(verb, request, body, deadline);
        if (!worthRetrying(reply, resend) || attempt == maxAttempts)
            co_return reply;
        const std::chrono::milliseconds wait = reply.retryAfter.value_or(backOff);
        if (wait.count() >= deadline.remainingTime())
            co_return reply;
        co_await QCoro::sleepFor(wait);
        backOff *= 2;
    }
}

QCoro::Task<UpstreamReply> UpstreamClient::sendOnce(const QByteArray &verb, QNetworkRequest request,
                                                    const QByteArray &body,
                                                    QDeadlineTimer deadline) {
    const qint64 remaining = deadline.remainingTime();
    if (remaining <= 0)
        co_return UpstreamReply{};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, verb, body));
    QNetworkReply *raw = reply.get();
    // The whole exchange, not only a pause in it, must end by the deadline.
    QTimer::singleShot(std::chrono::milliseconds(remaining), raw, &QNetworkReply::abort);
    QObject::connect(raw, &QNetworkReply::downloadProgress, raw, [raw](qint64 received, qint64) {
        if (received > maxBodyBytes)
            raw->abort();
    });
    co_await raw;
    UpstreamReply answer;
    if (raw->error() == QNetworkReply::OperationCanceledError ||
        raw->attribute(QNetworkRequest::HttpStatusCodeAttribute).isNull())
        co_return answer;
    answer.status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = raw->readAll();
    answer.retryAfter = retryAfter(raw->rawHeader("Retry-After"));
    co_return answer;
}
