#include "UpdateManager.h"

#include "Appcast.h"
#include "Updater.h"
#include "core/AppSettings.h"

UpdateManager::UpdateManager(Updater &updater, AppSettings &settings, QString runningVersion,
                             QObject *parent)
    : QObject(parent)
    , m_updater(updater)
    , m_settings(settings)
    , m_runningVersion(std::move(runningVersion)) {
    if (!m_settings.value(AppSettings::Key::UpdateHasLaunchedBefore).toBool()) {
        m_updater.setAutomaticallyDownloadsUpdates(true);
        m_settings.setValue(AppSettings::Key::UpdateHasLaunchedBefore, true);
    }
    connect(&m_updater, &Updater::lastUpdateCheckDateChanged, this,
            &UpdateManager::checkUpdateState);
    connect(&m_updater, &Updater::automaticallyChecksForUpdatesChanged, this,
            &UpdateManager::automaticallyChecksForUpdatesChanged);
    // The recorded item is followed as it is stored, rather than read again a while after
    // start on the chance that it changed: nothing wakes the process to find it did not.
    connect(&m_settings, &AppSettings::changed, this, [this](AppSettings::Key key) {
        if (key == AppSettings::Key::UpdateLastItem)
            checkUpdateState();
    });
    checkUpdateState();
}

bool UpdateManager::automaticallyChecksForUpdates() const {
    return m_updater.automaticallyChecksForUpdates();
}

void UpdateManager::setAutomaticallyChecksForUpdates(bool enabled) {
    m_updater.setAutomaticallyChecksForUpdates(enabled);
    m_updater.setAutomaticallyDownloadsUpdates(enabled);
}

void UpdateManager::checkForUpdates() {
    m_updater.checkForUpdates();
}

void UpdateManager::checkUpdateState() {
    const QVariant lastItem = m_settings.value(AppSettings::Key::UpdateLastItem);
    if (lastItem.typeId() != QMetaType::QVariantMap)
        return;
    const QVariant version = lastItem.toMap().value(QStringLiteral("CFBundleShortVersionString"));
    if (version.typeId() != QMetaType::QString || m_runningVersion.isEmpty())
        return;
    const bool available = Appcast::compareVersions(version.toString(), m_runningVersion) > 0;
    if (available == m_updateAvailable)
        return;
    m_updateAvailable = available;
    Q_EMIT updateAvailableChanged(available);
}
