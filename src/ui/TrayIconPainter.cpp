#include "TrayIconPainter.h"

#include "SymbolIcons.h"
#include "Theme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

namespace {
// The badge's shape for `text` in an icon of `size` pixels: as tall as half the icon or a
// little more, wide enough for the digits, never wider than the icon.
QRectF badgeRect(int size, const QFontMetricsF &metrics, const QString &text) {
    const qreal height = qMax(9.0, std::round(size * 0.56));
    const qreal padding = qMax(1.0, std::round(size / 16.0));
    const qreal width =
        qMin(qreal(size), qMax(height, metrics.horizontalAdvance(text) + 2 * padding));
    return {size - width, size - height, width, height};
}

QFont badgeFont(int size, const QString &text) {
    const qreal height = qMax(9.0, std::round(size * 0.56));
    QFont font = Theme::Typography::font(qMax(7.0, std::round(height * 0.9)), QFont::Bold);
    // Two digits at 16 px must fit in the icon's width.
    while (font.pixelSize() > 6 && QFontMetricsF(font).horizontalAdvance(text) + 2 > qreal(size)) {
        font.setPixelSize(font.pixelSize() - 1);
    }
    return font;
}
} // namespace

QImage TrayIconPainter::paint(int size, const TrayStatus &status) {
    const QPixmap symbol = SymbolIcons::appIcon().pixmap(size);
    if (!status.minutesLeft)
        return symbol.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QString text = QString::number(*status.minutesLeft);
    const QFont font = badgeFont(size, text);
    const QRectF badge = badgeRect(size, QFontMetricsF(font), text);
    const qreal radius = badge.height() / 2;
    const qreal gap = qMax(1.0, std::round(size / 16.0));

    QImage image = symbol.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // The symbol is cut away in a ring around the badge, which sets the two apart. Cut pixel by
    // pixel: Qt's raster engine hands a shape of this many spans to worker threads, which would
    // wake the process every minute.
    QPainterPath ring;
    ring.addRoundedRect(badge.adjusted(-gap, -gap, gap, gap), radius + gap, radius + gap);
    const QRect cut = ring.boundingRect().toAlignedRect().intersected(image.rect());
    for (int y = cut.top(); y <= cut.bottom(); ++y)
        for (int x = cut.left(); x <= cut.right(); ++x)
            if (ring.contains(QPointF(x + 0.5, y + 0.5)))
                image.setPixel(x, y, 0);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QPainterPath shape;
    shape.addRoundedRect(badge, radius, radius);
    p.fillPath(shape, status.urgent ? Theme::Colors::red() : Theme::Colors::primary());
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(badge, Qt::AlignCenter, text);
    return image;
}

QIcon TrayIconPainter::icon(const TrayStatus &status) {
    QIcon icon;
    for (int size : sizes)
        icon.addPixmap(QPixmap::fromImage(paint(size, status)));
    return icon;
}
