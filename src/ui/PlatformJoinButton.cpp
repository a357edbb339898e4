#include "PlatformJoinButton.h"

#include "Theme.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>

namespace {
constexpr int platformIconSize = 18;
constexpr int iconSpacing = 8;
constexpr int horizontalPadding = 16;
constexpr int verticalPadding = 10;
constexpr int cornerRadius = 8;

QFont titleFont() {
    return Theme::Typography::bodyMedium();
}
} // namespace

PlatformIcon::PlatformIcon(MeetingPlatform platform, int size, QWidget *parent)
    : QWidget(parent)
    , m_platform(platform)
    , m_size(size) {
    setFixedSize(size, size);
    setAccessibleName(MeetingPlatforms::displayName(platform));
}

QString PlatformIcon::resourcePath(MeetingPlatform platform) {
    return QStringLiteral(":/icons/%1.svg").arg(MeetingPlatforms::iconAssetName(platform));
}

QPixmap PlatformIcon::pixmap(MeetingPlatform platform, int size, qreal devicePixelRatio) {
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap result(pixels, pixels);
    result.fill(Qt::transparent);
    QSvgRenderer renderer(resourcePath(platform));
    {
        QPainter p(&result);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath clip;
        const qreal radius = pixels * 0.22;
        clip.addRoundedRect(QRectF(0, 0, pixels, pixels), radius, radius);
        p.setClipPath(clip);
        renderer.render(&p, QRectF(0, 0, pixels, pixels));
    }
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

void PlatformIcon::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.drawPixmap(0, 0, pixmap(m_platform, m_size, devicePixelRatioF()));
}

PlatformJoinButton::PlatformJoinButton(MeetingPlatform platform, QWidget *parent)
    : QAbstractButton(parent)
    , m_platform(platform) {
    setText(MeetingPlatforms::joinTitle(platform));
    setAccessibleName(text());
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize PlatformJoinButton::sizeHint() const {
    const QFontMetrics fm(titleFont());
    const int contentHeight = std::max(platformIconSize, fm.height());
    return {horizontalPadding * 2 + platformIconSize + iconSpacing + fm.horizontalAdvance(text()),
            verticalPadding * 2 + contentHeight};
}

void PlatformJoinButton::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    Theme::dimForState(p, *this);
    const QRectF r = rect();
    p.setPen(Qt::NoPen);
    p.setBrush(MeetingPlatforms::brandColor(m_platform));
    p.drawRoundedRect(r, cornerRadius, cornerRadius);
    if (hasFocus()) {
        p.setPen(QPen(Qt::white, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(2, 2, -2, -2), cornerRadius - 2, cornerRadius - 2);
    }

    const QFontMetrics fm(titleFont());
    const int contentWidth = platformIconSize + iconSpacing + fm.horizontalAdvance(text());
    int x = (width() - contentWidth) / 2;
    p.drawPixmap(x, (height() - platformIconSize) / 2,
                 PlatformIcon::pixmap(m_platform, platformIconSize, devicePixelRatioF()));
    x += platformIconSize + iconSpacing;
    p.setFont(titleFont());
    p.setPen(Qt::white);
    p.drawText(QRect(x, 0, width() - x, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
}

void PlatformJoinButton::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        animateClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}
