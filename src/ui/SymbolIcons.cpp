#include "SymbolIcons.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

namespace {
// Symbol name -> file in the bundled icon set (resources under :/icons/). Line icons stand
// in for the filled variants; the tint gives them their colour.
const QHash<QString, QString> &table() {
    static const QHash<QString, QString> names{
        {QStringLiteral("arrow.down.circle.fill"), QStringLiteral("circle-arrow-down")},
        {QStringLiteral("arrow.right"), QStringLiteral("arrow-right")},
        {QStringLiteral("arrow.up.circle.fill"), QStringLiteral("circle-arrow-up")},
        {QStringLiteral("arrow.up.right"), QStringLiteral("arrow-up-right")},
        {QStringLiteral("battery.0"), QStringLiteral("battery")},
        {QStringLiteral("battery.0percent"), QStringLiteral("battery")},
        {QStringLiteral("calendar"), QStringLiteral("calendar")},
        {QStringLiteral("calendar.badge.checkmark"), QStringLiteral("calendar-check")},
        {QStringLiteral("checkmark"), QStringLiteral("check")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("circle-check")},
        {QStringLiteral("chevron.down"), QStringLiteral("chevron-down")},
        {QStringLiteral("chevron.right"), QStringLiteral("chevron-right")},
        {QStringLiteral("clock.arrow.circlepath"), QStringLiteral("history")},
        {QStringLiteral("clock.fill"), QStringLiteral("clock")},
        {QStringLiteral("deskclock.fill"), QStringLiteral("alarm-clock")},
        {QStringLiteral("g.circle.fill"), QStringLiteral("letter-g-circle")},
        {QStringLiteral("gear"), QStringLiteral("settings")},
        {QStringLiteral("m.circle.fill"), QStringLiteral("letter-m-circle")},
        {QStringLiteral("mappin"), QStringLiteral("map-pin")},
        {QStringLiteral("message"), QStringLiteral("message-square-text")},
        {QStringLiteral("mappin.circle.fill"), QStringLiteral("map-pin")},
        {QStringLiteral("number.square.fill"), QStringLiteral("hash")},
        {QStringLiteral("person.2"), QStringLiteral("users")},
        {QStringLiteral("person.crop.circle"), QStringLiteral("circle-user")},
        {QStringLiteral("person.crop.circle.badge.questionmark"),
         QStringLiteral("user-round-search")},
        {QStringLiteral("plus"), QStringLiteral("plus")},
        {QStringLiteral("sparkles"), QStringLiteral("sparkles")},
        {QStringLiteral("text.bubble"), QStringLiteral("message-square-text")},
        {QStringLiteral("video.fill"), QStringLiteral("video")},
        {QStringLiteral("xmark"), QStringLiteral("x")},
    };
    return names;
}

QString appIconName() {
    return QStringLiteral("app.zelvane.Zelvane");
}

QString bundledAppIcon() {
    return QStringLiteral(":/icons/zelvane.svg");
}

QString resourcePath(const QString &symbolName) {
    return QStringLiteral(":/icons/%1.svg").arg(table().value(symbolName));
}
} // namespace

bool SymbolIcons::has(const QString &symbolName) {
    return table().contains(symbolName) && QFile::exists(resourcePath(symbolName));
}

QPixmap SymbolIcons::pixmap(const QString &symbolName, const QColor &color, int size,
                            qreal devicePixelRatio) {
    if (!has(symbolName))
        return {};
    QSvgRenderer renderer(resourcePath(symbolName));
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    {
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        renderer.render(&p);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(pixmap.rect(), color);
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon SymbolIcons::icon(const QString &symbolName, const QColor &color) {
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addPixmap(pixmap(symbolName, color, size));
    return icon;
}

QIcon SymbolIcons::appIcon() {
    return QIcon::fromTheme(appIconName(), QIcon(bundledAppIcon()));
}

QImage SymbolIcons::appImage(int size, qreal devicePixelRatio) {
    const int pixels = qRound(size * devicePixelRatio);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        QSvgRenderer(bundledAppIcon()).render(&p);
    }
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}
