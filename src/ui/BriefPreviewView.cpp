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

QString plural(qint64 count, const char *unit) {
    return QStringLiteral("%1 %2%3")
        .arg(count)
        .arg(QLatin1String(unit))
        .arg(count == 1 ? QString() : QStringLiteral("s"));
}
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
    auto phrase = [past](const QString &amount) {
        return past ? amount + QStringLiteral(" ago") : QStringLiteral("in ") + amount;
    };
    QString relative;
    const qint64 days = std::abs(generatedAt.toLocalTime().date().daysTo(now.toLocalTime().date()));
    if (magnitude < 1)
        relative = QStringLiteral("now");
    else if (magnitude < 60)
        relative = phrase(plural(magnitude, "second"));
    else if (magnitude < 3600)
        relative = phrase(plural(magnitude / 60, "minute"));
    else if (magnitude < 86400)
        relative = phrase(plural(magnitude / 3600, "hour"));
    else if (days <= 1)
        relative = past ? QStringLiteral("yesterday") : QStringLiteral("tomorrow");
    else if (days < 7)
        relative = phrase(plural(days, "day"));
    else if (days < 14)
        relative = past ? QStringLiteral("last week") : QStringLiteral("next week");
    else if (days < 30)
        relative = phrase(plural(days / 7, "week"));
    else if (days < 60)
        relative = past ? QStringLiteral("last month") : QStringLiteral("next month");
    else if (days < 365)
        relative = phrase(plural(days / 30, "month"));
    else if (days < 730)
        relative = past ? QStringLiteral("last year") : QStringLiteral("next year");
    else
        relative = phrase(plural(days / 365, "year"));
    return QStringLiteral("Prepared ") + relative;
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
        join = new CapsuleButton(type.service.isEmpty() ? QStringLiteral("Join Meeting")
                                                        : QStringLiteral("Join ") + type.service,
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
    auto *close = new CapsuleButton(QStringLiteral("Close"), CapsuleButton::Style::ghost);
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
