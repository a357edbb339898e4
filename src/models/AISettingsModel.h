#pragma once

#include "prep/LLMProvider.h"

#include <QCoroTask>
#include <QObject>
#include <optional>

class LLMService;
class SecretStore;

// What the AI settings tab edits: the chosen model provider and the API key, both kept in the
// secret store where the model-provider client reads them, and the outcome of a key test.
// Writes to the store go one at a time, so the last text typed is the one that stays.
class AISettingsModel : public QObject {
    Q_OBJECT

public:
    AISettingsModel(LLMService &llm, SecretStore &secrets, QObject *parent = nullptr);

    LLMProvider provider() const { return m_provider; }
    const QString &apiKey() const { return m_apiKey; }
    const std::optional<QString> &testResult() const { return m_testResult; }
    bool isTesting() const { return m_isTesting; }
    // A key with something besides white space.
    bool isKeyConfigured() const { return !m_apiKey.trimmed().isEmpty(); }
    bool canTest() const { return !m_apiKey.isEmpty() && !m_isTesting; }

    // Re-reads provider and key from the secret store; `changed` follows when they arrive.
    void load();
    void chooseProvider(LLMProvider provider);
    // Stores the text at once, empty or not.
    void setApiKey(const QString &key);
    void testConnection();

    static QString keyPlaceholder(LLMProvider provider);
    static QString privacyNote(LLMProvider provider);
    static bool isSuccess(const QString &testResult);

Q_SIGNALS:
    void changed();

private:
    QCoro::Task<> runTest();
    QCoro::Task<> read();
    void store(const char *key, const QString &value);
    QCoro::Task<> writePending();

    LLMService &m_llm;
    SecretStore &m_secrets;
    // Values waiting to be written, by key; the newest replaces an older one not yet written.
    QList<std::pair<const char *, QString>> m_pendingWrites;
    bool m_isWriting = false;
    // Counts edits, so a read that an edit overtook does not undo it.
    int m_edits = 0;
    LLMProvider m_provider = LLMProvider::claude;
    QString m_apiKey;
    std::optional<QString> m_testResult;
    bool m_isTesting = false;
};
