#include "SmsGateway.h"

#include "BackendLog.h"
#include "CalendarProvider.h"
#include "ProviderJson.h"

#include <QRegularExpression>

using namespace ProviderJson;

std::optional<QString> SmsGateway::e164(const QString &typed) {
    QString number = typed.trimmed();
    static const QRegularExpression separators(QStringLiteral("[\\s().-]"));
    number.remove(separators);
    if (number.startsWith(QLatin1String("00")))
        number = u'+' + number.mid(2);
    static const QRegularExpression valid(QStringLiteral("^\\+[1-9][0-9]{6,14}$"));
    if (!valid.match(number).hasMatch())
        return std::nullopt;
    return number;
}

QCoro::Task<> SmsGateway::send(QString to, QString body, QDeadlineTimer deadline) {
    QUrl url = m_settings.origin;
    url.setPath(url.path() +
                QStringLiteral("/2010-04-01/Accounts/%1/Messages.json")
                    .arg(QString::fromLatin1(QUrl::toPercentEncoding(m_settings.account))));
    QNetworkRequest request(url);
    request.setRawHeader("Authorization",
                         "Basic " +
                             (m_settings.account + u':' + m_settings.token).toUtf8().toBase64());
    const UpstreamClient::Form form{{QStringLiteral("To"), to},
                                    {QStringLiteral("From"), m_settings.sender},
                                    {QStringLiteral("Body"), body}};
    const UpstreamReply reply = co_await m_upstream.postForm(
        request, form, deadline, UpstreamClient::Resend::onlyWhenThrottled);
    if (reply.status == 200 || reply.status == 201) {
        requiredString(object(reply.body), QStringLiteral("sid"));
        co_return;
    }
    if (reply.status == 400) {
        // Twilio's error: {"code": 21211, "message": ..., "status": 400}.
        const QJsonValue code = object(reply.body).value(QStringLiteral("code"));
        throw ProviderError(ProviderError::Kind::invalidRequest,
                            QStringLiteral("The SMS gateway refused the message (error %1)")
                                .arg(code.isDouble() ? qint64(code.toDouble()) : 0)
                                .toStdString());
    }
    qCWarning(lcBackend) << "the SMS gateway answered" << reply.status;
    throw ProviderError(ProviderError::Kind::upstream,
                        QStringLiteral("SMS gateway failed (%1)").arg(reply.status).toStdString());
}
