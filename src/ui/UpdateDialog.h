#pragma once

#include "AppDialog.h"

#include <QString>
#include <QUrl>

class QProgressBar;

// The updater's window: one step of an update at a time (checking, up to date, update found,
// downloading, installing, error). It only shows what it is told and reports the buttons.
class UpdateDialog : public AppDialog {
    Q_OBJECT

public:
    explicit UpdateDialog(QWidget *parent = nullptr);

    void showChecking();
    void showUpToDate(const QString &runningVersion);
    void showUpdateFound(const QString &version, const QString &runningVersion,
                         const QString &releaseNotes, const QUrl &releaseNotesLink);
    void showDownloading();
    void setProgress(qint64 received, qint64 total);
    void showInstalling();
    void showHandedToInstaller();
    void showError(const QString &description);

    QProgressBar *progressBar() const { return m_progress; }

Q_SIGNALS:
    void installRequested();
    void laterRequested();
    void skipRequested();
    void cancelRequested();

protected:
    void reject() override;

private:
    enum class Step { checking, upToDate, found, downloading, installing, message };

    void reset(Step step, const QString &heading, const QString &text);
    QProgressBar *addProgressBar(const QString &accessibleName);

    Step m_step = Step::message;
    QProgressBar *m_progress = nullptr;
};
