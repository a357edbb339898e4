#pragma once

#include "core/CalendarEvent.h"
#include "core/MeetingBrief.h"
#include "sync/SlackService.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The texts the research service sends to the model. Every fragment and line break matters:
// the model is steered by them.
namespace ResearchPrompt {
QString attendeeSystemPrompt();
QString topicSystemPrompt();

// "Meeting: …", "Time: …", "Calendar: …", then the location and notes lines (empty lines when
// the event has none). The time is the locale's short numeric date and time.
QString meetingHeader(const CalendarEvent &event);
// At most 2 threads per person and 150 characters per snippet; empty without any thread.
QString emailSection(const QHash<QString, QList<EmailThread>> &threads);
// At most 3 messages per person and 150 characters per message; empty without any message.
QString slackSection(const QHash<QString, QList<SlackMessage>> &messages);
QString internalSection(const QStringList &internalAddresses);

QString topicUserPrompt(const QString &header, const QString &internalSection,
                        const QString &emailSection, const QString &slackSection);
QString attendeeUserPrompt(const QString &header, const QStringList &uncachedAddresses,
                           const QList<MeetingBrief::AttendeeProfile> &knownProfiles,
                           const QString &internalSection, const QString &emailSection,
                           const QString &slackSection);

// A colleague described from the address alone: "first.last@x" becomes "First Last" at "x".
MeetingBrief::AttendeeProfile colleagueProfile(const QString &address);
} // namespace ResearchPrompt
