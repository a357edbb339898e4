#pragma once

#include "LLMProvider.h"

#include <QHash>
#include <QObject>
#include <QString>

class AppSettings;

// Whether the stored model key worked with each provider the last time it was used (a key
// test or a briefing), kept in the settings across restarts. The key itself is never kept
// here. Editing the key forgets everything found, and the outcome of a use that began before
// the edit is dropped, since it speaks of the old key.
class ProviderKeyStatus : public QObject {
    Q_OBJECT

public:
    enum class State { unchecked, working, failing };
    struct Status {
        State state = State::unchecked;
        // What the provider or the connection said, while failing.
        QString error;

        bool operator==(const Status &) const = default;
    };
    // Names the key a use began with.
    using Use = quint64;

    // A provider's complaint can be a whole page; this much is kept.
    static constexpr qsizetype maxErrorLength = 400;

    explicit ProviderKeyStatus(AppSettings &settings, QObject *parent = nullptr);

    Status status(LLMProvider provider) const;

    // Called before the key is read for a use; the outcome is recorded against it.
    Use beginUse() const { return m_keyVersion; }
    void recordWorking(Use use, LLMProvider provider);
    void recordFailure(Use use, LLMProvider provider, const QString &error);
    // The stored key changed: nothing is known about the new one.
    void forgetKey();

    // Anything unreadable counts as nothing checked.
    static QHash<LLMProvider, Status> decode(const QByteArray &data);
    static QByteArray encode(const QHash<LLMProvider, Status> &statuses);

Q_SIGNALS:
    void changed();

private:
    void record(Use use, LLMProvider provider, Status status);

    AppSettings &m_settings;
    Use m_keyVersion = 0;
};
