#pragma once

#include "Error.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <optional>

// The Secret Service refused to store a value; carries the service's own message.
class SecretStoreError : public Error {
public:
    explicit SecretStoreError(QString message)
        : m_message(std::move(message)) {}
    QString message() const { return m_message; }
    QString description() const override;

private:
    QString m_message;
};

// Secrets in the freedesktop Secret Service through libsecret's asynchronous API, one item per
// key with exactly the attributes service = app.zelvane.Zelvane and account = key. Look-ups
// match those two alone, so items written by other tools (which add their own schema
// attribute) are found too. Nothing here waits on the bus: each call is a task that resumes
// from the GLib main context, which Qt's event loop runs on Linux, on the calling thread.
class SecretStore : public QObject {
    Q_OBJECT

public:
    static constexpr auto llmApiKey = "llm_api_key";
    static constexpr auto llmProvider = "llm_provider";
    static constexpr auto slackToken = "slack_token";
    static constexpr auto backendCredential = "backend_credential";

    explicit SecretStore(QObject *parent = nullptr);
    // Cancels the calls still on the bus; their tasks end as failed or absent.
    ~SecretStore() override;

    // Stores or replaces the value; throws SecretStoreError when the store refuses it.
    QCoro::Task<> save(QString key, QString value);
    // Absent when there is no readable value (no item, no Secret Service, not UTF-8).
    QCoro::Task<std::optional<QString>> load(QString key);
    // Never fails: a missing item or an unreachable service leaves nothing to remove.
    QCoro::Task<> remove(QString key);

private:
    struct Cancellable;
    std::unique_ptr<Cancellable> m_cancellable;
};
