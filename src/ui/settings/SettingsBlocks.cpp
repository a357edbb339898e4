#include "SettingsBlocks.h"

#include "ui/Controls.h"
#include "ui/SymbolIcons.h"
#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {
constexpr int rowHorizontal = 16;
constexpr int rowVertical = 12;
constexpr int cardRadius = 18;

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

SettingsTab::SettingsTab(const QString &title, const QString &subtitle, QWidget *parent)
    : QWidget(parent)
    , m_body(new QVBoxLayout) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 24);
    layout->setSpacing(0);
    auto *header = new QVBoxLayout;
    header->setContentsMargins(SettingsBlocks::paneInset, 32, SettingsBlocks::paneInset, 24);
    header->setSpacing(5);
    header->addWidget(Widgets::label(title, Theme::Typography::h2(), Theme::Colors::textPrimary()));
    QLabel *sub =
        Widgets::label(subtitle, Theme::Typography::body(), Theme::Colors::textSecondary());
    sub->setWordWrap(true);
    header->addWidget(sub);
    layout->addLayout(header);
    m_body->setContentsMargins(0, 0, 0, 0);
    m_body->setSpacing(0);
    layout->addLayout(m_body);
    layout->addStretch();
}

void SettingsTab::addSection(const QString &title) {
    m_body->addWidget(new ContentSection(title, this));
}

void SettingsTab::addInset(QWidget *content, int top) {
    m_body->addWidget(SettingsBlocks::inset(content, SettingsBlocks::paneInset, top));
}

void SettingsTab::addWidget(QWidget *widget) {
    m_body->addWidget(widget);
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
    Controls::paintFocusRing(p, rect(), 6);
}

QString SettingsBlocks::focusedName(QWidget *root) {
    // The window's own focus, which a dialog in front of it leaves in place.
    QWidget *focused = root->window()->focusWidget();
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
