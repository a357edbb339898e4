#include "Theme.h"

#include "core/HexColor.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QPainter>

namespace {
QColor hex(const char16_t *text) {
    return colorFromScannedHex(QStringView(text));
}

QColor rgba(int r, int g, int b, qreal opacity) {
    QColor c(r, g, b);
    c.setAlphaF(float(opacity));
    return c;
}
} // namespace

#define THEME_COLOR(name, value)                                                                   \
    const QColor &Theme::Colors::name() {                                                          \
        static const QColor color = value;                                                         \
        return color;                                                                              \
    }

THEME_COLOR(primary, hex(u"408FFF"))
THEME_COLOR(background, QColor(Qt::white))
THEME_COLOR(surface, QColor(Qt::white))
THEME_COLOR(surfaceSecondary, hex(u"F7F7F7"))
THEME_COLOR(textPrimary, hex(u"1D1E1F"))
THEME_COLOR(textSecondary, rgba(60, 60, 67, 0.6))
THEME_COLOR(textTertiary, rgba(60, 60, 67, 0.3))
THEME_COLOR(textOnDark, QColor(Qt::white))
THEME_COLOR(border, hex(u"EBEBEB"))
THEME_COLOR(borderStrong, rgba(60, 60, 67, 0.12))
THEME_COLOR(cardSubtle, rgba(116, 116, 128, 0.08))
THEME_COLOR(green, hex(u"34C759"))
THEME_COLOR(blue, hex(u"408FFF"))
THEME_COLOR(purple, hex(u"5856D6"))
THEME_COLOR(red, hex(u"FF3B30"))
THEME_COLOR(orange, hex(u"FF9500"))
THEME_COLOR(teal, hex(u"5AC8FA"))
THEME_COLOR(pastelBlue, hex(u"EDF5FF"))

#undef THEME_COLOR

QFont Theme::Typography::font(qreal pixelSize, QFont::Weight weight) {
    QFont f = QGuiApplication::font();
    f.setPixelSize(int(pixelSize));
    f.setWeight(weight);
    return f;
}

QFont Theme::Typography::hero() {
    return font(40, QFont::Medium);
}
QFont Theme::Typography::h1() {
    return font(32, QFont::Medium);
}
QFont Theme::Typography::h2() {
    return font(24, QFont::Medium);
}
QFont Theme::Typography::h3() {
    return font(20, QFont::Medium);
}
QFont Theme::Typography::body() {
    return font(15, QFont::Normal);
}
QFont Theme::Typography::bodyMedium() {
    return font(15, QFont::Medium);
}
QFont Theme::Typography::small() {
    return font(14, QFont::Normal);
}
QFont Theme::Typography::caption() {
    return font(13, QFont::Normal);
}
QFont Theme::Typography::tiny() {
    return font(12, QFont::Normal);
}
QFont Theme::Typography::overline() {
    return font(11, QFont::DemiBold);
}

QString Theme::cssColor(const QColor &color) {
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF(), 0, 'f', 3);
}

void Theme::dimForState(QPainter &painter, const QAbstractButton &button) {
    if (!button.isEnabled())
        painter.setOpacity(0.4);
    else if (button.isDown())
        painter.setOpacity(0.7);
}
