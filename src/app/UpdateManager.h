#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class AppSettings;
class Updater;

// Tells the tray menu and the settings window whether a newer version than the running one
// is known, and carries the update preferences they show.
class UpdateManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool updateAvailable READ updateAvailable NOTIFY updateAvailableChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)

public:
    UpdateManager(Updater &updater, AppSettings &settings, QString runningVersion,
                  QObject *parent = nullptr);

    bool updateAvailable() const { return m_updateAvailable; }
    bool automaticallyChecksForUpdates() const;
    // The settings switch: turns automatic checks and, with them, the quiet download and
    // preparation of what they find on or off.
    void setAutomaticallyChecksForUpdates(bool enabled);
    Updater &updater() const { return m_updater; }

public Q_SLOTS:
    // A user-visible check through the updater's own dialogs.
    void checkForUpdates();
    // Derives updateAvailable from the last found item and the running version; done again
    // whenever that item is stored.
    void checkUpdateState();

Q_SIGNALS:
    void updateAvailableChanged(bool available);
    void automaticallyChecksForUpdatesChanged();

private:
    Updater &m_updater;
    AppSettings &m_settings;
    QString m_runningVersion;
    bool m_updateAvailable = false;
};
