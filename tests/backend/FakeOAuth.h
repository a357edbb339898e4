#pragma once

#include "LoopbackHttpServer.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QUrlQuery>

// What the providers' fakes share: one server on 127.0.0.1, the codes their consent pages issue
// (bound to a PKCE challenge and a redirect address) and the tokens they hand out.
class FakeOAuth {
public:
    using Response = LoopbackHttpServer::Response;
    using Request = LoopbackHttpServer::Request;

    QString origin() const { return server.origin(); }
    QList<Request> requestsTo(const QString &path) const { return server.requestsTo(path); }

    QSet<QString> validAccess;
    QSet<QString> validRefresh;
    QStringList issuedTokens;

protected:
    // A code for the consent asked for by `query`, bound to its challenge and redirect.
    QString issueCode(const QString &prefix, const QUrlQuery &query) {
        const QString code = prefix + QString::number(++m_issued);
        m_codes.insert(code,
                       {query.queryItemValue(QStringLiteral("code_challenge"), QUrl::FullyDecoded),
                        query.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded)});
        return code;
    }
    // Whether the authorization_code grant in `form` redeems a code issued here: once, with the
    // verifier of its challenge and the same redirect address.
    bool redeems(const QUrlQuery &form) {
        const auto value = [&](const char *key) {
            return form.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
        };
        const PendingCode pending = m_codes.take(value("code"));
        const QString challenge = QString::fromLatin1(
            QCryptographicHash::hash(value("code_verifier").toLatin1(), QCryptographicHash::Sha256)
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        return !pending.challenge.isEmpty() && pending.challenge == challenge &&
               pending.redirect == value("redirect_uri");
    }
    QString newToken(const char *prefix) {
        const QString token =
            QLatin1String(prefix) + QString::number(++m_issued) + QStringLiteral("-secretpart");
        issuedTokens.append(token);
        return token;
    }
    // An ID token's claims as its middle part carries them.
    static QByteArray claims(const QJsonObject &object) {
        return QJsonDocument(object)
            .toJson(QJsonDocument::Compact)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    }

    LoopbackHttpServer server;

private:
    struct PendingCode {
        QString challenge;
        QString redirect;
    };
    QHash<QString, PendingCode> m_codes;
    int m_issued = 0;
};
