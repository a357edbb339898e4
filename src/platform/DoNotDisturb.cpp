#include "DoNotDisturb.h"

#include "PlatformLog.h"

#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

// GLib names a struct member "signals", which Qt defines as a keyword.
#undef signals
#include <gio/gio.h>

namespace {
constexpr int answerLimitMs = 2000;
const QString serverName = QStringLiteral("org.freedesktop.Notifications");
const QString serverPath = QStringLiteral("/org/freedesktop/Notifications");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString inhibitedProperty = QStringLiteral("Inhibited");
constexpr auto bannersSchema = "org.gnome.desktop.notifications";
constexpr auto bannersKey = "show-banners";

bool isTrue(const QVariant &value) {
    return value.typeId() == QMetaType::Bool && value.toBool();
}
} // namespace

DoNotDisturb::DoNotDisturb(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_server(serverName, m_bus, QDBusServiceWatcher::WatchForOwnerChange) {
    connect(&m_server, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &owner) { followOwner(owner); });
    // Matched on path and interface alone, the sender checked on arrival: naming the service
    // would make Qt look up its owner with a blocking call.
    m_bus.connect(QString(), serverPath, propertiesInterface, QStringLiteral("PropertiesChanged"),
                  {serverName}, QString(), this,
                  SLOT(takeProperties(QString, QVariantMap, QStringList, QDBusMessage)));
    readInhibited();
    watchBanners();
}

DoNotDisturb::~DoNotDisturb() {
    if (m_banners) {
        g_signal_handlers_disconnect_by_data(m_banners, this);
        g_object_unref(m_banners);
    }
}

void DoNotDisturb::readInhibited() {
    QDBusMessage call = QDBusMessage::createMethodCall(serverName, serverPath, propertiesInterface,
                                                       QStringLiteral("Get"));
    call << serverName << inhibitedProperty;
    // A server that is not running is not inhibited; asking must not start one.
    call.setAutoStartService(false);
    const quint64 read = ++m_reads;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, answerLimitMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, read] {
        watcher->deleteLater();
        if (read != m_reads)
            return;
        const QDBusMessage reply = watcher->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            if (reply.errorName() != QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"))
                qCInfo(lcPlatform)
                    << "the notification server's Inhibited could not be read:" << reply.errorName()
                    << reply.errorMessage();
            update(m_inhibited, false);
            return;
        }
        m_owner = reply.service();
        update(m_inhibited, isTrue(reply.arguments().constFirst().value<QDBusVariant>().variant()));
    });
}

void DoNotDisturb::followOwner(const QString &owner) {
    m_owner.clear();
    if (owner.isEmpty()) {
        ++m_reads;
        update(m_inhibited, false);
        return;
    }
    readInhibited();
}

void DoNotDisturb::takeProperties(const QString &interface, const QVariantMap &changed,
                                  const QStringList &invalidated, const QDBusMessage &message) {
    if (interface != serverName || m_owner.isEmpty() || message.service() != m_owner)
        return;
    if (const auto found = changed.constFind(inhibitedProperty); found != changed.cend())
        update(m_inhibited, isTrue(*found));
    else if (invalidated.contains(inhibitedProperty))
        readInhibited();
}

void DoNotDisturb::watchBanners() {
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    GSettingsSchema *schema =
        source ? g_settings_schema_source_lookup(source, bannersSchema, TRUE) : nullptr;
    if (!schema)
        return;
    if (g_settings_schema_has_key(schema, bannersKey)) {
        GSettingsSchemaKey *key = g_settings_schema_get_key(schema, bannersKey);
        const bool boolean =
            g_variant_type_equal(g_settings_schema_key_get_value_type(key), G_VARIANT_TYPE_BOOLEAN);
        g_settings_schema_key_unref(key);
        if (boolean)
            m_banners = g_settings_new_full(schema, nullptr, nullptr);
    }
    g_settings_schema_unref(schema);
    if (!m_banners)
        return;
    // GSettings announces a change only of a key read after the handler was connected.
    g_signal_connect(m_banners, "changed::show-banners", G_CALLBACK(&DoNotDisturb::bannersChanged),
                     this);
    bannersChanged(m_banners, nullptr, this);
}

void DoNotDisturb::bannersChanged(GSettings *settings, char *, void *self) {
    auto *watcher = static_cast<DoNotDisturb *>(self);
    watcher->update(watcher->m_bannersHidden, !g_settings_get_boolean(settings, bannersKey));
}

void DoNotDisturb::update(bool &source, bool value) {
    const bool was = isOn();
    source = value;
    if (isOn() != was)
        Q_EMIT changed(isOn());
}
