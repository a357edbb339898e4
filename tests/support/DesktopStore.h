#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// GLib names a struct member "signals", which Qt defines as a keyword.
#undef signals
#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

// A real Evolution Data Server for one test process: its source registry and calendar factory,
// started on the session bus the test runs in (a private one, see with-keyring.sh --bare) with
// a throw-away XDG home. The test's own edits go through libedataserver and libecal, as any
// other program's would. Every call here waits: tests and benchmarks only.
class DesktopStore {
public:
    static constexpr auto registryName = "org.gnome.evolution.dataserver.Sources5";
    static constexpr auto factoryName = "org.gnome.evolution.dataserver.Calendar8";

    DesktopStore() {
        for (const char *folder : {"config", "data", "cache"})
            QDir().mkpath(m_home.path() + u'/' + QLatin1String(folder));
        qputenv("XDG_CONFIG_HOME", (m_home.path() + QStringLiteral("/config")).toUtf8());
        qputenv("XDG_DATA_HOME", (m_home.path() + QStringLiteral("/data")).toUtf8());
        qputenv("XDG_CACHE_HOME", (m_home.path() + QStringLiteral("/cache")).toUtf8());
        // The store's settings stay in memory instead of reaching for a dconf service.
        qputenv("GSETTINGS_BACKEND", "memory");
    }
    DesktopStore(const DesktopStore &) = delete;
    DesktopStore &operator=(const DesktopStore &) = delete;
    ~DesktopStore() { stop(); }

    // Starts the factory, then the registry, and waits until both own their names.
    bool start() {
        m_factory = launch(QStringLiteral("/usr/libexec/evolution-calendar-factory"));
        m_registry = launch(QStringLiteral("/usr/libexec/evolution-source-registry"));
        return waitForName(factoryName, true) && waitForName(registryName, true);
    }

    // Stops both and waits until their names are gone; the files stay for the next start.
    void stop() {
        for (ECalClient *client : std::as_const(m_clients))
            g_object_unref(client);
        m_clients.clear();
        if (m_sources)
            g_object_unref(m_sources);
        m_sources = nullptr;
        for (auto *process : {&m_registry, &m_factory}) {
            if (!*process)
                continue;
            (*process)->terminate();
            if (!(*process)->waitForFinished(5000))
                (*process)->kill();
            (*process)->waitForFinished(5000);
            process->reset();
        }
        waitForName(registryName, false);
        waitForName(factoryName, false);
    }

    ESourceRegistry *registry() {
        if (!m_sources) {
            GError *error = nullptr;
            m_sources = e_source_registry_new_sync(nullptr, &error);
            check(error);
        }
        return m_sources;
    }

    // A new calendar "On This Computer"; returns its UID. `file`, if given, is its iCalendar
    // file as the store finds it when it first opens the calendar: events kept as a synced
    // account's server sent them, which writing through the store would have normalised.
    QString createCalendar(const QString &name, const QString &color, const QByteArray &file = {}) {
        GError *error = nullptr;
        ESource *source = e_source_new(nullptr, nullptr, &error);
        check(error);
        if (!file.isEmpty()) {
            const QString folder = m_home.path() + QStringLiteral("/data/evolution/calendar/") +
                                   QString::fromUtf8(e_source_get_uid(source));
            QDir().mkpath(folder);
            QFile ics(folder + QStringLiteral("/calendar.ics"));
            if (!ics.open(QIODevice::WriteOnly) || ics.write(file) != file.size())
                qFatal("cannot write %s", qPrintable(ics.fileName()));
        }
        e_source_set_display_name(source, name.toUtf8().constData());
        e_source_set_parent(source, "local-stub");
        auto *calendar = static_cast<ESourceCalendar *>(
            e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR));
        e_source_backend_set_backend_name(E_SOURCE_BACKEND(calendar), "local");
        e_source_selectable_set_color(E_SOURCE_SELECTABLE(calendar), color.toUtf8().constData());
        e_source_registry_commit_source_sync(registry(), source, nullptr, &error);
        check(error);
        const QString uid = QString::fromUtf8(e_source_get_uid(source));
        g_object_unref(source);
        return uid;
    }

    // A calendar of an online account: the account's collection, as GNOME Online Accounts
    // adds one, with the calendar under it (local here: no network is reached). Both are
    // written at once, as an account's sources are; returns the calendar's UID.
    QString createAccountCalendar(const QString &identity, const QString &name,
                                  const QString &color) {
        GError *error = nullptr;
        ESource *account = e_source_new(nullptr, nullptr, &error);
        check(error);
        e_source_set_display_name(account, identity.toUtf8().constData());
        auto *collection = static_cast<ESourceCollection *>(
            e_source_get_extension(account, E_SOURCE_EXTENSION_COLLECTION));
        e_source_backend_set_backend_name(E_SOURCE_BACKEND(collection), "none");
        e_source_collection_set_identity(collection, identity.toUtf8().constData());
        ESource *source = e_source_new(nullptr, nullptr, &error);
        check(error);
        e_source_set_display_name(source, name.toUtf8().constData());
        e_source_set_parent(source, e_source_get_uid(account));
        auto *calendar = static_cast<ESourceCalendar *>(
            e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR));
        e_source_backend_set_backend_name(E_SOURCE_BACKEND(calendar), "local");
        e_source_selectable_set_color(E_SOURCE_SELECTABLE(calendar), color.toUtf8().constData());
        GList *both = g_list_append(g_list_append(nullptr, account), source);
        e_source_registry_create_sources_sync(registry(), both, nullptr, &error);
        g_list_free(both);
        check(error);
        const QString uid = QString::fromUtf8(e_source_get_uid(source));
        g_object_unref(source);
        g_object_unref(account);
        return uid;
    }

    // One of the user's own addresses, as a mail account's identity holds it.
    void addIdentity(const QString &address) {
        GError *error = nullptr;
        ESource *source = e_source_new(nullptr, nullptr, &error);
        check(error);
        e_source_set_display_name(source, address.toUtf8().constData());
        auto *identity = static_cast<ESourceMailIdentity *>(
            e_source_get_extension(source, E_SOURCE_EXTENSION_MAIL_IDENTITY));
        e_source_mail_identity_set_address(identity, address.toUtf8().constData());
        e_source_registry_commit_source_sync(registry(), source, nullptr, &error);
        check(error);
        g_object_unref(source);
    }

    void setEnabled(const QString &calendarUid, bool enabled) {
        ESource *source = e_source_registry_ref_source(registry(), calendarUid.toUtf8());
        QVERIFY2(source, "no such calendar");
        e_source_set_enabled(source, enabled);
        GError *error = nullptr;
        e_source_write_sync(source, nullptr, &error);
        g_object_unref(source);
        check(error);
    }

    // Publishes iCalendar text (a VCALENDAR of one or more VEVENTs) into the calendar; an
    // event whose UID is already there is replaced.
    void put(const QString &calendarUid, const QByteArray &ics) {
        ICalComponent *calendar = i_cal_component_new_from_string(ics.constData());
        QVERIFY2(calendar, "the iCalendar text does not parse");
        GError *error = nullptr;
        e_cal_client_receive_objects_sync(client(calendarUid), calendar, E_CAL_OPERATION_FLAG_NONE,
                                          nullptr, &error);
        g_object_unref(calendar);
        check(error);
    }

    void remove(const QString &calendarUid, const QByteArray &eventUid) {
        GError *error = nullptr;
        e_cal_client_remove_object_sync(client(calendarUid), eventUid.constData(), nullptr,
                                        E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE, nullptr,
                                        &error);
        check(error);
    }

    ECalClient *client(const QString &calendarUid) {
        if (ECalClient *known = m_clients.value(calendarUid))
            return known;
        ESource *source = e_source_registry_ref_source(registry(), calendarUid.toUtf8());
        if (!source)
            qFatal("no calendar %s", qPrintable(calendarUid));
        GError *error = nullptr;
        EClient *client =
            e_cal_client_connect_sync(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, 30, nullptr, &error);
        g_object_unref(source);
        check(error);
        m_clients.insert(calendarUid, E_CAL_CLIENT(client));
        return E_CAL_CLIENT(client);
    }

private:
    static void check(GError *error) {
        if (error)
            qFatal("the calendar store refused: %s", error->message);
    }

    static std::unique_ptr<QProcess> launch(const QString &program) {
        auto process = std::make_unique<QProcess>();
        process->setProgram(program);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        process->start();
        process->waitForStarted(5000);
        return process;
    }

    static bool waitForName(const char *name, bool present) {
        QDeadlineTimer deadline(20000);
        QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        while (!deadline.hasExpired()) {
            if (bus->isServiceRegistered(QLatin1String(name)).value() == present)
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    QTemporaryDir m_home;
    std::unique_ptr<QProcess> m_factory, m_registry;
    ESourceRegistry *m_sources = nullptr;
    QHash<QString, ECalClient *> m_clients;
};
