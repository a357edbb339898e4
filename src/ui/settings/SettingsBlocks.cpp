#include "SettingsBlocks.h"

#include "ui/SymbolIcons.h"
#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int sidebarSymbol = 14;
constexpr int sidebarSymbolFrame = 18;
constexpr int rowHorizontal = 16;
constexpr int rowVertical = 12;
constexpr int cardRadius = 18;
constexpr int switchWidth = 36;
constexpr int switchHeight = 20;

QFont sidebarFont(bool selected) {
    return Theme::Typography::font(14, selected ? QFont::Medium : QFont::Normal);
}

void collectFocusable(QLayout *layout, QList<QWidget *> &out);

void collectFocusable(QWidget *widget, QList<QWidget *> &out) {
    if ((widget->focusPolicy() & Qt::TabFocus) && !qobject_cast<QLabel *>(widget))
        out.append(widget);
    if (QLayout *layout = widget->layout())
        collectFocusable(layout, out);
    // A widget without a layout (a scroll area) is walked through its own children.
    else
        for (QObject *child : widget->children())
            if (auto *w = qobject_cast<QWidget *>(child); w && !w->isWindow())
                collectFocusable(w, out);
}

void collectFocusable(QLayout *layout, QList<QWidget *> &out) {
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (QWidget *w = item->widget())
            collectFocusable(w, out);
        else if (QLayout *inner = item->layout())
            collectFocusable(inner, out);
    }
}
} // namespace

void SettingsBlocks::paintFocusRing(QPainter &painter, const QRectF &rect, qreal radius) {
    QColor ring = Theme::Colors::primary();
    ring.setAlphaF(0.6);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ring, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), radius, radius);
    painter.restore();
}

void SettingsBlocks::orderFocusChain(QWidget *root) {
    QList<QWidget *> chain;
    collectFocusable(root, chain);
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

QWidget *SettingsBlocks::inset(QWidget *content, int inset, int top, int bottom) {
    auto *holder = new QWidget;
    auto *layout = new QHBoxLayout(holder);
    layout->setContentsMargins(inset, top, inset, bottom);
    layout->setSpacing(0);
    layout->addWidget(content);
    return holder;
}

SidebarItem::SidebarItem(const QString &title, const QString &icon, QWidget *parent)
    : QAbstractButton(parent)
    , m_icon(icon) {
    setText(title);
    setAccessibleName(title);
    setCheckable(true);
    setAutoExclusive(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize SidebarItem::sizeHint() const {
    const QFontMetrics fm(sidebarFont(true));
    return {12 + sidebarSymbolFrame + 8 + fm.horizontalAdvance(text()) + 12,
            std::max(fm.height(), sidebarSymbolFrame) + 2 * 7};
}

void SidebarItem::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool selected = isChecked();
    const QRectF strip = rect();
    if (selected) {
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::Colors::cardSubtle());
        p.drawRoundedRect(strip, 8, 8);
    }
    if (hasFocus())
        SettingsBlocks::paintFocusRing(p, strip, 8);
    Theme::dimForState(p, *this);

    const QColor symbolColor = selected ? Theme::Colors::primary() : Theme::Colors::textTertiary();
    const QPixmap symbol =
        SymbolIcons::pixmap(m_icon, symbolColor, sidebarSymbol, devicePixelRatioF());
    const int x = 12;
    p.drawPixmap(
        QPointF(x + (sidebarSymbolFrame - sidebarSymbol) / 2.0, (height() - sidebarSymbol) / 2.0),
        symbol);
    p.setFont(sidebarFont(selected));
    p.setPen(selected ? Theme::Colors::textPrimary() : Theme::Colors::textSecondary());
    p.drawText(
        QRect(x + sidebarSymbolFrame + 8, 0, width() - x - sidebarSymbolFrame - 20, height()),
        Qt::AlignLeft | Qt::AlignVCenter, text());
}

ContentHeader::ContentHeader(const QString &title, const QString &subtitle, QWidget *parent)
    : QWidget(parent) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(SettingsBlocks::paneInset, 32, SettingsBlocks::paneInset, 24);
    layout->setSpacing(5);
    layout->addWidget(Widgets::label(title, Theme::Typography::h2(), Theme::Colors::textPrimary()));
    QLabel *sub =
        Widgets::label(subtitle, Theme::Typography::body(), Theme::Colors::textSecondary());
    sub->setWordWrap(true);
    layout->addWidget(sub);
}

ContentSection::ContentSection(const QString &title, QWidget *parent)
    : QWidget(parent) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(SettingsBlocks::paneInset, 24, SettingsBlocks::paneInset, 8);
    QFont font = Theme::Typography::overline();
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    m_label = Widgets::label(title.toUpper(), font, Theme::Colors::textTertiary());
    m_label->setAccessibleName(title.toUpper());
    layout->addWidget(m_label);
}

QString ContentSection::title() const {
    return m_label->text();
}

SettingsRow::SettingsRow(QWidget *parent)
    : QWidget(parent)
    , m_layout(new QHBoxLayout(this)) {
    m_layout->setContentsMargins(rowHorizontal, rowVertical, rowHorizontal, rowVertical);
    m_layout->setSpacing(10);
}

void SettingsRow::setLast(bool last) {
    m_isLast = last;
    update();
}

void SettingsRow::paintEvent(QPaintEvent *) {
    if (m_isLast)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Theme::Colors::border(), 0.5));
    const qreal y = height() - 0.25;
    p.drawLine(QPointF(rowHorizontal, y), QPointF(width(), y));
}

SettingsCard::SettingsCard(QWidget *parent)
    : QWidget(parent)
    , m_layout(new QVBoxLayout(this)) {
    // The card keeps one pixel clear for its outline.
    m_layout->setContentsMargins(1, 1, 1, 1);
    m_layout->setSpacing(0);
}

void SettingsCard::addRow(QWidget *row) {
    if (!m_rows.isEmpty())
        if (auto *previous = qobject_cast<SettingsRow *>(m_rows.last()))
            previous->setLast(false);
    m_rows.append(row);
    m_layout->addWidget(row);
}

void SettingsRow::holdButton(RowButton *button) {
    m_layout->setContentsMargins(
        rowHorizontal - RowButton::focusMargin, rowVertical - RowButton::focusMargin,
        rowHorizontal - RowButton::focusMargin, rowVertical - RowButton::focusMargin);
    m_layout->addWidget(button);
}

SettingsRow *SettingsCard::addRow() {
    auto *row = new SettingsRow(this);
    addRow(row);
    return row;
}

void SettingsCard::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Theme::Colors::border(), 1));
    p.setBrush(Theme::Colors::surface());
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cardRadius, cardRadius);
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
        SettingsBlocks::paintFocusRing(p, track.adjusted(-2, -2, 2, 2), switchHeight / 2.0 + 2);
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
        SettingsBlocks::paintFocusRing(p, rect(), 5);
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

RowButton::RowButton(const QString &accessibleName, QWidget *parent)
    : QAbstractButton(parent)
    , m_layout(new QHBoxLayout(this)) {
    setAccessibleName(accessibleName);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // A little room around the content for the focus ring; rows holding a RowButton take
    // as much off their own padding.
    m_layout->setContentsMargins(focusMargin, focusMargin, focusMargin, focusMargin);
    m_layout->setSpacing(8);
}

void RowButton::addContent(QWidget *widget, int stretch) {
    widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_layout->addWidget(widget, stretch);
}

QSize RowButton::sizeHint() const {
    return m_layout->sizeHint();
}

QSize RowButton::minimumSizeHint() const {
    return m_layout->minimumSize();
}

void RowButton::paintEvent(QPaintEvent *) {
    if (!hasFocus())
        return;
    QPainter p(this);
    SettingsBlocks::paintFocusRing(p, rect(), 6);
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

QString SettingsBlocks::focusedName(QWidget *root) {
    QWidget *focused = QApplication::focusWidget();
    return focused && root->isAncestorOf(focused) ? focused->objectName() : QString();
}

void SettingsBlocks::restoreFocus(QWidget *root, const QStringList &names) {
    for (const QString &name : names) {
        if (name.isEmpty())
            continue;
        if (auto *w = root->findChild<QWidget *>(name); w && w->isVisibleTo(root)) {
            w->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}
