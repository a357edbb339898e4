#include "Updater.h"

#include "AppLog.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "platform/HostLookup.h"
#include "platform/UpdateInstaller.h"
#include "platform/UpdateSignature.h"
#include "sync/HttpExchange.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <memory>

namespace {
using Key = AppSettings::Key;

constexpr auto scheduleTick = std::chrono::hours(1);

QString transportText(QNetworkReply::NetworkError code) {
    switch (code) {
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        return Updater::tr("The update server stopped responding. Try again later.");
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return Updater::tr("The update server could not be reached. Check your internet "
                           "connection and try again.");
    default:
        return Updater::tr("The update could not be downloaded.");
    }
}

// The appcast and the download: short answers, a steady transfer, and a stall that ends.
HttpLimits limitsFor(std::chrono::milliseconds idle, std::optional<qint64> maxBytes) {
    return HttpLimits{idle, std::nullopt, maxBytes};
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

Updater::~Updater() {
    dropReadyUpdate();
}

QNetworkAccessManager &Updater::acquireNetwork() {
    if (!m_network)
        m_network = std::make_unique<QNetworkAccessManager>();
    ++m_transfers;
    return *m_network;
}

void Updater::releaseNetwork() {
    // Later, not now: the reply that just finished may still be on the stack.
    if (--m_transfers == 0 && m_network)
        m_network.release()->deleteLater();
}

std::optional<AppcastItem> Updater::readyUpdate() const {
    return m_ready ? std::optional(m_ready->item) : std::nullopt;
}

void Updater::dropReadyUpdate() {
    if (m_ready && !m_ready->file.isEmpty())
        QFile::remove(m_ready->file);
    m_ready.reset();
}

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
    // Switched off, nothing is installed without asking any more.
    if (!enabled)
        dropReadyUpdate();
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
    QNetworkAccessManager &network = acquireNetwork();
    const auto release = qScopeGuard([self] {
        if (self)
            self->releaseNetwork();
    });
    HttpReply reply;
    try {
        // Feeds are small; anything much larger is not one.
        reply = co_await sendRequest(network, QNetworkRequest(m_config.feed), HttpVerb::get, {},
                                     limitsFor(m_config.transferTimeout, Appcast::maxFeedBytes));
    } catch (const TransportError &error) {
        throw UpdateError(transportText(error.code()));
    } catch (const RedirectError &) {
        throw UpdateError(tr("The update feed moved to another server, which Zelvane does not "
                             "follow. Try again later."));
    } catch (const Error &) {
        throw UpdateError(tr("The update could not be downloaded."));
    }
    if (!self)
        co_return std::nullopt;
    if (reply.status != 200)
        throw UpdateError(
            tr("The update feed answered with status %1. Try again later.").arg(reply.status));
    const auto items = Appcast::parse(reply.body);
    if (!items)
        throw UpdateError(tr("The update information could not be read. Try again later."));

    const std::optional<AppcastItem> newest = Appcast::newest(*items);
    if (newest)
        m_settings.setValue(Key::UpdateLastItem, newest->toRecord());
    m_settings.setValue(Key::UpdateLastCheck, m_clock.now());
    Q_EMIT lastUpdateCheckDateChanged();
    if (newest && Appcast::compareVersions(newest->displayVersion(), m_config.runningVersion) > 0)
        co_return newest;
    co_return std::nullopt;
}

QCoro::Task<QString> Updater::download(AppcastEnclosure enclosure, bool announce) {
    QPointer<Updater> self(this);
    QDir().mkpath(m_config.downloadDir);
    const QString suffix =
        enclosure.isDebianPackage() ? QStringLiteral(".deb") : QStringLiteral(".tar.gz");
    auto file = std::make_shared<QTemporaryFile>(m_config.downloadDir +
                                                 QStringLiteral("/zelvane-update-XXXXXX") + suffix);
    if (!file->open())
        throw UpdateError(tr("There is no room to save the update."));

    const qint64 expected = enclosure.length;
    bool tooLong = false, writeFailed = false;
    HttpReceive receive;
    receive.sink = [&file, expected, &tooLong, &writeFailed](QByteArrayView chunk) {
        tooLong = file->size() + chunk.size() > expected;
        writeFailed = !tooLong && file->write(chunk.data(), chunk.size()) != chunk.size();
        return !tooLong && !writeFailed;
    };
    if (announce) {
        receive.progress = [this, expected](qint64 received, qint64) {
            Q_EMIT downloadProgress(std::min(received, expected), expected);
        };
    }
    // The payload is checked against its signature, so it may come from another origin
    // (a mirror, a release host) than the appcast named.
    receive.anyOriginRedirects = true;
    std::optional<QNetworkReply::NetworkError> failure;
    int status = 0;
    QNetworkAccessManager &network = acquireNetwork();
    const auto release = qScopeGuard([self] {
        if (self)
            self->releaseNetwork();
    });
    try {
        const HttpReply reply =
            co_await sendRequest(network, QNetworkRequest(enclosure.url), HttpVerb::get, {},
                                 limitsFor(m_config.transferTimeout, std::nullopt), receive);
        status = reply.status;
    } catch (const TransportError &error) {
        failure = error.code();
    } catch (const Error &) {
        failure = QNetworkReply::UnknownNetworkError;
    }
    if (!self || m_cancelled)
        throw UpdateError(tr("The update was cancelled."));
    if (writeFailed)
        throw UpdateError(tr("There is no room to save the update."));
    if (tooLong)
        throw UpdateError(tr("The download is larger than announced, so it was "
                             "deleted and not installed."));
    if (!failure && status != 200)
        throw UpdateError(tr("The update server answered with status %1. Try again "
                             "later.")
                              .arg(status));
    if (failure && file->size() == 0)
        throw UpdateError(transportText(*failure));
    file->flush();
    if (file->size() != expected)
        throw UpdateError(tr("The download was incomplete, so it was deleted and not "
                             "installed. Try again later."));
    if (!UpdateSignature::verifyFile(file->fileName(), enclosure.edSignature, m_config.publicKey))
        throw UpdateError(tr("The update's signature is not valid, so it was deleted "
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
    if (!m_network)
        return;
    for (QNetworkReply *reply : m_network->findChildren<QNetworkReply *>())
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
    if (!userInitiated) {
        const QString host = m_config.feed.host();
        bool online = true;
        if (!host.isEmpty())
            online = co_await HostLookup::resolves(host);
        if (!self)
            co_return;
        if (!online) {
            qCInfo(lcApp) << "update check left for later: the feed's host does not resolve";
            setBusy(false);
            co_return;
        }
    }
    try {
        const std::optional<AppcastItem> found = co_await check();
        if (!self)
            co_return;
        setBusy(false);
        if (m_cancelled)
            co_return;
        // Only a check the user asked for offers a version they chose to skip.
        const bool offered = found && (userInitiated || !isSkipped(*found));
        if (offered && !userInitiated && automaticallyDownloadsUpdates() &&
            !m_installer.refusal(found->displayVersion()))
            prepareInBackground(*found);
        else if (offered)
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
                Q_EMIT failed(tr("The update check failed."));
        }
    }
}

QCoro::Task<> Updater::runInstall(AppcastItem item) {
    QPointer<Updater> self(this);
    setBusy(true);
    try {
        if (const auto why = m_installer.refusal(item.displayVersion()))
            throw UpdateError(*why);
        // The same version, downloaded and verified in the background, is not fetched again.
        QString file;
        if (m_ready && !m_ready->file.isEmpty() &&
            m_ready->item.displayVersion() == item.displayVersion()) {
            file = m_ready->file;
            m_ready.reset();
        } else {
            const std::optional<AppcastEnclosure> enclosure =
                item.enclosureFor(m_installer.usesDebianPackage());
            if (!enclosure)
                throw UpdateError(tr("This update offers no download for this kind "
                                     "of installation."));
            Q_EMIT downloadStarted();
            file = co_await download(*enclosure);
        }
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
        // Whatever was made ready in the background is older or the same.
        dropReadyUpdate();
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
            Q_EMIT failed(tr("The update could not be installed."));
        }
    }
}

void Updater::installReadyUpdate() {
    if (m_busy || !m_ready || m_ready->file.isEmpty())
        return;
    runInstall(m_ready->item);
}

void Updater::finishAtQuit() {
    if (!m_ready || !m_ready->file.isEmpty())
        return;
    const QString version = m_ready->item.displayVersion();
    m_ready.reset();
    if (m_installer.finishPrepared(version))
        qCInfo(lcApp) << "Zelvane" << version << "will run from the next start";
    else
        qCWarning(lcApp) << "the prepared update to" << version << "could not be put in place";
}

QCoro::Task<> Updater::prepareInBackground(AppcastItem item) {
    QPointer<Updater> self(this);
    const QString version = item.displayVersion();
    // Found again by a later check: it is ready already, and offered once.
    if (m_ready && m_ready->item.displayVersion() == version)
        co_return;
    setBusy(true);
    // A scheduled check is a boundary: failures are logged, and the next check tries again.
    try {
        const std::optional<AppcastEnclosure> enclosure =
            item.enclosureFor(m_installer.usesDebianPackage());
        if (!enclosure)
            throw UpdateError(tr("This update offers no download for this kind of "
                                 "installation."));
        const QString file = co_await download(*enclosure, false);
        if (!self) {
            QFile::remove(file);
            co_return;
        }
        if (m_installer.installsAtQuit()) {
            try {
                co_await m_installer.prepare(file, version);
            } catch (...) {
                QFile::remove(file);
                throw;
            }
            QFile::remove(file);
            if (!self)
                co_return;
            dropReadyUpdate();
            m_ready = Ready{item, {}};
            setBusy(false);
            qCInfo(lcApp) << "Zelvane" << version << "is ready and will be installed at quit";
        } else {
            dropReadyUpdate();
            m_ready = Ready{item, file};
            setBusy(false);
            Q_EMIT updateReadyToInstall(item);
        }
    } catch (const std::exception &error) {
        qCWarning(lcApp) << "preparing the update to" << version << "failed:" << error.what();
        if (self)
            setBusy(false);
    }
}
