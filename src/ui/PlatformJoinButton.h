#pragma once

#include "core/MeetingLinkParser.h"

#include <QAbstractButton>
#include <QWidget>

// A video platform's own icon from the application's resources, in a rounded square.
class PlatformIcon : public QWidget {
    Q_OBJECT

public:
    PlatformIcon(MeetingPlatform platform, int size, QWidget *parent = nullptr);

    MeetingPlatform platform() const { return m_platform; }
    static QString resourcePath(MeetingPlatform platform);
    // The icon at `size` points, clipped to corners of 22 % of the size.
    static QPixmap pixmap(MeetingPlatform platform, int size, qreal devicePixelRatio = 1.0);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    MeetingPlatform m_platform;
    int m_size;
};

// The platform-branded join button: the platform's icon and "Join ..." in white on the
// platform's colour.
class PlatformJoinButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit PlatformJoinButton(MeetingPlatform platform, QWidget *parent = nullptr);

    MeetingPlatform platform() const { return m_platform; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    MeetingPlatform m_platform;
};
