#pragma once

#include "Appcast.h"
#include "platform/Error.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <chrono>
#include <memory>
#include <optional>

class AppSettings;
class Clock;
class QNetworkAccessManager;
class UpdateInstaller;

// A check, download or installation that failed, described for the user.
class UpdateError : public Error {
public:
    explicit UpdateError(QString text)
        : m_text(std::move(text)) {}
    QString description() const override { return m_text; }

private:
    QString m_text;
};

// Finds, downloads, verifies and installs updates from the appcast feed, and keeps the
// updater's records in the settings. A user-visible session (checkForUpdates, install)
// announces each step so that dialogs can follow it. With automatic updates on, an update that
// a scheduled check finds is downloaded and verified without a word; an installation that can
// take it at quit prepares it for then, any other is offered through updateReadyToInstall.
class Updater : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)
    Q_PROPERTY(bool automaticallyDownloadsUpdates READ automaticallyDownloadsUpdates WRITE
                   setAutomaticallyDownloadsUpdates NOTIFY automaticallyDownloadsUpdatesChanged)
    Q_PROPERTY(
        QDateTime lastUpdateCheckDate READ lastUpdateCheckDate NOTIFY lastUpdateCheckDateChanged)
    Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged)

public:
    struct Config {
        QUrl feed;
        QString runningVersion;
        QByteArray publicKey; // Ed25519, 32 raw bytes
        QString downloadDir;
        std::chrono::milliseconds transferTimeout = std::chrono::seconds(30);
    };

    static constexpr std::chrono::hours checkInterval{24};

    // $ZELVANE_UPDATE_FEED, or the project's release feed.
    static QUrl feedFromEnvironment();

    Updater(AppSettings &settings, Clock &clock, UpdateInstaller &installer, Config config,
            QObject *parent = nullptr);
    ~Updater() override;

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool enabled);
    bool automaticallyDownloadsUpdates() const;
    void setAutomaticallyDownloadsUpdates(bool enabled);
    QDateTime lastUpdateCheckDate() const;
    bool isBusy() const { return m_busy; }
    const Config &config() const { return m_config; }

    // Starts the daily background checks (evaluated hourly while automatic checks are on). A
    // background check whose feed host does not resolve (no network yet) is left for the
    // next hour without touching the network stack.
    void startScheduledChecks();

    // Fetches the feed and records its newest item under "SULastItem" and the time of the
    // check; returns that item when it is newer than the running version.
    QCoro::Task<std::optional<AppcastItem>> check();
    // Downloads the enclosure, checks its length and signature, and returns the file's path.
    // A file that fails either check is deleted. Progress is announced when `announce` is set.
    QCoro::Task<QString> download(AppcastEnclosure enclosure, bool announce = true);

    // The update found and verified in the background, waiting for the quit or the user.
    std::optional<AppcastItem> readyUpdate() const;

public Q_SLOTS:
    // A check the user asked for: announces every outcome.
    void checkForUpdates();
    // Downloads, verifies and installs the item's enclosure for this kind of installation.
    void install(const AppcastItem &item);
    void skipVersion(const AppcastItem &item);
    void cancel();
    // Installs the update offered through updateReadyToInstall.
    void installReadyUpdate();
    // Puts an update prepared for the quit in place; called as the application quits.
    void finishAtQuit();

Q_SIGNALS:
    void automaticallyChecksForUpdatesChanged();
    void automaticallyDownloadsUpdatesChanged();
    void lastUpdateCheckDateChanged();
    void busyChanged();

    void checkStarted();
    void upToDate(const QString &runningVersion);
    void updateFound(const AppcastItem &item);
    // Downloaded and verified without asking; installing it needs the user's word.
    void updateReadyToInstall(const AppcastItem &item);
    void downloadStarted();
    void downloadProgress(qint64 received, qint64 total);
    void installStarted();
    // The new version runs (or is installed for the next start); this process should end.
    void installed(bool quitNow);
    void failed(const QString &description);

private:
    QCoro::Task<> runCheck(bool userInitiated);
    QCoro::Task<> runInstall(AppcastItem item);
    QCoro::Task<> prepareInBackground(AppcastItem item);
    // Deletes the downloaded file of the ready update, if any, and forgets it.
    void dropReadyUpdate();
    void setBusy(bool busy);
    bool isSkipped(const AppcastItem &item) const;

    AppSettings &m_settings;
    Clock &m_clock;
    UpdateInstaller &m_installer;
    Config m_config;
    // The network stack (its thread, connections and, for https, the TLS library) exists only
    // while a transfer needs it: checks are a day apart.
    QNetworkAccessManager &acquireNetwork();
    void releaseNetwork();

    std::unique_ptr<QNetworkAccessManager> m_network;
    int m_transfers = 0;
    bool m_busy = false;
    bool m_cancelled = false;
    // The update made ready in the background: prepared for the quit (no file), or its
    // verified download awaiting the user's word.
    struct Ready {
        AppcastItem item;
        QString file;
    };
    std::optional<Ready> m_ready;
};
