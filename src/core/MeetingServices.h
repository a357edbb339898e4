#pragma once

#include <QString>
#include <QStringView>
#include <QUrl>
#include <optional>

// Video-meeting services beyond the four branded platforms, recognised by host and path.
// Hosts match at a label boundary: the service's domain itself or a subdomain of it.
namespace MeetingServices {
// The service's display name for a meeting address, or absent for any other address.
std::optional<QString> nameFor(const QUrl &url);
// The first address in the text that belongs to a service (position in the text decides).
std::optional<QUrl> findIn(QStringView text);
} // namespace MeetingServices

namespace HostNames {
// True when `host` (lower case) is `domain` or one of its subdomains.
bool isWithin(QStringView host, QStringView domain);
} // namespace HostNames
