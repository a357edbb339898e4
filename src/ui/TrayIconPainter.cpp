#include "TrayIconPainter.h"

#include "SymbolIcons.h"
#include "Theme.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPixmapCache>
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

// The app's symbol at `size`, drawn once. Drawing an icon leaves its pixmaps in Qt's pixmap
// cache, whose flush timer would wake the idle process half a minute later; the tray is the
// only thing drawn by then, so what it left there is dropped with the timer.
QImage symbolImage(int size) {
    static QHash<std::pair<int, qreal>, QImage> drawn;
    const std::pair key(size, qApp->devicePixelRatio());
    auto found = drawn.constFind(key);
    if (found == drawn.cend()) {
        found = drawn.insert(key, SymbolIcons::appImage(size, key.second)
                                      .convertToFormat(QImage::Format_ARGB32_Premultiplied));
        QPixmapCache::clear();
    }
    return *found;
}

// The tray icon's drawings, handed out as they are or scaled. Qt's own engine for an icon made
// of pixmaps keeps every pixmap it hands out in the pixmap cache, whose flush timer then wakes
// the idle process; this one keeps nothing.
class TrayIconEngine final : public QIconEngine {
public:
    explicit TrayIconEngine(QList<QImage> images)
        : m_images(std::move(images)) {}

    QIconEngine *clone() const override { return new TrayIconEngine(m_images); }
    QString key() const override { return QStringLiteral("zelvane.tray"); }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (const QImage &image : std::as_const(m_images))
            sizes.append(image.size());
        return sizes;
    }
    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override {
        const QSize own = closest(size).size();
        return own.width() > size.width() || own.height() > size.height()
                   ? own.scaled(size, Qt::KeepAspectRatio)
                   : own;
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override {
        const QImage &image = closest(size);
        const QSize shown = actualSize(size, mode, state);
        return QPixmap::fromImage(image.size() == shown ? image
                                                        : image.scaled(shown, Qt::KeepAspectRatio,
                                                                       Qt::SmoothTransformation));
    }
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        painter->save();
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->drawImage(rect, closest(rect.size() * ratio));
        painter->restore();
    }

private:
    // The smallest drawing at least as large as `size`, else the largest.
    const QImage &closest(const QSize &size) const {
        for (const QImage &image : m_images)
            if (image.width() >= size.width() && image.height() >= size.height())
                return image;
        return m_images.constLast();
    }

    QList<QImage> m_images;
};
} // namespace

QImage TrayIconPainter::paint(int size, const TrayStatus &status) {
    if (!status.minutesLeft)
        return symbolImage(size);
    const QString text = QString::number(*status.minutesLeft);
    const QFont font = badgeFont(size, text);
    const QRectF badge = badgeRect(size, QFontMetricsF(font), text);
    const qreal radius = badge.height() / 2;
    const qreal gap = qMax(1.0, std::round(size / 16.0));

    QImage image = symbolImage(size);
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
    QList<QImage> images;
    for (int size : sizes)
        images.append(paint(size, status));
    return QIcon(new TrayIconEngine(std::move(images)));
}
