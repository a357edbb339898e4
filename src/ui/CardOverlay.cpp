#include "CardOverlay.h"

#include "Theme.h"
#include "platform/ProcessMemory.h"

#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>
#include <cmath>
#include <utility>

namespace {
constexpr int screenMargin = 40;
constexpr qreal shadowOpacity = 0.25;
constexpr int shadowRadius = 60;
constexpr int shadowOffsetY = 16;
// The shadow is blurred at a quarter of its size and scaled up: it is soft anyway.
constexpr int shadowScale = 4;

// A spring released from 0 towards 1 with a response (period) of 0.5 s and a damping
// fraction of 0.85, at `t` seconds.
qreal springPosition(qreal t) {
    constexpr qreal response = 0.5;
    constexpr qreal damping = 0.85;
    const qreal omega = 2 * M_PI / response;
    const qreal decay = damping * omega;
    const qreal omegaD = omega * std::sqrt(1 - damping * damping);
    return 1 -
           std::exp(-decay * t) * (std::cos(omegaD * t) + decay / omegaD * std::sin(omegaD * t));
}
constexpr int springDurationMs = 650;

QColor dim() {
    return QColor(0, 0, 0, qRound(255 * CardOverlay::backdropOpacity));
}

// Three box blurs approximate a Gaussian; `radius` is in pixels of `image` (alpha only).
void blurAlpha(QImage &image, int radius) {
    const int w = image.width(), h = image.height();
    const int box = std::max(1, radius / 3);
    std::vector<int> line(std::max(w, h));
    for (int pass = 0; pass < 3; ++pass) {
        for (int horizontal = 0; horizontal < 2; ++horizontal) {
            const int count = horizontal ? h : w;
            const int length = horizontal ? w : h;
            for (int i = 0; i < count; ++i) {
                auto at = [&](int j) -> uchar & {
                    return horizontal ? image.scanLine(i)[j] : image.scanLine(j)[i];
                };
                for (int j = 0; j < length; ++j)
                    line[j] = at(j);
                int sum = 0;
                for (int j = -box; j <= box; ++j)
                    sum += line[std::clamp(j, 0, length - 1)];
                for (int j = 0; j < length; ++j) {
                    at(j) = uchar(sum / (2 * box + 1));
                    sum += line[std::min(j + box + 1, length - 1)] - line[std::max(j - box, 0)];
                }
            }
        }
    }
}
} // namespace

CardFrame::CardFrame(int cornerRadius, bool outlined, QWidget *parent)
    : QWidget(parent)
    , m_cornerRadius(cornerRadius)
    , m_outlined(outlined) {}

void CardFrame::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // Opaque: whatever lies behind the overlay must never be readable through the card.
    p.setBrush(Theme::Colors::surface());
    if (m_outlined)
        p.setPen(QPen(Theme::Colors::border(), 1));
    else
        p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_cornerRadius,
                      m_cornerRadius);
}

CardOverlay::CardOverlay(QWidget *parent)
    : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

CardOverlay::~CardOverlay() = default;

void CardOverlay::setBackdrop(QImage backdrop) {
    m_backdrop = std::move(backdrop);
    m_backdropDimmed = false;
    update();
}

void CardOverlay::dimBackdrop() {
    if (m_backdropDimmed || m_backdrop.isNull())
        return;
    QPainter(&m_backdrop).fillRect(m_backdrop.rect(), dim());
    m_backdropDimmed = true;
}

void CardOverlay::setCard(CardFrame *card, int maxWidth, bool springIn) {
    m_card = card;
    m_card->setParent(this);
    m_maxWidth = maxWidth;
    m_springIn = springIn;
    m_appeared = !springIn;
    m_progress = springIn ? 0.0 : 1.0;
    if (springIn)
        m_card->hide();
    layoutCard();
}

void CardOverlay::setCardMaxWidth(int maxWidth) {
    m_maxWidth = maxWidth;
    layoutCard();
}

void CardOverlay::layoutCard() {
    if (!m_card)
        return;
    const int width = std::max(0, std::min(m_maxWidth, this->width() - 2 * screenMargin));
    int height =
        m_card->hasHeightForWidth() ? m_card->heightForWidth(width) : m_card->sizeHint().height();
    height = std::max(0, std::min(height, this->height() - 2 * screenMargin));
    const QRect placed((this->width() - width) / 2, (this->height() - height) / 2, width, height);
    if (placed == m_card->geometry())
        return;
    // The card and its shadow where they were and where they go; the rest of the screen
    // stays as it is.
    const QRect before = cardArea(m_progress);
    m_card->setGeometry(placed);
    update(before.united(cardArea(m_progress)));
}

void CardOverlay::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    layoutCard();
}

void CardOverlay::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    layoutCard();
    // A card that springs in does so from the first frame on screen (see paintEvent).
    if (m_springIn && !m_appeared)
        setFocus();
    else if (m_initialFocus)
        m_initialFocus->setFocus();
}

void CardOverlay::startSpring() {
    // The appearance may have been cut short before the spring got going.
    if (m_animation || !m_card->isHidden())
        return;
    m_animation = new QVariantAnimation(this);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(springDurationMs / 1000.0);
    m_animation->setDuration(springDurationMs);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        const qreal before = std::exchange(m_progress, springPosition(value.toReal()));
        // The card's controls are real widgets and cannot be scaled, so a picture of the card
        // springs in and the live card takes its place at rest. The spring starts with the
        // card fully transparent: the picture is taken once it shows, which keeps it out of
        // the way of the first frame on every screen.
        if (m_cardSnapshot.isNull() && m_progress > 0) {
            // Outside the heap: see ProcessMemory::imageOutsideHeap.
            const qreal ratio = devicePixelRatioF();
            m_cardSnapshot = ProcessMemory::imageOutsideHeap(m_card->size() * ratio,
                                                             QImage::Format_ARGB32_Premultiplied);
            m_cardSnapshot.setDevicePixelRatio(ratio);
            m_card->render(&m_cardSnapshot);
        }
        // Only around the card: repainting the whole screen every frame would hold up the
        // first frame of the other screens' windows.
        update(cardArea(before).united(cardArea(m_progress)));
    });
    connect(m_animation, &QVariantAnimation::finished, this, &CardOverlay::finishAppearance);
    m_animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void CardOverlay::finishAppearance() {
    if (m_animation) {
        m_animation->disconnect(this);
        m_animation->stop();
        m_animation = nullptr;
    }
    const bool wasHidden = m_card && m_card->isHidden();
    const QRect before = cardArea(m_progress);
    m_appeared = true;
    m_progress = 1.0;
    m_cardSnapshot = {};
    if (wasHidden) {
        m_card->show();
        if (m_initialFocus)
            m_initialFocus->setFocus();
    }
    update(before.united(cardArea(m_progress)));
    Q_EMIT appearanceFinished();
}

void CardOverlay::mousePressEvent(QMouseEvent *event) {
    // The backdrop swallows clicks: only the card's own controls act.
    event->accept();
}

void CardOverlay::focusInEvent(QFocusEvent *event) {
    // QWidget's repaints the whole widget, here the whole screen, as the window takes focus:
    // a second full frame on the screen in front of the user while the other screens wait
    // for their first.
    event->accept();
}

void CardOverlay::focusOutEvent(QFocusEvent *event) {
    event->accept();
}

bool CardOverlay::event(QEvent *event) {
    if (event->type() == QEvent::LayoutRequest)
        layoutCard();
    return QWidget::event(event);
}

void CardOverlay::paintShadow(QPainter &p, const QRectF &cardRect, qreal opacity) {
    const QSize size = cardRect.size().toSize();
    if (size.isEmpty() || opacity <= 0)
        return;
    if (m_shadowFor != size) {
        const int pad = shadowRadius / shadowScale * 2;
        QImage image(size.width() / shadowScale + 2 * pad, size.height() / shadowScale + 2 * pad,
                     QImage::Format_Alpha8);
        image.fill(0);
        {
            QPainter ip(&image);
            ip.setRenderHint(QPainter::Antialiasing);
            ip.setPen(Qt::NoPen);
            ip.setBrush(QColor(0, 0, 0, int(255 * shadowOpacity)));
            const qreal r = qreal(m_card->cornerRadius()) / shadowScale;
            ip.drawRoundedRect(QRectF(pad, pad, qreal(size.width()) / shadowScale,
                                      qreal(size.height()) / shadowScale),
                               r, r);
        }
        blurAlpha(image, shadowRadius / shadowScale);
        m_shadow = image;
        m_shadowFor = size;
    }
    const int pad = shadowRadius * 2;
    const QRectF target = cardRect.adjusted(-pad, -pad, pad, pad).translated(0, shadowOffsetY);
    p.save();
    p.setOpacity(opacity);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, m_shadow);
    p.restore();
}

QRectF CardOverlay::drawnCard(qreal progress) const {
    const QRectF rest = m_card->geometry();
    const qreal scale = initialScale + (1.0 - initialScale) * progress;
    QRectF drawn(0, 0, rest.width() * scale, rest.height() * scale);
    drawn.moveCenter(rest.center());
    return drawn;
}

QRect CardOverlay::cardArea(qreal progress) const {
    if (!m_card)
        return rect();
    const int pad = shadowRadius * 2;
    // The shadow reaches `pad` around the card and sits `shadowOffsetY` lower.
    return drawnCard(progress).adjusted(-pad, -pad, pad, pad + shadowOffsetY).toAlignedRect();
}

void CardOverlay::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!m_backdrop.isNull()) {
        dimBackdrop();
        p.drawImage(rect(), m_backdrop);
    } else {
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(rect(), Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.fillRect(rect(), dim());
    }
    if (m_springIn && !m_appeared) {
        // The spring starts once the window is on screen, so that none of it is lost while
        // the window manager maps the window. Its first frame shows no card yet.
        m_appeared = true;
        QMetaObject::invokeMethod(this, &CardOverlay::startSpring, Qt::QueuedConnection);
    }
    if (!m_card || !m_appeared)
        return;

    const qreal opacity = std::clamp(m_progress, 0.0, 1.0);
    const QRectF drawn = drawnCard(m_progress);
    paintShadow(p, drawn, opacity);
    if (!m_cardSnapshot.isNull()) {
        p.setOpacity(opacity);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(drawn, m_cardSnapshot, m_cardSnapshot.rect());
    }
}
