#pragma once

#include <QAbstractButton>
#include <QWidget>

class QPainter;
class QTimer;

// Small controls shared by the settings tabs, onboarding and the feed form.

// An on/off switch tinted in the brand colour. It has no visible label of its own; its
// accessible name is the label of its row.
class SwitchButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit SwitchButton(const QString &accessibleName, QWidget *parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A button drawn as coloured text, optionally with a symbol before or after it.
class TextButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class IconSide { before, after };

    TextButton(const QString &text, const QFont &font, const QColor &color,
               QWidget *parent = nullptr);
    // `symbolColor` defaults to the text's colour.
    void setSymbol(const QString &icon, int size, IconSide side = IconSide::before, int spacing = 5,
                   QColor symbolColor = {});
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
    QColor m_symbolColor;
    QString m_icon;
    int m_iconSize = 0;
    int m_spacing = 5;
    IconSide m_side = IconSide::before;
};

// A small spinning progress indicator.
class Spinner : public QWidget {
    Q_OBJECT

public:
    explicit Spinner(int size, QWidget *parent = nullptr);
    QSize sizeHint() const override { return {m_size, m_size}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int m_size;
    int m_angle = 0;
    QTimer *m_timer;
};

namespace Controls {
// A dotted-free focus ring for custom-painted controls.
void paintFocusRing(QPainter &painter, const QRectF &rect, qreal radius);
} // namespace Controls
