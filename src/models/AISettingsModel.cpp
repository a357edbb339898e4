#include "AISettingsModel.h"

#include "ModelsLog.h"
#include "platform/SecretStore.h"
#include "prep/LLMService.h"

#include <QPointer>

AISettingsModel::AISettingsModel(LLMService &llm, SecretStore &secrets, QObject *parent)
    : QObject(parent)
    , m_llm(llm)
    , m_secrets(secrets) {}

void AISettingsModel::load() {
    read();
}

QCoro::Task<> AISettingsModel::read() {
    QPointer<AISettingsModel> self(this);
    const int edits = m_edits;
    const QString keyName = QString::fromLatin1(SecretStore::llmApiKey);
    const QString providerName = QString::fromLatin1(SecretStore::llmProvider);
    const auto key = co_await m_secrets.load(keyName);
    if (!self)
        co_return;
    const auto raw = co_await m_secrets.load(providerName);
    if (!self || edits != m_edits)
        co_return;
    m_apiKey = key.value_or(QString());
    m_provider =
        raw ? LLMProviders::fromString(*raw).value_or(LLMProvider::claude) : LLMProvider::claude;
    Q_EMIT changed();
}

void AISettingsModel::chooseProvider(LLMProvider provider) {
    ++m_edits;
    m_provider = provider;
    store(SecretStore::llmProvider, LLMProviders::toString(provider));
    m_testResult.reset();
    Q_EMIT changed();
}

void AISettingsModel::store(const char *key, const QString &value) {
    const auto same = [key](const auto &write) { return qstrcmp(write.first, key) == 0; };
    m_pendingWrites.removeIf(same);
    m_pendingWrites.append({key, value});
    if (!m_isWriting)
        writePending();
}

QCoro::Task<> AISettingsModel::writePending() {
    QPointer<AISettingsModel> self(this);
    m_isWriting = true;
    while (self && !m_pendingWrites.isEmpty()) {
        const auto [key, value] = m_pendingWrites.takeFirst();
        const QString name = QString::fromLatin1(key);
        // The field keeps its text; the next keystroke tries again.
        try {
            co_await m_secrets.save(name, value);
        } catch (const SecretStoreError &e) {
            qCWarning(lcModels) << "Could not store" << key << ":" << e.message();
        }
    }
    if (self)
        m_isWriting = false;
}

void AISettingsModel::setApiKey(const QString &key) {
    ++m_edits;
    m_apiKey = key;
    store(SecretStore::llmApiKey, key);
    m_testResult.reset();
    Q_EMIT changed();
}

void AISettingsModel::testConnection() {
    if (!canTest())
        return;
    m_isTesting = true;
    m_testResult.reset();
    Q_EMIT changed();
    runTest();
}

QCoro::Task<> AISettingsModel::runTest() {
    QPointer<AISettingsModel> self(this);
    QString result;
    // A click is a boundary: every failure becomes the shown outcome.
    try {
        const bool accepted = co_await m_llm.testConnection();
        result = accepted ? QStringLiteral("Success — you're all set!")
                          : QStringLiteral("Failed — check your key");
    } catch (const Error &e) {
        result = QStringLiteral("Error: ") + e.description();
    } catch (const std::exception &e) {
        result = QStringLiteral("Error: ") + QString::fromUtf8(e.what());
    }
    if (!self)
        co_return;
    m_testResult = result;
    m_isTesting = false;
    Q_EMIT changed();
}

QString AISettingsModel::keyPlaceholder(LLMProvider provider) {
    return QStringLiteral("Paste your ") + LLMProviders::toString(provider) +
           QStringLiteral(" API key");
}

QString AISettingsModel::privacyNote(LLMProvider provider) {
    return QStringLiteral("Your API key is stored securely in your system keyring. It is never "
                          "sent to Zelvane — only directly to ") +
           LLMProviders::toString(provider) + QLatin1Char('.');
}

bool AISettingsModel::isSuccess(const QString &testResult) {
    return testResult.contains(QLatin1String("Success"));
}
