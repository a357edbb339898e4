#include "SafeLinks.h"

bool SafeLinks::isHttpsOn(const QUrl &url, QStringView domain) {
    if (!url.isValid() || url.scheme() != u"https" || !url.userInfo().isEmpty() ||
        (url.port() != -1 && url.port() != 443))
        return false;
    const QString host = url.host(QUrl::FullyEncoded).toLower();
    return host == domain ||
           (host.endsWith(domain) && host.at(host.size() - domain.size() - 1) == u'.');
}

bool SafeLinks::isLinkedIn(const QUrl &url) {
    return isHttpsOn(url, u"linkedin.com");
}
