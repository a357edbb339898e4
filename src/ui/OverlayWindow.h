#pragma once

#include <QImage>
#include <QWidget>

class QScreen;

// A frameless top-level window that covers one screen and sits above every other window on
// every workspace, with keyboard focus. It hosts one full-screen content view (a reminder or
// the battery alert), which paints its own backdrop.
class OverlayWindow : public QWidget {
    Q_OBJECT

public:
    OverlayWindow(QScreen *screen, const QString &title, QWidget *parent = nullptr);

    // Takes ownership of `content`, which fills the window; a CardOverlay takes the backdrop.
    void setContent(QWidget *content);
    QWidget *content() const { return m_content; }

    enum class Focus { take, leave };
    // Shows the window full-screen on its screen; with Focus::take raised and focused as well.
    void present(Focus focus = Focus::take);

    // The screen as it looked before the window appeared, when no compositing manager can
    // blend a translucent window; null otherwise, and once a content view has taken it to
    // paint under its dim.
    QImage backdrop() const { return m_backdrop; }

Q_SIGNALS:
    // Once, after the first frame has been painted.
    void firstFramePainted();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QScreen *m_screen;
    QWidget *m_content = nullptr;
    QImage m_backdrop;
    bool m_painted = false;
};
