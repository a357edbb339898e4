#pragma once

#include "FakeOAuth.h"

// The Microsoft identity platform's v2.0 endpoints (common tenant) and Microsoft Graph v1.0 on
// 127.0.0.1, in the shapes of their public references: authorization code with PKCE, refresh
// tokens that rotate on every use, me/calendars and calendarView paged by @odata.nextLink,
// me/messages with $search (one quoted phrase), $top and $select.
class FakeMicrosoft : public FakeOAuth {
public:
    static inline const QString clientId = QStringLiteral("00000000-1111-2222-3333-444444444444");
    static inline const QString clientSecret = QStringLiteral("ms~fake-client-secret");
    static inline const QString email = QStringLiteral("sam@contoso.test");
    static inline const QString viewPath = QStringLiteral("/v1.0/me/calendarView");
    static inline const QString messagesPath = QStringLiteral("/v1.0/me/messages");

    QJsonArray calendars;
    QJsonArray events;
    QJsonArray mail; // Graph message resources, newest first
    int expiresIn = 3600;

    bool start() {
        server.on(QStringLiteral("/common/oauth2/v2.0/token"),
                  [this](const Request &r) { return token(r); });
        server.on(QStringLiteral("/v1.0/me/calendars"), [this](const Request &r) {
            if (auto refused = refuse(r))
                return *refused;
            return Response::json(QJsonDocument(QJsonObject{{"value", calendars}}).toJson());
        });
        server.on(viewPath, [this](const Request &r) { return calendarView(r); });
        server.on(messagesPath, [this](const Request &r) { return messages(r); });
        return server.start();
    }
    QString consent(const QUrl &authUrl) {
        const QUrlQuery query(authUrl);
        const auto value = [&](const char *key) {
            return query.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
        };
        if (authUrl.path() != QLatin1String("/common/oauth2/v2.0/authorize") ||
            value("client_id") != clientId || value("response_type") != QLatin1String("code") ||
            value("code_challenge_method") != QLatin1String("S256") ||
            !value("scope").contains(QLatin1String("offline_access")) ||
            !value("scope").contains(QLatin1String("Calendars.Read")))
            return {};
        return issueCode(QStringLiteral("M.C5-fake-code-"), query);
    }

private:
    static Response oauthError(const char *error) {
        return Response::json(
            QJsonDocument(QJsonObject{{"error", error}, {"error_description", "AADSTS70000"}})
                .toJson(),
            400);
    }

    Response token(const Request &r) {
        const QUrlQuery f(QString::fromUtf8(r.body));
        const auto value = [&](const char *key) {
            return f.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
        };
        if (value("client_id") != clientId || value("client_secret") != clientSecret)
            return oauthError("invalid_client");
        if (value("grant_type") == QLatin1String("authorization_code")) {
            if (!redeems(f))
                return oauthError("invalid_grant");
        } else if (value("grant_type") != QLatin1String("refresh_token") ||
                   !validRefresh.remove(value("refresh_token"))) {
            return oauthError("invalid_grant");
        }
        const QString refresh = newToken("M.R3-fake-refresh-");
        validRefresh.insert(refresh);
        const QString access = newToken("EwB-fake-access-");
        validAccess.insert(access);
        const QByteArray claimed = claims({{"preferred_username", email}, {"name", "Sam"}});
        return Response::json(
            QJsonDocument(QJsonObject{{"token_type", "Bearer"},
                                      {"scope", value("scope")},
                                      {"expires_in", expiresIn},
                                      {"access_token", access},
                                      {"refresh_token", refresh},
                                      {"id_token", QString::fromLatin1("eyJ0eXAiOiJKV1QifQ." +
                                                                       claimed + ".c2ln")}})
                .toJson());
    }

    std::optional<Response> refuse(const Request &r) {
        const QByteArray header = r.header("authorization");
        if (header.startsWith("Bearer ") && validAccess.contains(QString::fromUtf8(header.mid(7))))
            return std::nullopt;
        return Response::json(R"({"error":{"code":"InvalidAuthenticationToken"}})", 401);
    }

    Response calendarView(const Request &r) {
        if (auto refused = refuse(r))
            return *refused;
        const QUrlQuery q(QUrl(QString::fromUtf8(r.target)));
        const int skip = q.queryItemValue(QStringLiteral("$skip")).toInt();
        const int top = q.queryItemValue(QStringLiteral("$top")).toInt();
        QJsonArray items;
        for (int i = skip; i < events.size() && i < skip + top; ++i)
            items.append(events.at(i));
        QJsonObject answer{{"@odata.context", "https://graph.microsoft.com/v1.0/$metadata"},
                           {"value", items}};
        if (skip + top < events.size()) {
            QUrl next(origin() + viewPath);
            QUrlQuery nextQuery(q);
            nextQuery.removeAllQueryItems(QStringLiteral("$skip"));
            nextQuery.addQueryItem(QStringLiteral("$skip"), QString::number(skip + top));
            next.setQuery(nextQuery);
            answer.insert("@odata.nextLink", QString::fromUtf8(next.toEncoded()));
        }
        return Response::json(QJsonDocument(answer).toJson());
    }

    Response messages(const Request &r) {
        if (auto refused = refuse(r))
            return *refused;
        const QUrlQuery q(QUrl(QString::fromUtf8(r.target)));
        QString search = q.queryItemValue(QStringLiteral("$search"), QUrl::FullyDecoded);
        if (!search.isEmpty()) {
            if (search.size() < 2 || !search.startsWith(u'"') || !search.endsWith(u'"'))
                return Response::json(R"({"error":{"code":"BadRequest",)"
                                      R"("message":"Syntax error in $search"}})",
                                      400);
            search = search.mid(1, search.size() - 2);
        }
        const int top = q.queryItemValue(QStringLiteral("$top")).toInt();
        const QStringList select =
            q.queryItemValue(QStringLiteral("$select"), QUrl::FullyDecoded).split(u',');
        QJsonArray items;
        for (const QJsonValue &value : mail) {
            const QJsonObject m = value.toObject();
            const QString text = m["subject"].toString() + u' ' + m["bodyPreview"].toString() +
                                 u' ' + m["from"]["emailAddress"]["address"].toString();
            if (items.size() == top || !text.contains(search, Qt::CaseInsensitive))
                continue;
            QJsonObject kept{{"@odata.etag", "W/\"CQAAABYAAAA\""}};
            for (const QString &key : select)
                if (m.contains(key))
                    kept.insert(key, m[key]);
            items.append(kept);
        }
        return Response::json(QJsonDocument(QJsonObject{{"value", items}}).toJson());
    }
};
