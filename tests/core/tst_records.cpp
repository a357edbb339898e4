#include "core/AppConfig.h"
#include "core/CalendarEvent.h"
#include "core/ClockTime.h"
#include "core/HexColor.h"
#include "core/JsonRead.h"
#include "core/MeetingBrief.h"
#include "core/SafeLinks.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
QJsonValue json(const char *text) {
    return QJsonDocument::fromJson(text).object();
}
} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Clock times in the locale's short format, to the minute: the C locale's own carries
    // seconds, and a system set to C (or C.UTF-8) must not show them either.
    void clockTimes_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("expected");
        QTest::newRow("C") << QLocale::c() << u"14:05"_s;
        QTest::newRow("C by name") << QLocale(u"C"_s) << u"14:05"_s;
        QTest::newRow("en_US") << QLocale(u"en_US"_s) << u"2:05 PM"_s;
        QTest::newRow("fi_FI") << QLocale(u"fi_FI"_s) << u"14.05"_s;
    }
    void clockTimes() {
        QFETCH(QLocale, locale);
        QFETCH(QString, expected);
        // Newer locale data puts a narrow no-break space before AM/PM.
        QCOMPARE(ClockTime::format(QTime(14, 5, 37), locale).replace(QChar(0x202F), u' '),
                 expected);
    }

    // No locale Qt knows shows the seconds or a fraction of them.
    void clockTimesOfEveryLocale() {
        const QList<QLocale> all = QLocale::matchingLocales(
            QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
        QVERIFY(all.size() > 100);
        for (const QLocale &locale : all) {
            const QString format = ClockTime::shortFormat(locale);
            QString unquoted = format;
            unquoted.remove(QRegularExpression(u"'[^']*'"_s));
            QVERIFY2(!unquoted.contains(u's') && !unquoted.contains(u'z'),
                     qPrintable(locale.name() + u' ' + format));
            const QString shown = ClockTime::format(QTime(14, 5, 37, 980), locale);
            QVERIFY2(!shown.contains(locale.toString(37)) && !shown.contains(locale.toString(98)),
                     qPrintable(locale.name() + u' ' + shown));
            QVERIFY2(shown.contains(locale.toString(5)), qPrintable(locale.name() + u' ' + shown));
        }
    }

    // Each text as the six-digit reader (no colour: refused) and the scanning reader see it.
    void hexColors_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("sixDigits");
        QTest::addColumn<QColor>("scanned");
        const QColor blue(0x1a, 0x73, 0xe8), black(0, 0, 0);
        QTest::newRow("one sign") << "#1a73e8" << blue << blue;
        QTest::newRow("two signs each side") << "##1a73e8##" << blue << blue;
        QTest::newRow("one sign after") << "1a73e8#" << blue << blue;
        QTest::newRow("bare upper case") << "1A73E8" << blue << blue;
        QTest::newRow("six non-hex") << "zzzzzz" << black << black;
        QTest::newRow("stops at non-hex") << "1a73zz" << black << QColor(0, 0x1a, 0x73);
        QTest::newRow("sign in the middle") << "1a7#e8" << black << QColor(0, 0x01, 0xa7);
        QTest::newRow("five digits") << "#1a73e" << QColor() << QColor(0x01, 0xa7, 0x3e);
        QTest::newRow("seven digits keep the low 24 bits") << "11a73e8" << QColor() << blue;
        QTest::newRow("0x prefix") << "0x1a73e8" << QColor() << blue;
        QTest::newRow("leading space") << "  1a73e8" << QColor() << blue;
        QTest::newRow("very long")
            << "123456789abcdef0123456" << QColor() << QColor(0x12, 0x34, 0x56);
        QTest::newRow("empty") << "" << QColor() << black;
    }

    void hexColors() {
        QFETCH(QString, text);
        QFETCH(QColor, sixDigits);
        QFETCH(QColor, scanned);
        QCOMPARE(colorFromSixDigitHex(QStringView(text)).value_or(QColor()), sixDigits);
        QCOMPARE(colorFromScannedHex(text), scanned);
        QVERIFY(!colorFromSixDigitHex(std::nullopt));
    }

    void linkedInLinks_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("safe");
        QTest::newRow("profile") << "https://www.linkedin.com/in/ana" << true;
        QTest::newRow("bare domain, upper case") << "https://LinkedIn.com/in/ana" << true;
        QTest::newRow("explicit default port") << "https://linkedin.com:443/in/ana" << true;
        QTest::newRow("plain http") << "http://www.linkedin.com/in/ana" << false;
        QTest::newRow("local file") << "file:///etc/passwd" << false;
        QTest::newRow("script") << "javascript:alert(1)" << false;
        QTest::newRow("suffix without a dot") << "https://evillinkedin.com/in/ana" << false;
        QTest::newRow("look-alike parent") << "https://linkedin.com.evil.example/in/a" << false;
        QTest::newRow("user info") << "https://linkedin.com@evil.example/" << false;
        QTest::newRow("credentials on the host") << "https://u:p@www.linkedin.com/" << false;
        QTest::newRow("other port") << "https://www.linkedin.com:8443/in/ana" << false;
        QTest::newRow("relative") << "/in/ana" << false;
    }
    void linkedInLinks() {
        QFETCH(QString, link);
        QFETCH(bool, safe);
        QCOMPARE(SafeLinks::isLinkedIn(QUrl(link)), safe);
    }

    void eventsAreOneMeetingByIdAlone() {
        CalendarEvent a;
        a.id = u"nylas_1"_s;
        a.title = u"Planning"_s;
        CalendarEvent b = a;
        b.title = u"Something else"_s;
        QCOMPARE(a, b);
        QCOMPARE(QSet<CalendarEvent>({a, b}).size(), 1);

        const QDateTime now = QDateTime::fromSecsSinceEpoch(1'000'000, Qt::UTC);
        a.startDate = now.addSecs(90);
        QCOMPARE(a.timeUntilStart(now), std::chrono::milliseconds(90'000));
        QVERIFY(a.isUpcoming(now));
        a.startDate = now;
        QVERIFY(!a.isUpcoming(now));
    }

    void connectedAccountJson() {
        const auto account = ConnectedAccount::fromJson(
            json(R"({"id":"ID1","provider":"Microsoft","email":"a@b.com"})"));
        QCOMPARE(account.grantId, QString());
        QCOMPARE(account.provider, CalendarProvider::microsoft);

        const ConnectedAccount created =
            ConnectedAccount::create(CalendarProvider::google, u"x@y.z"_s, u"g-1"_s);
        QCOMPARE(created.id, created.id.toUpper());
        QCOMPARE(created.id.size(), 36);
        QCOMPARE(ConnectedAccount::fromJson(created.toJson()), created);
        QVERIFY(created.toJson().contains(u"grantId"_s));

        for (const char *bad : {R"({"provider":"Google","email":"a"})",
                                R"({"id":"1","provider":"Yahoo","email":"a"})",
                                R"({"id":"1","provider":"Google","email":5})",
                                R"({"id":"1","provider":"Google","email":"a","grantId":7})"})
            QVERIFY_THROWS_EXCEPTION(DecodingError, ConnectedAccount::fromJson(json(bad)));
        QVERIFY_THROWS_EXCEPTION(DecodingError, ConnectedAccount::fromJson(QJsonValue(u"text"_s)));
    }

    void attendeeIdentity_data() {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QStringList>("domains");
        QTest::addColumn<bool>("external");
        const QStringList acme{u"acme.com"_s};
        QTest::newRow("own domain") << "jo@acme.com" << acme << false;
        QTest::newRow("own domain, upper-case address") << "Jo@ACME.com" << acme << false;
        QTest::newRow("other domain") << "jo@other.io" << acme << true;
        QTest::newRow("no domains: everyone external") << "jo@acme.com" << QStringList() << true;
        QTest::newRow("upper-case set never matches")
            << "jo@acme.com" << QStringList{u"ACME.COM"_s} << true;
        QTest::newRow("no at sign uses the whole address") << "acme.com" << acme << false;
        QTest::newRow("two at signs use the last part") << "a@x.org@acme.com" << acme << false;
        QTest::newRow("empty address") << "" << QStringList{QString()} << false;
    }

    void attendeeIdentity() {
        QFETCH(QString, email);
        QFETCH(QStringList, domains);
        QFETCH(bool, external);
        const Attendee attendee(email, std::nullopt, QSet<QString>(domains.begin(), domains.end()));
        QCOMPARE(attendee.isExternal, external);
        const QByteArray expected =
            QCryptographicHash::hash((email + u':').toUtf8(), QCryptographicHash::Sha256).toHex();
        QCOMPARE(attendee.id.toLatin1(), expected);
        // Nothing is known of them yet but the address.
        MeetingBrief::AttendeeProfile addressOnly;
        addressOnly.email = email;
        QCOMPARE(attendee.profile, addressOnly);
    }

    void attendeeJson() {
        Attendee a(u"jo@acme.com"_s, u"Jo"_s, {});
        QCOMPARE(a.id.toLatin1(),
                 QCryptographicHash::hash("jo@acme.com:Jo", QCryptographicHash::Sha256).toHex());
        a.profile.role = u"CTO"_s;
        a.profile.linkedInURL = QUrl(u"https://www.linkedin.com/in/jo"_s);
        const QJsonObject o = a.toJson();
        QCOMPARE(QStringList(o.keys()), (QStringList{u"email"_s, u"id"_s, u"isExternal"_s,
                                                     u"linkedInURL"_s, u"name"_s, u"role"_s}));
        QCOMPARE(o.value(u"linkedInURL"_s).toString(), u"https://www.linkedin.com/in/jo"_s);
        QCOMPARE(Attendee::fromJson(o), a);
        QCOMPARE(Attendee::fromJson(json(R"({"id":"x","email":"e","isExternal":true,"role":null})"))
                     .profile.role,
                 std::nullopt);
        for (const char *bad :
             {R"({"id":"x","email":"e"})", R"({"id":"x","email":"e","isExternal":true,"role":3})",
              R"({"id":"x","isExternal":true})",
              R"({"id":"x","email":"e","isExternal":true,"linkedInURL":"a b"})"})
            QVERIFY_THROWS_EXCEPTION(DecodingError, Attendee::fromJson(json(bad)));
    }

    void briefJson() {
        MeetingBrief brief;
        brief.eventId = u"nylas_9"_s;
        brief.generatedAt = QDateTime::fromMSecsSinceEpoch(1'700'000'000'123, Qt::UTC);
        brief.summary = {u"One"_s, u"Two"_s};
        MeetingBrief::AttendeeProfile p;
        p.email = u"x@y.z"_s;
        p.company = u"Y"_s;
        brief.attendeeProfiles = {p, p}; // duplicates are kept
        const MeetingBrief back = MeetingBrief::fromJson(brief.toJson());
        QCOMPARE(back, brief);
        QCOMPARE(back.attendeeProfiles.size(), 2);

        QJsonObject missing = brief.toJson();
        missing.remove(u"talkingPoints"_s);
        QVERIFY_THROWS_EXCEPTION(DecodingError, MeetingBrief::fromJson(missing));
        QJsonObject undated = brief.toJson();
        undated.insert(u"generatedAt"_s, u"yesterday"_s);
        QVERIFY_THROWS_EXCEPTION(DecodingError, MeetingBrief::fromJson(undated));
        QVERIFY_THROWS_EXCEPTION(
            DecodingError,
            MeetingBrief::fromJson(json(R"({"eventId":"e","generatedAt":"2026-01-01T00:00:00Z",
                "summary":[],"attendeeProfiles":[{"name":"no email"}],"talkingPoints":[]})")));
    }

    // Each reader on the value under "v": what it reads, or "throws".
    void jsonReaders_data() {
        QTest::addColumn<QByteArray>("object");
        QTest::addColumn<QString>("reader");
        QTest::addColumn<QString>("read");
        const auto row = [](const char *name, const char *object, const char *reader,
                            const char *read) {
            QTest::newRow(name) << QByteArray(object) << QString::fromLatin1(reader)
                                << QString::fromLatin1(read);
        };
        row("integer", R"({"v":42})", "integer", "42");
        row("integer with a fraction", R"({"v":4.5})", "integer", "throws");
        row("integer beyond a double's exact range", R"({"v":9007199254740993e3})", "integer",
            "throws");
        row("integer missing", R"({})", "integer", "throws");
        row("optional integer null", R"({"v":null})", "optionalInteger", "none");
        row("optional integer as text", R"({"v":"1"})", "optionalInteger", "throws");
        row("number with a fraction", R"({"v":4.5})", "number", "4.5");
        row("number as text", R"({"v":"4"})", "number", "throws");
        row("optional text absent", R"({})", "optionalString", "none");
        row("optional text a number", R"({"v":1})", "optionalString", "throws");
        row("text null", R"({"v":null})", "string", "throws");
        row("optional boolean", R"({"v":false})", "optionalBool", "false");
        row("boolean as number", R"({"v":0})", "boolean", "throws");
        // Plain literals: moc reads "//" inside a raw string as a comment.
        row("address", "{\"v\":\"https://a.example/p?q=1\"}", "optionalUrl",
            "https://a.example/p?q=1");
        row("address that does not parse", "{\"v\":\"http://a b\"}", "optionalUrl", "throws");
        row("list of texts", R"({"v":["a","b"]})", "stringList", "a|b");
        row("list with a number", R"({"v":["a",1]})", "stringList", "throws");
        row("list that is an object", R"({"v":{}})", "stringList", "throws");
    }
    void jsonReaders() {
        QFETCH(QByteArray, object);
        QFETCH(QString, reader);
        QFETCH(QString, read);
        const QJsonObject o = JsonRead::object(object);
        const auto text = [](const auto &value) -> QString {
            if (!value)
                return u"none"_s;
            if constexpr (std::is_same_v<std::decay_t<decltype(*value)>, bool>)
                return *value ? u"true"_s : u"false"_s;
            else if constexpr (std::is_same_v<std::decay_t<decltype(*value)>, QUrl>)
                return value->toString();
            else
                return QVariant(*value).toString();
        };
        QString got;
        try {
            if (reader == u"integer")
                got = QString::number(JsonRead::integer(o, u"v"));
            else if (reader == u"optionalInteger")
                got = text(JsonRead::optionalInteger(o, u"v"));
            else if (reader == u"number")
                got = QString::number(JsonRead::number(o, u"v"));
            else if (reader == u"optionalString")
                got = text(JsonRead::optionalString(o, u"v"));
            else if (reader == u"string")
                got = JsonRead::string(o, u"v");
            else if (reader == u"optionalBool")
                got = text(JsonRead::optionalBool(o, u"v"));
            else if (reader == u"boolean")
                got = JsonRead::boolean(o, u"v") ? u"true"_s : u"false"_s;
            else if (reader == u"optionalUrl")
                got = text(JsonRead::optionalUrl(o, u"v"));
            else if (reader == u"stringList")
                got = JsonRead::stringList(o.value(u"v"), u"v").join(u'|');
        } catch (const DecodingError &error) {
            // The detail names the member, never its value.
            QVERIFY2(error.detail().startsWith(u"v: "_s), qPrintable(error.detail()));
            got = u"throws"_s;
        }
        QCOMPARE(got, read);
    }

    void jsonDocuments() {
        QCOMPARE(JsonRead::document("[1]").array().size(), 1);
        QVERIFY_THROWS_EXCEPTION(DecodingError, JsonRead::document("{\"a\":"));
        QVERIFY_THROWS_EXCEPTION(DecodingError, JsonRead::object(QByteArray("[1]")));
        QVERIFY_THROWS_EXCEPTION(DecodingError, JsonRead::object(QJsonValue(1), u"v"));
    }

    void backendAddresses() {
        qputenv("ZELVANE_BACKEND_ORIGIN", "http://127.0.0.1:4321/");
        QCOMPARE(AppConfig::backendURL(u"sms"_s)->toString(),
                 u"http://127.0.0.1:4321/functions/v1/api/sms"_s);
        QCOMPARE(AppConfig::proxyURL(u"auth-url"_s)->toString(),
                 u"http://127.0.0.1:4321/functions/v1/api/nylas/auth-url"_s);
        QCOMPARE(AppConfig::slackCallbackURL(),
                 u"http://127.0.0.1:4321/functions/v1/api/slack/callback"_s);
        qputenv("ZELVANE_BACKEND_ORIGIN", "not a url at all");
        QVERIFY(!AppConfig::backendURL(u"sms"_s));
        qunsetenv("ZELVANE_BACKEND_ORIGIN");
        QVERIFY(AppConfig::backendURL(u"sms"_s)->scheme() == u"https");

        // The address chosen under Accounts applies unless the environment names another.
        AppConfig::setChosenBackendOrigin(u"https://backend.example.test"_s);
        QCOMPARE(AppConfig::slackCallbackURL(),
                 u"https://backend.example.test/functions/v1/api/slack/callback"_s);
        qputenv("ZELVANE_BACKEND_ORIGIN", "http://127.0.0.1:4321");
        QCOMPARE(AppConfig::backendOrigin(), u"http://127.0.0.1:4321"_s);
        qunsetenv("ZELVANE_BACKEND_ORIGIN");
        AppConfig::setChosenBackendOrigin(u"ftp://backend.example.test"_s);
        QCOMPARE(AppConfig::backendOrigin(), u"https://api.zelvane.app"_s);
        AppConfig::setChosenBackendOrigin(QString());
    }

    // What may be typed as a backend address: an origin, over https unless it is this machine.
    void chosenBackendAddresses_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("origin"); // empty: refused
        QTest::newRow("https") << u"https://backend.example.test"_s
                               << u"https://backend.example.test"_s;
        QTest::newRow("port, slash, spaces")
            << u"  https://Backend.example.test:8443/ "_s << u"https://backend.example.test:8443"_s;
        QTest::newRow("http on this machine")
            << u"http://127.0.0.1:8080"_s << u"http://127.0.0.1:8080"_s;
        QTest::newRow("http elsewhere") << u"http://backend.example.test"_s << QString();
        QTest::newRow("with a path") << u"https://backend.example.test/api"_s << QString();
        QTest::newRow("with a query") << u"https://backend.example.test/?a=1"_s << QString();
        QTest::newRow("with a user") << u"https://me:pw@backend.example.test"_s << QString();
        QTest::newRow("no scheme") << u"backend.example.test"_s << QString();
        QTest::newRow("empty") << QString() << QString();
    }
    void chosenBackendAddresses() {
        QFETCH(QString, typed);
        QFETCH(QString, origin);
        QCOMPARE(AppConfig::backendOriginFrom(typed).value_or(QString()), origin);
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
