// On a real X server with a window manager: the overlay window is managed full-screen, above
// the others, on every desktop and active; the compositing check follows the selection owner.
#include "platform/ProcessMemory.h"
#include "platform/ScreenGrab.h"
#include "platform/WindowHints.h"
#include "ui/OverlayWindow.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <optional>
#include <xcb/xcb.h>

using namespace Qt::StringLiterals;

namespace {
// A property as xprop prints it, of the window `id` or of the root window.
QString xprop(const QString &name, WId id = 0) {
    QProcess tool;
    tool.start(u"xprop"_s,
               (id ? QStringList{u"-id"_s, QString::number(id)} : QStringList{u"-root"_s}) << name);
    tool.waitForFinished();
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

// The name of the mapping `address` lies in ("/SYSV...", "[heap]", empty when anonymous), or
// none when nothing of this process is mapped there.
std::optional<QByteArray> mappingOf(const void *address) {
    QFile maps(u"/proc/self/maps"_s);
    if (!maps.open(QIODevice::ReadOnly))
        return std::nullopt;
    const auto at = quintptr(address);
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 5)
            continue;
        const QList<QByteArray> range = fields[0].split('-');
        if (at >= range[0].toULongLong(nullptr, 16) && at < range[1].toULongLong(nullptr, 16))
            return fields.value(5);
    }
    return std::nullopt;
}

bool inSharedMemory(const void *address) {
    return mappingOf(address).value_or(QByteArray()).startsWith("/SYSV");
}
} // namespace

class TestWindowHints : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (QGuiApplication::platformName() != u"xcb")
            QSKIP("needs an X server (run through with-xvfb.sh)");
    }

    // Without a compositing manager the overlay shows a picture of the screen under its
    // backdrop; with one it is translucent and needs no picture.
    void overlayOnTheDesktop() {
        QScreen *screen = QGuiApplication::primaryScreen();
        QVERIFY(!WindowHints::hasCompositingManager(screen));
        {
            OverlayWindow window(screen, u"Design review"_s);
            QVERIFY(!window.testAttribute(Qt::WA_TranslucentBackground));
            QCOMPARE(window.backdrop().size(), screen->size());
            window.setContent(new QLabel(u"content"_s));
            window.present();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            const QString state = u"_NET_WM_STATE"_s;
            QTRY_VERIFY(xprop(state, window.winId()).contains(u"_NET_WM_STATE_FULLSCREEN"_s));
            QVERIFY(xprop(state, window.winId()).contains(u"_NET_WM_STATE_ABOVE"_s));
            QVERIFY(xprop(u"_NET_WM_DESKTOP"_s, window.winId()).endsWith(u" = 4294967295"_s));
            QTRY_COMPARE(window.geometry(), screen->geometry());
            QTRY_VERIFY(xprop(u"_NET_ACTIVE_WINDOW"_s)
                            .endsWith(u"# 0x"_s + QString::number(window.winId(), 16)));
        }
        // Stand in for a compositing manager by owning its selection.
        xcb_connection_t *c =
            qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
        const char name[] = "_NET_WM_CM_S0";
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr),
            &std::free);
        QWidget owner;
        xcb_set_selection_owner(c, xcb_window_t(owner.winId()), atom->atom, XCB_CURRENT_TIME);
        xcb_flush(c);
        QVERIFY(WindowHints::hasCompositingManager(screen));
        OverlayWindow window(screen, u"x"_s);
        QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(window.backdrop().isNull());
    }

    // The overlay's picture of the screen, read through shared memory that goes back to the
    // system with the picture, is what the screen shows and what Qt's own grab reads.
    void screenGrab() {
        QScreen *screen = QGuiApplication::primaryScreen();
        const QColor colour(0x12, 0x34, 0x56);
        QWidget marker(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint);
        marker.setAutoFillBackground(true);
        QPalette palette = marker.palette();
        palette.setColor(QPalette::Window, colour);
        marker.setPalette(palette);
        marker.setGeometry(100, 50, 40, 30);
        marker.show();
        QVERIFY(QTest::qWaitForWindowExposed(&marker));
        QTRY_COMPARE(screen->grabWindow(0).toImage().pixel(110, 60), colour.rgb());
        QImage grabbed = ScreenGrab::grab(screen);
        QCOMPARE(grabbed.size(), screen->size());
        QCOMPARE(grabbed.pixel(110, 60), colour.rgb());
        QCOMPARE(grabbed.pixel(99, 60), screen->grabWindow(0).toImage().pixel(99, 60));
        QCOMPARE(grabbed, screen->grabWindow(0).toImage());
        const uchar *bits = grabbed.constBits();
        QVERIFY(inSharedMemory(bits));
        grabbed = QImage();
        QVERIFY(!inSharedMemory(bits));
    }

    // The card's picture for its spring: transparent at first, drawn on in place, in a mapping
    // of its own (not the heap) that goes with the image.
    void imageOutsideHeap() {
        QImage image =
            ProcessMemory::imageOutsideHeap(QSize(301, 200), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(image.size(), QSize(301, 200));
        QCOMPARE(image.pixel(300, 199), 0u);
        const uchar *bits = image.constBits();
        QPainter(&image).fillRect(QRect(10, 10, 5, 5), Qt::red);
        QCOMPARE(image.constBits(), bits);
        QCOMPARE(image.pixel(12, 12), QColor(Qt::red).rgb());
        QCOMPARE(image.pixel(15, 15), 0u);
        QCOMPARE(mappingOf(bits), std::optional(QByteArray()));
        image = QImage();
        QVERIFY(!mappingOf(bits));
    }
};

QTEST_MAIN(TestWindowHints)
#include "tst_windowhints.moc"
