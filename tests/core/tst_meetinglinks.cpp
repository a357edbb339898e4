#include "core/CalendarEvent.h"
#include "core/MeetingLinkParser.h"

#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

class TestMeetingLinks : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void extractLink_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // empty: no link
        const auto row = [](const char *name, const char *text, const char *expected = "") {
            QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(expected);
        };
        row("zoom join", "Join: https://us02web.zoom.us/j/8312345678?pwd=abc.1 now",
            "https://us02web.zoom.us/j/8312345678?pwd=abc.1");
        row("zoom webinar, bare domain", "http://zoom.us/w/123", "http://zoom.us/w/123");
        row("zoom other path letter", "https://zoom.us/s/123");
        row("meet", "(https://meet.google.com/abc-defg-hij).",
            "https://meet.google.com/abc-defg-hij");
        row("meet on a subdomain is not found", "https://x.meet.google.com/abc");
        row("teams",
            "Click https://teams.microsoft.com/l/meetup-join/19%3ameeting_N2E%40thread.v2/0?x=1",
            "https://teams.microsoft.com/l/meetup-join/19%3ameeting_N2E%40thread.v2/0");
        row("teams without meetup-join", "https://teams.microsoft.com/l/channel/1");
        row("webex", "https://acme.webex.com/meet/jo, thanks", "https://acme.webex.com/meet/jo");
        row("upper case", "HTTPS://MEET.GOOGLE.COM/ABC-DEFG-HIJ",
            "HTTPS://MEET.GOOGLE.COM/ABC-DEFG-HIJ");
        row("pattern order beats position", "https://acme.webex.com/meet/jo or https://zoom.us/j/1",
            "https://zoom.us/j/1");
        row("closing parenthesis and full stop", "see (https://zoom.us/j/99).",
            "https://zoom.us/j/99");
        row("no scheme", "zoom.us/j/1 meet.google.com/abc");
        row("ftp scheme", "ftp://zoom.us/j/1");
        row("lookalike host still a zoom domain text", "https://evilzoom.us/j/1",
            "https://evilzoom.us/j/1");
        row("empty", "");
        row("unicode around", "Réunion → https://meet.google.com/a-b ✓",
            "https://meet.google.com/a-b");

        // Other services, after the four platforms and only on their meeting paths.
        row("jitsi, full stop trimmed", "Call: https://meet.jit.si/TeamSync.",
            "https://meet.jit.si/TeamSync");
        row("whereby room on a subdomain", "https://acme.whereby.com/standup",
            "https://acme.whereby.com/standup");
        row("slack huddle", "<https://app.slack.com/huddle/T01/C02>",
            "https://app.slack.com/huddle/T01/C02");
        row("teams personal link", "https://teams.live.com/meet/9391?p=x",
            "https://teams.live.com/meet/9391?p=x");
        row("first service link in the text wins",
            "https://example.org/x https://discord.gg/abc https://meet.jit.si/b",
            "https://discord.gg/abc");
        row("a service's home page is no meeting", "https://whereby.com/");
        row("a one-letter room is a meeting", "https://whereby.com/a", "https://whereby.com/a");
        row("slack outside huddles", "https://app.slack.com/client/T01");
        row("service look-alike host", "https://meet.jit.si.evil.example/a");
        row("a platform beats an earlier service", "https://meet.jit.si/a then https://zoom.us/j/5",
            "https://zoom.us/j/5");
        row("zoom's other forms stay unrecognised", "https://zoom.us/s/1 https://zoom.us/my/jo");
        row("teams' other forms stay unrecognised", "https://teams.microsoft.com/meet/123?p=a");

        // Safe Links are read as the address they wrap.
        row("safe link to zoom",
            "Join: https://nam12.safelinks.protection.outlook.com/?url=https%3A%2F%2Fzoom.us%2Fj%"
            "2F8312%3Fpwd%3Dab&data=05%7C01&reserved=0 today",
            "https://zoom.us/j/8312?pwd=ab");
        row("safe link to jitsi",
            "https://eur01.safelinks.protection.outlook.com/"
            "?url=https%3A%2F%2Fmeet.jit.si%2FRoom&data=1",
            "https://meet.jit.si/Room");
        row("safe link to nothing known",
            "https://nam12.safelinks.protection.outlook.com/?url=https%3A%2F%2Fexample.org%2F");
    }

    void extractLink() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const auto link = MeetingLinkParser::extractLink(text);
        QCOMPARE(link.has_value(), !expected.isEmpty());
        if (link)
            QCOMPARE(*link, QUrl(expected, QUrl::StrictMode));
    }

    void platformOfUrl_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("platform"); // -1: none
        QTest::newRow("zoom subdomain")
            << "https://us02web.zoom.us/j/1" << int(MeetingPlatform::zoom);
        QTest::newRow("upper-case host")
            << "https://MEET.GOOGLE.COM/x" << int(MeetingPlatform::googleMeet);
        QTest::newRow("meet subdomain")
            << "https://x.meet.google.com/a" << int(MeetingPlatform::googleMeet);
        QTest::newRow("teams") << "https://teams.microsoft.com/l/x" << int(MeetingPlatform::teams);
        QTest::newRow("webex") << "https://acme.webex.com/m" << int(MeetingPlatform::webex);
        QTest::newRow("teams subdomain")
            << "https://x.teams.microsoft.com/l/x" << int(MeetingPlatform::teams);
        QTest::newRow("domain followed by another") << "https://zoom.us.example.org/j/1" << -1;
        QTest::newRow("domain as the end of a label") << "https://evil-zoom.us/j/1" << -1;
        QTest::newRow("webex look-alike") << "https://notwebex.com/m" << -1;
        QTest::newRow("unknown") << "https://whereby.com/room" << -1;
        QTest::newRow("no host") << "mailto:jo@zoom.us" << -1;
    }

    void platformOfUrl() {
        QFETCH(QString, url);
        QFETCH(int, platform);
        const auto found = MeetingLinkParser::platform(QUrl(url));
        QCOMPARE(found ? int(*found) : -1, platform);
    }

    void platformFromProvider_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<int>("platform");
        QTest::newRow("google meet") << "Google Meet" << int(MeetingPlatform::googleMeet);
        QTest::newRow("hangouts") << "hangoutsMeet" << int(MeetingPlatform::googleMeet);
        QTest::newRow("microsoft teams") << "Microsoft Teams" << int(MeetingPlatform::teams);
        QTest::newRow("teams for business") << "teamsForBusiness" << int(MeetingPlatform::teams);
        QTest::newRow("zoom meeting") << "Zoom Meeting" << int(MeetingPlatform::zoom);
        QTest::newRow("zoom beats meet") << "zoom meet" << int(MeetingPlatform::zoom);
        QTest::newRow("webex") << "Cisco WebEx" << int(MeetingPlatform::webex);
        QTest::newRow("unrelated") << "Skype" << -1;
    }

    void platformFromProvider() {
        QFETCH(QString, provider);
        QFETCH(int, platform);
        const auto found = MeetingLinkParser::platformFromProvider(provider);
        QCOMPARE(found ? int(*found) : -1, platform);
        QVERIFY(!MeetingLinkParser::platformFromProvider(std::nullopt));
    }

    void joinTarget_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("expected"); // empty: not a join target
        const auto row = [](const char *name, const char *address, const char *expected = "") {
            QTest::newRow(name) << QString::fromUtf8(address) << QString::fromUtf8(expected);
        };
        row("https", "https://zoom.us/j/1", "https://zoom.us/j/1");
        row("http", "http://video.example.org/r", "http://video.example.org/r");
        row("smb", "smb://zoom.us/j/1");
        row("file", "file:///etc/passwd");
        row("javascript", "javascript:alert(1)");
        row("no host", "https:///j/1");
        row("not a URL", "ht tp://x");
        row("safe link unwrapped",
            "https://nam12.safelinks.protection.outlook.com/?url=https%3A%2F%2Fmeet.jit.si%2FA",
            "https://meet.jit.si/A");
        row("safe link without an address stays as it is",
            "https://nam12.safelinks.protection.outlook.com/?data=05",
            "https://nam12.safelinks.protection.outlook.com/?data=05");
        row("safe link to an address that does not parse stays as it is",
            "https://nam12.safelinks.protection.outlook.com/?url=http%3A%2F%2Fa%20b",
            "https://nam12.safelinks.protection.outlook.com/?url=http%3A%2F%2Fa b");
        row("safe link to a file",
            "https://nam12.safelinks.protection.outlook.com/?url=file%3A%2F%2F%2Fetc%2Fpasswd");
    }

    void joinTarget() {
        QFETCH(QString, address);
        QFETCH(QString, expected);
        const auto target = MeetingLinkParser::joinTarget(address);
        QCOMPARE(target ? target->toString() : QString(), expected);
    }

    void platformTable() {
        QVERIFY(!MeetingPlatforms::fromString(u"Teams"));
        // A row added later must be complete: its own name, a real colour, a usable pattern.
        for (const MeetingPlatformInfo &row : MeetingPlatforms::table()) {
            QCOMPARE(MeetingPlatforms::fromString(row.name), row.platform);
            QVERIFY2(QRegularExpression(u"^[0-9A-F]{6}$"_s).match(row.brandColorHex).hasMatch(),
                     qPrintable(row.name));
            QVERIFY2(QRegularExpression(row.linkPattern).isValid(), qPrintable(row.name));
            QVERIFY(!row.iconAssetName.isEmpty() && !row.joinTitle.isEmpty());
            QVERIFY(!row.hostFragment.isEmpty() && !row.providerKeywords.isEmpty());
        }
    }

    void meetingTypeOfEvent() {
        CalendarEvent event;
        QCOMPARE(event.meetingType(), MeetingType::unknown());
        event.location = QString();
        QCOMPARE(event.meetingType(), MeetingType::unknown());
        event.location = u"Room 4"_s;
        QCOMPARE(event.meetingType(), MeetingType::inPerson(u"Room 4"_s));
        QVERIFY(!event.meetingPlatform());

        // A link of no known platform and no conferencing provider.
        const QUrl other(u"https://video.example.org/room"_s);
        event.meetingLink = other;
        QVERIFY(!event.meetingPlatform());
        QCOMPARE(event.meetingType(), MeetingType::videoGeneric(other));

        // A look-alike of a platform's host loses the brand.
        const QUrl lookalike(u"https://evil-zoom.us/j/1"_s);
        event.meetingLink = lookalike;
        QCOMPARE(event.meetingType(), MeetingType::videoGeneric(lookalike));

        // A known service names the generic meeting.
        const QUrl jitsi(u"https://meet.jit.si/Standup"_s);
        event.meetingLink = jitsi;
        QCOMPARE(event.meetingType(), MeetingType::videoGeneric(jitsi, u"Jitsi Meet"_s));

        event.meetingLink = other;
        // The provider name decides when the host does not.
        event.conferencingProvider = u"Zoom Meeting"_s;
        QCOMPARE(event.meetingType(), MeetingType::video(MeetingPlatform::zoom, other));

        // The host wins over the provider name.
        const QUrl meet(u"https://meet.google.com/abc-defg-hij"_s);
        event.meetingLink = meet;
        QCOMPARE(event.meetingType(), MeetingType::video(MeetingPlatform::googleMeet, meet));
    }
};

QTEST_GUILESS_MAIN(TestMeetingLinks)
#include "tst_meetinglinks.moc"
