#pragma once

#include "core/CalendarEvent.h"
#include "core/MeetingBrief.h"

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>

namespace UiTest {
// A visible-or-not child button whose accessible name is `name`, or null.
inline QAbstractButton *button(const QWidget *root, const QString &name) {
    for (QAbstractButton *b : root->findChildren<QAbstractButton *>())
        if (b->accessibleName() == name)
            return b;
    return nullptr;
}

inline QStringList buttonNames(const QWidget *root) {
    QList<QAbstractButton *> buttons = root->findChildren<QAbstractButton *>();
    // Left to right as laid out, the order a user reads them.
    std::sort(buttons.begin(), buttons.end(), [](QAbstractButton *a, QAbstractButton *b) {
        return a->mapTo(a->window(), QPoint()).x() < b->mapTo(b->window(), QPoint()).x();
    });
    QStringList names;
    for (QAbstractButton *b : buttons)
        names << b->accessibleName();
    return names;
}

inline QLabel *label(const QWidget *root, const QString &text) {
    for (QLabel *l : root->findChildren<QLabel *>())
        if (l->text() == text || l->accessibleName() == text)
            return l;
    return nullptr;
}

inline QStringList labelTexts(const QWidget *root) {
    QStringList texts;
    for (QLabel *l : root->findChildren<QLabel *>())
        if (!l->accessibleName().isEmpty())
            texts << l->accessibleName();
    return texts;
}

inline CalendarEvent event(const QDateTime &start, std::optional<QUrl> link = std::nullopt,
                           std::optional<QString> location = std::nullopt) {
    CalendarEvent e;
    e.id = QStringLiteral("evt-1");
    e.title = QStringLiteral("Quarterly planning");
    e.startDate = start;
    e.endDate = start.addSecs(30 * 60);
    e.calendarTitle = QStringLiteral("Work");
    e.calendarColor = QColor(QStringLiteral("#34C759"));
    e.meetingLink = std::move(link);
    e.location = std::move(location);
    return e;
}

inline MeetingBrief brief() {
    MeetingBrief b;
    b.eventId = QStringLiteral("evt-1");
    b.generatedAt = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    b.summary = {QStringLiteral("Renewal is due next month")};
    b.talkingPoints = {QStringLiteral("Ask about the pilot")};
    MeetingBrief::AttendeeProfile p;
    p.email = QStringLiteral("dana@example.org");
    p.name = QStringLiteral("Dana Lee");
    b.attendeeProfiles = {p};
    return b;
}
} // namespace UiTest
