#include "LoopbackProxyFactory.h"

#include <QHostAddress>

QList<QNetworkProxy> LoopbackProxyFactory::queryProxy(const QNetworkProxyQuery &query) {
    if (isLoopback(query.peerHostName()))
        return {QNetworkProxy(QNetworkProxy::NoProxy)};
    return systemProxyForQuery(query);
}

bool LoopbackProxyFactory::isLoopback(const QString &host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}
