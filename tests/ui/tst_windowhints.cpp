#include "platform/WindowHints.h"
#include "ui/OverlayWindow.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <memory>
#include <xcb/xcb.h>

// On a real X server with a window manager: the overlay window is managed full-screen, above
// the others, on every desktop and active; the compositing check follows the selection owner.
namespace {
xcb_connection_t *connection() {
    return qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t atom(const char *name) {
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(
            connection(), xcb_intern_atom(connection(), 0, uint16_t(strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QList<quint32> windowProperty(xcb_window_t window, const char *name, xcb_atom_t type) {
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection(),
                               xcb_get_property(connection(), 0, window, atom(name), type, 0, 64),
                               nullptr),
        &std::free);
    QList<quint32> values;
    if (!reply || reply->format != 32)
        return values;
    const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    for (int i = 0; i < xcb_get_property_value_length(reply.get()) / 4; ++i)
        values << data[i];
    return values;
}

xcb_window_t root() {
    return xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
}
} // namespace

class TestWindowHints : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (run through with-xvfb.sh)");
    }

    void overlayIsFullScreenAboveAndOnEveryDesktop() {
        QScreen *screen = QGuiApplication::primaryScreen();
        OverlayWindow window(screen, QStringLiteral("Design review"));
        window.setContent(new QLabel(QStringLiteral("content")));
        window.present();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto id = xcb_window_t(window.winId());

        QTRY_VERIFY(windowProperty(id, "_NET_WM_STATE", XCB_ATOM_ATOM)
                        .contains(atom("_NET_WM_STATE_FULLSCREEN")));
        const QList<quint32> states = windowProperty(id, "_NET_WM_STATE", XCB_ATOM_ATOM);
        QVERIFY(states.contains(atom("_NET_WM_STATE_ABOVE")));
        QCOMPARE(windowProperty(id, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL),
                 QList<quint32>{0xFFFFFFFF});
        QTRY_COMPARE(window.geometry(), screen->geometry());
        QTRY_COMPARE(windowProperty(root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW),
                     QList<quint32>{id});
        QCOMPARE(window.windowTitle(), QStringLiteral("Design review"));
    }

    void compositingFollowsTheSelectionOwner() {
        QScreen *screen = QGuiApplication::primaryScreen();
        QVERIFY(!WindowHints::hasCompositingManager(screen));
        // Stand in for a compositing manager by owning its selection.
        QWidget owner;
        owner.winId();
        xcb_set_selection_owner(connection(), xcb_window_t(owner.winId()), atom("_NET_WM_CM_S0"),
                                XCB_CURRENT_TIME);
        xcb_flush(connection());
        QVERIFY(WindowHints::hasCompositingManager(screen));
        // With a compositor the overlay is translucent and needs no grab of the screen.
        OverlayWindow window(screen, QStringLiteral("x"));
        QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(window.backdrop().isNull());
    }

    void withoutCompositorTheScreenIsGrabbed() {
        OverlayWindow window(QGuiApplication::primaryScreen(), QStringLiteral("x"));
        QVERIFY(!window.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(window.backdrop().size(), QGuiApplication::primaryScreen()->size());
    }
};

QTEST_MAIN(TestWindowHints)
#include "tst_windowhints.moc"
