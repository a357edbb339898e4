#include "SMSService.h"

#include "BackendAPIClient.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "platform/SecretStore.h"

#include <QPointer>
#include <QTextBoundaryFinder>
#include <cmath>

SMSService::SMSService(BackendAPIClient &backend, SecretStore &secrets, AppSettings &settings,
                       Clock &clock, QObject *parent)
    : QObject(parent)
    , m_backend(backend)
    , m_secrets(secrets)
    , m_settings(settings)
    , m_clock(clock)
    , m_smsEnabled(settings.value(AppSettings::Key::SmsEnabled).toBool())
    , m_phoneNumber(settings.value(AppSettings::Key::SmsPhoneNumber).toString()) {}

void SMSService::setSmsEnabled(bool enabled) {
    if (m_smsEnabled == enabled)
        return;
    m_smsEnabled = enabled;
    m_settings.setValue(AppSettings::Key::SmsEnabled, enabled);
    Q_EMIT smsEnabledChanged();
}

void SMSService::setPhoneNumber(const QString &number) {
    if (m_phoneNumber == number)
        return;
    m_phoneNumber = number;
    m_settings.setValue(AppSettings::Key::SmsPhoneNumber, number);
    Q_EMIT phoneNumberChanged();
}

namespace {
// Offsets (in UTF-16 units) where user-perceived characters begin, plus the end.
QList<qsizetype> characterBoundaries(const QString &text) {
    QList<qsizetype> boundaries;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = 0; at != -1; at = finder.toNextBoundary())
        boundaries.append(at);
    return boundaries;
}
} // namespace

qsizetype SMSService::characterCount(const QString &text) {
    return text.isEmpty() ? 0 : characterBoundaries(text).size() - 1;
}

QString SMSService::messageText(const CalendarEvent &event,
                                const std::optional<MeetingBrief> &brief, const QDateTime &now) {
    const auto minutes =
        std::chrono::duration_cast<std::chrono::minutes>(event.timeUntilStart(now)).count();
    QString text = (minutes <= 0 ? tr("Zelvane: %1 starts NOW")
                                 : tr("Zelvane: %1 starts in %n min", nullptr, int(minutes)))
                       .arg(event.title);
    if (event.meetingLink)
        text += u'\n' + tr("Join: %1").arg(event.meetingLink->toString(QUrl::FullyEncoded));
    if (brief && !brief->summary.isEmpty())
        text += QStringLiteral("\n\n") + brief->summary.mid(0, 2).join(u'\n');

    // Cheap test first: UTF-16 length never undercounts characters.
    if (text.size() <= maxCharacters)
        return text;
    const QList<qsizetype> boundaries = characterBoundaries(text);
    if (boundaries.size() - 1 <= maxCharacters)
        return text;
    return text.left(boundaries.at(maxCharacters - 3)) + QStringLiteral("...");
}

QCoro::Task<> SMSService::sendMeetingReminder(CalendarEvent event,
                                              std::optional<MeetingBrief> brief) {
    if (!m_smsEnabled || m_phoneNumber.isEmpty())
        co_return;
    QPointer<SMSService> self(this);
    const auto credential =
        co_await m_secrets.load(QString::fromLatin1(SecretStore::backendCredential));
    if (!self || !credential)
        co_return;
    const QString text = messageText(event, brief, m_clock.now());
    co_await m_backend.sendSMS(*credential, m_phoneNumber, text);
}
