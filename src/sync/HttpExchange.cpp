#include "HttpExchange.h"

#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QTimer>
#include <memory>

namespace {
constexpr int maxRedirects = 5;
}

void applyRedirectPolicy(QNetworkRequest &request) {
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
    request.setMaximumRedirectsAllowed(maxRedirects);
}

bool wasRedirectRefused(const QNetworkReply &reply) {
    if (reply.error() == QNetworkReply::InsecureRedirectError ||
        reply.error() == QNetworkReply::TooManyRedirectsError)
        return true;
    // A redirect status still standing at the end is one that was not followed.
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 300 && status < 400 && status != 304 &&
           reply.hasRawHeader(QByteArrayLiteral("Location"));
}

QCoro::Task<HttpReply> sendRequest(QNetworkAccessManager &network, QNetworkRequest request,
                                   QByteArray verb, QByteArray body, HttpLimits limits,
                                   HttpReceive receive) {
    request.setTransferTimeout(int(limits.idle.count()));
    applyRedirectPolicy(request);
    if (receive.anyOriginRedirects)
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::NoLessSafeRedirectPolicy);
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> reply(
        verb == HttpVerb::get && body.isEmpty() ? network.get(request)
                                                : network.sendCustomRequest(request, verb, body),
        [](QNetworkReply *r) { r->deleteLater(); });

    // The total limit races the answer; when it wins, the request is aborted.
    QTimer limitTimer;
    bool timedOut = false;
    bool tooLarge = false;
    QNetworkReply *raw = reply.get();
    QObject::connect(raw, &QNetworkReply::downloadProgress, raw,
                     [&limits, &receive, raw, &tooLarge](qint64 received, qint64 announced) {
                         if (limits.maxBodyBytes && (received > *limits.maxBodyBytes ||
                                                     announced > *limits.maxBodyBytes)) {
                             tooLarge = true;
                             raw->abort();
                         } else if (receive.progress) {
                             receive.progress(received, announced);
                         }
                     });
    if (receive.sink)
        QObject::connect(raw, &QNetworkReply::readyRead, raw, [&receive, raw] {
            if (!receive.sink(raw->readAll()))
                raw->abort();
        });
    if (limits.total) {
        limitTimer.setSingleShot(true);
        QObject::connect(&limitTimer, &QTimer::timeout, raw, [&timedOut, raw] {
            timedOut = true;
            raw->abort();
        });
        limitTimer.start(*limits.total);
    }
    co_await reply.get();
    limitTimer.stop();

    if (timedOut)
        throw TimeLimitError();
    if (tooLarge)
        throw BodyLimitError();
    if (wasRedirectRefused(*reply))
        throw RedirectError();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || status.toInt() <= 0)
        throw TransportError(reply->error(), reply->errorString());
    // An answer cut short is as useless as no answer, and so is a success status whose
    // transfer failed; any other error is just Qt's name for the status.
    const QNetworkReply::NetworkError error = reply->error();
    const bool cutShort = error == QNetworkReply::RemoteHostClosedError ||
                          error == QNetworkReply::OperationCanceledError ||
                          error == QNetworkReply::TimeoutError;
    const bool success = status.toInt() >= 200 && status.toInt() < 300;
    if (cutShort || (success && error != QNetworkReply::NoError))
        throw TransportError(error, reply->errorString());
    HttpReply answer{status.toInt(), reply->readAll(), reply->rawHeaderPairs()};
    if (receive.sink && !answer.body.isEmpty() && !receive.sink(answer.body))
        throw TransportError(QNetworkReply::OperationCanceledError, reply->errorString());
    if (receive.sink)
        answer.body.clear();
    if (limits.maxBodyBytes && answer.body.size() > *limits.maxBodyBytes)
        throw BodyLimitError();
    co_return answer;
}

QByteArray HttpReply::header(QByteArrayView name) const {
    for (const auto &[key, value] : headers)
        if (QByteArrayView(key).compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

QNetworkRequest jsonRequest(const QUrl &url) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    return request;
}
