#include "MeetingServices.h"

#include <QHash>
#include <QRegularExpression>
#include <array>

namespace {
struct Service {
    const char16_t *name;
    const char16_t *domain;
    // Required start of the path; empty accepts any address with a path, query or fragment,
    // so a service's bare home page is not taken for a meeting.
    const char16_t *pathPrefix;
};

// Rooms on these hosts are meetings; each service's marketing pages live elsewhere or under
// other paths. The four branded platforms are absent on purpose: their other address forms
// are not meetings the reminder can join.
constexpr std::array services{
    Service{u"Jitsi Meet", u"meet.jit.si", u""},
    Service{u"8x8 Meet", u"8x8.vc", u""},
    Service{u"Whereby", u"whereby.com", u""},
    Service{u"GoTo Meeting", u"gotomeeting.com", u"/join/"},
    Service{u"GoTo Meeting", u"meet.goto.com", u""},
    Service{u"GoTo Meeting", u"app.goto.com", u"/meeting/"},
    Service{u"GoTo Webinar", u"gotowebinar.com", u"/join/"},
    Service{u"Amazon Chime", u"chime.aws", u""},
    Service{u"BlueJeans", u"bluejeans.com", u""},
    Service{u"RingCentral", u"meetings.ringcentral.com", u"/j/"},
    Service{u"RingCentral", u"v.ringcentral.com", u"/join/"},
    Service{u"Skype", u"join.skype.com", u""},
    Service{u"Skype for Business", u"meet.lync.com", u""},
    Service{u"Slack Huddle", u"app.slack.com", u"/huddle/"},
    Service{u"Discord", u"discord.gg", u""},
    Service{u"Discord", u"discord.com", u"/channels/"},
    Service{u"Discord", u"discord.com", u"/invite/"},
    Service{u"Zoho Meeting", u"meeting.zoho.com", u""},
    Service{u"Zoho Meeting", u"meeting.zoho.eu", u""},
    Service{u"Zoho Meeting", u"meeting.zoho.in", u""},
    Service{u"Zoho Meeting", u"meeting.zoho.com.au", u""},
    Service{u"Livestorm", u"app.livestorm.co", u""},
    Service{u"Around", u"around.co", u"/r/"},
    Service{u"Pop", u"pop.com", u"/j/"},
    Service{u"Tuple", u"tuple.app", u"/c/"},
    Service{u"Gather", u"app.gather.town", u""},
    Service{u"Gather", u"gather.town", u"/app/"},
    Service{u"Dialpad Meetings", u"meetings.dialpad.com", u""},
    Service{u"Dialpad Meetings", u"dialpad.com", u"/meetings/"},
    Service{u"UberConference", u"uberconference.com", u""},
    Service{u"Lifesize", u"call.lifesizecloud.com", u""},
    Service{u"Vowel", u"app.vowel.com", u""},
    Service{u"Microsoft Teams", u"teams.live.com", u"/meet/"},
    Service{u"Workplace", u"workplace.com", u"/groupcall/"},
    Service{u"Messenger Rooms", u"msngr.com", u""},
    Service{u"WhatsApp", u"call.whatsapp.com", u""},
    Service{u"FaceTime", u"facetime.apple.com", u"/join"},
    Service{u"Lark", u"vc.larksuite.com", u"/j/"},
    Service{u"Feishu", u"vc.feishu.cn", u"/j/"},
    Service{u"Tencent Meeting", u"meeting.tencent.com", u"/dm/"},
    Service{u"VooV Meeting", u"voovmeeting.com", u"/dm/"},
    Service{u"join.me", u"join.me", u""},
    Service{u"ClickMeeting", u"clickmeeting.com", u""},
    Service{u"Demio", u"event.demio.com", u""},
    Service{u"StreamYard", u"streamyard.com", u""},
    Service{u"Riverside", u"riverside.fm", u"/studio/"},
    Service{u"mmhmm", u"ooo.mmhmm.app", u""},
    Service{u"Cal Video", u"app.cal.com", u"/video/"},
    Service{u"Daily", u"daily.co", u""},
    Service{u"TeamViewer Meeting", u"go.teamviewer.com", u""},
    Service{u"Element Call", u"call.element.io", u""},
    Service{u"Signal", u"signal.link", u"/call/"},
    Service{u"LiveKit Meet", u"meet.livekit.io", u"/rooms/"},
    Service{u"Butter", u"app.butter.us", u""},
    Service{u"Hopin", u"app.hopin.com", u"/events/"},
    Service{u"Airmeet", u"airmeet.com", u"/e/"},
    Service{u"Kumospace", u"kumospace.com", u""},
    Service{u"Wonder", u"wonder.me", u"/r"},
};

// Each domain's services, in table order.
const QHash<QStringView, QList<const Service *>> &byDomain() {
    static const auto table = [] {
        QHash<QStringView, QList<const Service *>> result;
        for (const Service &s : services)
            result[QStringView(s.domain)].append(&s);
        return result;
    }();
    return table;
}

bool pathMatches(const Service &service, const QUrl &url) {
    const QString path = url.path();
    const QStringView prefix(service.pathPrefix);
    if (prefix.isEmpty())
        return path.size() > 1 || url.hasQuery() || url.hasFragment();
    return path.startsWith(prefix, Qt::CaseInsensitive) && path.size() > prefix.size();
}

// Calls `visit` with the services of every suffix of the (lower-case) host at a label
// boundary, longest first, until it returns true.
template <typename Visit> bool forEachDomainOf(QStringView host, Visit visit) {
    const auto &table = byDomain();
    for (qsizetype from = 0; from >= 0 && from < host.size();) {
        const auto found = table.constFind(host.mid(from));
        if (found != table.cend() && visit(*found))
            return true;
        const qsizetype dot = host.indexOf(QLatin1Char('.'), from);
        from = dot < 0 ? -1 : dot + 1;
    }
    return false;
}

const Service *serviceFor(const QUrl &url) {
    const QString scheme = url.scheme().toLower();
    if (scheme != u"https" && scheme != u"http")
        return nullptr;
    const Service *result = nullptr;
    forEachDomainOf(url.host().toLower(), [&](const QList<const Service *> &candidates) {
        for (const Service *service : candidates)
            if (pathMatches(*service, url)) {
                result = service;
                return true;
            }
        return false;
    });
    return result;
}
} // namespace

bool HostNames::isWithin(QStringView host, QStringView domain) {
    if (!host.endsWith(domain))
        return false;
    const qsizetype rest = host.size() - domain.size();
    return rest == 0 || host[rest - 1] == QLatin1Char('.');
}

std::optional<QString> MeetingServices::nameFor(const QUrl &url) {
    if (const Service *service = serviceFor(url))
        return QString::fromUtf16(service->name);
    return std::nullopt;
}

std::optional<QUrl> MeetingServices::findIn(QStringView text) {
    static const QRegularExpression candidate(
        QStringLiteral(R"(https?://([\w.-]+)(?::\d{1,5})?(?:[/?#][^\s<>"'()\[\]{}|\\^`]*)?)"),
        QRegularExpression::CaseInsensitiveOption);
    auto matches = candidate.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        // Most links in event text are no meetings; the host decides before any URL parsing.
        if (!forEachDomainOf(match.capturedView(1).toString().toLower(),
                             [](const QList<const Service *> &) { return true; }))
            continue;
        QStringView link = match.capturedView(0);
        // Sentence punctuation after a link is not part of it.
        while (!link.isEmpty() && QStringView(u".,;:!?").contains(link.back()))
            link.chop(1);
        const QUrl url(link.toString(), QUrl::StrictMode);
        if (url.isValid() && serviceFor(url))
            return url;
    }
    return std::nullopt;
}
