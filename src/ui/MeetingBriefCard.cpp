#include "MeetingBriefCard.h"

#include "Theme.h"
#include "Widgets.h"
#include "core/SafeLinks.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace {
constexpr int padding = 20;
constexpr int sectionSpacing = 20;
constexpr int itemSpacing = 8;
constexpr int attendeeSpacing = 12;
constexpr int avatarSize = 24;
constexpr int headingIconSize = 15;

QLabel *wrappingLabel(const QString &text, const QFont &font, const QColor &color) {
    QLabel *label = Widgets::label(text, font, color);
    label->setWordWrap(true);
    return label;
}

QWidget *heading(const QString &icon, const QColor &iconColor, const QString &title) {
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(Widgets::symbol(icon, iconColor, headingIconSize));
    layout->addWidget(
        Widgets::label(title, Theme::Typography::bodyMedium(), Theme::Colors::textPrimary()));
    layout->addStretch();
    return row;
}

// A marker beside top-aligned wrapping text.
QWidget *markedItem(QWidget *marker, const QString &text) {
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(itemSpacing);
    layout->addWidget(marker, 0, Qt::AlignTop);
    layout->addWidget(wrappingLabel(text, Theme::Typography::body(), Theme::Colors::textPrimary()),
                      1, Qt::AlignTop);
    return row;
}

QWidget *section(QWidget *headingRow, const QList<QWidget *> &items, int spacing) {
    auto *box = new QWidget;
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(itemSpacing);
    layout->addWidget(headingRow);
    auto *list = new QVBoxLayout;
    list->setSpacing(spacing);
    for (QWidget *item : items)
        list->addWidget(item);
    layout->addLayout(list);
    return box;
}

// The circle with the attendee's initial; the letter is a label so screen readers have it.
class Avatar : public QLabel {
public:
    explicit Avatar(const QString &letter)
        : QLabel(letter) {
        setFixedSize(avatarSize, avatarSize);
        setAlignment(Qt::AlignCenter);
        setFont(Theme::Typography::font(11, QFont::DemiBold));
        setAccessibleName(letter);
        QPalette pal = palette();
        pal.setColor(QPalette::WindowText, Theme::Colors::primary());
        setPalette(pal);
    }

protected:
    void paintEvent(QPaintEvent *event) override {
        {
            QPainter p(this);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(Theme::Colors::pastelBlue());
            p.drawEllipse(rect());
        }
        QLabel::paintEvent(event);
    }
};
} // namespace

QString AttendeeRow::displayName(const MeetingBrief::AttendeeProfile &profile) {
    return profile.name ? *profile.name : profile.email;
}

QString AttendeeRow::initial(const MeetingBrief::AttendeeProfile &profile) {
    return displayName(profile).left(1).toUpper();
}

AttendeeRow::AttendeeRow(const MeetingBrief::AttendeeProfile &profile, QWidget *parent)
    : QWidget(parent)
    , m_profile(profile) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto *top = new QHBoxLayout;
    top->setSpacing(8);
    top->addWidget(new Avatar(initial(profile)), 0, Qt::AlignTop);
    auto *column = new QVBoxLayout;
    column->setSpacing(2);
    const QString name = displayName(profile);
    QLabel *nameLabel = nullptr;
    if (profile.linkedInURL && SafeLinks::isLinkedIn(*profile.linkedInURL)) {
        nameLabel =
            Widgets::label(QString(), Theme::Typography::bodyMedium(), Theme::Colors::primary());
        nameLabel->setTextFormat(Qt::RichText);
        nameLabel->setText(
            QStringLiteral("<a href=\"%1\" style=\"color:%2; "
                           "text-decoration:none\">%3</a>")
                .arg(profile.linkedInURL->toString(QUrl::FullyEncoded).toHtmlEscaped(),
                     Theme::Colors::primary().name(), name.toHtmlEscaped()));
        nameLabel->setOpenExternalLinks(true);
        nameLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                           Qt::LinksAccessibleByKeyboard);
        nameLabel->setAccessibleName(name);
        nameLabel->setObjectName(QStringLiteral("linkedInName"));
    } else {
        nameLabel =
            Widgets::label(name, Theme::Typography::bodyMedium(), Theme::Colors::textPrimary());
    }
    nameLabel->setWordWrap(true);
    column->addWidget(nameLabel);
    if (profile.role && profile.company) {
        QLabel *roleLine = Widgets::label(
            tr("%1 at %2", "a role at a company").arg(*profile.role, *profile.company),
            Theme::Typography::caption(), Theme::Colors::textTertiary());
        roleLine->setWordWrap(true);
        column->addWidget(roleLine);
    }
    top->addLayout(column, 1);
    layout->addLayout(top);

    if (profile.notes) {
        auto *notes = new ElidedLabel(*profile.notes, 2);
        notes->setFont(Theme::Typography::small());
        QPalette pal = notes->palette();
        pal.setColor(QPalette::WindowText, Theme::Colors::textSecondary());
        notes->setPalette(pal);
        notes->setContentsMargins(avatarSize + 8, 0, 0, 0);
        layout->addWidget(notes);
    }
}

MeetingBriefCard::MeetingBriefCard(const MeetingBrief &brief, QWidget *parent)
    : QWidget(parent) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(sectionSpacing);

    if (!brief.summary.isEmpty()) {
        QList<QWidget *> items;
        QColor bullet = Theme::Colors::primary();
        bullet.setAlphaF(0.4f);
        for (const QString &line : brief.summary)
            items << markedItem(new Dot(5, bullet, 6), line);
        layout->addWidget(section(
            heading(QStringLiteral("sparkles"), Theme::Colors::purple(), tr("Meeting Brief")),
            items, itemSpacing));
    }
    if (!brief.talkingPoints.isEmpty()) {
        QList<QWidget *> items;
        for (const QString &point : brief.talkingPoints)
            items << markedItem(
                Widgets::symbol(QStringLiteral("arrow.right"), Theme::Colors::primary(), 9, 4),
                point);
        layout->addWidget(section(
            heading(QStringLiteral("text.bubble"), Theme::Colors::blue(), tr("Talking Points")),
            items, itemSpacing));
    }
    if (!brief.attendeeProfiles.isEmpty()) {
        QList<QWidget *> items;
        for (const MeetingBrief::AttendeeProfile &profile : brief.attendeeProfiles)
            items << new AttendeeRow(profile);
        layout->addWidget(
            section(heading(QStringLiteral("person.2"), Theme::Colors::green(), tr("Attendees")),
                    items, attendeeSpacing));
    }
}

void MeetingBriefCard::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::Colors::cardSubtle());
    p.drawRoundedRect(rect(), cornerRadius, cornerRadius);
}
