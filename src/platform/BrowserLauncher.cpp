#include "BrowserLauncher.h"

#include <QDesktopServices>

QString BrowserError::description() const {
    return QStringLiteral("No web browser could be opened. Set a default browser and try again.");
}

void BrowserLauncher::openPage(const QUrl &url) {
    if (!QDesktopServices::openUrl(url))
        throw BrowserError();
}
