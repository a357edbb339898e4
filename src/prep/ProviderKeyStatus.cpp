#include "ProviderKeyStatus.h"

#include "PrepLog.h"
#include "core/AppSettings.h"
#include "core/JsonRead.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {
constexpr auto key = AppSettings::Key::AIKeyStatus;
} // namespace

ProviderKeyStatus::ProviderKeyStatus(AppSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings) {}

ProviderKeyStatus::Status ProviderKeyStatus::status(LLMProvider provider) const {
    return decode(m_settings.value(key).toByteArray()).value(provider);
}

void ProviderKeyStatus::recordWorking(Use use, LLMProvider provider) {
    record(use, provider, {State::working, {}});
}

void ProviderKeyStatus::recordFailure(Use use, LLMProvider provider, const QString &error) {
    QString kept = error.left(maxErrorLength);
    if (!kept.isEmpty() && kept.back().isHighSurrogate())
        kept.chop(1);
    record(use, provider, {State::failing, kept});
}

void ProviderKeyStatus::record(Use use, LLMProvider provider, Status status) {
    if (use != m_keyVersion)
        return;
    QHash<LLMProvider, Status> statuses = decode(m_settings.value(key).toByteArray());
    if (statuses.value(provider) == status)
        return;
    statuses.insert(provider, std::move(status));
    m_settings.setValue(key, encode(statuses));
    Q_EMIT changed();
}

void ProviderKeyStatus::forgetKey() {
    ++m_keyVersion;
    if (!m_settings.contains(key))
        return;
    m_settings.remove(key);
    Q_EMIT changed();
}

QHash<LLMProvider, ProviderKeyStatus::Status> ProviderKeyStatus::decode(const QByteArray &data) {
    QHash<LLMProvider, Status> statuses;
    if (data.isEmpty())
        return statuses;
    try {
        const QJsonObject object = JsonRead::object(data);
        for (auto it = object.begin(); it != object.end(); ++it) {
            const auto provider = LLMProviders::fromString(it.key());
            if (!provider)
                continue;
            const QJsonObject entry = JsonRead::object(*it, u"key status");
            const bool working = JsonRead::boolean(entry, u"working");
            statuses.insert(*provider, {working ? State::working : State::failing,
                                        working ? QString()
                                                : JsonRead::optionalString(entry, u"error")
                                                      .value_or(QString())
                                                      .left(maxErrorLength)});
        }
    } catch (const DecodingError &error) {
        qCWarning(lcPrep) << "the model key's status is unreadable:" << error.detail();
        return {};
    }
    return statuses;
}

QByteArray ProviderKeyStatus::encode(const QHash<LLMProvider, Status> &statuses) {
    QJsonObject object;
    for (auto it = statuses.begin(); it != statuses.end(); ++it) {
        if (it->state == State::unchecked)
            continue;
        QJsonObject entry{{QStringLiteral("working"), it->state == State::working}};
        if (it->state == State::failing)
            entry.insert(QStringLiteral("error"), it->error);
        object.insert(LLMProviders::toString(it.key()), entry);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
