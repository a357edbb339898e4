#include "Controls.h"

#include "SymbolIcons.h"
#include "Theme.h"

#include <QPainter>
#include <QTimer>

namespace {
constexpr int switchWidth = 36;
constexpr int switchHeight = 20;
} // namespace

void Controls::paintFocusRing(QPainter &painter, const QRectF &rect, qreal radius) {
    QColor ring = Theme::Colors::primary();
    ring.setAlphaF(0.6);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ring, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), radius, radius);
    painter.restore();
}

SwitchButton::SwitchButton(const QString &accessibleName, QWidget *parent)
    : QAbstractButton(parent) {
    setCheckable(true);
    setAccessibleName(accessibleName);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SwitchButton::sizeHint() const {
    return {switchWidth + 4, switchHeight + 4};
}

void SwitchButton::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track((width() - switchWidth) / 2.0, (height() - switchHeight) / 2.0, switchWidth,
                       switchHeight);
    if (hasFocus())
        Controls::paintFocusRing(p, track.adjusted(-2, -2, 2, 2), switchHeight / 2.0 + 2);
    Theme::dimForState(p, *this);
    const qreal radius = switchHeight / 2.0;
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? Theme::Colors::primary() : QColor(0xE0, 0xE0, 0xE3));
    p.drawRoundedRect(track, radius, radius);
    const qreal knob = switchHeight - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(0, 0, 0, 30), 0.5));
    p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

TextButton::TextButton(const QString &text, const QFont &font, const QColor &color, QWidget *parent)
    : QAbstractButton(parent)
    , m_color(color) {
    setText(text);
    setAccessibleName(text);
    setFont(font);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TextButton::setSymbol(const QString &icon, int size, IconSide side, int spacing,
                           QColor symbolColor) {
    m_icon = icon;
    m_symbolColor = symbolColor.isValid() ? symbolColor : m_color;
    m_iconSize = size;
    m_side = side;
    m_spacing = spacing;
    updateGeometry();
    update();
}

QSize TextButton::sizeHint() const {
    const QFontMetrics fm(font());
    int width = text().isEmpty() ? 0 : fm.horizontalAdvance(text());
    if (!m_icon.isEmpty())
        width += m_iconSize + (text().isEmpty() ? 0 : m_spacing);
    return {width + 8, std::max(fm.height(), m_iconSize) + 6};
}

void TextButton::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (hasFocus())
        Controls::paintFocusRing(p, rect(), 5);
    Theme::dimForState(p, *this);
    const QFontMetrics fm(font());
    const int textWidth = text().isEmpty() ? 0 : fm.horizontalAdvance(text());
    const int gap = text().isEmpty() || m_icon.isEmpty() ? 0 : m_spacing;
    int x = 4;
    const auto drawSymbol = [&] {
        if (m_icon.isEmpty())
            return;
        p.drawPixmap(QPointF(x, (height() - m_iconSize) / 2.0),
                     SymbolIcons::pixmap(m_icon, m_symbolColor, m_iconSize, devicePixelRatioF()));
        x += m_iconSize + gap;
    };
    if (m_side == IconSide::before)
        drawSymbol();
    p.setFont(font());
    p.setPen(m_color);
    p.drawText(QRect(x, 0, textWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    x += textWidth + gap;
    if (m_side == IconSide::after)
        drawSymbol();
}

Spinner::Spinner(int size, QWidget *parent)
    : QWidget(parent)
    , m_size(size)
    , m_timer(new QTimer(this)) {
    setFixedSize(size, size);
    m_timer->setInterval(80);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

void Spinner::showEvent(QShowEvent *) {
    m_timer->start();
}

void Spinner::hideEvent(QHideEvent *) {
    m_timer->stop();
}

void Spinner::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(width() / 2.0, height() / 2.0);
    p.rotate(m_angle);
    const qreal r = m_size / 2.0;
    for (int i = 0; i < 8; ++i) {
        QColor c = Theme::Colors::textTertiary();
        c.setAlphaF(0.15 + 0.85 * i / 7.0);
        p.setPen(QPen(c, std::max(1.5, m_size / 8.0), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(0, -r * 0.45), QPointF(0, -r * 0.9));
        p.rotate(45);
    }
}
