#pragma once

#include <QImage>
#include <QWidget>

class QVariantAnimation;

// The rounded, opaque card the full-screen views are built on.
class CardFrame : public QWidget {
    Q_OBJECT

public:
    CardFrame(int cornerRadius, bool outlined, QWidget *parent = nullptr);

    int cornerRadius() const { return m_cornerRadius; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_cornerRadius;
    bool m_outlined;
};

// A full-screen view: black at 55 % over whatever lies beneath (the desktop through the
// compositor, or a grab of the screen without one), with one centred card and its shadow.
// Clicks outside the card do nothing. The card can spring in: from 92 % scale and fully
// transparent to its natural size, on a damped spring.
class CardOverlay : public QWidget {
    Q_OBJECT

public:
    explicit CardOverlay(QWidget *parent = nullptr);
    ~CardOverlay() override;

    // The screen under the window when it cannot be blended by a compositor.
    void setBackdrop(QImage backdrop);
    // Lays the dim over the backdrop, once rather than on every frame; the first frame does it
    // when nobody did before.
    void dimBackdrop();

    // Whether the card has been shown (the spring-in has started or was not wanted).
    bool appeared() const { return m_appeared; }
    // Ends the spring-in at once, as if it had played out.
    void finishAppearance();

    CardFrame *card() const { return m_card; }

    static constexpr qreal backdropOpacity = 0.55;
    static constexpr qreal initialScale = 0.92;

Q_SIGNALS:
    void appearanceFinished();

protected:
    // The card, of at most `maxWidth`; the view fills it.
    void setCard(CardFrame *card, int maxWidth, bool springIn);
    void setCardMaxWidth(int maxWidth);
    // The control that takes the keyboard focus once the card is visible.
    void setInitialFocus(QWidget *widget) { m_initialFocus = widget; }

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    // The view shows no focus of its own: unlike QWidget's, these repaint nothing.
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool event(QEvent *event) override;

private:
    void layoutCard();
    void startSpring();
    void paintShadow(QPainter &p, const QRectF &cardRect, qreal opacity);
    // Where the card is drawn at spring position `progress`.
    QRectF drawnCard(qreal progress) const;
    // What a frame at `progress` paints over the backdrop: the card and its shadow.
    QRect cardArea(qreal progress) const;

    CardFrame *m_card = nullptr;
    QWidget *m_initialFocus = nullptr;
    int m_maxWidth = 500;
    bool m_springIn = false;
    bool m_appeared = false;
    qreal m_progress = 1.0; // spring position: 0 hidden, 1 at rest (may overshoot)
    QVariantAnimation *m_animation = nullptr;
    QImage m_backdrop;
    bool m_backdropDimmed = false;
    QImage m_cardSnapshot;
    QImage m_shadow;
    QSize m_shadowFor;
};
