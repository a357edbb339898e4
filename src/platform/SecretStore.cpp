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

SecretStore::StoreResult SecretStore::store(const QString &service, const QString &account,
                                            const QString &label, const QString &secret) {
    const QByteArray s = service.toUtf8(), a = account.toUtf8(), l = label.toUtf8(),
                     v = secret.toUtf8();
    GError *error = nullptr;
    const gboolean ok = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, l.constData(), v.constData(), nullptr, &error,
        "service", s.constData(), "account", a.constData(), nullptr);
    StoreResult result;
    result.ok = ok && !error;
    if (error) {
        result.status = error->code;
        result.message = QString::fromUtf8(error->message);
        g_error_free(error);
    } else if (!ok) {
        result.status = -1;
    }
    return result;
}

std::optional<QString> SecretStore::lookup(const QString &service, const QString &account) {
    const QByteArray s = service.toUtf8(), a = account.toUtf8();
    GError *error = nullptr;
    // The binary look-up lets bytes that are not UTF-8 be refused instead of mangled.
    SecretValue *value = secret_password_lookup_binary_sync(
        schema(), nullptr, &error, "service", s.constData(), "account", a.constData(), nullptr);
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

void SecretStore::clear(const QString &service, const QString &account) {
    const QByteArray s = service.toUtf8(), a = account.toUtf8();
    GError *error = nullptr;
    secret_password_clear_sync(schema(), nullptr, &error, "service", s.constData(), "account",
                               a.constData(), nullptr);
    if (error)
        g_error_free(error);
}
