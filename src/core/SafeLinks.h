#pragma once

#include <QStringView>
#include <QUrl>

// Which links from outside (a model's reply, a cache file) may be shown as links and opened.
namespace SafeLinks {
// An https address without user name or password, on the default port, whose host is `domain`
// or a subdomain of it ("x.linkedin.com", never "evillinkedin.com" or "linkedin.com.evil").
bool isHttpsOn(const QUrl &url, QStringView domain);
// A LinkedIn profile link: https on linkedin.com or one of its subdomains.
bool isLinkedIn(const QUrl &url);
} // namespace SafeLinks
