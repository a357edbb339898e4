#include "BackendConfig.h"

#include <QFile>
#include <QHash>
#include <algorithm>

namespace {

struct KeyRule {
    const char *name;
    const char *fallback; // nullptr: required
};

struct SectionRules {
    const char *name;
    QList<KeyRule> keys;
};

const QList<SectionRules> &sections() {
    static const QList<SectionRules> rules{
        {"server",
         {{"public_url", nullptr},
          {"listen", "127.0.0.1"},
          {"port", nullptr},
          {"database", nullptr},
          {"token_key_file", nullptr},
          {"credentials_file", nullptr}}},
        {"google",
         {{"client_id", nullptr},
          {"client_secret", nullptr},
          {"auth_origin", "https://accounts.google.com"},
          {"token_origin", "https://oauth2.googleapis.com"},
          {"api_origin", "https://www.googleapis.com"}}},
        {"microsoft",
         {{"client_id", nullptr},
          {"client_secret", nullptr},
          {"login_origin", "https://login.microsoftonline.com"},
          {"graph_origin", "https://graph.microsoft.com"}}},
        {"slack",
         {{"client_id", nullptr}, {"client_secret", nullptr}, {"origin", "https://slack.com"}}},
        {"sms",
         {{"account", nullptr},
          {"token", nullptr},
          {"sender", nullptr},
          {"daily_limit", "50"},
          {"origin", "https://api.twilio.com"}}},
    };
    return rules;
}

const SectionRules *findSection(const QString &name) {
    for (const SectionRules &rule : sections())
        if (name == QLatin1String(rule.name))
            return &rule;
    return nullptr;
}

bool knows(const SectionRules &section, const QString &key) {
    return std::any_of(section.keys.begin(), section.keys.end(),
                       [&](const KeyRule &rule) { return key == QLatin1String(rule.name); });
}

[[noreturn]] void fail(const QString &message) {
    throw ConfigError(message.toStdString());
}

// The parsed file: section -> key -> value, with each section's presence.
class Values {
public:
    explicit Values(const QByteArray &text) {
        const SectionRules *section = nullptr;
        QString sectionName;
        int lineNumber = 0;
        for (const QByteArray &rawLine : text.split('\n')) {
            ++lineNumber;
            const QString line = QString::fromUtf8(rawLine).trimmed();
            const QString where = QStringLiteral("line %1").arg(lineNumber);
            if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
                continue;
            if (line.startsWith(u'[')) {
                if (!line.endsWith(u']'))
                    fail(where + QStringLiteral(": a section header must end with ]"));
                sectionName = line.mid(1, line.size() - 2).trimmed();
                section = findSection(sectionName);
                if (!section)
                    fail(where + QStringLiteral(": unknown section [%1]").arg(sectionName));
                if (m_values.contains(sectionName))
                    fail(where + QStringLiteral(": section [%1] appears twice").arg(sectionName));
                m_values.insert(sectionName, {});
                continue;
            }
            const qsizetype equals = line.indexOf(u'=');
            if (equals <= 0)
                fail(where + QStringLiteral(": expected key = value"));
            if (!section)
                fail(where + QStringLiteral(": a setting before any [section]"));
            const QString key = line.left(equals).trimmed();
            const QString name = sectionName + u'.' + key;
            if (!knows(*section, key))
                fail(where + QStringLiteral(": unknown key %1").arg(name));
            QHash<QString, QString> &values = m_values[sectionName];
            if (values.contains(key))
                fail(name + QStringLiteral(" is set twice"));
            values.insert(key, line.mid(equals + 1).trimmed());
        }
    }

    bool has(const char *section) const { return m_values.contains(QLatin1String(section)); }

    // The value, its fallback, or a ConfigError naming the missing or empty key.
    QString text(const char *section, const char *key) const {
        const QString value = m_values.value(QLatin1String(section)).value(QLatin1String(key));
        if (!value.isEmpty())
            return value;
        for (const KeyRule &rule : findSection(QLatin1String(section))->keys)
            if (qstrcmp(rule.name, key) == 0 && rule.fallback)
                return QLatin1String(rule.fallback);
        fail(name(section, key) + QStringLiteral(" is missing"));
    }

    // An origin or base address: absolute http(s), nothing after the path.
    QUrl url(const char *section, const char *key) const {
        const QUrl url(text(section, key), QUrl::StrictMode);
        const bool web =
            url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http");
        if (!url.isValid() || !web || url.host().isEmpty() || url.hasQuery() || url.hasFragment() ||
            !url.userInfo().isEmpty())
            fail(name(section, key) +
                 QStringLiteral(" must be an http or https address without query"));
        QUrl clean = url;
        clean.setPath(url.path().endsWith(u'/') ? url.path().chopped(1) : url.path());
        return clean;
    }

    OAuthClientSettings client(const char *section) const {
        return {text(section, "client_id"), text(section, "client_secret")};
    }

    static QString name(const char *section, const char *key) {
        return QLatin1String(section) + u'.' + QLatin1String(key);
    }

private:
    QHash<QString, QHash<QString, QString>> m_values;
};

} // namespace

BackendConfig BackendConfig::parse(const QByteArray &text) {
    const Values values(text);
    if (!values.has("server"))
        fail(QStringLiteral("server.public_url is missing"));

    BackendConfig config;
    config.publicUrl = values.url("server", "public_url");
    if (!config.listen.setAddress(values.text("server", "listen")))
        fail(QStringLiteral("server.listen must be an IP address"));
    bool ok = false;
    const uint port = values.text("server", "port").toUInt(&ok);
    if (!ok || port > 65535)
        fail(QStringLiteral("server.port must be a number from 0 to 65535"));
    config.port = quint16(port);
    config.database = values.text("server", "database");
    config.tokenKeyFile = values.text("server", "token_key_file");
    config.credentialsFile = values.text("server", "credentials_file");

    if (values.has("google"))
        config.google = GoogleSettings{values.client("google"), values.url("google", "auth_origin"),
                                       values.url("google", "token_origin"),
                                       values.url("google", "api_origin")};
    if (values.has("microsoft"))
        config.microsoft =
            MicrosoftSettings{values.client("microsoft"), values.url("microsoft", "login_origin"),
                              values.url("microsoft", "graph_origin")};
    if (!config.google && !config.microsoft)
        fail(QStringLiteral("google.client_id is missing (configure [google] or [microsoft])"));
    if (values.has("slack"))
        config.slack = SlackSettings{values.client("slack"), values.url("slack", "origin")};
    if (values.has("sms")) {
        config.sms = SmsSettings{values.text("sms", "account"), values.text("sms", "token"),
                                 values.text("sms", "sender"), values.url("sms", "origin")};
        const uint limit = values.text("sms", "daily_limit").toUInt(&ok);
        if (!ok || limit < 1 || limit > 10'000)
            fail(QStringLiteral("sms.daily_limit must be a number from 1 to 10000"));
        config.sms->dailyLimit = int(limit);
    }
    return config;
}

BackendConfig BackendConfig::load(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(path + QStringLiteral(": ") + file.errorString());
    constexpr qint64 maxBytes = 64 * 1024;
    const QByteArray text = file.read(maxBytes + 1);
    if (text.size() > maxBytes)
        fail(path + QStringLiteral(": larger than 64 KiB"));
    try {
        return parse(text);
    } catch (const ConfigError &error) {
        fail(path + QStringLiteral(": ") + QString::fromStdString(error.what()));
    }
}
