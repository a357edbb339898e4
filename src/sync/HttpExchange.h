#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QCoroTask>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <chrono>

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

// A body that is not the JSON shape the caller expects.
class DecodingError : public Error {
public:
    explicit DecodingError(QString detail)
        : m_detail(std::move(detail)) {}
    const QString &detail() const { return m_detail; }
    QString description() const override;

private:
    QString m_detail;
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
};

// Sends one request and waits for the whole answer; any HTTP status is returned, only a
// missing answer throws TransportError. `timeout` limits inactivity on the transfer.
QCoro::Task<HttpReply> sendRequest(QNetworkAccessManager &network, QNetworkRequest request,
                                   QByteArray verb, QByteArray body,
                                   std::chrono::milliseconds timeout);

QNetworkRequest jsonRequest(const QUrl &url);

// Strict JSON readers: a missing or mistyped member throws DecodingError.
namespace JsonRead {
QJsonObject object(const QByteArray &body);
QJsonObject object(const QJsonValue &value, QStringView what);
QString string(const QJsonObject &o, QStringView key);
std::optional<QString> optionalString(const QJsonObject &o, QStringView key);
std::optional<bool> optionalBool(const QJsonObject &o, QStringView key);
std::optional<qint64> optionalInteger(const QJsonObject &o, QStringView key);
bool boolean(const QJsonObject &o, QStringView key);
qint64 integer(const QJsonObject &o, QStringView key);
// The member when present and not null.
std::optional<QJsonValue> optionalMember(const QJsonObject &o, QStringView key);
} // namespace JsonRead
