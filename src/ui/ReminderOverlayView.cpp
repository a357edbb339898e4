#include "ReminderOverlayView.h"

#include "CapsuleButton.h"
#include "MeetingBriefCard.h"
#include "PlatformJoinButton.h"
#include "Theme.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {
constexpr int cardCornerRadius = 24;
constexpr int cardInset = 24;
constexpr int textInset = 32;

// The coloured strip at the top of the card.
class CalendarStrip : public QWidget {
public:
    explicit CalendarStrip(const QColor &color)
        : m_color(color) {
        setFixedHeight(4);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(m_color);
        p.drawRoundedRect(rect(), 2, 2);
    }

private:
    QColor m_color;
};

QWidget *divider() {
    auto *line = new QWidget;
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    QPalette pal = line->palette();
    pal.setColor(QPalette::Window, Theme::Colors::border());
    line->setPalette(pal);
    return line;
}

// A scroll area as tall as its content, which gives way when the screen is too short
// for the whole brief.
class FittingScrollArea : public QScrollArea {
public:
    FittingScrollArea() {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        viewport()->setAutoFillBackground(false);
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        return widget() ? widget()->heightForWidth(width) : 0;
    }
    QSize sizeHint() const override {
        const int w = width() > 0 ? width() : ReminderOverlayView::maxCardWidthWithBrief;
        return {w, heightForWidth(w)};
    }
    QSize minimumSizeHint() const override { return {0, 80}; }
};
} // namespace

ReminderOverlayView::ReminderOverlayView(CalendarEvent event, std::optional<MeetingBrief> brief,
                                         Clock &clock, QWidget *parent)
    : CardOverlay(parent)
    , m_event(std::move(event))
    , m_brief(std::move(brief))
    , m_clock(clock) {
    setAccessibleName(m_event.title);
    auto *card = static_cast<CardFrame *>(buildCard());
    setCard(card, m_brief ? maxCardWidthWithBrief : maxCardWidth, true);
    setInitialFocus(m_joinButton ? m_joinButton : m_dismissButton);
    for (QAbstractButton *button : {m_joinButton, m_snoozeButton, m_dismissButton})
        if (button)
            button->installEventFilter(this);
}

QWidget *ReminderOverlayView::buildCard() {
    auto *card = new CardFrame(cardCornerRadius, true);
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, cardInset, 0, cardInset);
    layout->setSpacing(12);

    auto inset = [layout](QWidget *widget, int horizontal, Qt::Alignment align = {}) {
        auto *row = new QHBoxLayout;
        row->setContentsMargins(horizontal, 0, horizontal, 0);
        row->addWidget(widget, 1, align);
        layout->addLayout(row);
    };

    inset(new CalendarStrip(m_event.calendarColor), textInset);

    m_timeLabel = Widgets::label(m_event.reminderTimeText(m_clock.now()),
                                 Theme::Typography::small(), Theme::Colors::textSecondary());
    m_timeLabel->setAlignment(Qt::AlignCenter);
    m_timeLabel->setObjectName(QStringLiteral("timeText"));
    inset(m_timeLabel, cardInset);

    QLabel *title =
        Widgets::label(m_event.title, Theme::Typography::h1(), Theme::Colors::textPrimary());
    title->setWordWrap(true);
    title->setAlignment(Qt::AlignCenter);
    title->setObjectName(QStringLiteral("title"));
    inset(title, textInset);

    QLabel *calendar = Widgets::label(m_event.calendarTitle, Theme::Typography::caption(),
                                      Theme::Colors::textTertiary());
    calendar->setAlignment(Qt::AlignCenter);
    calendar->setObjectName(QStringLiteral("calendarTitle"));
    inset(calendar, cardInset);

    if (QWidget *indicator = buildMeetingTypeIndicator())
        inset(indicator, cardInset, Qt::AlignHCenter);

    inset(divider(), cardInset);

    if (m_brief) {
        auto *scroll = new FittingScrollArea;
        scroll->setWidget(new MeetingBriefCard(*m_brief));
        scroll->widget()->setAutoFillBackground(false);
        inset(scroll, cardInset);
    }

    auto *actions = buildActionRow();
    inset(actions, cardInset);
    return card;
}

QWidget *ReminderOverlayView::buildMeetingTypeIndicator() {
    const MeetingType type = m_event.meetingType();
    if (type.kind == MeetingType::Kind::unknown)
        return nullptr;
    auto *row = new QWidget;
    row->setObjectName(QStringLiteral("meetingTypeIndicator"));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    const QFont font = Theme::Typography::caption();
    const QColor textColor = Theme::Colors::textSecondary();
    switch (type.kind) {
    case MeetingType::Kind::video: {
        layout->addWidget(new Dot(8, MeetingPlatforms::brandColor(type.platform)), 0,
                          Qt::AlignVCenter);
        layout->addWidget(
            Widgets::label(MeetingPlatforms::displayName(type.platform), font, textColor));
        break;
    }
    case MeetingType::Kind::videoGeneric:
        layout->addWidget(new Dot(8, Theme::Colors::blue()), 0, Qt::AlignVCenter);
        layout->addWidget(Widgets::label(
            type.service.isEmpty() ? tr("Video Meeting") : type.service, font, textColor));
        break;
    case MeetingType::Kind::inPerson: {
        layout->addWidget(Widgets::symbol(QStringLiteral("mappin.circle.fill"), textColor, 12), 0,
                          Qt::AlignVCenter);
        auto *location = new ElidedLabel(type.location, 1);
        location->setFont(font);
        QPalette pal = location->palette();
        pal.setColor(QPalette::WindowText, textColor);
        location->setPalette(pal);
        location->setObjectName(QStringLiteral("location"));
        layout->addWidget(location, 1);
        break;
    }
    case MeetingType::Kind::unknown:
        break;
    }
    return row;
}

QWidget *ReminderOverlayView::buildActionRow() {
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->setSpacing(12);
    if (m_event.meetingLink) {
        const MeetingType type = m_event.meetingType();
        if (type.kind == MeetingType::Kind::video)
            m_joinButton = new PlatformJoinButton(type.platform);
        else
            m_joinButton = new CapsuleButton(
                type.service.isEmpty() ? tr("Join")
                                       : tr("Join %1", "a video service").arg(type.service),
                CapsuleButton::Style::primary, QStringLiteral("video.fill"));
        connect(m_joinButton, &QAbstractButton::clicked, this, &ReminderOverlayView::joinRequested);
        layout->addWidget(m_joinButton);
    }
    layout->addStretch();
    auto *snooze = m_snoozeButton =
        new CapsuleButton(tr("%n min", "snooze for", 1), CapsuleButton::Style::secondary,
                          QStringLiteral("clock.arrow.circlepath"));
    connect(snooze, &QAbstractButton::clicked, this, &ReminderOverlayView::snoozeRequested);
    layout->addWidget(snooze);
    m_dismissButton = new CapsuleButton(tr("Dismiss"), CapsuleButton::Style::secondary);
    connect(m_dismissButton, &QAbstractButton::clicked, this,
            &ReminderOverlayView::dismissRequested);
    layout->addWidget(m_dismissButton);
    return row;
}

void ReminderOverlayView::showEvent(QShowEvent *event) {
    // The time line is read when the reminder comes on screen; it runs no timer.
    m_timeLabel->setText(m_event.reminderTimeText(m_clock.now()));
    m_timeLabel->setAccessibleName(m_timeLabel->text());
    if (!m_keyGuardStarted) {
        m_keyGuardStarted = true;
        m_clock.after(keyGuard, this, [this] { m_acceptsKeys = true; });
    }
    CardOverlay::showEvent(event);
}

bool ReminderOverlayView::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return CardOverlay::eventFilter(watched, event);
    if (!m_acceptsKeys)
        return true;
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    QList<QAbstractButton *> cycle;
    for (QAbstractButton *button : {m_joinButton, m_snoozeButton, m_dismissButton})
        if (button)
            cycle << button;
    const qsizetype at = cycle.indexOf(qobject_cast<QAbstractButton *>(watched));
    switch (key->key()) {
    case Qt::Key_Escape:
        m_dismissButton->click();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (at >= 0)
            cycle[at]->click();
        return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
        const bool back = key->key() == Qt::Key_Backtab || key->modifiers() & Qt::ShiftModifier;
        const qsizetype next = (at + (back ? cycle.size() - 1 : 1)) % cycle.size();
        cycle[next]->setFocus(back ? Qt::BacktabFocusReason : Qt::TabFocusReason);
        return true;
    }
    default:
        return false;
    }
}

void ReminderOverlayView::keyPressEvent(QKeyEvent *event) {
    if (!m_acceptsKeys)
        return;
    switch (event->key()) {
    case Qt::Key_Escape:
        m_dismissButton->click();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_joinButton) {
            m_joinButton->click();
            return;
        }
        break;
    default:
        break;
    }
    CardOverlay::keyPressEvent(event);
}
