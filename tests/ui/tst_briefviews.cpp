#include "ManualClock.h"
#include "UiTestSupport.h"
#include "ui/BatteryAlertView.h"
#include "ui/BriefPreviewView.h"
#include "ui/MeetingBriefCard.h"
#include "ui/PlatformJoinButton.h"
#include "ui/Widgets.h"

#include <QDesktopServices>
#include <QSignalSpy>
#include <QTest>

namespace {
const QDateTime generated = QDateTime(QDate(2027, 1, 15), QTime(9, 0), Qt::UTC);

MeetingBrief::AttendeeProfile profile(const QString &email, std::optional<QString> name = {}) {
    MeetingBrief::AttendeeProfile p;
    p.email = email;
    p.name = std::move(name);
    return p;
}
} // namespace

// Receives the URLs the views ask the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened << url; }
};

class TestBriefViews : public QObject {
    Q_OBJECT

private:
    UrlCatcher catcher;

private Q_SLOTS:
    void initTestCase() {
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    void init() { catcher.opened.clear(); }

    void sections_data() {
        QTest::addColumn<QStringList>("summary");
        QTest::addColumn<QStringList>("points");
        QTest::addColumn<int>("profiles");
        QTest::addColumn<QStringList>("headings");

        const QString brief = QStringLiteral("Meeting Brief");
        const QString talking = QStringLiteral("Talking Points");
        const QString attendees = QStringLiteral("Attendees");
        QTest::newRow("all three") << QStringList{"a", "b"} << QStringList{"c"} << 2
                                   << QStringList{brief, talking, attendees};
        QTest::newRow("from the cache: one line, no points")
            << QStringList{"a"} << QStringList{} << 1 << QStringList{brief, attendees};
        QTest::newRow("empty") << QStringList{} << QStringList{} << 0 << QStringList{};
    }

    void sections() {
        QFETCH(QStringList, summary);
        QFETCH(QStringList, points);
        QFETCH(int, profiles);
        QFETCH(QStringList, headings);
        MeetingBrief brief;
        brief.summary = summary;
        brief.talkingPoints = points;
        for (int i = 0; i < profiles; ++i)
            brief.attendeeProfiles << profile(QStringLiteral("p%1@example.org").arg(i),
                                              QStringLiteral("Person %1").arg(i));
        MeetingBriefCard card(brief);
        card.resize(600, card.heightForWidth(600));
        card.show();

        QStringList shown;
        for (const QString &h : {QStringLiteral("Meeting Brief"), QStringLiteral("Talking Points"),
                                 QStringLiteral("Attendees")})
            if (UiTest::label(&card, h))
                shown << h;
        QCOMPARE(shown, headings);
        // Section order top to bottom.
        int lastY = -1;
        for (const QString &h : shown) {
            const int y = UiTest::label(&card, h)->mapTo(&card, QPoint()).y();
            QVERIFY(y > lastY);
            lastY = y;
        }
        for (const QString &line : summary + points)
            QVERIFY(UiTest::label(&card, line));
        QCOMPARE(card.findChildren<AttendeeRow *>().size(), profiles);
    }

    void attendeeRow_data() {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("company");
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("linkedIn"); // shown as a link
        QTest::addColumn<QString>("initial");
        QTest::addColumn<QString>("shownName");
        QTest::addColumn<QString>("roleLine");

        QTest::newRow("address only")
            << "zoe@example.org" << QString() << QString() << QString() << QString() << false << "Z"
            << "zoe@example.org" << QString();
        QTest::newRow("role and company") << "a@example.org"
                                          << "ada king"
                                          << "CTO"
                                          << "Acme"
                                          << "https://www.linkedin.com/in/ada" << true << "A"
                                          << "ada king"
                                          << "CTO at Acme";
        QTest::newRow("company without role") << "b@example.org"
                                              << "Bo" << QString() << "Acme"
                                              << "file:///etc/passwd" << false << "B"
                                              << "Bo" << QString();
    }

    void attendeeRow() {
        QFETCH(QString, email);
        QFETCH(QString, name);
        QFETCH(QString, role);
        QFETCH(QString, company);
        QFETCH(QString, link);
        QFETCH(bool, linkedIn);
        QFETCH(QString, initial);
        QFETCH(QString, shownName);
        QFETCH(QString, roleLine);

        MeetingBrief::AttendeeProfile p = profile(email);
        if (!name.isEmpty())
            p.name = name;
        if (!role.isEmpty())
            p.role = role;
        if (!company.isEmpty())
            p.company = company;
        if (!link.isEmpty())
            p.linkedInURL = QUrl(link);
        p.companyDescription = QStringLiteral("Makes anvils");
        p.recentNews = QStringLiteral("Raised a round");
        AttendeeRow row(p);
        row.resize(500, 200);
        row.show();

        QVERIFY(UiTest::label(&row, initial));
        QLabel *nameLabel = UiTest::label(&row, shownName);
        QVERIFY(nameLabel);
        QCOMPARE(nameLabel->textFormat() == Qt::RichText, linkedIn);
        if (linkedIn) {
            QVERIFY(nameLabel->openExternalLinks());
            QVERIFY(nameLabel->text().contains(QStringLiteral("https://www.linkedin.com/in/ada")));
        }
        QStringList texts = UiTest::labelTexts(&row);
        QVERIFY(!texts.contains(QStringLiteral("Makes anvils")));
        QVERIFY(!texts.contains(QStringLiteral("Raised a round")));
        const bool hasAt = std::any_of(texts.begin(), texts.end(), [](const QString &t) {
            return t.contains(QStringLiteral(" at "));
        });
        QCOMPARE(hasAt, !roleLine.isEmpty());
        if (!roleLine.isEmpty())
            QVERIFY(texts.contains(roleLine));
    }

    void notesShowTwoLines() {
        MeetingBrief::AttendeeProfile p = profile(QStringLiteral("n@example.org"));
        p.notes = QStringLiteral("one\ntwo\nthree\nfour\nfive");
        AttendeeRow row(p);
        auto *notes = row.findChild<ElidedLabel *>();
        QVERIFY(notes);
        QCOMPARE(notes->text(), *p.notes); // screen readers get the whole note
        const QStringList lines = notes->visibleLines(400);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.first(), QStringLiteral("one"));
        QVERIFY(lines.last().startsWith(QStringLiteral("two")));
        QVERIFY(lines.last().endsWith(QStringLiteral("…")));
        QCOMPARE(notes->heightForWidth(432), 2 * QFontMetrics(notes->font()).lineSpacing());
    }

    void preview_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("joinTitle");

        QTest::newRow("zoom") << "https://zoom.us/j/42" << QString() << "Join Zoom Meeting";
        QTest::newRow("service") << "https://app.slack.com/huddle/T1/C2" << QString()
                                 << "Join Slack Huddle";
        QTest::newRow("in person") << QString() << "Room 4" << QString();
    }

    void preview() {
        QFETCH(QString, link);
        QFETCH(QString, location);
        QFETCH(QString, joinTitle);
        ManualClock clock(generated.addSecs(5 * 60));
        const CalendarEvent event =
            UiTest::event(QDateTime(QDate(2027, 1, 15), QTime(10, 0), Qt::UTC),
                          link.isEmpty() ? std::nullopt : std::optional(QUrl(link)),
                          location.isEmpty() ? std::nullopt : std::optional(location));
        MeetingBrief brief = UiTest::brief();
        brief.generatedAt = generated;
        BriefPreviewView view(event, brief, nullptr, clock);
        QSignalSpy dismissed(&view, &BriefPreviewView::dismissRequested);
        view.resize(520, 480);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        const QStringList texts = UiTest::labelTexts(&view);
        QVERIFY(texts.contains(QStringLiteral("Quarterly planning")));
        QVERIFY(texts.contains(QStringLiteral("Work")));
        QVERIFY(texts.contains(QStringLiteral("Prepared 5 minutes ago")));
        QVERIFY(texts.contains(BriefPreviewView::timeString(event)));
        QCOMPARE(texts.contains(QStringLiteral("Room 4")), !location.isEmpty());
        QVERIFY(view.findChild<MeetingBriefCard *>());

        QStringList joins;
        for (QAbstractButton *b : view.findChildren<QAbstractButton *>())
            if (b->accessibleName().startsWith(QStringLiteral("Join")))
                joins << b->accessibleName();
        QCOMPARE(joins, joinTitle.isEmpty() ? QStringList{} : QStringList{joinTitle});
        if (!joinTitle.isEmpty()) {
            QTest::mouseClick(UiTest::button(&view, joinTitle), Qt::LeftButton);
            QCOMPARE(catcher.opened, QList<QUrl>{QUrl(link)});
            QVERIFY(view.isVisible());
            QCOMPARE(dismissed.count(), 0);
        }
        QTest::keyClick(&view, Qt::Key_Escape);
        QCOMPARE(dismissed.count(), 1);
        QTest::mouseClick(UiTest::button(&view, QStringLiteral("Close")), Qt::LeftButton);
        QCOMPARE(dismissed.count(), 2);
    }

    void previewTimeString() {
        CalendarEvent event = UiTest::event(QDateTime(QDate(2027, 1, 15), QTime(23, 30), Qt::UTC));
        event.endDate = event.startDate.addSecs(3600); // ends the next day: no second date
        const QString text =
            BriefPreviewView::timeString(event, QLocale(QLocale::English, QLocale::UnitedStates))
                .replace(QChar(0x202F), QLatin1Char(' '));
        QCOMPARE(text, QStringLiteral("Jan 15, 2027 11:30 PM - 12:30 AM"));
    }

    void preparedText_data() {
        QTest::addColumn<int>("secondsAgo");
        QTest::addColumn<QString>("expected");
        QTest::newRow("just now") << 0 << "Prepared now";
        QTest::newRow("seconds") << 30 << "Prepared 30 seconds ago";
        QTest::newRow("one minute") << 60 << "Prepared 1 minute ago";
        QTest::newRow("minutes") << 59 * 60 << "Prepared 59 minutes ago";
        QTest::newRow("hours") << 3 * 3600 << "Prepared 3 hours ago";
        QTest::newRow("yesterday") << 26 * 3600 << "Prepared yesterday";
        QTest::newRow("days") << 3 * 86400 << "Prepared 3 days ago";
    }

    void preparedText() {
        QFETCH(int, secondsAgo);
        QFETCH(QString, expected);
        QCOMPARE(BriefPreviewView::preparedText(generated, generated.addSecs(secondsAgo)),
                 expected);
    }

    void batteryAlert() {
        BatteryAlertView view;
        QSignalSpy dismissed(&view, &BatteryAlertView::dismissRequested);
        view.resize(1024, 768);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QStringList texts = UiTest::labelTexts(&view);
        QVERIFY(texts.contains(QStringLiteral("Battery Critical")));
        QVERIFY(texts.contains(QStringLiteral("Your computer is at 1% battery. Plug in now.")));
        QCOMPARE(UiTest::buttonNames(&view), QStringList{QStringLiteral("Dismiss")});
        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(dismissed.count(), 0);
        QTest::mouseClick(UiTest::button(&view, QStringLiteral("Dismiss")), Qt::LeftButton);
        QCOMPARE(dismissed.count(), 1);
        QTest::keyClick(&view, Qt::Key_Escape);
        QCOMPARE(dismissed.count(), 2);
    }
};

QTEST_MAIN(TestBriefViews)
#include "tst_briefviews.moc"
