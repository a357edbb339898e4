#include "UpdateDialogs.h"

#include "Updater.h"
#include "ui/UpdateDialog.h"

UpdateDialogs::UpdateDialogs(Updater &updater, QObject *parent)
    : QObject(parent)
    , m_updater(updater) {
    connect(&updater, &Updater::checkStarted, this, [this] { ensureDialog().showChecking(); });
    connect(&updater, &Updater::upToDate, this,
            [this](const QString &version) { ensureDialog().showUpToDate(version); });
    connect(&updater, &Updater::updateFound, this, [this](const AppcastItem &item) {
        m_offered = item;
        ensureDialog().showUpdateFound(item.displayVersion(), m_updater.config().runningVersion,
                                       item.description, item.releaseNotesLink);
    });
    connect(&updater, &Updater::downloadStarted, this,
            [this] { ensureDialog().showDownloading(); });
    connect(&updater, &Updater::downloadProgress, this, [this](qint64 received, qint64 total) {
        if (m_dialog)
            m_dialog->setProgress(received, total);
    });
    connect(&updater, &Updater::installStarted, this, [this] { ensureDialog().showInstalling(); });
    connect(&updater, &Updater::installed, this, [this](bool restarted) {
        if (restarted) {
            // done() rather than close(): the installing step refuses to be closed.
            if (m_dialog)
                m_dialog->done(QDialog::Accepted);
        } else {
            ensureDialog().showHandedToInstaller();
        }
    });
    connect(&updater, &Updater::failed, this,
            [this](const QString &description) { ensureDialog().showError(description); });
}

UpdateDialogs::~UpdateDialogs() {
    delete m_dialog;
}

UpdateDialog &UpdateDialogs::ensureDialog() {
    if (m_dialog)
        return *m_dialog;
    m_dialog = new UpdateDialog;
    connect(m_dialog, &UpdateDialog::installRequested, this, [this] {
        if (m_offered)
            m_updater.install(*m_offered);
    });
    connect(m_dialog, &UpdateDialog::skipRequested, this, [this] {
        if (m_offered)
            m_updater.skipVersion(*m_offered);
        m_dialog->done(QDialog::Rejected);
    });
    connect(m_dialog, &UpdateDialog::laterRequested, this,
            [this] { m_dialog->done(QDialog::Rejected); });
    connect(m_dialog, &UpdateDialog::cancelRequested, this, [this] {
        m_updater.cancel();
        m_dialog->done(QDialog::Rejected);
    });
    return *m_dialog;
}
