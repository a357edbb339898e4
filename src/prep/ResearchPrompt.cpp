#include "ResearchPrompt.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTextBoundaryFinder>

namespace {
constexpr qsizetype maxThreadsPerPerson = 2;
constexpr qsizetype maxMessagesPerPerson = 3;
constexpr qsizetype maxSnippetLength = 150;

// The first `count` user-perceived characters, so a cut never splits a character.
QString firstCharacters(const QString &text, qsizetype count) {
    if (text.size() <= count)
        return text;
    // Below U+0300 (where combining marks begin) every code unit is a character of its own,
    // except CR LF, which is one; so plain text needs no boundary analysis.
    bool simple = true;
    for (qsizetype i = 0; i <= count && simple; ++i)
        simple = text[i].unicode() < 0x300 && text[i] != u'\r';
    if (simple)
        return text.first(count);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype taken = 0; taken < count; ++taken) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text;
        end = next;
    }
    return text.first(end);
}

// Capitalises every word separated by white space: first letter upper, the rest lower.
QString capitalisedWords(const QString &text) {
    QString result = text.toLower();
    bool wordStart = true;
    for (qsizetype i = 0; i < result.size(); ++i) {
        const QChar c = result.at(i);
        if (c.isSpace()) {
            wordStart = true;
        } else if (wordStart) {
            // Characters outside the BMP stay as they are; names rarely start with one.
            if (!c.isSurrogate())
                result[i] = c.toUpper();
            wordStart = false;
        }
    }
    return result;
}
} // namespace

QString ResearchPrompt::attendeeSystemPrompt() {
    return QStringLiteral(
        "You are a meeting preparation assistant. Research the attendees of an upcoming "
        "meeting and provide a briefing.\n"
        "\n"
        "Use web search to find information about each external attendee: their name, role, "
        "company, and any recent news.\n"
        "You will also be provided with recent email history with these attendees \u2014 use it "
        "to add context about your relationship and recent topics.\n"
        "You will also be provided with recent Slack messages with these attendees \u2014 use "
        "them for additional context about ongoing discussions.\n"
        "After researching all attendees, you MUST call the finalize_briefing tool with "
        "structured results. Do NOT respond with conversational text.\n"
        "\n"
        "Focus on information that would be useful for someone about to join a meeting with "
        "these people.\n"
        "Be concise and factual. If you can't find information about someone, include what you "
        "can and note the gaps.");
}

QString ResearchPrompt::topicSystemPrompt() {
    return QStringLiteral(
        "You are a meeting preparation assistant. You are preparing a briefing for an upcoming "
        "meeting.\n"
        "\n"
        "There are no external attendees listed for this meeting, so instead:\n"
        "1. Use web search to research the meeting topic based on the title, notes, and any "
        "other context provided.\n"
        "2. Provide useful context, background information, and suggested talking points.\n"
        "3. You MUST call the finalize_briefing tool with your results. Do NOT respond with "
        "conversational text.\n"
        "\n"
        "For the summary, provide 3-4 bullets of useful context about the meeting topic.\n"
        "For talking_points, suggest 3-4 questions or discussion points relevant to the topic.\n"
        "Leave attendee_profiles as an empty array since there are no external attendees.");
}

QString ResearchPrompt::meetingHeader(const CalendarEvent &event) {
    const QString time = QLocale().toString(event.startDate.toLocalTime(), QLocale::ShortFormat);
    QString header = QStringLiteral("Meeting: ") + event.title + QStringLiteral("\nTime: ") + time +
                     QStringLiteral("\nCalendar: ") + event.calendarTitle + u'\n';
    if (event.location)
        header += QStringLiteral("Location: ") + *event.location;
    header += u'\n';
    if (event.notes)
        header += QStringLiteral("Notes: ") + *event.notes;
    return header;
}

QString ResearchPrompt::emailSection(const QHash<QString, QList<EmailThread>> &threads) {
    QStringList lines;
    for (auto it = threads.cbegin(); it != threads.cend(); ++it) {
        if (it.value().isEmpty())
            continue;
        lines.append(QStringLiteral("Recent emails with ") + it.key() + u':');
        for (const EmailThread &thread :
             it.value().first(std::min(maxThreadsPerPerson, it.value().size())))
            lines.append(QStringLiteral("  - ") + thread.subject + QStringLiteral(" (") +
                         thread.date + QStringLiteral("): ") +
                         firstCharacters(thread.snippet, maxSnippetLength));
    }
    if (lines.isEmpty())
        return {};
    return QStringLiteral("\n\nEmail history:\n") + lines.join(u'\n');
}

QString ResearchPrompt::slackSection(const QHash<QString, QList<SlackMessage>> &messages) {
    QStringList lines;
    for (auto it = messages.cbegin(); it != messages.cend(); ++it) {
        if (it.value().isEmpty())
            continue;
        lines.append(QStringLiteral("Recent Slack messages with ") + it.key() + u':');
        for (const SlackMessage &message :
             it.value().first(std::min(maxMessagesPerPerson, it.value().size())))
            lines.append(QStringLiteral("  - #") + message.channel + QStringLiteral(" (") +
                         message.username + QStringLiteral("): ") +
                         firstCharacters(message.text, maxSnippetLength));
    }
    if (lines.isEmpty())
        return {};
    return QStringLiteral("\n\nSlack history:\n") + lines.join(u'\n');
}

QString ResearchPrompt::internalSection(const QStringList &internalAddresses) {
    if (internalAddresses.isEmpty())
        return {};
    QStringList items;
    for (const QString &address : internalAddresses)
        items.append(QStringLiteral("- ") + address);
    return QStringLiteral("\n\nInternal attendees (colleagues, do not web-search these):\n") +
           items.join(u'\n');
}

QString ResearchPrompt::topicUserPrompt(const QString &header, const QString &internalSection,
                                        const QString &emailSection, const QString &slackSection) {
    return header + u'\n' + internalSection + u'\n' + emailSection + u'\n' + slackSection +
           QStringLiteral("\n\nResearch the meeting topic and call finalize_briefing with "
                          "context and talking points.");
}

QString
ResearchPrompt::attendeeUserPrompt(const QString &header, const QStringList &uncachedAddresses,
                                   const QList<MeetingBrief::AttendeeProfile> &knownProfiles,
                                   const QString &internalSection, const QString &emailSection,
                                   const QString &slackSection) {
    QStringList items;
    for (const QString &address : uncachedAddresses)
        items.append(QStringLiteral("- ") + address);
    QString attendeeList = items.join(u'\n');
    if (!knownProfiles.isEmpty()) {
        QStringList known;
        for (const MeetingBrief::AttendeeProfile &profile : knownProfiles)
            known.append(profile.name.value_or(profile.email) + QStringLiteral(": ") +
                         profile.role.value_or(QString()) + QStringLiteral(" at ") +
                         profile.company.value_or(QString()));
        attendeeList += QStringLiteral("\n\nAlready known attendees (do not research these):\n") +
                        known.join(u'\n');
    }
    return header + QStringLiteral("\n\nExternal attendees to research:\n") + attendeeList + u'\n' +
           internalSection + u'\n' + emailSection + u'\n' + slackSection +
           QStringLiteral("\n\nResearch each attendee and then call finalize_briefing with the "
                          "complete results.");
}

MeetingBrief::AttendeeProfile ResearchPrompt::colleagueProfile(const QString &address) {
    MeetingBrief::AttendeeProfile profile;
    profile.email = address;
    QString localPart = address.section(u'@', 0, 0);
    localPart.replace(u'.', u' ');
    profile.name = capitalisedWords(localPart);
    profile.company = address.section(u'@', -1);
    profile.notes = QCoreApplication::translate("ResearchPrompt", "Internal team member");
    return profile;
}
