#pragma once

#include <QColor>
#include <QFont>

class QAbstractButton;
class QPainter;

// The single source of the application's colours and type styles.
namespace Theme {
namespace Colors {
const QColor &primary();
const QColor &background();
const QColor &surface();
const QColor &surfaceSecondary();
const QColor &textPrimary();
const QColor &textSecondary();
const QColor &textTertiary();
const QColor &textOnDark();
const QColor &border();
const QColor &borderStrong();
const QColor &cardSubtle();
const QColor &green();
const QColor &blue();
const QColor &purple();
const QColor &red();
const QColor &orange();
const QColor &teal();
const QColor &pastelBlue();
} // namespace Colors

namespace Typography {
QFont hero();
QFont h1();
QFont h2();
QFont h3();
QFont body();
QFont bodyMedium();
QFont small();
QFont caption();
QFont tiny();
QFont overline();
// Any size and weight in the system font, for the few places with their own sizes.
QFont font(qreal pixelSize, QFont::Weight weight);
} // namespace Typography

// The plain-button look of a custom-painted button: dimmed while pressed or disabled.
void dimForState(QPainter &painter, const QAbstractButton &button);

// "rgba(r,g,b,a)" for style sheets.
QString cssColor(const QColor &color);
} // namespace Theme
