// Which requests skip the system's proxy settings: those to this machine only.
#include "app/LoopbackProxyFactory.h"

#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

class TestLoopbackProxy : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void hosts_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("loopback");
        QTest::newRow("IPv4 loopback") << u"127.0.0.1"_s << true;
        QTest::newRow("elsewhere in 127/8") << u"127.4.5.6"_s << true;
        QTest::newRow("IPv6 loopback") << u"::1"_s << true;
        QTest::newRow("localhost, any case") << u"LocalHost"_s << true;
        QTest::newRow("a private address") << u"192.168.1.2"_s << false;
        QTest::newRow("a name") << u"zelvane.app"_s << false;
        QTest::newRow("a name that starts like one") << u"localhost.example"_s << false;
        QTest::newRow("a name that looks like an address") << u"127.0.0.1.example"_s << false;
        QTest::newRow("nothing") << QString() << false;
    }

    void hosts() {
        QFETCH(QString, host);
        QFETCH(bool, loopback);
        QCOMPARE(LoopbackProxyFactory::isLoopback(host), loopback);
    }

    // Loopback goes direct even when the environment names a proxy for everything.
    void loopbackGoesDirect() {
        qputenv("http_proxy", "http://127.0.0.1:9");
        LoopbackProxyFactory factory;
        const QList<QNetworkProxy> proxies =
            factory.queryProxy(QNetworkProxyQuery(QUrl(u"http://127.0.0.1:8976/v1/events"_s)));
        qunsetenv("http_proxy");
        QCOMPARE(proxies.size(), 1);
        QCOMPARE(proxies.constFirst().type(), QNetworkProxy::NoProxy);
    }
};

QTEST_GUILESS_MAIN(TestLoopbackProxy)
#include "tst_loopbackproxy.moc"
