#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QCoroTask>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;

// The request never produced an HTTP answer (no connection, time-out, cancelled).
class TransportError : public Error {
public:
    TransportError(QNetworkReply::NetworkError code, QString message)
        : m_code(code)
        , m_message(std::move(message)) {}
    QNetworkReply::NetworkError code() const { return m_code; }
    QString description() const override { return m_message; }

private:
    QNetworkReply::NetworkError m_code;
    QString m_message;
};

// The whole exchange outlasted its total time limit, however steadily the answer arrived.
class TimeLimitError : public TransportError {
public:
    TimeLimitError()
        : TransportError(QNetworkReply::TimeoutError,
                         QCoreApplication::translate(
                             "TransportError", "The request took too long and was cancelled")) {}
};

// The server answered with a redirect to another origin. Requests carry secrets (keys, tokens,
// credentials) that must reach no one but the server they were meant for, so such a redirect
// is never followed.
class RedirectError : public Error {
public:
    QString description() const override {
        return QCoreApplication::translate("RedirectError",
                                           "The server redirected the request; check the address");
    }
};

// The answer grew past the size the caller accepts; the transfer was cut off.
class BodyLimitError : public Error {
public:
    QString description() const override {
        return QCoreApplication::translate("BodyLimitError",
                                           "The server's answer was too large and was not read");
    }
};

// Methods as values, since a string literal inside a co_await expression trips GCC.
namespace HttpVerb {
inline const QByteArray get = QByteArrayLiteral("GET");
inline const QByteArray post = QByteArrayLiteral("POST");
inline const QByteArray del = QByteArrayLiteral("DELETE");
} // namespace HttpVerb

struct HttpReply {
    int status = 0;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;

    // The first header of that name (compared without case); empty when there is none.
    QByteArray header(QByteArrayView name) const;
};

// How long one exchange may take: `idle` bounds a stalled transfer, `total` the whole exchange
// (an answer that trickles in never trips the idle limit). `maxBodyBytes` bounds the answer.
struct HttpLimits {
    std::chrono::milliseconds idle;
    std::optional<std::chrono::milliseconds> total;
    std::optional<qint64> maxBodyBytes = std::nullopt;
};

// What an exchange does with the answer as it arrives, beyond keeping it.
struct HttpReceive {
    // Takes the body as it arrives instead of HttpReply::body; false stops the transfer, which
    // then ends as a TransportError.
    std::function<bool(QByteArrayView)> sink = {};
    // Bytes received so far and the announced length (-1 when unknown).
    std::function<void(qint64, qint64)> progress = {};
    // Follows https redirects to other origins: only for a payload whose signature is checked
    // afterwards, never for a request that carries a secret.
    bool anyOriginRedirects = false;
};

// The redirect rule of every client: redirects within the request's origin are followed (a
// few at most), any other ends the request.
void applyRedirectPolicy(QNetworkRequest &request);
// True when the reply ended on a redirect the policy refused.
bool wasRedirectRefused(const QNetworkReply &reply);

// Sends one request and waits for the whole answer; any final HTTP status is returned. Throws
// RedirectError for a redirect to another origin, TimeLimitError past `limits.total`,
// BodyLimitError past `limits.maxBodyBytes` and TransportError when no complete answer arrived.
QCoro::Task<HttpReply> sendRequest(QNetworkAccessManager &network, QNetworkRequest request,
                                   QByteArray verb, QByteArray body, HttpLimits limits,
                                   HttpReceive receive = {});

QNetworkRequest jsonRequest(const QUrl &url);
