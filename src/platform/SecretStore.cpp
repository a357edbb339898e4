#include "SecretStore.h"

#include "PlatformLog.h"

#include <QPointer>
#include <coroutine>
#include <functional>

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

const QByteArray serviceName = QByteArrayLiteral("app.zelvane.Zelvane");

struct ResultDeleter {
    void operator()(GAsyncResult *result) const { g_object_unref(result); }
};
using Result = std::unique_ptr<GAsyncResult, ResultDeleter>;

struct ErrorDeleter {
    void operator()(GError *error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorDeleter>;

// Awaits one libsecret call: `start` begins it with the ready callback, and the coroutine
// resumes from that callback. GLib never calls it synchronously, and runs it from the
// thread-default main context, which QEventDispatcherGlib iterates in the Qt event loop.
class AsyncCall {
public:
    explicit AsyncCall(std::function<void(GAsyncReadyCallback, gpointer)> start)
        : m_start(std::move(start)) {}

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiter) {
        m_waiter = waiter;
        m_start(&AsyncCall::ready, this);
    }
    Result await_resume() { return std::move(m_result); }

private:
    static void ready(GObject *, GAsyncResult *result, gpointer data) {
        auto *call = static_cast<AsyncCall *>(data);
        call->m_result.reset(G_ASYNC_RESULT(g_object_ref(result)));
        call->m_waiter.resume();
    }

    std::function<void(GAsyncReadyCallback, gpointer)> m_start;
    std::coroutine_handle<> m_waiter;
    Result m_result;
};
} // namespace

struct SecretStore::Cancellable {
    GCancellable *handle = g_cancellable_new();
    ~Cancellable() {
        g_cancellable_cancel(handle);
        g_object_unref(handle);
    }
};

QString SecretStoreError::description() const {
    return QStringLiteral("Keyring save failed: ") + m_message;
}

SecretStore::SecretStore(QObject *parent)
    : QObject(parent)
    , m_cancellable(std::make_unique<Cancellable>()) {}

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
