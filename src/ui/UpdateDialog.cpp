#include "UpdateDialog.h"

#include "Theme.h"
#include "Widgets.h"

#include <QDesktopServices>
#include <QProgressBar>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <algorithm>

UpdateDialog::UpdateDialog(QWidget *parent)
    : AppDialog(parent) {
    setWindowTitle(tr("Software Update"));
    setMinimumWidth(460);
}

void UpdateDialog::reset(Step step, const QString &heading, const QString &text) {
    m_step = step;
    m_progress = nullptr;
    startPage(heading, text);
}

QProgressBar *UpdateDialog::addProgressBar(const QString &accessibleName) {
    auto *bar = new QProgressBar(page());
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedHeight(6);
    bar->setAccessibleName(accessibleName);
    bar->setStyleSheet(QStringLiteral("QProgressBar { background: %1; border: none; "
                                      "border-radius: 3px; } QProgressBar::chunk { background: "
                                      "%2; border-radius: 3px; }")
                           .arg(Theme::cssColor(Theme::Colors::cardSubtle()),
                                Theme::cssColor(Theme::Colors::primary())));
    pageLayout()->addWidget(bar);
    return bar;
}

void UpdateDialog::showChecking() {
    reset(Step::checking, tr("Checking for updates…"), {});
    m_progress = addProgressBar(tr("Checking for updates…"));
    connect(addButton(tr("Cancel"), CapsuleButton::Style::secondary, true),
            &QAbstractButton::clicked, this, &UpdateDialog::cancelRequested);
    showPage();
}

void UpdateDialog::showUpToDate(const QString &runningVersion) {
    reset(Step::upToDate, tr("You're up to date!"),
          tr("Zelvane %1 is currently the newest version available.").arg(runningVersion));
    connect(addButton(tr("OK"), CapsuleButton::Style::primary, true), &QAbstractButton::clicked,
            this, &QDialog::close);
    showPage();
}

void UpdateDialog::showUpdateFound(const QString &version, const QString &runningVersion,
                                   const QString &releaseNotes, const QUrl &releaseNotesLink) {
    reset(Step::found, tr("A new version of Zelvane is available!"),
          tr("Zelvane %1 is now available — you have %2. Would you like to install "
             "it now?")
              .arg(version, runningVersion));
    if (!releaseNotes.isEmpty()) {
        pageLayout()->addWidget(Widgets::label(tr("Release Notes"), Theme::Typography::bodyMedium(),
                                               Theme::Colors::textPrimary(), page()));
        auto *notes = new QTextBrowser(page());
        // Feed text is shown as text: no markup, no remote resources.
        notes->setPlainText(releaseNotes);
        notes->setAccessibleName(tr("Release Notes"));
        notes->setMinimumHeight(140);
        notes->setFrameShape(QFrame::NoFrame);
        pageLayout()->addWidget(notes);
    }
    if (releaseNotesLink.isValid()) {
        QAbstractButton *link = addButton(tr("Release Notes…"), CapsuleButton::Style::ghost, false);
        connect(link, &QAbstractButton::clicked, this,
                [releaseNotesLink] { QDesktopServices::openUrl(releaseNotesLink); });
    }
    connect(addButton(tr("Skip This Version"), CapsuleButton::Style::secondary, false),
            &QAbstractButton::clicked, this, &UpdateDialog::skipRequested);
    connect(addButton(tr("Later"), CapsuleButton::Style::secondary, false),
            &QAbstractButton::clicked, this, &UpdateDialog::laterRequested);
    connect(addButton(tr("Install"), CapsuleButton::Style::primary, true),
            &QAbstractButton::clicked, this, &UpdateDialog::installRequested);
    showPage();
}

void UpdateDialog::showDownloading() {
    reset(Step::downloading, tr("Downloading update…"), {});
    m_progress = addProgressBar(tr("Download progress"));
    connect(addButton(tr("Cancel"), CapsuleButton::Style::secondary, true),
            &QAbstractButton::clicked, this, &UpdateDialog::cancelRequested);
    showPage();
}

void UpdateDialog::setProgress(qint64 received, qint64 total) {
    if (!m_progress || m_step != Step::downloading || total <= 0)
        return;
    // Percent keeps the bar within int for any download size.
    m_progress->setRange(0, 100);
    m_progress->setValue(int(std::clamp<qint64>(received * 100 / total, 0, 100)));
}

void UpdateDialog::showInstalling() {
    reset(Step::installing, tr("Installing update…"),
          tr("Zelvane restarts when the new version is in place."));
    m_progress = addProgressBar(tr("Installing update…"));
    showPage();
}

void UpdateDialog::showHandedToInstaller() {
    reset(Step::message, tr("Finish the update in your software installer"),
          tr("The verified update was opened in your desktop's software installer. "
             "Restart Zelvane when it is installed."));
    connect(addButton(tr("OK"), CapsuleButton::Style::primary, true), &QAbstractButton::clicked,
            this, &QDialog::close);
    showPage();
}

void UpdateDialog::showError(const QString &description) {
    reset(Step::message, tr("Update failed"), description);
    connect(addButton(tr("OK"), CapsuleButton::Style::primary, true), &QAbstractButton::clicked,
            this, &QDialog::close);
    showPage();
}

void UpdateDialog::reject() {
    // Escape means "not now": it cancels a running step and postpones an offered update.
    switch (m_step) {
    case Step::checking:
    case Step::downloading:
        Q_EMIT cancelRequested();
        break;
    case Step::found:
        Q_EMIT laterRequested();
        break;
    case Step::installing:
        return;
    case Step::upToDate:
    case Step::message:
        break;
    }
    QDialog::reject();
}
