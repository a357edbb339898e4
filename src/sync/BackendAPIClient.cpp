#include "BackendAPIClient.h"

#include "HttpExchange.h"
#include "SyncLog.h"
#include "core/AppConfig.h"
#include "core/JsonRead.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

QString BackendError::description() const {
    switch (m_kind) {
    case Kind::httpError:
        return QCoreApplication::translate("BackendError", "HTTP error %1").arg(m_status);
    case Kind::apiError:
        return m_message;
    case Kind::invalidResponse:
        break;
    }
    return QCoreApplication::translate("BackendError", "Invalid server response");
}

BackendAPIClient::BackendAPIClient(QObject *parent)
    : QObject(parent) {}

SMSResponse BackendAPIClient::decodeSMSResponse(const QByteArray &body) {
    const QJsonObject o = JsonRead::object(body);
    return SMSResponse{JsonRead::boolean(o, u"success"), JsonRead::integer(o, u"remaining")};
}

QString BackendAPIClient::decodeSlackToken(const QByteArray &body) {
    return JsonRead::string(JsonRead::object(body), u"accessToken");
}

QCoro::Task<SMSResponse> BackendAPIClient::sendSMS(QString credential, QString to, QString body) {
    const auto url = AppConfig::backendURL(QStringLiteral("sms"));
    if (!url)
        throw BackendError::invalidResponse();
    const QJsonObject payload{{QStringLiteral("credential"), credential},
                              {QStringLiteral("to"), to},
                              {QStringLiteral("body"), body}};
    const HttpLimits limits{m_timeout, std::nullopt};
    const HttpReply reply =
        co_await sendRequest(m_network, jsonRequest(*url), HttpVerb::post,
                             QJsonDocument(payload).toJson(QJsonDocument::Compact), limits);
    if (reply.status == 200)
        co_return decodeSMSResponse(reply.body);

    QString message = QCoreApplication::translate("BackendError", "SMS failed");
    try {
        message = JsonRead::string(JsonRead::object(reply.body), u"error");
    } catch (const DecodingError &error) {
        // Not the backend's error shape: the generic text stands.
        qCWarning(lcSync) << "The backend's SMS error answer is unreadable:" << error.detail();
    }
    throw BackendError::apiError(message);
}

QCoro::Task<QString> BackendAPIClient::exchangeSlackCode(QString code, QString redirectURI) {
    const auto url = AppConfig::backendURL(QStringLiteral("slack/exchange"));
    if (!url)
        throw BackendError::invalidResponse();
    const QJsonObject payload{{QStringLiteral("code"), code},
                              {QStringLiteral("redirect_uri"), redirectURI}};
    const HttpLimits limits{m_timeout, std::nullopt};
    const HttpReply reply =
        co_await sendRequest(m_network, jsonRequest(*url), HttpVerb::post,
                             QJsonDocument(payload).toJson(QJsonDocument::Compact), limits);
    if (reply.status != 200)
        throw BackendError::invalidResponse();
    co_return decodeSlackToken(reply.body);
}
