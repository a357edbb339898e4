#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

// Small building blocks shared by the views.
namespace Widgets {
// A label in one font and colour; its accessible name is its text.
QLabel *label(const QString &text, const QFont &font, const QColor &color,
              QWidget *parent = nullptr);
// A label showing a symbol icon of `size` pixels, shifted `lowered` pixels down.
QLabel *symbol(const QString &name, const QColor &color, int size, int lowered = 0,
               QWidget *parent = nullptr);
// Shows the window, restored if minimised, above the others and with the focus.
void bringToFront(QWidget *window);
} // namespace Widgets

// A filled circle, optionally shifted down to sit on a text's first line.
class Dot : public QWidget {
    Q_OBJECT

public:
    Dot(int diameter, const QColor &color, int lowered = 0, QWidget *parent = nullptr);
    QColor color() const { return m_color; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_diameter;
    int m_lowered;
    QColor m_color;
};

// A label that shows at most `maxLines` lines of its text, the last one cut short with an
// ellipsis; text() and the accessible name keep the whole text. One line never wraps.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    ElidedLabel(const QString &text, int maxLines, QWidget *parent = nullptr);

    int maxLines() const { return m_maxLines; }
    // The lines drawn at `width`, the last one elided when text was left out.
    QStringList visibleLines(int width) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return m_maxLines > 1; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_maxLines;
};
