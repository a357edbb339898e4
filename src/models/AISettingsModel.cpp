#include "AISettingsModel.h"

#include "ModelsLog.h"
#include "platform/SecretStore.h"
#include "prep/LLMService.h"

#include <QCoroSignal>
#include <QPointer>

AISettingsModel::AISettingsModel(LLMService &llm, SecretStore &secrets, QObject *parent)
    : QObject(parent)
    , m_llm(llm)
    , m_secrets(secrets)
    , m_keyStatus(llm.keyStatus()) {
    connect(&m_keyStatus, &ProviderKeyStatus::changed, this, &AISettingsModel::changed);
}

AISettingsModel::KeyBadge AISettingsModel::keyBadge() const {
    if (!isKeyConfigured())
        return KeyBadge::none;
    switch (m_keyStatus.status(m_provider).state) {
    case ProviderKeyStatus::State::unchecked:
        return KeyBadge::saved;
    case ProviderKeyStatus::State::working:
        return KeyBadge::connected;
    case ProviderKeyStatus::State::failing:
        return KeyBadge::notWorking;
    }
    return KeyBadge::saved;
}

std::optional<QString> AISettingsModel::keyProblem() const {
    if (keyBadge() != KeyBadge::notWorking)
        return std::nullopt;
    return m_keyStatus.status(m_provider).error;
}

void AISettingsModel::load() {
    if (m_testResult) {
        m_testResult.reset();
        Q_EMIT changed();
    }
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
    rereadKey();
}

QCoro::Task<> AISettingsModel::rereadKey() {
    QPointer<AISettingsModel> self(this);
    const int edits = m_edits;
    if (!co_await writesSettled())
        co_return;
    const auto key = co_await m_secrets.load(QString::fromLatin1(SecretStore::llmApiKey));
    if (!self || edits != m_edits)
        co_return;
    m_apiKey = key.value_or(QString());
    Q_EMIT changed();
}

QCoro::Task<bool> AISettingsModel::writesSettled() {
    QPointer<AISettingsModel> self(this);
    while (self && m_isWriting)
        co_await qCoro(this, &AISettingsModel::writesFinished);
    co_return bool(self);
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
            // Uses that began while the earlier key was stored report on that key.
            if (self && name == QLatin1String(SecretStore::llmApiKey))
                m_keyStatus.forgetKey();
        } catch (const SecretStoreError &e) {
            qCWarning(lcModels) << "Could not store" << key << ":" << e.message();
        }
    }
    if (!self)
        co_return;
    m_isWriting = false;
    Q_EMIT writesFinished();
}

void AISettingsModel::setApiKey(const QString &key) {
    ++m_edits;
    m_apiKey = key;
    m_keyStatus.forgetKey();
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
    if (!co_await writesSettled())
        co_return;
    // A click is a boundary: every failure becomes the shown outcome.
    try {
        const bool accepted = co_await m_llm.testConnection();
        result = accepted ? successText() : tr("Failed — check your key");
    } catch (const Error &e) {
        result = tr("Error: %1").arg(e.description());
    } catch (const std::exception &e) {
        result = tr("Error: %1").arg(QString::fromUtf8(e.what()));
    }
    if (!self)
        co_return;
    m_testResult = result;
    m_isTesting = false;
    Q_EMIT changed();
}

QString AISettingsModel::keyPlaceholder(LLMProvider provider) {
    return tr("Paste your %1 API key").arg(LLMProviders::toString(provider));
}

QString AISettingsModel::privacyNote(LLMProvider provider) {
    return tr("Your API key is stored securely in your system keyring. It is never sent to "
              "Zelvane — only directly to %1.")
        .arg(LLMProviders::toString(provider));
}

QString AISettingsModel::successText() {
    return tr("Success — you're all set!");
}

bool AISettingsModel::isSuccess(const QString &testResult) {
    return testResult == successText();
}
