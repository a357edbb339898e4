#include "SecretStore.h"

// GLib names a struct member "signals", which Qt defines as a keyword.
#undef signals
#include <libsecret/secret.h>

namespace {
const SecretSchema *schema() {
    // The name is never matched: other writers (secret-tool) record a schema of their own.
    static const SecretSchema s = {"app.zelvane.Zelvane.Secret",
                                   SECRET_SCHEMA_DONT_MATCH_NAME,
                                   {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                   0,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
    return &s;
}
} // namespace

namespace {
const QByteArray serviceName = QByteArrayLiteral("app.zelvane.Zelvane");
} // namespace

QString SecretStoreError::description() const {
    return QStringLiteral("Keyring save failed: ") + m_message;
}

void SecretStore::save(const QString &key, const QString &value) {
    // Replace, not add: any older item under this key (also one written by another tool) goes.
    remove(key);
    const QByteArray a = key.toUtf8(), l = QStringLiteral("Zelvane: ").toUtf8() + a,
                     v = value.toUtf8();
    GError *error = nullptr;
    const gboolean ok = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, l.constData(), v.constData(), nullptr, &error,
        "service", serviceName.constData(), "account", a.constData(), nullptr);
    if (error) {
        const QString message = QString::fromUtf8(error->message);
        g_error_free(error);
        throw SecretStoreError(message);
    }
    if (!ok)
        throw SecretStoreError(QStringLiteral("the Secret Service did not store the item"));
}

std::optional<QString> SecretStore::load(const QString &key) {
    const QByteArray a = key.toUtf8();
    GError *error = nullptr;
    // The binary look-up lets bytes that are not UTF-8 be refused instead of mangled.
    SecretValue *value = secret_password_lookup_binary_sync(schema(), nullptr, &error, "service",
                                                            serviceName.constData(), "account",
                                                            a.constData(), nullptr);
    if (error) {
        g_error_free(error);
        if (value)
            secret_value_unref(value);
        return std::nullopt;
    }
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    std::optional<QString> text;
    if (g_utf8_validate(bytes, gssize(length), nullptr))
        text = QString::fromUtf8(bytes, qsizetype(length));
    secret_value_unref(value);
    return text;
}

void SecretStore::remove(const QString &key) {
    const QByteArray a = key.toUtf8();
    GError *error = nullptr;
    secret_password_clear_sync(schema(), nullptr, &error, "service", serviceName.constData(),
                               "account", a.constData(), nullptr);
    if (error)
        g_error_free(error);
}
