#pragma once

#include <QNetworkProxyFactory>

// Connections to this machine go direct; everything else asks the system's proxy settings.
// Asking the system loads libproxy and starts its thread, which a backend on loopback (the
// stand-in, a local deployment) never needs.
class LoopbackProxyFactory final : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override;

    static bool isLoopback(const QString &host);
};
