// The meeting brief as a card, in its preview window, and the battery alert.
#include "ManualClock.h"
#include "WidgetTestSupport.h"
#include "ui/BatteryAlertView.h"
#include "ui/BriefPreviewView.h"
#include "ui/MeetingBriefCard.h"
#include "ui/Widgets.h"

#include <QDesktopServices>
#include <QSignalSpy>

using namespace Qt::StringLiterals;
using namespace WidgetTest;

Q_DECLARE_METATYPE(MeetingBrief::AttendeeProfile)

namespace {
const QDateTime generated(QDate(2027, 1, 15), QTime(9, 0), Qt::UTC);

MeetingBrief::AttendeeProfile person(const QString &email, std::optional<QString> name = {},
                                     std::optional<QString> role = {},
                                     std::optional<QString> company = {},
                                     std::optional<QUrl> linkedIn = {}) {
    MeetingBrief::AttendeeProfile p;
    p.email = email;
    p.name = std::move(name);
    p.role = std::move(role);
    p.company = std::move(company);
    p.linkedInURL = std::move(linkedIn);
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
    void initTestCase() { QDesktopServices::setUrlHandler(u"https"_s, &catcher, "open"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(u"https"_s); }
    void init() { catcher.opened.clear(); }

    // Only the sections with content, in order, as a screen reader reads them.
    void sections_data() {
        QTest::addColumn<QStringList>("summary");
        QTest::addColumn<QStringList>("points");
        QTest::addColumn<int>("profiles");
        QTest::addColumn<QString>("read");
        QTest::newRow("all three")
            << QStringList{u"a"_s, u"b"_s} << QStringList{u"c"_s} << 2
            << u"Meeting Brief|a|b|Talking Points|c|Attendees|P|Person 0|P|Person 1"_s;
        QTest::newRow("from the cache: one line, no points")
            << QStringList{u"a"_s} << QStringList() << 1
            << u"Meeting Brief|a|Attendees|P|Person 0"_s;
        QTest::newRow("empty") << QStringList() << QStringList() << 0 << QString();
    }
    void sections() {
        QFETCH(QStringList, summary);
        QFETCH(QStringList, points);
        QFETCH(int, profiles);
        QFETCH(QString, read);
        MeetingBrief brief;
        brief.summary = summary;
        brief.talkingPoints = points;
        for (int i = 0; i < profiles; ++i)
            brief.attendeeProfiles << person(u"p%1@example.org"_s.arg(i), u"Person %1"_s.arg(i));
        MeetingBriefCard card(brief);
        card.resize(600, card.heightForWidth(600));
        card.show();
        QCOMPARE(visibleTexts(&card).join(u'|'), read);
        QCOMPARE(unreadable(&card), QStringList());
    }

    // Initial, name (a link only to LinkedIn) and "role at company" when both are known; the
    // company's description and news stay out of the row.
    void attendeeRow_data() {
        QTest::addColumn<MeetingBrief::AttendeeProfile>("profile");
        QTest::addColumn<QString>("read");
        QTest::addColumn<bool>("linked");
        QTest::newRow("address only")
            << person(u"zoe@example.org"_s) << u"Z|zoe@example.org"_s << false;
        QTest::newRow("role and company")
            << person(u"a@example.org"_s, u"ada king"_s, u"CTO"_s, u"Acme"_s,
                      QUrl(u"https://www.linkedin.com/in/ada"_s))
            << u"A|ada king|CTO at Acme"_s << true;
        QTest::newRow("company without role, link elsewhere")
            << person(u"b@example.org"_s, u"Bo"_s, {}, u"Acme"_s, QUrl(u"file:///etc/passwd"_s))
            << u"B|Bo"_s << false;
    }
    void attendeeRow() {
        QFETCH(MeetingBrief::AttendeeProfile, profile);
        QFETCH(QString, read);
        QFETCH(bool, linked);
        profile.companyDescription = u"Makes anvils"_s;
        profile.recentNews = u"Raised a round"_s;
        AttendeeRow row(profile);
        row.resize(500, 200);
        row.show();
        QCOMPARE(visibleTexts(&row).join(u'|'), read);
        QCOMPARE(unreadable(&row), QStringList());
        QLabel *name = label(&row, read.section(u'|', 1, 1));
        QCOMPARE(name->textFormat() == Qt::RichText, linked);
        QCOMPARE(name->openExternalLinks(), linked);
        QCOMPARE(name->text().contains(u"https://www.linkedin.com/in/ada"_s), linked);
    }

    // Notes show two lines under the name, cut short with an ellipsis; screen readers get
    // the whole note.
    void notesShowTwoLines() {
        MeetingBrief::AttendeeProfile profile = person(u"n@example.org"_s);
        profile.notes = u"one\ntwo\nthree\nfour"_s;
        AttendeeRow row(profile);
        row.resize(432, 200);
        row.show();
        auto *notes = row.findChild<ElidedLabel *>();
        QCOMPARE(unreadable(&row), QStringList());
        QCOMPARE(notes->visibleLines(400), (QStringList{u"one"_s, u"two…"_s}));
        QCOMPARE(notes->heightForWidth(432), 2 * QFontMetrics(notes->font()).lineSpacing());
        // Lined up under the name, past the initial.
        QCOMPARE(notes->mapTo(&row, notes->contentsRect().topLeft()).x(),
                 label(&row, u"n@example.org"_s)->mapTo(&row, QPoint()).x());
    }

    void preview_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("join");
        QTest::newRow("zoom") << u"https://zoom.us/j/42"_s << QString() << u"Join Zoom Meeting"_s;
        QTest::newRow("service") << u"https://app.slack.com/huddle/T1/C2"_s << QString()
                                 << u"Join Slack Huddle"_s;
        QTest::newRow("in person") << QString() << u"Room 4"_s << QString();
    }
    // The meeting, how long ago the brief was prepared and the brief; join opens the link and
    // keeps the window; Escape and Close put it away.
    void preview() {
        QFETCH(QString, link);
        QFETCH(QString, location);
        QFETCH(QString, join);
        ManualClock clock(generated.addSecs(5 * 60));
        const CalendarEvent event =
            WidgetTest::event(QDateTime(QDate(2027, 1, 15), QTime(10, 0), Qt::UTC),
                              link.isEmpty() ? std::nullopt : std::optional(QUrl(link)),
                              location.isEmpty() ? std::nullopt : std::optional(location));
        MeetingBrief brief = WidgetTest::brief();
        brief.generatedAt = generated;
        BriefPreviewView view(event, brief, nullptr, clock);
        QSignalSpy dismissed(&view, &BriefPreviewView::dismissRequested);
        QVERIFY(showActive(&view, {520, 480}));
        const QStringList texts = visibleTexts(&view);
        for (const QString &text :
             {u"Quarterly planning"_s, u"Work"_s, u"Prepared 5 minutes ago"_s,
              BriefPreviewView::timeString(event), u"Renewal is due next month"_s})
            QVERIFY2(texts.contains(text), qPrintable(text));
        QCOMPARE(texts.contains(u"Room 4"_s), !location.isEmpty());
        QCOMPARE(unreadable(&view), QStringList());
        QCOMPARE(buttonNames(&view).filter(u"Join"_s),
                 join.isEmpty() ? QStringList() : QStringList{join});
        if (!join.isEmpty()) {
            QTest::mouseClick(button(&view, join), Qt::LeftButton);
            QCOMPARE(catcher.opened, QList<QUrl>{QUrl(link)});
            QCOMPARE(dismissed.count(), 0);
        }
        QTest::keyClick(&view, Qt::Key_Escape);
        QTest::mouseClick(button(&view, u"Close"_s), Qt::LeftButton);
        QCOMPARE(dismissed.count(), 2);
    }

    // The times the windows put into words, as a user of an English locale reads them.
    void timeTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        const auto prepared = [](int secondsAgo) {
            return BriefPreviewView::preparedText(generated, generated.addSecs(secondsAgo));
        };
        QTest::newRow("prepared now") << prepared(0) << u"Prepared now"_s;
        QTest::newRow("seconds") << prepared(30) << u"Prepared 30 seconds ago"_s;
        QTest::newRow("one minute") << prepared(60) << u"Prepared 1 minute ago"_s;
        QTest::newRow("hours") << prepared(3 * 3600) << u"Prepared 3 hours ago"_s;
        QTest::newRow("yesterday") << prepared(26 * 3600) << u"Prepared yesterday"_s;
        QTest::newRow("days") << prepared(3 * 86400) << u"Prepared 3 days ago"_s;

        CalendarEvent late =
            WidgetTest::event(QDateTime(QDate(2027, 1, 15), QTime(23, 30), Qt::UTC));
        late.endDate = late.startDate.addSecs(3600); // ends the next day: no second date
        QTest::newRow("preview time")
            << BriefPreviewView::timeString(late, english) << u"Jan 15, 2027 11:30 PM - 12:30 AM"_s;

        const CalendarEvent meeting =
            WidgetTest::event(QDateTime(QDate(2027, 1, 15), QTime(10, 0), Qt::UTC));
        const auto reminder = [&](int secondsToStart) {
            return meeting.reminderTimeText(meeting.startDate.addSecs(-secondsToStart), english);
        };
        const QString range = u" • 10:00 AM – 10:30 AM"_s;
        QTest::newRow("reminder at the start") << reminder(0) << u"NOW"_s + range;
        QTest::newRow("reminder 59 s before")
            << reminder(59) << u"Starting in less than a minute"_s + range;
        QTest::newRow("reminder 60 s before") << reminder(60) << u"Starting in 1 min"_s + range;
        QTest::newRow("reminder 119 s before") << reminder(119) << u"Starting in 1 min"_s + range;
    }
    void timeTexts() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        // Newer locale data puts a narrow no-break space before AM/PM.
        QCOMPARE(text.replace(QChar(0x202F), u' '), expected);
    }

    // Only Dismiss (focused from the start) or Escape put the alert away, not the backdrop.
    void batteryAlert() {
        BatteryAlertView view;
        QSignalSpy dismissed(&view, &BatteryAlertView::dismissRequested);
        QVERIFY(showActive(&view, {1024, 768}));
        QCOMPARE(visibleTexts(&view).join(u'|'),
                 u"Battery Critical|Your computer is at 1% battery. Plug in now."_s);
        QCOMPARE(buttonNames(&view), QStringList{u"Dismiss"_s});
        QCOMPARE(focused(), button(&view, u"Dismiss"_s));
        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(dismissed.count(), 0);
        QTest::mouseClick(button(&view, u"Dismiss"_s), Qt::LeftButton);
        QTest::keyClick(&view, Qt::Key_Escape);
        QCOMPARE(dismissed.count(), 2);
    }
};

QTEST_MAIN(TestBriefViews)
#include "tst_briefviews.moc"
