#include "Appcast.h"

#include <QXmlStreamReader>
#include <algorithm>

namespace {
const QString sparkleNamespace =
    QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

bool isSparkle(const QXmlStreamReader &xml, QStringView name) {
    return xml.namespaceUri() == sparkleNamespace && xml.name() == name;
}

QString sparkleAttribute(const QXmlStreamAttributes &attributes, const QString &name) {
    return attributes.value(sparkleNamespace, name).toString().trimmed();
}

// Zelvane's packages are a few megabytes; an announced size far beyond that is no update of ours,
// and downloading it could fill the disk.
constexpr qint64 maximumDownloadBytes = qint64(512) * 1024 * 1024;

bool isWebUrl(const QUrl &url) {
    return url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http") &&
           !url.host().isEmpty();
}

AppcastEnclosure readEnclosure(const QXmlStreamAttributes &attributes, AppcastItem &item) {
    AppcastEnclosure enclosure;
    enclosure.url =
        QUrl(attributes.value(QStringLiteral("url")).toString().trimmed(), QUrl::StrictMode);
    bool ok = false;
    const qint64 length = attributes.value(QStringLiteral("length")).toLongLong(&ok);
    enclosure.length = ok && length > 0 && length <= maximumDownloadBytes ? length : 0;
    enclosure.type = attributes.value(QStringLiteral("type")).toString().trimmed();
    enclosure.edSignature = sparkleAttribute(attributes, QStringLiteral("edSignature")).toLatin1();
    // Older feeds put the versions on the enclosure instead of the item.
    if (item.version.isEmpty())
        item.version = sparkleAttribute(attributes, QStringLiteral("version"));
    if (item.shortVersion.isEmpty())
        item.shortVersion = sparkleAttribute(attributes, QStringLiteral("shortVersionString"));
    return enclosure;
}

AppcastItem readItem(QXmlStreamReader &xml) {
    AppcastItem item;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"enclosure" && xml.namespaceUri().isEmpty()) {
            const AppcastEnclosure enclosure = readEnclosure(xml.attributes(), item);
            if (isWebUrl(enclosure.url) && enclosure.length > 0 && !enclosure.edSignature.isEmpty())
                item.enclosures.append(enclosure);
            xml.skipCurrentElement();
        } else if (xml.name() == u"title" && xml.namespaceUri().isEmpty()) {
            item.title = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (xml.name() == u"description" && xml.namespaceUri().isEmpty()) {
            item.description = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (isSparkle(xml, u"version")) {
            item.version = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (isSparkle(xml, u"shortVersionString")) {
            item.shortVersion = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (isSparkle(xml, u"releaseNotesLink")) {
            const QUrl link(xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed(),
                            QUrl::StrictMode);
            if (isWebUrl(link))
                item.releaseNotesLink = link;
        } else {
            xml.skipCurrentElement();
        }
    }
    return item;
}

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}
} // namespace

bool AppcastEnclosure::isDebianPackage() const {
    return type == u"application/vnd.debian.binary-package" || url.path().endsWith(u".deb");
}

QString AppcastItem::displayVersion() const {
    return shortVersion.isEmpty() ? version : shortVersion;
}

std::optional<AppcastEnclosure> AppcastItem::enclosureFor(bool debianPackage) const {
    for (const AppcastEnclosure &enclosure : enclosures)
        if (enclosure.isDebianPackage() == debianPackage)
            return enclosure;
    return std::nullopt;
}

QVariantMap AppcastItem::toRecord() const {
    return {{QStringLiteral("CFBundleShortVersionString"), displayVersion()},
            {QStringLiteral("CFBundleVersion"), version.isEmpty() ? displayVersion() : version}};
}

namespace Appcast {
std::optional<QList<AppcastItem>> parse(const QByteArray &data) {
    if (data.size() > maxFeedBytes)
        return std::nullopt;
    QXmlStreamReader xml(data);
    if (!xml.readNextStartElement() || xml.name() != u"rss")
        return std::nullopt;
    QList<AppcastItem> items;
    bool sawChannel = false;
    while (xml.readNextStartElement()) {
        if (xml.name() != u"channel") {
            xml.skipCurrentElement();
            continue;
        }
        sawChannel = true;
        while (xml.readNextStartElement()) {
            if (xml.name() != u"item") {
                xml.skipCurrentElement();
                continue;
            }
            AppcastItem item = readItem(xml);
            if (!item.displayVersion().isEmpty() && !item.enclosures.isEmpty())
                items.append(std::move(item));
        }
    }
    if (xml.hasError() || !sawChannel)
        return std::nullopt;
    return items;
}

std::optional<AppcastItem> newest(const QList<AppcastItem> &items) {
    const auto best =
        std::max_element(items.begin(), items.end(), [](const auto &a, const auto &b) {
            return compareVersions(a.displayVersion(), b.displayVersion()) < 0;
        });
    if (best == items.end())
        return std::nullopt;
    return *best;
}

int compareVersions(const QString &a, const QString &b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compare digit runs by value: skip leading zeros, then longer wins, then digits.
            while (i < a.size() && a[i] == u'0')
                ++i;
            while (j < b.size() && b[j] == u'0')
                ++j;
            qsizetype endA = i, endB = j;
            while (endA < a.size() && isDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isDigit(b[endB]))
                ++endB;
            if (endA - i != endB - j)
                return endA - i < endB - j ? -1 : 1;
            for (; i < endA; ++i, ++j)
                if (a[i] != b[j])
                    return a[i] < b[j] ? -1 : 1;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}
} // namespace Appcast
