#pragma once

#include "Error.h"

#include <QUrl>

// No program could be started to show a web page.
class BrowserError : public Error {
public:
    QString description() const override;
};

namespace BrowserLauncher {
// Hands `url` to the desktop's default browser; throws BrowserError when nothing takes it, so a
// sign-in fails at once instead of waiting for a redirect that cannot come.
void openPage(const QUrl &url);
} // namespace BrowserLauncher
