#include "ProviderRow.h"

#include "SymbolIcons.h"
#include "Theme.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {
constexpr int symbolSize = 20;
} // namespace

ProviderRow::ProviderRow(const QString &symbol, const QColor &color, const QString &title,
                         Style style, QWidget *parent)
    : QWidget(parent)
    , m_symbolName(symbol)
    , m_color(color)
    , m_style(style)
    , m_symbol(Widgets::symbol(symbol, color, symbolSize))
    , m_lines(new QVBoxLayout)
    , m_layout(new QHBoxLayout(this)) {
    const bool outlined = style == Style::outlined;
    if (outlined)
        m_layout->setContentsMargins(16, 12, 16, 12);
    else
        m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(12);
    m_layout->addWidget(m_symbol);
    m_lines->setContentsMargins(0, 0, 0, 0);
    m_lines->setSpacing(2);
    // A card of its own carries its name alone; a settings row sets it over its lines.
    m_lines->addWidget(Widgets::label(
        title, outlined ? Theme::Typography::body() : Theme::Typography::bodyMedium(),
        Theme::Colors::textPrimary()));
    m_layout->addLayout(m_lines, 1);
    m_layout->addStretch();
}

ProviderRow::ProviderRow(CalendarProvider provider, const QString &title, Style style,
                         QWidget *parent)
    : ProviderRow(symbolName(provider), color(provider), title, style, parent) {}

QString ProviderRow::symbolName(CalendarProvider provider) {
    switch (provider) {
    case CalendarProvider::google:
        return QStringLiteral("g.circle.fill");
    case CalendarProvider::microsoft:
        return QStringLiteral("m.circle.fill");
    case CalendarProvider::desktop:
        return QStringLiteral("calendar.badge.checkmark");
    case CalendarProvider::feed:
        break;
    }
    return QStringLiteral("calendar");
}

QColor ProviderRow::color(CalendarProvider provider) {
    switch (provider) {
    case CalendarProvider::google:
        return Theme::Colors::blue();
    case CalendarProvider::microsoft:
        return Theme::Colors::teal();
    case CalendarProvider::desktop:
        return Theme::Colors::purple();
    case CalendarProvider::feed:
        break;
    }
    return Theme::Colors::orange();
}

void ProviderRow::setConnected(bool connected) {
    m_isConnected = connected;
    m_symbol->setPixmap(
        connected ? SymbolIcons::pixmap(QStringLiteral("checkmark.circle.fill"),
                                        Theme::Colors::green(), symbolSize, devicePixelRatioF())
                  : SymbolIcons::pixmap(m_symbolName, m_color, symbolSize, devicePixelRatioF()));
    update();
}

QLabel *ProviderRow::addLine(const QString &text, const QColor &color) {
    QLabel *line = Widgets::label(text, Theme::Typography::tiny(), color);
    line->setWordWrap(true);
    m_lines->addWidget(line);
    return line;
}

void ProviderRow::addControl(QWidget *control) {
    m_layout->addWidget(control);
}

void ProviderRow::paintEvent(QPaintEvent *) {
    if (m_style != Style::outlined)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor stroke = Theme::Colors::border();
    if (m_isConnected) {
        stroke = Theme::Colors::green();
        stroke.setAlphaF(0.3);
    }
    p.setPen(QPen(stroke, 1));
    p.setBrush(Theme::Colors::surface());
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 15, 15);
}
