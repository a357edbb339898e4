#pragma once

#include "prep/LLMProvider.h"
#include "prep/ProviderKeyStatus.h"

#include <QCoroTask>
#include <QObject>
#include <optional>

class LLMService;
class SecretStore;

// What the AI settings tab edits: the chosen model provider and the API key, both kept in the
// secret store where the model-provider client reads them, whether the key has worked with
// the chosen provider, and the outcome of a key test. Writes to the store go one at a time,
// so the last text typed is the one that stays; a test and a re-read wait for them.
class AISettingsModel : public QObject {
    Q_OBJECT

public:
    // What the chosen provider's row says about the key.
    enum class KeyBadge {
        none,       // no key
        saved,      // stored, not used yet
        connected,  // worked the last time it was used
        notWorking, // failed the last time it was used
    };

    // Whether the key works is what `llm` found when it last used it.
    AISettingsModel(LLMService &llm, SecretStore &secrets, QObject *parent = nullptr);

    LLMProvider provider() const { return m_provider; }
    const QString &apiKey() const { return m_apiKey; }
    const std::optional<QString> &testResult() const { return m_testResult; }
    bool isTesting() const { return m_isTesting; }
    // A key with something besides white space.
    bool isKeyConfigured() const { return !m_apiKey.trimmed().isEmpty(); }
    bool canTest() const { return !m_apiKey.isEmpty() && !m_isTesting; }
    KeyBadge keyBadge() const;
    // Why the key failed with the chosen provider the last time, while it did.
    std::optional<QString> keyProblem() const;

    // Re-reads provider and key from the secret store and drops the last test's outcome, as
    // when the tab is shown again; `changed` follows when they arrive.
    void load();
    // Stores the choice and re-reads the stored key for it.
    void chooseProvider(LLMProvider provider);
    // Stores the text at once, empty or not.
    void setApiKey(const QString &key);
    // Tests the key once the edits before it are stored.
    void testConnection();

    static QString keyPlaceholder(LLMProvider provider);
    static QString privacyNote(LLMProvider provider);
    static bool isSuccess(const QString &testResult);
    // The outcome shown when the provider accepted the key.
    static QString successText();

Q_SIGNALS:
    void changed();
    // The secret store has every edit made so far.
    void writesFinished();

private:
    QCoro::Task<> runTest();
    QCoro::Task<> read();
    QCoro::Task<> rereadKey();
    // Returns once no write is pending; false when this model went away meanwhile.
    QCoro::Task<bool> writesSettled();
    void store(const char *key, const QString &value);
    QCoro::Task<> writePending();

    LLMService &m_llm;
    SecretStore &m_secrets;
    ProviderKeyStatus &m_keyStatus;
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
