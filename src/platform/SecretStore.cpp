#include "SecretStore.h"

#include "PlatformLog.h"

#include <QCoreApplication>
#include <QPointer>

// GLib names a struct member "signals", which Qt defines as a keyword.
#undef signals
#include "GLibCall.h"

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

const QByteArray serviceName = QByteArrayLiteral("app.zelvane.Zelvane");

using GLib::AsyncCall;
using GLib::ErrorPtr;
using Result = GLib::Ref<GAsyncResult>;
} // namespace

struct SecretStore::Cancellable {
    GCancellable *handle = g_cancellable_new();
    ~Cancellable() {
        g_cancellable_cancel(handle);
        g_object_unref(handle);
    }
};

QString SecretStoreError::description() const {
    return QCoreApplication::translate("SecretStoreError", "Keyring save failed: %1")
        .arg(m_message);
}

SecretStore::SecretStore(QObject *parent)
    : QObject(parent)
    , m_cancellable(std::make_unique<Cancellable>()) {
    // The Secret Service client sets itself up on GLib's shared worker threads, which would
    // otherwise sit idle for 15 s after the job and then wake only to end: each ends with its job.
    g_thread_pool_set_max_unused_threads(0);
}

SecretStore::~SecretStore() = default;

QCoro::Task<> SecretStore::save(QString key, QString value) {
    // Replace, not add: any older item under this key (also one written by another tool) goes.
    QPointer<SecretStore> self(this);
    co_await remove(key);
    if (!self)
        throw SecretStoreError(QStringLiteral("the store was closed"));
    const QByteArray a = key.toUtf8(), l = QByteArrayLiteral("Zelvane: ") + a, v = value.toUtf8();
    // The call holds its own reference, so the store may go while it runs.
    GCancellable *cancellable = G_CANCELLABLE(g_object_ref(m_cancellable->handle));
    const Result result = co_await AsyncCall([&](GAsyncReadyCallback ready, gpointer data) {
        secret_password_store(schema(), SECRET_COLLECTION_DEFAULT, l.constData(), v.constData(),
                              cancellable, ready, data, "service", serviceName.constData(),
                              "account", a.constData(), nullptr);
    });
    g_object_unref(cancellable);
    GError *raw = nullptr;
    const gboolean ok = secret_password_store_finish(result.get(), &raw);
    const ErrorPtr error(raw);
    if (error) {
        qCWarning(lcPlatform) << "Storing secret" << key << "failed:" << error->message;
        throw SecretStoreError(QString::fromUtf8(error->message));
    }
    if (!ok)
        throw SecretStoreError(QStringLiteral("the Secret Service did not store the item"));
}

QCoro::Task<std::optional<QString>> SecretStore::load(QString key) {
    const QByteArray a = key.toUtf8();
    GCancellable *cancellable = G_CANCELLABLE(g_object_ref(m_cancellable->handle));
    // The binary look-up lets bytes that are not UTF-8 be refused instead of mangled.
    const Result result = co_await AsyncCall([&](GAsyncReadyCallback ready, gpointer data) {
        secret_password_lookup(schema(), cancellable, ready, data, "service",
                               serviceName.constData(), "account", a.constData(), nullptr);
    });
    g_object_unref(cancellable);
    GError *raw = nullptr;
    SecretValue *value = secret_password_lookup_binary_finish(result.get(), &raw);
    const ErrorPtr error(raw);
    if (error) {
        qCWarning(lcPlatform) << "Reading secret" << key << "failed:" << error->message;
        if (value)
            secret_value_unref(value);
        co_return std::nullopt;
    }
    if (!value)
        co_return std::nullopt;
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    std::optional<QString> text;
    if (g_utf8_validate(bytes, gssize(length), nullptr))
        text = QString::fromUtf8(bytes, qsizetype(length));
    else
        qCWarning(lcPlatform) << "Secret" << key << "is not UTF-8 text; ignored";
    secret_value_unref(value);
    co_return text;
}

QCoro::Task<> SecretStore::remove(QString key) {
    const QByteArray a = key.toUtf8();
    GCancellable *cancellable = G_CANCELLABLE(g_object_ref(m_cancellable->handle));
    const Result result = co_await AsyncCall([&](GAsyncReadyCallback ready, gpointer data) {
        secret_password_clear(schema(), cancellable, ready, data, "service",
                              serviceName.constData(), "account", a.constData(), nullptr);
    });
    g_object_unref(cancellable);
    GError *raw = nullptr;
    secret_password_clear_finish(result.get(), &raw);
    if (const ErrorPtr error(raw); error)
        qCWarning(lcPlatform) << "Removing secret" << key << "failed:" << error->message;
}
