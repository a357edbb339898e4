// The windows and controls on their own: buttons, the meeting brief and its preview, and the
// full-screen reminder with the controller that puts one window on each of two screens.
#include "AccessibleWalk.h"
#include "ManualClock.h"
#include "TestEnvironment.h"
#include "WidgetTestSupport.h"
#include "core/AppSettings.h"
#include "ui/AppDialog.h"
#include "ui/BatteryAlertView.h"
#include "ui/BriefPreviewView.h"
#include "ui/CapsuleButton.h"
#include "ui/MeetingBriefCard.h"
#include "ui/OverlayWindow.h"
#include "ui/OverlayWindowController.h"
#include "ui/PlatformJoinButton.h"
#include "ui/ProviderRow.h"
#include "ui/ReminderOverlayView.h"
#include "ui/SymbolIcons.h"
#include "ui/Theme.h"
#include "ui/TrayIconPainter.h"
#include "ui/UpdateDialog.h"
#include "ui/Widgets.h"
#include "ui/WindowPlacement.h"

#include <QDesktopServices>
#include <QPainter>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTextBrowser>

using namespace Qt::StringLiterals;
using namespace WidgetTest;

namespace {
const QDateTime meetingStart(QDate(2027, 1, 15), QTime(10, 0), Qt::UTC);
const QUrl zoomLink(u"https://zoom.us/j/1"_s);
const QDateTime generated(QDate(2027, 1, 15), QTime(9, 0), Qt::UTC);

CalendarEvent upcoming(const QDateTime &start, std::optional<QUrl> link = std::nullopt,
                       std::optional<QString> location = std::nullopt) {
    CalendarEvent e;
    e.title = u"Quarterly planning"_s;
    e.startDate = start;
    e.endDate = start.addSecs(30 * 60);
    e.calendarTitle = u"Work"_s;
    e.meetingLink = std::move(link);
    e.location = std::move(location);
    return e;
}

// A brief prepared at `generated`: one summary line, one attendee, one talking point.
const MeetingBrief sampleBrief{{},
                               generated,
                               {u"Renewal is due next month"_s},
                               {{u"dana@example.org"_s, u"Dana Lee"_s, {}, {}, {}, {}, {}, {}}},
                               {u"Ask about the pilot"_s}};

// Pixels between the middle and what is drawn over `background` (middle third, `edge` in).
int offCentre(QWidget &widget, const QColor &background, int edge = 0) {
    widget.resize(widget.sizeHint());
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(background);
    widget.render(&image, {}, {}, QWidget::DrawChildren);
    int left = image.width(), right = -1;
    for (int y = image.height() / 3; y < image.height() * 2 / 3; ++y)
        for (int x = edge; x < image.width() - edge; ++x)
            if (image.pixel(x, y) != background.rgba()) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return right < 0 ? image.width() : std::abs(left - (image.width() - 1 - right));
}
// A desktop full of text and controls of its own colours: dark text on light or light on dark.
QImage busyDesktop(QSize size, bool dark, quint32 seed) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(dark ? QColor(20, 24, 30) : QColor(250, 250, 245));
    QPainter p(&image);
    QRandomGenerator random(seed);
    p.setFont(Theme::Typography::body());
    for (int y = 0; y < size.height(); y += 18) {
        p.setPen(QColor::fromHsv(random.bounded(360), 200, dark ? 255 : 90));
        p.drawText(QPoint(random.bounded(20), y + 14),
                   u"Quarterly numbers: switch ON/OFF, draft 7 of 12, reply-all "_s.repeated(6));
        p.fillRect(random.bounded(size.width()), y, 36, 16, QColor::fromRgb(random.generate()));
    }
    return image;
}

// The pixels of the card's inside (its rounded corners left out, whose edge blends by design).
QList<QRgb> cardPixels(const QImage &image, const QRect &card, int radius) {
    QList<QRgb> pixels;
    for (int y = card.top() + 1; y < card.bottom(); ++y)
        for (int x = card.left() + 1; x < card.right(); ++x) {
            const bool corner = (x < card.left() + radius || x > card.right() - radius) &&
                                (y < card.top() + radius || y > card.bottom() - radius);
            if (!corner)
                pixels << image.pixel(x, y);
        }
    return pixels;
}

// Wholly on `screen`, frame included, and centred on it but for the decoration, whose size
// is not known before the window is first shown.
bool centredOn(const QWidget *window, const QScreen *screen) {
    const QRect area = screen->availableGeometry();
    const QRect frame = window->frameGeometry();
    const QSize decoration = frame.size() - window->size();
    return area.contains(frame) &&
           std::abs(frame.center().x() - area.center().x()) <= decoration.width() / 2 + 1 &&
           std::abs(frame.center().y() - area.center().y()) <= decoration.height() / 2 + 1;
}

// Pixels of `image` close to `color` (each channel within 40), ignoring the nearly transparent.
int pixelsNear(const QImage &image, const QColor &color) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = QColor::fromRgba(image.pixel(x, y));
            if (c.alpha() > 200 && std::abs(c.red() - color.red()) < 40 &&
                std::abs(c.green() - color.green()) < 40 && std::abs(c.blue() - color.blue()) < 40)
                ++count;
        }
    return count;
}

// The icon as a panel of `background` shows it.
QImage onPanel(const QImage &icon, const QColor &background) {
    QImage panel(icon.size(), QImage::Format_ARGB32);
    panel.fill(background);
    QPainter p(&panel);
    p.drawImage(0, 0, icon);
    return panel;
}

// Counts the paints that cover the whole of a watched widget.
class FullPaintCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint &&
            static_cast<QPaintEvent *>(event)->rect() == static_cast<QWidget *>(watched)->rect())
            ++count;
        return false;
    }
};
} // namespace

class TestWidgets : public QObject {
    Q_OBJECT

public Q_SLOTS:
    // The desktop's handler of the links the views open.
    void open(const QUrl &url) { opened << url; }

private:
    QList<QUrl> opened;
    ManualClock clock{meetingStart.addSecs(-5 * 60)};
    QStringList calls; // what the user asked for, in order

    // Shown, sprung in and laid out, as the user meets it.
    std::unique_ptr<ReminderOverlayView> present(const CalendarEvent &event,
                                                 std::optional<MeetingBrief> brief = {},
                                                 QSize size = {1280, 800}) {
        auto view = std::make_unique<ReminderOverlayView>(event, std::move(brief), clock);
        for (auto [signal, name] : {std::pair{&ReminderOverlayView::dismissRequested, u"dismiss"_s},
                                    {&ReminderOverlayView::joinRequested, u"join"_s},
                                    {&ReminderOverlayView::snoozeRequested, u"snooze"_s}})
            connect(view.get(), signal, this, [this, name] { calls << name; });
        view->resize(size);
        view->show();
        view->finishAppearance();
        return view;
    }

private Q_SLOTS:
    void initTestCase() {
        QCOMPARE(QGuiApplication::screens().size(), 2);
        QDesktopServices::setUrlHandler(u"https"_s, this, "open");
    }
    void init() { calls.clear(); }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Title and symbol (if it exists) sit in the middle; Return runs the button as Space does.
    void capsule() {
        CapsuleButton plain(u"Snooze"_s, CapsuleButton::Style::ghost);
        CapsuleButton withSymbol(u"Snooze"_s, CapsuleButton::Style::ghost, u"xmark"_s);
        CapsuleButton missing(u"Snooze"_s, CapsuleButton::Style::ghost, u"no.such.symbol"_s);
        QVERIFY(offCentre(plain, Qt::transparent) <= 2);
        QVERIFY(offCentre(withSymbol, Qt::transparent) <= 2);
        QVERIFY(offCentre(missing, Qt::transparent) <= 2);
        QSignalSpy runs(&plain, &QAbstractButton::clicked);
        QVERIFY(showActive(&plain, plain.sizeHint()));
        QTest::keyClick(&plain, Qt::Key_Return);
        QTRY_COMPARE(runs.count(), 1);

        // A platform's button: its colour, with its icon and title in the middle.
        for (MeetingPlatform platform : MeetingPlatforms::all()) {
            PlatformJoinButton button(platform);
            const QColor brand = MeetingPlatforms::brandColor(platform);
            QVERIFY2(offCentre(button, brand, 2) <= 3, qPrintable(button.text()));
            const QImage image = button.grab().toImage();
            QCOMPARE(image.pixelColor(2, image.height() / 2).rgb(), brand.rgb());
        }
    }

    // A provider's row reads its title, then its lines, then its controls. Its symbol is the
    // provider's in its colour until connected, then the green check, and an outlined row's edge
    // turns green with it.
    void providerRow() {
        ProviderRow row(CalendarProvider::microsoft, u"Microsoft"_s, ProviderRow::Style::outlined);
        row.addLine(u"Work calendar"_s, Theme::Colors::textTertiary());
        row.addLine(u"Not reachable"_s, Theme::Colors::red());
        auto *connect = new CapsuleButton(u"Connect"_s, CapsuleButton::Style::primary);
        row.addControl(connect);
        QVERIFY(showActive(&row, {420, 90}));
        QCOMPARE(visibleTexts(&row),
                 (QStringList{u"Microsoft"_s, u"Work calendar"_s, u"Not reachable"_s}));
        QCOMPARE(unreadable(&row), QStringList());
        const auto top = [&](const QString &text) { return label(&row, text)->y(); };
        QVERIFY(top(u"Microsoft"_s) < top(u"Work calendar"_s));
        QVERIFY(top(u"Work calendar"_s) < top(u"Not reachable"_s));
        QVERIFY(connect->x() > label(&row, u"Not reachable"_s)->geometry().right());

        auto *symbol = row.findChild<QLabel *>(u"m.circle.fill"_s);
        const auto shows = [&](const char *name, const QColor &color) {
            return symbol->pixmap().toImage() == SymbolIcons::pixmap(QString::fromLatin1(name),
                                                                     color, 20,
                                                                     row.devicePixelRatioF())
                                                     .toImage();
        };
        const auto edge = [&] { return row.grab().toImage().pixelColor(0, row.height() / 2); };
        QVERIFY(shows("m.circle.fill", Theme::Colors::teal()));
        QVERIFY(std::abs(edge().green() - edge().red()) < 5);
        row.setConnected(true);
        QVERIFY(row.isConnected() && shows("checkmark.circle.fill", Theme::Colors::green()));
        QVERIFY(edge().green() > edge().red() + 20);
        row.setConnected(false);
        QVERIFY(shows("m.circle.fill", Theme::Colors::teal()));
    }

    // Only the sections with content, in order, as read aloud. A name links only to LinkedIn;
    // the company's description and news stay out of the card.
    void sections_data() {
        QTest::addColumn<QStringList>("summary");
        QTest::addColumn<QStringList>("points");
        QTest::addColumn<QString>("read");
        const QString people =
            u"Attendees|A|ada king|CTO at Acme|B|Bo|Z|zoe@example.org|one\ntwo\nthree"_s;
        QTest::newRow("all three") << QStringList{u"a"_s, u"b"_s} << QStringList{u"c"_s}
                                   << u"Meeting Brief|a|b|Talking Points|c|"_s + people;
        QTest::newRow("one line, no points")
            << QStringList{u"a"_s} << QStringList() << u"Meeting Brief|a|"_s + people;
    }
    void sections() {
        QFETCH(QStringList, summary);
        QFETCH(QStringList, points);
        QFETCH(QString, read);
        MeetingBrief brief;
        brief.summary = summary;
        brief.talkingPoints = points;
        const QUrl linkedIn(u"https://www.linkedin.com/in/ada"_s);
        // Email, name, role, company, description, news, profile page, notes.
        brief.attendeeProfiles = {
            {u"a@example.org"_s, u"ada king"_s, u"CTO"_s, u"Acme"_s, {}, {}, linkedIn, {}},
            {u"b@example.org"_s, u"Bo"_s, {}, u"Acme"_s, {}, {}, QUrl(u"file:///etc/passwd"_s), {}},
            {u"zoe@example.org"_s, {}, {}, {}, u"Anvils"_s, u"News"_s, {}, u"one\ntwo\nthree"_s}};
        MeetingBriefCard card(brief);
        card.resize(600, card.heightForWidth(600));
        card.show();
        QCOMPARE(visibleTexts(&card).join(u'|'), read);
        QCOMPARE(unreadable(&card), QStringList());
        for (const QString &name : {u"ada king"_s, u"Bo"_s, u"zoe@example.org"_s})
            QCOMPARE(label(&card, name)->openExternalLinks(), name == u"ada king");
        QVERIFY(label(&card, u"ada king"_s)->text().contains(linkedIn.toString()));
        // Notes: two lines lined up under the name, cut short; screen readers get all of it.
        auto *notes = card.findChild<ElidedLabel *>();
        QCOMPARE(notes->visibleLines(400), (QStringList{u"one"_s, u"two…"_s}));
        QCOMPARE(notes->heightForWidth(432), 2 * QFontMetrics(notes->font()).lineSpacing());
        QCOMPARE(notes->mapTo(&card, notes->contentsRect().topLeft()).x(),
                 label(&card, u"zoe@example.org"_s)->mapTo(&card, QPoint()).x());
        const MeetingBriefCard empty{MeetingBrief()};
        QVERIFY(empty.findChildren<QLabel *>().isEmpty());
    }

    // The meeting, where it is held, how long ago the brief was prepared and the brief; join
    // opens the link and keeps the window; Escape and Close put it away.
    void preview() {
        ManualClock clock(generated.addSecs(5 * 60));
        const CalendarEvent event =
            upcoming(meetingStart, QUrl(u"https://app.slack.com/huddle/T1/C2"_s), u"Room 4"_s);
        BriefPreviewView view(event, sampleBrief, clock);
        QSignalSpy dismissed(&view, &BriefPreviewView::dismissRequested);
        QVERIFY(showActive(&view, {520, 480}));
        const QStringList texts = visibleTexts(&view);
        for (const QString &text :
             {u"Quarterly planning"_s, u"Work"_s, u"Room 4"_s, u"Prepared 5 minutes ago"_s,
              BriefPreviewView::timeString(event), u"Renewal is due next month"_s})
            QVERIFY2(texts.contains(text), qPrintable(text));
        QCOMPARE(unreadable(&view), QStringList());
        QCOMPARE(buttonNames(&view), (QStringList{u"Join Slack Huddle"_s, u"Close"_s}));
        QTest::mouseClick(button(&view, u"Join Slack Huddle"_s), Qt::LeftButton);
        QCOMPARE(opened, QList<QUrl>{*event.meetingLink});
        QCOMPARE(dismissed.count(), 0);
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

        CalendarEvent late = upcoming(QDateTime(QDate(2027, 1, 15), QTime(23, 30), Qt::UTC));
        late.endDate = late.startDate.addSecs(3600); // ends the next day: no second date
        QTest::newRow("preview time")
            << BriefPreviewView::timeString(late, english) << u"Jan 15, 2027 11:30 PM - 12:30 AM"_s;

        const CalendarEvent meeting = upcoming(meetingStart);
        const auto reminder = [&](int secondsToStart) {
            return meeting.reminderTimeText(meeting.startDate.addSecs(-secondsToStart), english);
        };
        const QString range = u" • 10:00 AM – 10:30 AM"_s;
        QTest::newRow("at the start") << reminder(0) << u"NOW"_s + range;
        QTest::newRow("59 s before") << reminder(59) << u"Starting in less than a minute"_s + range;
        QTest::newRow("60 s before") << reminder(60) << u"Starting in 1 min"_s + range;
        QTest::newRow("119 s before") << reminder(119) << u"Starting in 1 min"_s + range;
        // A late reminder says how late.
        QTest::newRow("59 s after") << reminder(-59) << u"NOW"_s + range;
        QTest::newRow("3 min after") << reminder(-180) << u"Started 3 min ago"_s + range;
    }
    void timeTexts() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        // Newer locale data puts a narrow no-break space before AM/PM.
        QCOMPARE(text.replace(QChar(0x202F), u' '), expected);
    }

    // The reminder and the brief preview write clock times the user's way, never with seconds:
    // the suite runs under C.UTF-8, whose short format is Qt's C locale's ("HH:mm:ss").
    void clockTimesWithoutSeconds_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("start");
        QTest::newRow("system (C.UTF-8)") << QLocale::system() << u"10:00 – 10:30"_s;
        QTest::newRow("en_US") << QLocale(u"en_US"_s) << u"10:00 AM – 10:30 AM"_s;
    }
    void clockTimesWithoutSeconds() {
        QFETCH(QLocale, locale);
        QFETCH(QString, start);
        const QLocale before;
        QLocale::setDefault(locale);
        const auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
        // Seconds into the minute, so any shown seconds would read as such.
        const QDateTime odd = meetingStart.addSecs(29);
        auto reminder = present(upcoming(odd, zoomLink));
        BriefPreviewView preview(upcoming(odd, zoomLink), sampleBrief, clock);
        QVERIFY(showActive(&preview, {520, 480}));
        const QStringList texts = visibleTexts(reminder.get()) + visibleTexts(&preview);
        const QRegularExpression seconds(u"\\d[:.]\\d\\d[:.]\\d\\d"_s);
        for (const QString &text : texts)
            QVERIFY2(!seconds.match(text).hasMatch(), qPrintable(text));
        const QString range = texts.join(u'\n').replace(QChar(0x202F), u' ');
        QVERIFY2(range.contains(start), qPrintable(range));
        QVERIFY2(range.contains(start.replace(u" – "_s, u" - "_s)), qPrintable(range));
    }

    // Buttons and how the meeting is held, for each kind of meeting; the card centred, wider with
    // a brief, narrower on a narrow screen, and with its buttons on screen when a brief scrolls.
    void card_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("location");
        QTest::addColumn<int>("briefLines");
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QString>("join");
        QTest::addColumn<QString>("indicator");
        QTest::addColumn<int>("cardWidth");
        const QSize wide(1280, 800);
        QTest::newRow("no link, no place")
            << QString() << QString() << 0 << wide << QString() << QString() << 500;
        QTest::newRow("zoom with a brief") << u"https://acme.zoom.us/j/123456"_s << QString() << 1
                                           << wide << u"Join Zoom Meeting"_s << u"Zoom"_s << 680;
        QTest::newRow("unknown platform, narrow screen")
            << u"https://video.example.org/room/7"_s << QString() << 1 << QSize(600, 800)
            << u"Join"_s << u"Video Meeting"_s << 520;
        QTest::newRow("known service") << u"https://meet.jit.si/Standup"_s << QString() << 0 << wide
                                       << u"Join Jitsi Meet"_s << u"Jitsi Meet"_s << 500;
        QTest::newRow("in person, long brief")
            << QString() << u"Room 4, Main Street"_s << 41 << QSize(1280, 600) << QString()
            << u"Room 4, Main Street"_s << 680;
    }
    void card() {
        QFETCH(QString, link);
        QFETCH(QString, location);
        QFETCH(int, briefLines);
        QFETCH(QSize, screen);
        QFETCH(QString, join);
        QFETCH(QString, indicator);
        QFETCH(int, cardWidth);
        MeetingBrief brief = sampleBrief;
        for (int i = 1; i < briefLines; ++i)
            brief.summary << u"Point %1 of a long briefing"_s.arg(i);
        auto view = present(upcoming(meetingStart,
                                     link.isEmpty() ? std::nullopt : std::optional(QUrl(link)),
                                     location.isEmpty() ? std::nullopt : std::optional(location)),
                            briefLines ? std::optional(brief) : std::nullopt, screen);
        const QStringList buttons = buttonNames(view.get());
        const QStringList rest{u"1 min"_s, u"Dismiss"_s};
        QCOMPARE(buttons, join.isEmpty() ? rest : QStringList{join} + rest);
        QCOMPARE(unreadable(view.get()), QStringList());
        QCOMPARE(visibleTexts(view.get()).filter(u"Starting in 5 min • "_s).size(), 1);
        auto *indicatorRow = view->findChild<QWidget *>(u"meetingTypeIndicator"_s);
        QCOMPARE(indicatorRow != nullptr, !indicator.isEmpty());
        // Laid out wide enough to read, not squeezed away.
        const QLabel *text = indicatorRow ? label(indicatorRow, indicator) : nullptr;
        QVERIFY(!indicatorRow ||
                (text && text->width() >= QFontMetrics(text->font()).horizontalAdvance(indicator)));

        const QRect card = view->card()->geometry();
        QCOMPARE(card.width(), cardWidth);
        QCOMPARE(card.center().x(), view->rect().center().x());
        QVERIFY(card.top() >= 0 && card.bottom() < screen.height());
        QLabel *title = label(view.get(), u"Quarterly planning"_s);
        QVERIFY(title->height() >= QFontMetrics(title->font()).height());
        const auto yOf = [&](QWidget *w) { return w->mapTo(view.get(), QPoint()).y(); };
        QAbstractButton *dismiss = button(view.get(), u"Dismiss"_s);
        QVERIFY(card.contains(QRect(dismiss->mapTo(view.get(), QPoint()), dismiss->size())));
        auto *briefCard = view->findChild<MeetingBriefCard *>();
        QCOMPARE(briefCard != nullptr, briefLines > 0);
        if (briefCard) {
            QVERIFY(yOf(briefCard) > yOf(label(view.get(), u"Work"_s)));
            QVERIFY(yOf(briefCard) < yOf(dismiss));
            QVERIFY(label(view.get(), u"Renewal is due next month"_s));
        }
    }

    // Return acts on the focused button, Tab goes round them; keys in the first second were meant
    // for the window the reminder took focus from and never act, but clicks do.
    void keys_data() {
        QTest::addColumn<bool>("withLink");
        QTest::addColumn<bool>("early");
        QTest::addColumn<QString>("keys"); // or a button to click; none: the backdrop
        QTest::addColumn<QString>("call");
        QTest::newRow("escape") << true << false << u"Esc"_s << u"dismiss"_s;
        QTest::newRow("return") << true << false << u"Return"_s << u"join"_s;
        QTest::newRow("return, no link") << false << false << u"Return"_s << u"dismiss"_s;
        QTest::newRow("tab, return") << true << false << u"Tab, Return"_s << u"snooze"_s;
        QTest::newRow("tab wraps") << true << false << u"Tab, Tab, Tab, Return"_s << u"join"_s;
        QTest::newRow("first second") << true << true << u"Return, Esc, Tab, Return"_s << QString();
        QTest::newRow("backdrop click") << true << false << QString() << QString();
        QTest::newRow("early click") << true << true << u"Join Zoom Meeting"_s << u"join"_s;
    }
    void keys() {
        QFETCH(bool, withLink);
        QFETCH(bool, early);
        QFETCH(QString, keys);
        QFETCH(QString, call);
        auto view =
            present(upcoming(meetingStart, withLink ? std::optional(zoomLink) : std::nullopt));
        QVERIFY(showActive(view.get(), view->size()));
        if (!early)
            clock.advance(ReminderOverlayView::keyGuard);
        QAbstractButton *target = button(view.get(), keys);
        const QKeySequence sequence(target ? QString() : keys);
        for (int i = 0; i < sequence.count(); ++i)
            QTest::keyClick(focused(), sequence[i].key());
        if (target)
            QTest::mouseClick(target, Qt::LeftButton);
        else if (keys.isEmpty())
            QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(5, 5));
        clock.advance(ReminderOverlayView::keyGuard);
        QCoreApplication::processEvents();
        QCOMPARE(calls, call.isEmpty() ? QStringList() : QStringList{call});
        QVERIFY(view->isVisible());
    }

    // Nothing behind the reminder can be read through its card: blended by a compositor over
    // two different desktops, or painted over two different grabs of the screen, the card's
    // pixels are the same.
    void cardHidesWhatIsBehind_data() {
        QTest::addColumn<bool>("compositor");
        QTest::addColumn<bool>("withBrief");
        QTest::newRow("compositor") << true << false;
        QTest::newRow("compositor, brief") << true << true;
        QTest::newRow("screen grab") << false << false;
        QTest::newRow("screen grab, brief") << false << true;
    }
    void cardHidesWhatIsBehind() {
        QFETCH(bool, compositor);
        QFETCH(bool, withBrief);
        auto view = present(upcoming(meetingStart, zoomLink),
                            withBrief ? std::optional(sampleBrief) : std::nullopt);
        const QList<QImage> desktops{busyDesktop(view->size(), false, 1),
                                     busyDesktop(view->size(), true, 2)};
        QList<QImage> seen;
        for (const QImage &desktop : desktops) {
            QImage shown = desktop;
            if (compositor) {
                QImage window(view->size(), QImage::Format_ARGB32_Premultiplied);
                window.fill(Qt::transparent);
                view->render(&window);
                QPainter(&shown).drawImage(0, 0, window);
            } else {
                view->setBackdrop(desktop);
                view->render(&shown);
            }
            seen << shown;
        }
        const QRect card = view->card()->geometry();
        const QList<QRgb> first = cardPixels(seen[0], card, 24);
        QVERIFY(first.size() > card.width() * card.height() / 2);
        QVERIFY(first == cardPixels(seen[1], card, 24));
        // The dim around the card still lets the desktop show.
        QVERIFY(seen[0].pixel(5, 5) != seen[1].pixel(5, 5));
    }

    // A picture of the card springs in; the live card takes its place at rest.
    void springsIn() {
        ReminderOverlayView view(upcoming(meetingStart), std::nullopt, clock);
        QSignalSpy finished(&view, &CardOverlay::appearanceFinished);
        view.show();
        QVERIFY(!view.card()->isVisible());
        QVERIFY(finished.wait(2000));
        QVERIFY(view.card()->isVisible());
    }

    // The keyboard goes to the card in front of the user: on the screen with the pointer, or
    // on the primary screen when the pointer is on none.
    void focusFollowsThePointer_data() {
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<int>("screen");
        QTest::newRow("pointer on the second screen") << QPoint(1500, 300) << 1;
        QTest::newRow("pointer on the first screen") << QPoint(200, 700) << 0;
        QTest::newRow("pointer off every screen") << QPoint(1500, 790) << 0;
    }
    void focusFollowsThePointer() {
        QFETCH(QPoint, pointer);
        QFETCH(int, screen);
        QCursor::setPos(pointer);
        QCOMPARE(QCursor::pos(), pointer);
        TestEnvironment env;
        const auto settings = env.makeSettings();
        OverlayWindowController controller(*settings, clock);
        controller.showOverlay(upcoming(meetingStart, zoomLink), std::nullopt);
        for (QWidget *window : controller.windows())
            window->findChild<ReminderOverlayView *>()->finishAppearance();
        QWidget *expected = controller.windows().value(screen);
        QVERIFY(expected && expected->screen() == QGuiApplication::screens()[screen]);
        QTRY_COMPARE(QApplication::activeWindow(), expected);
        QCOMPARE(focused(), button(expected, u"Join Zoom Meeting"_s));
        clock.advance(ReminderOverlayView::keyGuard);
        QSignalSpy dismissed(&controller, &OverlayWindowController::dismissed);
        QTest::keyClick(focused(), Qt::Key_Escape);
        QCOMPARE(dismissed.size(), 1);
    }

    // The keyboard moving from one screen's window to the other while the cards spring in
    // repaints neither screen in full, and the card on the screen without it looks like the one in
    // front of the user (but for the focused button's ring).
    void focusMovesWithoutRepaintingTheScreens() {
        TestEnvironment env;
        const auto settings = env.makeSettings();
        OverlayWindowController controller(*settings, clock);
        QSignalSpy painted(&controller, &OverlayWindowController::overlayPainted);
        controller.showOverlay(upcoming(meetingStart, zoomLink), std::nullopt);
        QVERIFY(painted.wait(2000));
        const QList<QWidget *> windows = controller.windows();
        QCOMPARE(windows.size(), 2);
        QList<ReminderOverlayView *> views;
        for (QWidget *window : windows)
            views << window->findChild<ReminderOverlayView *>();
        QTRY_VERIFY(QApplication::activeWindow());
        QTest::qWait(50);

        FullPaintCounter counter;
        for (ReminderOverlayView *view : views)
            view->installEventFilter(&counter);
        for (QWidget *window : {windows[0], windows[1], windows[0]}) {
            window->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), window);
            QTest::qWait(20);
        }
        QCOMPARE(counter.count, 0);

        QList<QImage> cards;
        for (ReminderOverlayView *view : views) {
            view->finishAppearance();
            QImage card = view->card()->grab().toImage();
            QPainter(&card).fillRect(
                view->joinButton()->geometry().translated(
                    view->joinButton()->parentWidget()->mapTo(view->card(), QPoint())),
                Qt::magenta);
            cards << card;
        }
        QVERIFY(windows[0]->isActiveWindow() && !windows[1]->isActiveWindow());
        QCOMPARE(cards[1], cards[0]);
    }

    // A window is centred in the area it is given; one too large for it keeps its top-left
    // corner (title bar, close button) inside; a shown window that grew moves back inside.
    void placementRule_data() {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QPoint>("centred");
        QTest::addColumn<QRect>("grown");
        QTest::addColumn<QPoint>("keptInside");
        const QRect right(1280, 28, 1024, 740);
        QTest::newRow("fits") << right << QSize(460, 200) << QPoint(1562, 298)
                              << QRect(1562, 298, 460, 400) << QPoint(1562, 298);
        QTest::newRow("grew past the bottom") << right << QSize(460, 200) << QPoint(1562, 298)
                                              << QRect(1562, 498, 460, 400) << QPoint(1562, 368);
        QTest::newRow("taller than the screen") << right << QSize(460, 900) << QPoint(1562, 28)
                                                << QRect(1562, -20, 460, 900) << QPoint(1562, 28);
        QTest::newRow("wider than the screen") << right << QSize(1100, 200) << QPoint(1280, 298)
                                               << QRect(1200, 298, 1100, 200) << QPoint(1280, 298);
    }
    void placementRule() {
        QFETCH(QRect, area);
        QFETCH(QSize, frame);
        QFETCH(QPoint, centred);
        QFETCH(QRect, grown);
        QFETCH(QPoint, keptInside);
        QCOMPARE(WindowPlacement::centred(area, frame), centred);
        QCOMPARE(WindowPlacement::keptInside(area, grown), keptInside);
    }

    // The updater's window opens centred on the screen with the pointer, stays on it when a
    // later step makes it taller, and keeps the application's light look on a dark desktop:
    // capsule buttons, the default one filled, on the app's own background.
    void updateDialog_data() {
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<int>("screen");
        QTest::newRow("pointer on the second screen") << QPoint(2000, 100) << 1;
        QTest::newRow("pointer on the first screen") << QPoint(10, 10) << 0;
        QTest::newRow("pointer off every screen") << QPoint(2000, 780) << 0;
    }
    void updateDialog() {
        QFETCH(QPoint, pointer);
        QFETCH(int, screen);
        const QPalette desktop = QApplication::palette();
        QPalette dark = desktop;
        for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
            dark.setColor(role, QColor(30, 30, 30));
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            dark.setColor(role, QColor(230, 230, 230));
        QApplication::setPalette(dark);
        const auto restore = qScopeGuard([&] { QApplication::setPalette(desktop); });
        QCursor::setPos(pointer);
        const QScreen *expected = QGuiApplication::screens()[screen];

        UpdateDialog dialog;
        dialog.showChecking();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY2(centredOn(&dialog, expected),
                 qPrintable(u"%1,%2 %3x%4"_s.arg(dialog.frameGeometry().x())
                                .arg(dialog.frameGeometry().y())
                                .arg(dialog.frameGeometry().width())
                                .arg(dialog.frameGeometry().height())));
        const int checkingHeight = dialog.height();

        // The pointer moves on; the offer, with long release notes, grows the same window.
        QCursor::setPos(QGuiApplication::screens()[1 - screen]->geometry().center());
        dialog.showUpdateFound(u"1.10.0"_s, u"1.9.2"_s, u"Faster reminders.\n"_s.repeated(40),
                               QUrl(u"https://zelvane.app/notes"_s));
        QVERIFY(dialog.height() > checkingHeight);
        QVERIFY(expected->availableGeometry().contains(dialog.frameGeometry()));

        QStringList buttons;
        for (const QAbstractButton *b : dialog.findChildren<QAbstractButton *>()) {
            const auto *capsule = qobject_cast<const CapsuleButton *>(b);
            QVERIFY2(capsule, qPrintable(b->text()));
            if (capsule->style() == CapsuleButton::Style::primary)
                buttons << b->text();
        }
        QCOMPARE(buttons, QStringList{u"Install"_s});
        QTRY_COMPARE(focused(), button(&dialog, u"Install"_s));
        const QImage shown = dialog.grab().toImage();
        QCOMPARE(shown.pixel(4, 4), Theme::Colors::background().rgba());
        auto *notes = dialog.findChild<QTextBrowser *>();
        QCOMPARE(notes->palette().color(QPalette::Base).rgba(),
                 Theme::Colors::surfaceSecondary().rgba());
        QCOMPARE(notes->palette().color(QPalette::Text).rgba(),
                 Theme::Colors::textPrimary().rgba());
        QCOMPARE(unreadable(&dialog), QStringList());
    }

    // Asked before an account goes: Cancel has the focus, so Return or Escape keep it; the
    // action is one Tab away. The question is read out as shown.
    void confirmation_data() {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("escape") << QList<int>{Qt::Key_Escape} << false;
        QTest::newRow("return on cancel") << QList<int>{Qt::Key_Return} << false;
        QTest::newRow("tab, space") << QList<int>{Qt::Key_Tab, Qt::Key_Space} << true;
        QTest::newRow("tab, return") << QList<int>{Qt::Key_Tab, Qt::Key_Return} << true;
    }
    void confirmation() {
        QFETCH(QList<int>, keys);
        QFETCH(bool, accepted);
        ConfirmationDialog dialog(u"Remove sam@northwind.test?"_s, u"It goes."_s, u"Remove"_s);
        QSignalSpy finished(&dialog, &QDialog::finished);
        dialog.open();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(buttonNames(&dialog), (QStringList{u"Cancel"_s, u"Remove"_s}));
        QCOMPARE(unreadable(&dialog), QStringList());
        QCOMPARE(focused(), button(&dialog, u"Cancel"_s));
        for (int key : keys)
            QTest::keyClick(focused(), Qt::Key(key));
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toInt(),
                 int(accepted ? QDialog::Accepted : QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
    }

    // Each window worked through its accessible actions alone, as Orca or switch access works
    // it: every action does what a click does. The reminder's buttons are met in reading order.
    void accessibleActions_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("reminder") << u"reminder"_s
                                  << QStringList{u"join"_s, u"snooze"_s, u"dismiss"_s};
        QTest::newRow("reminder, no link")
            << u"reminder, no link"_s << QStringList{u"snooze"_s, u"dismiss"_s};
        QTest::newRow("brief preview") << u"brief preview"_s << QStringList{u"dismiss"_s};
        QTest::newRow("battery alert") << u"battery alert"_s << QStringList{u"dismiss"_s};
        QTest::newRow("update found")
            << u"update found"_s << QStringList{u"skip"_s, u"later"_s, u"install"_s};
        QTest::newRow("update checking") << u"update checking"_s << QStringList{u"cancel"_s};
        QTest::newRow("update downloading") << u"update downloading"_s << QStringList{u"cancel"_s};
        QTest::newRow("up to date") << u"up to date"_s << QStringList{u"closed"_s};
        QTest::newRow("update failed") << u"update failed"_s << QStringList{u"closed"_s};
        QTest::newRow("confirmation")
            << u"confirmation"_s << QStringList{u"rejected"_s, u"accepted"_s};
    }
    void accessibleActions() {
        QFETCH(QString, window);
        QFETCH(QStringList, expected);
        const auto record = [this](auto *sender, auto signal, const QString &name) {
            connect(sender, signal, this, [this, name] { calls << name; });
        };
        std::unique_ptr<QWidget> shown;
        QSize size(1280, 800);
        if (window.startsWith(u"reminder"_s)) {
            const bool withLink = !window.endsWith(u"no link"_s);
            shown =
                present(upcoming(meetingStart, withLink ? std::optional(zoomLink) : std::nullopt),
                        sampleBrief);
            clock.advance(ReminderOverlayView::keyGuard);
        } else if (window == u"brief preview"_s) {
            auto view = std::make_unique<BriefPreviewView>(upcoming(meetingStart, zoomLink),
                                                           sampleBrief, clock);
            record(view.get(), &BriefPreviewView::dismissRequested, u"dismiss"_s);
            shown = std::move(view);
            size = {520, 480};
        } else if (window == u"battery alert"_s) {
            auto view = std::make_unique<BatteryAlertView>();
            record(view.get(), &BatteryAlertView::dismissRequested, u"dismiss"_s);
            shown = std::move(view);
        } else if (window == u"confirmation"_s) {
            auto dialog = std::make_unique<ConfirmationDialog>(u"Remove sam@northwind.test?"_s,
                                                               u"It goes."_s, u"Remove"_s);
            record(dialog.get(), &QDialog::rejected, u"rejected"_s);
            record(dialog.get(), &QDialog::accepted, u"accepted"_s);
            // Shown again after each answer, so the walk meets both buttons.
            connect(dialog.get(), &QDialog::finished, dialog.get(), &QWidget::show,
                    Qt::QueuedConnection);
            size = dialog->sizeHint();
            shown = std::move(dialog);
        } else {
            auto dialog = std::make_unique<UpdateDialog>();
            if (window == u"update found"_s)
                dialog->showUpdateFound(u"1.10.0"_s, u"1.9.2"_s, u"Faster reminders."_s,
                                        QUrl(u"https://zelvane.app/notes"_s));
            else if (window == u"update checking"_s)
                dialog->showChecking();
            else if (window == u"update downloading"_s)
                dialog->showDownloading();
            else if (window == u"up to date"_s)
                dialog->showUpToDate(u"1.9.2"_s);
            else
                dialog->showError(u"The update could not be read."_s);
            if (window == u"up to date"_s || window == u"update failed"_s)
                record(dialog.get(), &QDialog::finished, u"closed"_s);
            record(dialog.get(), &UpdateDialog::installRequested, u"install"_s);
            record(dialog.get(), &UpdateDialog::laterRequested, u"later"_s);
            record(dialog.get(), &UpdateDialog::skipRequested, u"skip"_s);
            record(dialog.get(), &UpdateDialog::cancelRequested, u"cancel"_s);
            size = dialog->sizeHint();
            shown = std::move(dialog);
        }
        QVERIFY(showActive(shown.get(), size));
        opened.clear();
        const AccessibleWalk::Report report = AccessibleWalk::walk(shown.get());
        qInfo("%s: %lld controls, %lld broken", qPrintable(window), report.covered.size(),
              report.broken.size());
        QVERIFY2(report.broken.isEmpty(), qPrintable(report.problems().join(u'\n')));
        // What the actions asked for, in the order the controls are read.
        QCOMPARE(calls, expected);
        if (window == u"brief preview"_s)
            QCOMPARE(opened, QList<QUrl>{zoomLink});
    }

    // A window on each screen, a sound if asked for, one announcement once both have painted.
    // Acting on either screen takes every window down first; so does the controller going away.
    void controller_data() {
        QTest::addColumn<bool>("sound");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("call");
        QTest::newRow("snooze on the second") << true << u"1 min"_s << u"snooze"_s;
        QTest::newRow("join on the second") << false << u"Join Zoom Meeting"_s << u"join"_s;
        QTest::newRow("escape on the second") << true << u"Escape"_s << u"dismiss"_s;
        QTest::newRow("controller gone") << true << u"destroy"_s << QString();
    }
    void controller() {
        QFETCH(bool, sound);
        QFETCH(QString, input);
        QFETCH(QString, call);
        const QStringList expected = call.isEmpty() ? QStringList() : QStringList{call};
        TestEnvironment env;
        const auto settings = env.makeSettings();
        settings->setSoundEnabled(sound);
        auto controller = std::make_unique<OverlayWindowController>(*settings, clock);
        QSignalSpy sounds(controller.get(), &OverlayWindowController::alertSoundDue);
        QSignalSpy painted(controller.get(), &OverlayWindowController::overlayPainted);
        // Every announcement must find every overlay already gone.
        for (auto [signal, name] : {std::pair{&OverlayWindowController::dismissed, u"dismiss"_s},
                                    {&OverlayWindowController::joinRequested, u"join"_s},
                                    {&OverlayWindowController::snoozeRequested, u"snooze"_s}})
            connect(controller.get(), signal, this, [this, &controller, name] {
                calls << name + (controller->windows().isEmpty() ? u""_s : u" (open)"_s);
            });
        controller->showOverlay(upcoming(meetingStart, zoomLink), std::nullopt);
        for (QWidget *window : controller->windows())
            window->findChild<ReminderOverlayView *>()->finishAppearance();
        const QList<QPointer<QWidget>> windows{controller->windows()[0], controller->windows()[1]};
        for (int i = 0; i < 2; ++i)
            QVERIFY(windows[i]->isVisible() &&
                    windows[i]->geometry() == QGuiApplication::screens()[i]->geometry());
        QVERIFY(painted.wait(2000));
        QTest::qWait(50);
        QCOMPARE(painted.size(), 1);
        QCOMPARE(sounds.size(), sound ? 1 : 0);

        QAbstractButton *snooze = button(windows[1], u"1 min"_s);
        clock.advance(ReminderOverlayView::keyGuard);
        if (input == u"Escape")
            QTest::keyClick(windows[1]->findChild<ReminderOverlayView *>(), Qt::Key_Escape);
        else if (input == u"destroy")
            controller.reset();
        else
            QTest::mouseClick(button(windows[1], input), Qt::LeftButton);
        QCOMPARE(calls, expected);
        for (const QPointer<QWidget> &w : windows)
            QVERIFY(!w || !w->isVisible());
        // A click still queued on a window of a controller that is gone reaches nobody.
        if (!controller && windows[1] && snooze)
            snooze->click();
        QCOMPARE(calls, expected);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const QPointer<QWidget> &w : windows)
            QVERIFY(!w);
        QVERIFY(!controller || controller->windows().isEmpty());
        // Nothing of the reminder is kept for the next one, shown or hidden.
        for (QWidget *widget : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<OverlayWindow *>(widget));
    }

    // The app's symbol for the tray is drawn from the bundled icon for the screen's pixel ratio:
    // as many pixels as the ratio asks, marked with it, the rounded square filling most of them
    // in the app's blue and the corners left clear.
    void appImageForScreen_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<int>("pixels");
        QTest::newRow("16 px at 1x") << 16 << 1.0 << 16;
        QTest::newRow("22 px at 1.5x") << 22 << 1.5 << 33;
        QTest::newRow("48 px at 2x") << 48 << 2.0 << 96;
    }
    void appImageForScreen() {
        QFETCH(int, size);
        QFETCH(qreal, ratio);
        QFETCH(int, pixels);
        const QImage image = SymbolIcons::appImage(size, ratio);
        QCOMPARE(image.size(), QSize(pixels, pixels));
        QCOMPARE(image.devicePixelRatio(), ratio);
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(pixels - 1, pixels - 1)), 0);
        QVERIFY2(pixelsNear(image, Theme::Colors::primary()) >= pixels * pixels / 3,
                 qPrintable(QString::number(pixelsNear(image, Theme::Colors::primary()))));
    }

    // The tray icon at a small, a middle and a large panel size: without a mark it is the bare
    // symbol; within the hour a badge in the lower right corner carries the minutes in white,
    // blue until five minutes before, red from then on; the symbol's upper left stays as it is.
    void trayIconMark_data() {
        QTest::addColumn<int>("size");
        for (int size : {16, 24, 48})
            QTest::addRow("%d px", size) << size;
    }
    void trayIconMark() {
        QFETCH(int, size);
        const QImage bare = TrayIconPainter::paint(size, {});
        QCOMPARE(bare.size(), QSize(size, size));
        QVERIFY(pixelsNear(bare, Theme::Colors::primary()) > 0);
        QCOMPARE(pixelsNear(bare, Theme::Colors::red()), 0);
        // The badge covers the lower right quarter, so any white there is its digits.
        const auto digits = [size](const QImage &image) {
            return pixelsNear(image.copy(size / 2, size / 2, size - size / 2, size - size / 2),
                              Qt::white);
        };

        const QImage later = TrayIconPainter::paint(size, {{}, 42, false});
        const QImage soon = TrayIconPainter::paint(size, {{}, 3, true});
        const QImage other = TrayIconPainter::paint(size, {{}, 8, true});
        QCOMPARE(pixelsNear(later, Theme::Colors::red()), 0);
        const int badgeArea = size * size / 8;
        QVERIFY2(pixelsNear(soon, Theme::Colors::red()) >= badgeArea / 2,
                 qPrintable(QString::number(pixelsNear(soon, Theme::Colors::red()))));
        for (const QImage *marked : {&later, &soon, &other}) {
            // Digits: white, a few pixels at least even at 16 px.
            QVERIFY(digits(*marked) >= 3);
            for (int y = 0; y < size / 3; ++y)
                for (int x = 0; x < size / 3; ++x)
                    QCOMPARE(marked->pixel(x, y), bare.pixel(x, y));
            // The badge keeps its own colour on light and dark panels.
            for (const QColor &panel : {QColor(Qt::white), QColor(0x20, 0x20, 0x20)}) {
                const QImage shown = onPanel(*marked, panel);
                QVERIFY(pixelsNear(shown, Qt::white) >= 3);
                QVERIFY(pixelsNear(shown, marked == &later
                                              ? Theme::Colors::primary()
                                              : Theme::Colors::red()) >= badgeArea / 2);
            }
        }
        // Other minutes, other digits.
        QVERIFY(soon != other);
        QCOMPARE(TrayIconPainter::paint(size, {{}, 3, true}), soon);
        // The icon offers every panel size.
        const QIcon icon = TrayIconPainter::icon({{}, 3, true});
        QCOMPARE(icon.availableSizes().size(), qsizetype(std::size(TrayIconPainter::sizes)));
        // Each drawing as it is; between sizes the next larger one scaled down, never up.
        for (const int each : TrayIconPainter::sizes)
            QCOMPARE(
                icon.pixmap(each).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                TrayIconPainter::paint(each, {{}, 3, true}));
        QCOMPARE(icon.pixmap(20).size(), QSize(20, 20));
        QCOMPARE(icon.pixmap(64).size(), QSize(48, 48));
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
