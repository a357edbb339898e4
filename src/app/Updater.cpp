#include "Updater.h"

#include "AppLog.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "platform/UpdateInstaller.h"
#include "platform/UpdateSignature.h"

#include <QCoroNetworkReply>
#include <QDir>
#include <QFile>
#include <QNetworkReply>
#include <QTemporaryFile>
#include <memory>

namespace {
using Key = AppSettings::Key;

constexpr auto scheduleTick = std::chrono::hours(1);

struct ReplyDeleter {
    void operator()(QNetworkReply *reply) const {
        // The handlers capture the coroutine's locals, which end with it.
        reply->disconnect();
        reply->deleteLater();
    }
};
using ReplyPtr = std::unique_ptr<QNetworkReply, ReplyDeleter>;

QString transportText(QNetworkReply::NetworkError code) {
    switch (code) {
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        return QStringLiteral("The update server stopped responding. Try again later.");
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return QStringLiteral("The update server could not be reached. Check your internet "
                              "connection and try again.");
    default:
        return QStringLiteral("The update could not be downloaded.");
    }
}

QNetworkRequest requestFor(const QUrl &url, std::chrono::milliseconds timeout) {
    QNetworkRequest request(url);
    request.setTransferTimeout(int(timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    return request;
}
} // namespace

QUrl Updater::feedFromEnvironment() {
    const QString fromEnvironment = qEnvironmentVariable("ZELVANE_UPDATE_FEED").trimmed();
    return QUrl(fromEnvironment.isEmpty() ? QStringLiteral("https://zelvane.app/appcast.xml")
                                          : fromEnvironment);
}

Updater::Updater(AppSettings &settings, Clock &clock, UpdateInstaller &installer, Config config,
                 QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_clock(clock)
    , m_installer(installer)
    , m_config(std::move(config)) {}

Updater::~Updater() = default;

bool Updater::automaticallyChecksForUpdates() const {
    return m_settings.value(Key::UpdateChecksEnabled).toBool();
}

void Updater::setAutomaticallyChecksForUpdates(bool enabled) {
    if (enabled == automaticallyChecksForUpdates() && m_settings.contains(Key::UpdateChecksEnabled))
        return;
    m_settings.setValue(Key::UpdateChecksEnabled, enabled);
    Q_EMIT automaticallyChecksForUpdatesChanged();
}

bool Updater::automaticallyDownloadsUpdates() const {
    return m_settings.value(Key::UpdateDownloadsEnabled).toBool();
}

void Updater::setAutomaticallyDownloadsUpdates(bool enabled) {
    if (enabled == automaticallyDownloadsUpdates() &&
        m_settings.contains(Key::UpdateDownloadsEnabled))
        return;
    m_settings.setValue(Key::UpdateDownloadsEnabled, enabled);
    Q_EMIT automaticallyDownloadsUpdatesChanged();
}

QDateTime Updater::lastUpdateCheckDate() const {
    return m_settings.value(Key::UpdateLastCheck).toDateTime();
}

void Updater::startScheduledChecks() {
    const auto tick = [this] {
        if (m_busy || !automaticallyChecksForUpdates())
            return;
        const QDateTime last = lastUpdateCheckDate();
        if (!last.isValid() ||
            last.secsTo(m_clock.now()) >= std::chrono::seconds(checkInterval).count())
            runCheck(false);
    };
    m_clock.after(std::chrono::minutes(1), this, tick);
    m_clock.every(scheduleTick, this, tick);
}

QCoro::Task<std::optional<AppcastItem>> Updater::check() {
    QPointer<Updater> self(this);
    ReplyPtr reply(m_network.get(requestFor(m_config.feed, m_config.transferTimeout)));
    // Feeds are small; anything much larger is not one.
    connect(reply.get(), &QNetworkReply::downloadProgress, reply.get(),
            [reply = reply.get()](qint64 received, qint64) {
                if (received > Appcast::maxFeedBytes)
                    reply->abort();
            });
    co_await reply.get();
    if (!self)
        co_return std::nullopt;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError && status == 0)
        throw UpdateError(transportText(reply->error()));
    if (status != 200)
        throw UpdateError(
            QStringLiteral("The update feed answered with status %1. Try again later.")
                .arg(status));
    const auto items = Appcast::parse(reply->readAll());
    if (!items)
        throw UpdateError(
            QStringLiteral("The update information could not be read. Try again later."));

    const std::optional<AppcastItem> newest = Appcast::newest(*items);
    if (newest)
        m_settings.setValue(Key::UpdateLastItem, newest->toRecord());
    m_settings.setValue(Key::UpdateLastCheck, m_clock.now());
    Q_EMIT lastUpdateCheckDateChanged();
    if (newest && Appcast::compareVersions(newest->displayVersion(), m_config.runningVersion) > 0)
        co_return newest;
    co_return std::nullopt;
}

QCoro::Task<QString> Updater::download(AppcastEnclosure enclosure) {
    QPointer<Updater> self(this);
    QDir().mkpath(m_config.downloadDir);
    const QString suffix =
        enclosure.isDebianPackage() ? QStringLiteral(".deb") : QStringLiteral(".tar.gz");
    auto file = std::make_shared<QTemporaryFile>(m_config.downloadDir +
                                                 QStringLiteral("/zelvane-update-XXXXXX") + suffix);
    if (!file->open())
        throw UpdateError(QStringLiteral("There is no room to save the update."));

    ReplyPtr reply(m_network.get(requestFor(enclosure.url, m_config.transferTimeout)));
    const qint64 expected = enclosure.length;
    bool tooLong = false, writeFailed = false;
    connect(reply.get(), &QNetworkReply::readyRead, reply.get(),
            [reply = reply.get(), file, expected, &tooLong, &writeFailed] {
                const QByteArray chunk = reply->readAll();
                if (file->size() + chunk.size() > expected) {
                    tooLong = true;
                    reply->abort();
                } else if (file->write(chunk) != chunk.size()) {
                    writeFailed = true;
                    reply->abort();
                }
            });
    connect(reply.get(), &QNetworkReply::downloadProgress, this,
            [this, expected](qint64 received, qint64) {
                Q_EMIT downloadProgress(std::min(received, expected), expected);
            });
    co_await reply.get();
    if (!self)
        throw UpdateError(QStringLiteral("The update was cancelled."));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_cancelled)
        throw UpdateError(QStringLiteral("The update was cancelled."));
    if (writeFailed)
        throw UpdateError(QStringLiteral("There is no room to save the update."));
    if (tooLong)
        throw UpdateError(QStringLiteral("The download is larger than announced, so it was "
                                         "deleted and not installed."));
    if (status != 0 && status != 200)
        throw UpdateError(QStringLiteral("The update server answered with status %1. Try again "
                                         "later.")
                              .arg(status));
    if (reply->error() != QNetworkReply::NoError && file->size() == 0)
        throw UpdateError(transportText(reply->error()));
    file->flush();
    if (file->size() != expected)
        throw UpdateError(QStringLiteral("The download was incomplete, so it was deleted and not "
                                         "installed. Try again later."));
    if (!UpdateSignature::verifyFile(file->fileName(), enclosure.edSignature, m_config.publicKey))
        throw UpdateError(QStringLiteral("The update's signature is not valid, so it was deleted "
                                         "and not installed."));
    file->setAutoRemove(false);
    co_return file->fileName();
}

void Updater::checkForUpdates() {
    if (m_busy)
        return;
    runCheck(true);
}

void Updater::install(const AppcastItem &item) {
    if (m_busy)
        return;
    runInstall(item);
}

void Updater::skipVersion(const AppcastItem &item) {
    m_settings.setValue(Key::UpdateSkippedVersion, item.displayVersion());
}

void Updater::cancel() {
    m_cancelled = true;
    for (QNetworkReply *reply : m_network.findChildren<QNetworkReply *>())
        reply->abort();
}

bool Updater::isSkipped(const AppcastItem &item) const {
    return m_settings.value(Key::UpdateSkippedVersion).toString() == item.displayVersion();
}

void Updater::setBusy(bool busy) {
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        m_cancelled = false;
    Q_EMIT busyChanged();
}

QCoro::Task<> Updater::runCheck(bool userInitiated) {
    QPointer<Updater> self(this);
    setBusy(true);
    if (userInitiated)
        Q_EMIT checkStarted();
    try {
        const std::optional<AppcastItem> found = co_await check();
        if (!self)
            co_return;
        setBusy(false);
        if (m_cancelled)
            co_return;
        // Only a check the user asked for offers a version they chose to skip.
        if (found && (userInitiated || !isSkipped(*found)))
            Q_EMIT updateFound(*found);
        else if (userInitiated)
            Q_EMIT upToDate(m_config.runningVersion);
    } catch (const Error &error) {
        qCWarning(lcApp) << "update check failed:" << error.description();
        if (!self)
            co_return;
        setBusy(false);
        if (userInitiated && !m_cancelled)
            Q_EMIT failed(error.description());
    } catch (const std::exception &error) {
        qCWarning(lcApp) << "update check failed:" << error.what();
        if (self) {
            setBusy(false);
            if (userInitiated)
                Q_EMIT failed(QStringLiteral("The update check failed."));
        }
    }
}

QCoro::Task<> Updater::runInstall(AppcastItem item) {
    QPointer<Updater> self(this);
    setBusy(true);
    try {
        const std::optional<AppcastEnclosure> enclosure =
            item.enclosureFor(m_installer.usesDebianPackage());
        if (!enclosure)
            throw UpdateError(QStringLiteral("This update offers no download for this kind of "
                                             "installation."));
        Q_EMIT downloadStarted();
        const QString file = co_await download(*enclosure);
        if (!self)
            co_return;
        Q_EMIT installStarted();
        UpdateInstaller::Outcome outcome;
        try {
            outcome = co_await m_installer.install(file, item.displayVersion());
        } catch (...) {
            QFile::remove(file);
            throw;
        }
        // The desktop's package installer still reads the file; otherwise it is spent.
        if (outcome != UpdateInstaller::Outcome::handedToInstaller)
            QFile::remove(file);
        if (!self)
            co_return;
        setBusy(false);
        Q_EMIT installed(outcome == UpdateInstaller::Outcome::restarted);
    } catch (const Error &error) {
        qCWarning(lcApp) << "update install failed:" << error.description();
        if (self) {
            setBusy(false);
            Q_EMIT failed(error.description());
        }
    } catch (const std::exception &error) {
        qCWarning(lcApp) << "update install failed:" << error.what();
        if (self) {
            setBusy(false);
            Q_EMIT failed(QStringLiteral("The update could not be installed."));
        }
    }
}
