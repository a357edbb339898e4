#include "BriefPreviewView.h"

#include "CapsuleButton.h"
#include "MeetingBriefCard.h"
#include "PlatformJoinButton.h"
#include "Theme.h"
#include "Widgets.h"
#include "core/ClockTime.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {
constexpr int padding = 24;

// The locale's long date without the weekday and with abbreviated month names: the
// "medium" date style ("Jan 5, 2026") that QLocale does not name.
QString mediumDateFormat(const QLocale &locale) {
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

// How long ago, or how far ahead, an amount of one unit lies. English words its singular apart
// ("1 minute ago"), so a count of one has a source text of its own; each carries %n so that every
// language sets its own plural forms.
struct UnitPhrases {
    const char *pastOne;
    const char *pastMany;
    const char *futureOne;
    const char *futureMany;
};

constexpr UnitPhrases secondsPhrases{QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n second ago"),
                                     QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n seconds ago"),
                                     QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n second"),
                                     QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n seconds")};
constexpr UnitPhrases minutesPhrases{QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n minute ago"),
                                     QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n minutes ago"),
                                     QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n minute"),
                                     QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n minutes")};
constexpr UnitPhrases hoursPhrases{QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n hour ago"),
                                   QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n hours ago"),
                                   QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n hour"),
                                   QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n hours")};
constexpr UnitPhrases daysPhrases{QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n day ago"),
                                  QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n days ago"),
                                  QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n day"),
                                  QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n days")};
constexpr UnitPhrases weeksPhrases{QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n week ago"),
                                   QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n weeks ago"),
                                   QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n week"),
                                   QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n weeks")};
constexpr UnitPhrases monthsPhrases{QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n month ago"),
                                    QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n months ago"),
                                    QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n month"),
                                    QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n months")};
constexpr UnitPhrases yearsPhrases{QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n year ago"),
                                   QT_TRANSLATE_N_NOOP("BriefPreviewView", "%n years ago"),
                                   QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n year"),
                                   QT_TRANSLATE_N_NOOP("BriefPreviewView", "in %n years")};
} // namespace

QString BriefPreviewView::timeString(const CalendarEvent &event, const QLocale &locale) {
    const QDateTime start = event.startDate.toLocalTime();
    return locale.toString(start.date(), mediumDateFormat(locale)) + QLatin1Char(' ') +
           ClockTime::format(start.time(), locale) + QStringLiteral(" - ") +
           ClockTime::format(event.endDate.toLocalTime().time(), locale);
}

QString BriefPreviewView::preparedText(const QDateTime &generatedAt, const QDateTime &now) {
    const qint64 seconds = generatedAt.secsTo(now);
    const bool past = seconds >= 0;
    const qint64 magnitude = std::abs(seconds);
    auto phrase = [past](const UnitPhrases &phrases, qint64 count) {
        const char *one = past ? phrases.pastOne : phrases.futureOne;
        const char *many = past ? phrases.pastMany : phrases.futureMany;
        return tr(count == 1 ? one : many, nullptr, int(count));
    };
    QString relative;
    const qint64 days = std::abs(generatedAt.toLocalTime().date().daysTo(now.toLocalTime().date()));
    if (magnitude < 1)
        relative = tr("now");
    else if (magnitude < 60)
        relative = phrase(secondsPhrases, magnitude);
    else if (magnitude < 3600)
        relative = phrase(minutesPhrases, magnitude / 60);
    else if (magnitude < 86400)
        relative = phrase(hoursPhrases, magnitude / 3600);
    else if (days <= 1)
        relative = past ? tr("yesterday") : tr("tomorrow");
    else if (days < 7)
        relative = phrase(daysPhrases, days);
    else if (days < 14)
        relative = past ? tr("last week") : tr("next week");
    else if (days < 30)
        relative = phrase(weeksPhrases, days / 7);
    else if (days < 60)
        relative = past ? tr("last month") : tr("next month");
    else if (days < 365)
        relative = phrase(monthsPhrases, days / 30);
    else if (days < 730)
        relative = past ? tr("last year") : tr("next year");
    else
        relative = phrase(yearsPhrases, days / 365);
    return tr("Prepared %1", "how long ago a brief was prepared").arg(relative);
}

BriefPreviewView::BriefPreviewView(const CalendarEvent &event, const MeetingBrief &brief,
                                   Clock &clock, QWidget *parent)
    : QWidget(parent) {
    setAccessibleName(event.title);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Theme::Colors::surface());
    setPalette(pal);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);

    auto *content = new QWidget;
    content->setAutoFillBackground(true);
    content->setPalette(pal);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(12);

    QLabel *title =
        Widgets::label(event.title, Theme::Typography::h2(), Theme::Colors::textPrimary());
    title->setWordWrap(true);
    layout->addWidget(title);
    layout->addWidget(Widgets::label(timeString(event), Theme::Typography::body(),
                                     Theme::Colors::textSecondary()));

    auto *calendarRow = new QHBoxLayout;
    calendarRow->setSpacing(6);
    calendarRow->addWidget(new Dot(8, event.calendarColor), 0, Qt::AlignVCenter);
    calendarRow->addWidget(Widgets::label(event.calendarTitle, Theme::Typography::caption(),
                                          Theme::Colors::textTertiary()));
    calendarRow->addStretch();
    layout->addLayout(calendarRow);

    if (event.location && !event.location->isEmpty()) {
        auto *locationRow = new QHBoxLayout;
        locationRow->setSpacing(4);
        locationRow->addWidget(
            Widgets::symbol(QStringLiteral("mappin"), Theme::Colors::textSecondary(), 12), 0,
            Qt::AlignVCenter);
        QLabel *location = Widgets::label(*event.location, Theme::Typography::tiny(),
                                          Theme::Colors::textSecondary());
        location->setWordWrap(true);
        locationRow->addWidget(location, 1);
        layout->addLayout(locationRow);
    }

    layout->addWidget(new MeetingBriefCard(brief));

    const MeetingType type = event.meetingType();
    QAbstractButton *join = nullptr;
    if (type.kind == MeetingType::Kind::video)
        join = new PlatformJoinButton(type.platform);
    else if (type.kind == MeetingType::Kind::videoGeneric)
        join = new CapsuleButton(type.service.isEmpty()
                                     ? tr("Join Meeting")
                                     : tr("Join %1", "a video service").arg(type.service),
                                 CapsuleButton::Style::primary, QStringLiteral("video.fill"));
    if (join) {
        connect(join, &QAbstractButton::clicked, this,
                [url = type.url] { QDesktopServices::openUrl(url); });
        layout->addWidget(join, 0, Qt::AlignLeft);
    }

    auto *footer = new QHBoxLayout;
    footer->addWidget(Widgets::label(preparedText(brief.generatedAt, clock.now()),
                                     Theme::Typography::small(), Theme::Colors::textTertiary()));
    footer->addStretch();
    auto *close = new CapsuleButton(tr("Close"), CapsuleButton::Style::ghost);
    connect(close, &QAbstractButton::clicked, this, &BriefPreviewView::dismissRequested);
    footer->addWidget(close);
    layout->addLayout(footer);
    layout->addStretch();
    scroll->setWidget(content);
}

void BriefPreviewView::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        Q_EMIT dismissRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}
