#include "Widgets.h"

#include "SymbolIcons.h"

#include <QPainter>
#include <QTextLayout>

QLabel *Widgets::label(const QString &text, const QFont &font, const QColor &color,
                       QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    pal.setColor(QPalette::Text, color);
    label->setPalette(pal);
    label->setAccessibleName(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel *Widgets::symbol(const QString &name, const QColor &color, int size, int lowered,
                        QWidget *parent) {
    auto *label = new QLabel(parent);
    label->setPixmap(SymbolIcons::pixmap(name, color, size, label->devicePixelRatioF()));
    label->setFixedSize(size, size + lowered);
    label->setAlignment(Qt::AlignBottom | Qt::AlignHCenter);
    label->setObjectName(name);
    return label;
}

void Widgets::bringToFront(QWidget *window) {
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
}

Dot::Dot(int diameter, const QColor &color, int lowered, QWidget *parent)
    : QWidget(parent)
    , m_diameter(diameter)
    , m_lowered(lowered)
    , m_color(color) {
    setFixedSize(sizeHint());
}

QSize Dot::sizeHint() const {
    return {m_diameter, m_diameter + m_lowered};
}

void Dot::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(m_color);
    p.drawEllipse(QRectF(0, m_lowered, m_diameter, m_diameter));
}

ElidedLabel::ElidedLabel(const QString &text, int maxLines, QWidget *parent)
    : QLabel(text, parent)
    , m_maxLines(std::max(1, maxLines)) {
    setTextFormat(Qt::PlainText);
    setAccessibleName(text);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    if (m_maxLines > 1) {
        QSizePolicy policy = sizePolicy();
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
}

QStringList ElidedLabel::visibleLines(int width) const {
    const QFontMetrics fm(font());
    width = std::max(width, 1);
    if (m_maxLines == 1) {
        const QString flat = QString(text()).replace(QLatin1Char('\n'), QLatin1Char(' '));
        return {fm.elidedText(flat, Qt::ElideRight, width)};
    }
    QString content = text();
    content.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(content, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == m_maxLines - 1) {
            // The last line shown takes whatever text is left, cut short if it overflows.
            QString rest = content.mid(line.textStart());
            const bool more = rest.contains(QChar::LineSeparator);
            rest = rest.section(QChar::LineSeparator, 0, 0);
            QString shown = fm.elidedText(rest, Qt::ElideRight, width);
            if (more && shown == rest)
                shown = fm.elidedText(rest + QStringLiteral("…"), Qt::ElideRight, width);
            lines << shown;
            break;
        }
        lines << content.mid(line.textStart(), line.textLength())
                     .remove(QChar::LineSeparator)
                     .trimmed();
    }
    layout.endLayout();
    return lines;
}

QSize ElidedLabel::sizeHint() const {
    const QFontMetrics fm(font());
    const QMargins m = contentsMargins();
    const int width = fm.horizontalAdvance(text().section(QLatin1Char('\n'), 0, 0));
    return {width + m.left() + m.right(), fm.height() + m.top() + m.bottom()};
}

QSize ElidedLabel::minimumSizeHint() const {
    const QFontMetrics fm(font());
    return {0, fm.height()};
}

int ElidedLabel::heightForWidth(int width) const {
    const QMargins m = contentsMargins();
    const int lines = int(visibleLines(width - m.left() - m.right()).size());
    return lines * QFontMetrics(font()).lineSpacing() + m.top() + m.bottom();
}

void ElidedLabel::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    const QRect area = contentsRect();
    const QFontMetrics fm(font());
    int y = area.top();
    for (const QString &line : visibleLines(area.width())) {
        p.drawText(QRect(area.left(), y, area.width(), fm.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, line);
        y += fm.lineSpacing();
    }
}
