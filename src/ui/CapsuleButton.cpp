#include "CapsuleButton.h"

#include "SymbolIcons.h"
#include "Theme.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int horizontalPadding = 19;
constexpr int symbolSize = 14;
constexpr int spacing = 6;

QFont titleFont() {
    return Theme::Typography::bodyMedium();
}
QFont badgeFont() {
    return Theme::Typography::font(11, QFont::Medium);
}
} // namespace

CapsuleButton::CapsuleButton(const QString &title, Style style, const QString &icon,
                             QWidget *parent)
    : QAbstractButton(parent)
    , m_style(style)
    , m_icon(icon) {
    setTitle(title);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void CapsuleButton::setTitle(const QString &title) {
    setText(title);
    setAccessibleName(title);
    updateGeometry();
    update();
}

QSize CapsuleButton::sizeHint() const {
    int width = QFontMetrics(titleFont()).horizontalAdvance(text());
    if (!m_icon.isEmpty())
        width += symbolSize + spacing;
    return {width + 2 * horizontalPadding, fixedHeight};
}

QColor CapsuleButton::foreground() const {
    switch (m_style) {
    case Style::primary:
    case Style::destructive:
        return Theme::Colors::textOnDark();
    case Style::secondary:
    case Style::ghost:
        return Theme::Colors::primary();
    }
    return Theme::Colors::primary();
}

void CapsuleButton::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    Theme::dimForState(p, *this);

    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = r.height() / 2;
    switch (m_style) {
    case Style::primary:
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::Colors::primary());
        p.drawRoundedRect(r, radius, radius);
        break;
    case Style::destructive:
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::Colors::red());
        p.drawRoundedRect(r, radius, radius);
        break;
    case Style::secondary:
        p.setPen(QPen(Theme::Colors::borderStrong(), 1));
        p.setBrush(Theme::Colors::cardSubtle());
        p.drawRoundedRect(r, radius, radius);
        break;
    case Style::ghost:
        break;
    }

    if (hasFocus()) {
        p.setPen(QPen(Theme::Colors::primary(), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }

    const QColor fg = foreground();
    const QFont font = titleFont();
    const int textWidth = QFontMetrics(font).horizontalAdvance(text());
    const bool hasSymbol = !m_icon.isEmpty() && SymbolIcons::has(m_icon);
    const int contentWidth = textWidth + (hasSymbol ? symbolSize + spacing : 0);
    int x = (width() - contentWidth) / 2;
    if (hasSymbol) {
        p.drawPixmap(x, (height() - symbolSize) / 2,
                     SymbolIcons::pixmap(m_icon, fg, symbolSize, devicePixelRatioF()));
        x += symbolSize + spacing;
    }
    p.setFont(font);
    p.setPen(fg);
    p.drawText(QRect(x, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
}

void CapsuleButton::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        animateClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

Badge::Badge(const QString &text, const QColor &color, QWidget *parent)
    : QLabel(text, parent)
    , m_color(color) {
    setFont(badgeFont());
    setContentsMargins(10, 3, 10, 3);
    setAlignment(Qt::AlignCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setColor(color);
}

void Badge::setColor(const QColor &color) {
    m_color = color;
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, color);
    setPalette(pal);
    update();
}

void Badge::paintEvent(QPaintEvent *event) {
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor tint = m_color;
        tint.setAlphaF(tint.alphaF() * 0.12f);
        p.setPen(Qt::NoPen);
        p.setBrush(tint);
        const qreal radius = height() / 2.0;
        p.drawRoundedRect(rect(), radius, radius);
    }
    QLabel::paintEvent(event);
}
