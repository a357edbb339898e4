#include "AISettingsModel.h"

#include "LLMService.h"
#include "platform/SecretStore.h"

#include <QLoggingCategory>
#include <QPointer>

namespace {
Q_LOGGING_CATEGORY(lcPrep, "zelvane.prep")

QString keyName() {
    return QString::fromLatin1(SecretStore::llmApiKey);
}

void store(const char *key, const QString &value) {
    // The field keeps its text; the next keystroke tries again.
    try {
        SecretStore::save(QString::fromLatin1(key), value);
    } catch (const SecretStoreError &e) {
        qCWarning(lcPrep) << "Could not store" << key << ":" << e.message();
    }
}
} // namespace

AISettingsModel::AISettingsModel(LLMService &llm, QObject *parent)
    : QObject(parent)
    , m_llm(llm) {}

void AISettingsModel::load() {
    m_apiKey = SecretStore::load(keyName()).value_or(QString());
    const auto raw = SecretStore::load(QString::fromLatin1(SecretStore::llmProvider));
    m_provider =
        raw ? LLMProviders::fromString(*raw).value_or(LLMProvider::claude) : LLMProvider::claude;
    Q_EMIT changed();
}

void AISettingsModel::chooseProvider(LLMProvider provider) {
    m_provider = provider;
    store(SecretStore::llmProvider, LLMProviders::toString(provider));
    m_apiKey = SecretStore::load(keyName()).value_or(QString());
    m_testResult.reset();
    Q_EMIT changed();
}

void AISettingsModel::setApiKey(const QString &key) {
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
