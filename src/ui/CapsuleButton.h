#pragma once

#include <QAbstractButton>
#include <QLabel>

// A capsule button in one of four styles, with an optional symbol before its title.
class CapsuleButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class Style { primary, secondary, ghost, destructive };

    CapsuleButton(const QString &title, Style style, const QString &icon = {},
                  QWidget *parent = nullptr);

    Style style() const { return m_style; }
    QString iconName() const { return m_icon; }
    void setTitle(const QString &title);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static constexpr int fixedHeight = 38;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QColor foreground() const;

    Style m_style;
    QString m_icon;
};

// A small coloured label on a tint of its own colour; a QLabel so screen readers read it.
class Badge : public QLabel {
    Q_OBJECT

public:
    Badge(const QString &text, const QColor &color, QWidget *parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
};
