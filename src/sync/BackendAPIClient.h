#pragma once

#include "platform/Error.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <chrono>

// A failed exchange with the product backend.
class BackendError : public Error {
public:
    enum class Kind { httpError, apiError, invalidResponse };

    static BackendError httpError(int status) { return BackendError(Kind::httpError, status, {}); }
    static BackendError apiError(QString message) {
        return BackendError(Kind::apiError, 0, std::move(message));
    }
    static BackendError invalidResponse() { return BackendError(Kind::invalidResponse, 0, {}); }

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }
    QString description() const override;

private:
    BackendError(Kind kind, int status, QString message)
        : m_kind(kind)
        , m_status(status)
        , m_message(std::move(message)) {}

    Kind m_kind;
    int m_status;
    QString m_message;
};

struct SMSResponse {
    bool success = false;
    qint64 remaining = 0;
};

// The backend's text-message and Slack code-exchange endpoints. Holds no state beyond its
// network access.
class BackendAPIClient : public QObject {
    Q_OBJECT

public:
    explicit BackendAPIClient(QObject *parent = nullptr);

    static constexpr std::chrono::milliseconds defaultTimeout{60'000};
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    // The credential travels in the body under "credential", never as a header.
    QCoro::Task<SMSResponse> sendSMS(QString credential, QString to, QString body);
    // The Slack user token for an authorization code.
    QCoro::Task<QString> exchangeSlackCode(QString code, QString redirectURI);

    // Decoders of the two answers; DecodingError on a missing or mistyped member.
    static SMSResponse decodeSMSResponse(const QByteArray &body);
    static QString decodeSlackToken(const QByteArray &body);

private:
    QNetworkAccessManager m_network;
    std::chrono::milliseconds m_timeout = defaultTimeout;
};
