#include "BrowserLauncher.h"

#include <QCoreApplication>
#include <QDesktopServices>

QString BrowserError::description() const {
    return QCoreApplication::translate(
        "BrowserError", "No web browser could be opened. Set a default browser and try again.");
}

void BrowserLauncher::openPage(const QUrl &url) {
    if (!QDesktopServices::openUrl(url))
        throw BrowserError();
}
