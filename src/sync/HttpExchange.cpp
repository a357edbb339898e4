#include "HttpExchange.h"

#include <QCoroNetworkReply>
#include <QJsonArray>
#include <QJsonParseError>
#include <QNetworkAccessManager>
#include <cmath>
#include <memory>

QString DecodingError::description() const {
    return QStringLiteral("The data couldn't be read because it isn't in the correct format.");
}

QCoro::Task<HttpReply> sendRequest(QNetworkAccessManager &network, QNetworkRequest request,
                                   QByteArray verb, QByteArray body,
                                   std::chrono::milliseconds timeout) {
    request.setTransferTimeout(int(timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> reply(
        verb == HttpVerb::get && body.isEmpty() ? network.get(request)
                                                : network.sendCustomRequest(request, verb, body),
        [](QNetworkReply *r) { r->deleteLater(); });
    co_await reply.get();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || status.toInt() <= 0)
        throw TransportError(reply->error(), reply->errorString());
    // An answer cut short is as useless as no answer.
    if (reply->error() == QNetworkReply::RemoteHostClosedError ||
        reply->error() == QNetworkReply::OperationCanceledError ||
        reply->error() == QNetworkReply::TimeoutError)
        throw TransportError(reply->error(), reply->errorString());
    co_return HttpReply{status.toInt(), reply->readAll()};
}

QNetworkRequest jsonRequest(const QUrl &url) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    return request;
}

namespace JsonRead {
namespace {
[[noreturn]] void fail(QStringView key, const char *problem) {
    throw DecodingError(key.toString() + QLatin1String(": ") + QLatin1String(problem));
}

std::optional<qint64> asInteger(const QJsonValue &v) {
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    // Within the range a double holds exactly, and without a fraction.
    if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 9007199254740992.0)
        return std::nullopt;
    return qint64(d);
}
} // namespace

QJsonObject object(const QByteArray &body) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(error.errorString());
    if (!doc.isObject())
        throw DecodingError(QStringLiteral("top level is not an object"));
    return doc.object();
}

QJsonObject object(const QJsonValue &value, QStringView what) {
    if (!value.isObject())
        fail(what, "not an object");
    return value.toObject();
}

std::optional<QJsonValue> optionalMember(const QJsonObject &o, QStringView key) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    return v;
}

QString string(const QJsonObject &o, QStringView key) {
    const QJsonValue v = o.value(key);
    if (!v.isString())
        fail(key, v.isUndefined() ? "missing" : "not a string");
    return v.toString();
}

std::optional<QString> optionalString(const QJsonObject &o, QStringView key) {
    const auto v = optionalMember(o, key);
    if (!v)
        return std::nullopt;
    if (!v->isString())
        fail(key, "not a string");
    return v->toString();
}

std::optional<bool> optionalBool(const QJsonObject &o, QStringView key) {
    const auto v = optionalMember(o, key);
    if (!v)
        return std::nullopt;
    if (!v->isBool())
        fail(key, "not a boolean");
    return v->toBool();
}

std::optional<qint64> optionalInteger(const QJsonObject &o, QStringView key) {
    const auto v = optionalMember(o, key);
    if (!v)
        return std::nullopt;
    const auto n = asInteger(*v);
    if (!n)
        fail(key, "not an integer");
    return n;
}

bool boolean(const QJsonObject &o, QStringView key) {
    const QJsonValue v = o.value(key);
    if (!v.isBool())
        fail(key, v.isUndefined() ? "missing" : "not a boolean");
    return v.toBool();
}

qint64 integer(const QJsonObject &o, QStringView key) {
    const auto n = asInteger(o.value(key));
    if (!n)
        fail(key, "missing or not an integer");
    return *n;
}
} // namespace JsonRead
