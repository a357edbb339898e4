#pragma once

#include "FakeOAuth.h"

// Google's OAuth 2.0 endpoints, Calendar API v3 and Gmail API on 127.0.0.1, answering in the
// shapes of Google's public references: the token endpoint (authorization_code with PKCE,
// refresh_token, invalid_grant), the revocation endpoint, calendarList and events.list with
// page tokens, messages.list (ids only) and messages.get in the metadata format.
class FakeGoogle : public FakeOAuth {
public:
    static inline const QString clientId = QStringLiteral("1234-fake.apps.googleusercontent.com");
    static inline const QString clientSecret = QStringLiteral("GOCSPX-fake-client-secret");
    static inline const QString email = QStringLiteral("alex@example.test");
    static inline const QString eventsPath =
        QStringLiteral("/calendar/v3/calendars/primary/events");
    static inline const QString messagesPath = QStringLiteral("/gmail/v1/users/me/messages");

    QJsonArray calendars;
    QJsonArray events;
    int expiresIn = 3600;
    // Answers for events.list served, one each, before the real ones.
    QList<Response> eventFaults;
    // Access tokens refused once more even though they are current.
    int refuseAccess = 0;
    // Gmail messages in the "full" format; a search matches words of the headers and snippet.
    QJsonArray mail;
    // Ids the search lists though the message is gone by the time it is read.
    QStringList vanished;
    // Answers for messages.get served, one each, before the real ones.
    QList<Response> messageFaults;

    bool start() {
        server.on(QStringLiteral("/token"), [this](const Request &r) { return token(r); });
        server.on(QStringLiteral("/revoke"), [this](const Request &r) {
            const QString token =
                form(r).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
            revokedTokens.insert(token);
            validRefresh.remove(token);
            return Response::json("{}");
        });
        server.on(QStringLiteral("/calendar/v3/users/me/calendarList"), [this](const Request &r) {
            if (auto refused = refuse(r))
                return *refused;
            return Response::json(
                QJsonDocument(QJsonObject{{"kind", "calendar#calendarList"}, {"items", calendars}})
                    .toJson());
        });
        server.on(eventsPath, [this](const Request &r) { return eventList(r); });
        server.on(messagesPath, [this](const Request &r) { return messageList(r); });
        server.setHandler([this](const Request &r) {
            if (!r.path().startsWith(messagesPath + u'/'))
                return Response::text("not found", 404);
            return messageGet(r, r.path().mid(messagesPath.size() + 1));
        });
        return server.start();
    }
    // What Google's consent page does when the user agrees: checks the request and issues a
    // code bound to the challenge and redirect address. Empty when the request is wrong.
    QString consent(const QUrl &authUrl) {
        const QUrlQuery query(authUrl);
        const auto value = [&](const char *key) {
            return query.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
        };
        if (authUrl.path() != QLatin1String("/o/oauth2/v2/auth") ||
            value("client_id") != clientId || value("response_type") != QLatin1String("code") ||
            value("access_type") != QLatin1String("offline") ||
            value("code_challenge_method") != QLatin1String("S256") ||
            value("code_challenge").size() != 43 || value("state").size() < 22 ||
            !value("scope").contains(QLatin1String("calendar.readonly")))
            return {};
        return issueCode(QStringLiteral("4/0fake-code-"), query);
    }
    static QUrlQuery form(const Request &r) { return QUrlQuery(QString::fromUtf8(r.body)); }
    static QUrlQuery query(const Request &r) {
        return QUrlQuery(QUrl(QString::fromUtf8(r.target)));
    }

    QSet<QString> revokedTokens;

private:
    static Response oauthError(const char *error, int status = 400) {
        return Response::json(
            QJsonDocument(QJsonObject{{"error", error}, {"error_description", "refused"}}).toJson(),
            status);
    }

    Response token(const Request &r) {
        const QUrlQuery f = form(r);
        const auto value = [&](const char *key) {
            return f.queryItemValue(QLatin1String(key), QUrl::FullyDecoded);
        };
        if (value("client_id") != clientId || value("client_secret") != clientSecret)
            return oauthError("invalid_client", 401);
        QJsonObject answer{{"token_type", "Bearer"}, {"expires_in", expiresIn}};
        if (value("grant_type") == QLatin1String("authorization_code")) {
            if (!redeems(f))
                return oauthError("invalid_grant");
            const QString refresh = newToken("1//fake-refresh-");
            validRefresh.insert(refresh);
            answer.insert("refresh_token", refresh);
            const QByteArray claimed = claims({{"iss", "https://accounts.google.com"},
                                               {"email", email},
                                               {"email_verified", true}});
            answer.insert("id_token",
                          QString::fromLatin1("eyJhbGciOiJSUzI1NiJ9." + claimed + ".c2lnbmF0dXJl"));
        } else if (value("grant_type") == QLatin1String("refresh_token")) {
            if (!validRefresh.contains(value("refresh_token")))
                return oauthError("invalid_grant");
        } else {
            return oauthError("unsupported_grant_type");
        }
        const QString access = newToken("ya29.fake-access-");
        validAccess.insert(access);
        answer.insert("access_token", access);
        return Response::json(QJsonDocument(answer).toJson());
    }

    std::optional<Response> refuse(const Request &r) {
        const QByteArray header = r.header("authorization");
        const QString access = QString::fromUtf8(header.mid(7));
        if (!header.startsWith("Bearer ") || !validAccess.contains(access) || refuseAccess > 0) {
            refuseAccess = std::max(0, refuseAccess - 1);
            return Response::json(R"({"error":{"code":401,"message":"Request had invalid )"
                                  R"(authentication credentials.","status":"UNAUTHENTICATED"}})",
                                  401);
        }
        return std::nullopt;
    }

    Response eventList(const Request &r) {
        if (auto refused = refuse(r))
            return *refused;
        if (!eventFaults.isEmpty())
            return eventFaults.takeFirst();
        const QUrlQuery q = query(r);
        const int max = q.queryItemValue(QStringLiteral("maxResults")).toInt();
        const QString token = q.queryItemValue(QStringLiteral("pageToken"));
        const int offset = token.isEmpty() ? 0 : token.mid(5).toInt();
        QJsonArray items;
        for (int i = offset; i < events.size() && i < offset + max; ++i)
            items.append(events.at(i));
        QJsonObject answer{{"kind", "calendar#events"}, {"summary", email}, {"items", items}};
        if (offset + max < events.size())
            answer.insert("nextPageToken", QStringLiteral("page_%1").arg(offset + max));
        return Response::json(QJsonDocument(answer).toJson());
    }

    static QString header(const QJsonObject &message, const QString &name) {
        for (const QJsonValue &h : message["payload"]["headers"].toArray())
            if (h["name"].toString() == name)
                return h["value"].toString();
        return {};
    }

    Response messageList(const Request &r) {
        if (auto refused = refuse(r))
            return *refused;
        const QUrlQuery q = query(r);
        const QString words = q.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded);
        const int max = q.queryItemValue(QStringLiteral("maxResults")).toInt();
        QJsonArray found;
        for (const QString &id : vanished)
            found.append(QJsonObject{{"id", id}, {"threadId", id}});
        for (const QJsonValue &m : mail) {
            const QString text = header(m.toObject(), QStringLiteral("From")) + u' ' +
                                 header(m.toObject(), QStringLiteral("Subject")) + u' ' +
                                 m["snippet"].toString();
            if (found.size() < max && text.contains(words, Qt::CaseInsensitive))
                found.append(QJsonObject{{"id", m["id"]}, {"threadId", m["threadId"]}});
        }
        QJsonObject answer{{"resultSizeEstimate", found.size()}};
        if (!found.isEmpty())
            answer.insert("messages", found);
        return Response::json(QJsonDocument(answer).toJson());
    }

    Response messageGet(const Request &r, const QString &id) {
        if (auto refused = refuse(r))
            return *refused;
        if (!messageFaults.isEmpty())
            return messageFaults.takeFirst();
        const QUrlQuery q = query(r);
        const QStringList wanted = q.allQueryItemValues(QStringLiteral("metadataHeaders"));
        for (const QJsonValue &value : mail) {
            QJsonObject m = value.toObject();
            if (m["id"].toString() != id)
                continue;
            if (q.queryItemValue(QStringLiteral("format")) == QLatin1String("metadata")) {
                QJsonArray kept;
                for (const QJsonValue &h : m.value("payload").toObject().value("headers").toArray())
                    if (wanted.contains(h["name"].toString()))
                        kept.append(h);
                m["payload"] =
                    QJsonObject{{"mimeType", "multipart/alternative"}, {"headers", kept}};
            }
            return Response::json(QJsonDocument(m).toJson());
        }
        return Response::json(R"({"error":{"code":404,"message":"Requested entity was not )"
                              R"(found.","status":"NOT_FOUND"}})",
                              404);
    }
};
