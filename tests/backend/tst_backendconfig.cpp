// The real backend's configuration reader.
#include "BackendConfig.h"

#include <QtTest>

using namespace Qt::StringLiterals;

// The configuration reader alone: each row changes one line of a good file.
class TestBackendConfig : public QObject {
    Q_OBJECT

    static QByteArray good() {
        return "[server]\npublic_url = https://zelvane.example.test/\nport = 8080\n"
               "database = /var/lib/z/grants.sqlite\ntoken_key_file = /etc/z/token.key\n"
               "credentials_file = /etc/z/credentials\n[google]\nclient_id = id\n"
               "client_secret = s#cret;with=signs\n";
    }

private slots:
    void goodFile() {
        const BackendConfig config = BackendConfig::parse(good());
        QCOMPARE(config.publicUrl.toString(), u"https://zelvane.example.test"_s);
        QCOMPARE(config.listen, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(int(config.port), 8080);
        QVERIFY(config.google);
        QCOMPARE(config.google->client.clientSecret, u"s#cret;with=signs"_s);
        QCOMPARE(config.google->tokenOrigin.toString(), u"https://oauth2.googleapis.com"_s);
        QVERIFY(!config.microsoft && !config.slack && !config.sms);
    }

    void badFile_data() {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << QByteArray("client_secret = s#cret;with=signs\n")
                                 << QByteArray() << u"google.client_secret is missing"_s;
        QTest::newRow("empty") << QByteArray("client_id = id") << QByteArray("client_id =")
                               << u"google.client_id is missing"_s;
        QTest::newRow("port") << QByteArray("8080") << QByteArray("80800")
                              << u"server.port must be a number from 0 to 65535"_s;
        QTest::newRow("unknown key") << QByteArray("client_id") << QByteArray("clientid")
                                     << u"line 8: unknown key google.clientid"_s;
        QTest::newRow("unknown section") << QByteArray("[google]") << QByteArray("[yahoo]")
                                         << u"line 7: unknown section [yahoo]"_s;
        QTest::newRow("twice") << QByteArray("port = 8080") << QByteArray("port = 1\nport = 2")
                               << u"server.port is set twice"_s;
        QTest::newRow("scheme") << QByteArray("https://zelvane") << QByteArray("ftp://zelvane")
                                << u"server.public_url must be an http or https address without "
                                   "query"_s;
        QTest::newRow("listen") << QByteArray("port = 8080") << QByteArray("listen = localhost")
                                << u"server.listen must be an IP address"_s;
        QTest::newRow("no provider")
            << QByteArray("[google]\nclient_id = id\nclient_secret = s#cret;with=signs\n")
            << QByteArray()
            << u"google.client_id is missing (configure [google] or "
               "[microsoft])"_s;
        QTest::newRow("origin with query")
            << QByteArray("client_id = id")
            << QByteArray("client_id = id\napi_origin = http://a/?q")
            << u"google.api_origin must be an http or https address without query"_s;
        QTest::newRow("before a section")
            << QByteArray("[server]") << QByteArray("port=1\n[server]")
            << u"line 1: a setting before any [section]"_s;
        QTest::newRow("incomplete section")
            << QByteArray("[google]") << QByteArray("[sms]\naccount = AC1\n[google]")
            << u"sms.token is missing"_s;
        for (const char *limit : {"0", "10001", "many"})
            QTest::addRow("daily limit %s", limit)
                << QByteArray("[google]")
                << "[sms]\naccount = AC1\ntoken = t\nsender = +15005550006\ndaily_limit = " +
                       QByteArray(limit) + "\n[google]"
                << u"sms.daily_limit must be a number from 1 to 10000"_s;
    }
    void badFile() {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, message);
        QByteArray text = good();
        QVERIFY(text.contains(from));
        text.replace(from, to);
        try {
            BackendConfig::parse(text);
            QFAIL("accepted");
        } catch (const ConfigError &error) {
            QCOMPARE(QString::fromUtf8(error.what()), message);
        }
    }
};

QTEST_APPLESS_MAIN(TestBackendConfig)
#include "tst_backendconfig.moc"
