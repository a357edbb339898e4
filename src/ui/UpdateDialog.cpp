#include "UpdateDialog.h"

#include "Theme.h"
#include "Widgets.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <algorithm>

UpdateDialog::UpdateDialog(QWidget *parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Software Update"));
    setMinimumWidth(460);
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(24, 20, 24, 20);
}

void UpdateDialog::reset(Step step, const QString &heading, const QString &text) {
    m_step = step;
    delete m_page;
    m_progress = nullptr;
    m_page = new QWidget(this);
    m_pageLayout = new QVBoxLayout(m_page);
    m_pageLayout->setContentsMargins(0, 0, 0, 0);
    m_pageLayout->setSpacing(10);
    m_pageLayout->addWidget(
        Widgets::label(heading, Theme::Typography::h3(), Theme::Colors::textPrimary(), m_page));
    if (!text.isEmpty()) {
        QLabel *body =
            Widgets::label(text, Theme::Typography::body(), Theme::Colors::textSecondary(), m_page);
        body->setWordWrap(true);
        m_pageLayout->addWidget(body);
    }
    m_buttons = new QWidget(m_page);
    auto *row = new QHBoxLayout(m_buttons);
    row->setContentsMargins(0, 8, 0, 0);
    row->addStretch();
    m_layout->addWidget(m_page);
}

QPushButton *UpdateDialog::addButton(const QString &title, bool isDefault) {
    auto *button = new QPushButton(title, m_buttons);
    button->setAccessibleName(title);
    button->setAutoDefault(isDefault);
    button->setDefault(isDefault);
    m_buttons->layout()->addWidget(button);
    return button;
}

void UpdateDialog::finishButtons() {
    m_pageLayout->addWidget(m_buttons);
    // A child added to a visible window would be shown only later, leaving the size below
    // and the focus chain without the new page.
    m_page->show();
    // Focus the default button so Return and Space act on it at once.
    for (QPushButton *button : m_buttons->findChildren<QPushButton *>())
        if (button->isDefault())
            button->setFocus();
    adjustSize();
    show();
    raise();
    activateWindow();
}

void UpdateDialog::showChecking() {
    reset(Step::checking, QStringLiteral("Checking for updates…"), {});
    m_progress = new QProgressBar(m_page);
    m_progress->setRange(0, 0);
    m_progress->setAccessibleName(QStringLiteral("Checking for updates…"));
    m_pageLayout->addWidget(m_progress);
    connect(addButton(QStringLiteral("Cancel"), true), &QPushButton::clicked, this,
            &UpdateDialog::cancelRequested);
    finishButtons();
}

void UpdateDialog::showUpToDate(const QString &runningVersion) {
    reset(Step::upToDate, QStringLiteral("You're up to date!"),
          QStringLiteral("Zelvane %1 is currently the newest version available.")
              .arg(runningVersion));
    connect(addButton(QStringLiteral("OK"), true), &QPushButton::clicked, this, &QDialog::close);
    finishButtons();
}

void UpdateDialog::showUpdateFound(const QString &version, const QString &runningVersion,
                                   const QString &releaseNotes, const QUrl &releaseNotesLink) {
    reset(Step::found, QStringLiteral("A new version of Zelvane is available!"),
          QStringLiteral("Zelvane %1 is now available — you have %2. Would you like to install "
                         "it now?")
              .arg(version, runningVersion));
    if (!releaseNotes.isEmpty()) {
        m_pageLayout->addWidget(Widgets::label(QStringLiteral("Release Notes"),
                                               Theme::Typography::bodyMedium(),
                                               Theme::Colors::textPrimary(), m_page));
        auto *notes = new QTextBrowser(m_page);
        // Feed text is shown as text: no markup, no remote resources.
        notes->setPlainText(releaseNotes);
        notes->setAccessibleName(QStringLiteral("Release Notes"));
        notes->setMinimumHeight(140);
        m_pageLayout->addWidget(notes);
    }
    if (releaseNotesLink.isValid()) {
        QPushButton *link = addButton(QStringLiteral("Release Notes…"), false);
        link->setFlat(true);
        connect(link, &QPushButton::clicked, this,
                [releaseNotesLink] { QDesktopServices::openUrl(releaseNotesLink); });
    }
    connect(addButton(QStringLiteral("Skip This Version"), false), &QPushButton::clicked, this,
            &UpdateDialog::skipRequested);
    connect(addButton(QStringLiteral("Later"), false), &QPushButton::clicked, this,
            &UpdateDialog::laterRequested);
    connect(addButton(QStringLiteral("Install"), true), &QPushButton::clicked, this,
            &UpdateDialog::installRequested);
    finishButtons();
}

void UpdateDialog::showDownloading() {
    reset(Step::downloading, QStringLiteral("Downloading update…"), {});
    m_progress = new QProgressBar(m_page);
    m_progress->setRange(0, 0);
    m_progress->setAccessibleName(QStringLiteral("Download progress"));
    m_pageLayout->addWidget(m_progress);
    connect(addButton(QStringLiteral("Cancel"), true), &QPushButton::clicked, this,
            &UpdateDialog::cancelRequested);
    finishButtons();
}

void UpdateDialog::setProgress(qint64 received, qint64 total) {
    if (!m_progress || m_step != Step::downloading || total <= 0)
        return;
    // Percent keeps the bar within int for any download size.
    m_progress->setRange(0, 100);
    m_progress->setValue(int(std::clamp<qint64>(received * 100 / total, 0, 100)));
}

void UpdateDialog::showInstalling() {
    reset(Step::installing, QStringLiteral("Installing update…"),
          QStringLiteral("Zelvane restarts when the new version is in place."));
    m_progress = new QProgressBar(m_page);
    m_progress->setRange(0, 0);
    m_progress->setAccessibleName(QStringLiteral("Installing update…"));
    m_pageLayout->addWidget(m_progress);
    finishButtons();
}

void UpdateDialog::showHandedToInstaller() {
    reset(Step::message, QStringLiteral("Finish the update in your software installer"),
          QStringLiteral("The verified update was opened in your desktop's software installer. "
                         "Restart Zelvane when it is installed."));
    connect(addButton(QStringLiteral("OK"), true), &QPushButton::clicked, this, &QDialog::close);
    finishButtons();
}

void UpdateDialog::showError(const QString &description) {
    reset(Step::message, QStringLiteral("Update failed"), description);
    connect(addButton(QStringLiteral("OK"), true), &QPushButton::clicked, this, &QDialog::close);
    finishButtons();
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
