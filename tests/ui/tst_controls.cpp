// The buttons and icons every window draws with.
#include "ui/CapsuleButton.h"
#include "ui/PlatformJoinButton.h"
#include "ui/SymbolIcons.h"
#include "ui/Theme.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
QImage render(QWidget &widget, const QColor &background) {
    widget.resize(widget.sizeHint());
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(background);
    widget.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

// The empty columns left and right of what is drawn over `background` in the middle third
// of the height, `edge` columns in from each side.
std::pair<int, int> margins(const QImage &image, const QColor &background, int edge) {
    int left = image.width(), right = -1;
    for (int y = image.height() / 3; y < image.height() * 2 / 3; ++y)
        for (int x = edge; x < image.width() - edge; ++x)
            if (image.pixel(x, y) != background.rgba()) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    if (right < 0) // nothing drawn: never centred
        return {0, image.width()};
    return {left, image.width() - 1 - right};
}
} // namespace

class TestControls : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Only the secondary style draws an outline; title and symbol sit in the middle, the
    // symbol before the title.
    void capsule() {
        for (auto style : {CapsuleButton::Style::primary, CapsuleButton::Style::secondary,
                           CapsuleButton::Style::ghost, CapsuleButton::Style::destructive}) {
            CapsuleButton button(u"Snooze"_s, style);
            const QImage image = render(button, Qt::white);
            const int x = image.width() / 2;
            // Row 3 is inside the capsule, above the title's glyphs.
            QCOMPARE(qGray(image.pixel(x, 0)) < qGray(image.pixel(x, 3)) - 8,
                     style == CapsuleButton::Style::secondary);
        }
        CapsuleButton plain(u"Snooze"_s, CapsuleButton::Style::ghost);
        CapsuleButton withSymbol(u"Snooze"_s, CapsuleButton::Style::ghost, u"xmark"_s);
        const auto [left, right] = margins(render(plain, Qt::transparent), Qt::transparent, 0);
        const auto [symbolLeft, symbolRight] =
            margins(render(withSymbol, Qt::transparent), Qt::transparent, 0);
        QVERIFY2(std::abs(left - right) <= 2, qPrintable(u"%1 | %2"_s.arg(left).arg(right)));
        QVERIFY2(std::abs(symbolLeft - symbolRight) <= 2,
                 qPrintable(u"%1 | %2"_s.arg(symbolLeft).arg(symbolRight)));
        QCOMPARE(withSymbol.sizeHint().height(), plain.sizeHint().height());
        QVERIFY(withSymbol.sizeHint().width() > plain.sizeHint().width());
    }

    void capsuleIsNamedAndWorksFromTheKeyboard() {
        CapsuleButton button(u"Join Meeting"_s, CapsuleButton::Style::primary);
        QSignalSpy runs(&button, &QAbstractButton::clicked);
        QCOMPARE(button.accessibleName(), u"Join Meeting"_s);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        button.setFocus(Qt::TabFocusReason);
        QVERIFY(button.hasFocus());
        QTest::mouseClick(&button, Qt::LeftButton);
        QTest::keyClick(&button, Qt::Key_Return);
        QTest::keyClick(&button, Qt::Key_Space);
        QTRY_COMPARE(runs.count(), 3);

        button.setEnabled(false);
        QTest::mouseClick(&button, Qt::LeftButton);
        QTest::keyClick(&button, Qt::Key_Return);
        QTest::qWait(200);
        QCOMPARE(runs.count(), 3);
        button.setTitle(u"Rejoin"_s);
        QCOMPARE(button.accessibleName(), u"Rejoin"_s);
    }

    // The platform's colour with its icon and title in the middle; the corners rounded off.
    void platformJoinButton() {
        for (MeetingPlatform platform : MeetingPlatforms::all()) {
            PlatformJoinButton button(platform);
            QCOMPARE(button.accessibleName(), MeetingPlatforms::joinTitle(platform));
            const QColor brand = MeetingPlatforms::brandColor(platform);
            const QImage image = render(button, Qt::transparent);
            QCOMPARE(image.pixelColor(2, image.height() / 2).rgb(), brand.rgb());
            QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
            const auto [left, right] = margins(image, brand, 2);
            QVERIFY2(std::abs(left - right) <= 3, qPrintable(button.text()));
        }
    }

    // Every bundled picture is a valid SVG; symbols come tinted in the asked colour; platform
    // icons are rounded off at the corners and filled in the middle.
    void icons() {
        QDirIterator files(u":/icons"_s);
        while (files.hasNext())
            QVERIFY2(QSvgRenderer(files.next()).isValid(), qPrintable(files.filePath()));
        QVERIFY(QFile::exists(u":/icons/zelvane.svg"_s));

        const QImage image = SymbolIcons::pixmap(u"calendar"_s, QColor(255, 0, 0), 32).toImage();
        QCOMPARE(image.size(), QSize(32, 32));
        int covered = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                if (image.pixelColor(x, y).alpha() > 0) {
                    QCOMPARE(image.pixelColor(x, y).red(), 255);
                    ++covered;
                }
        QVERIFY(covered > 20);
        QVERIFY(SymbolIcons::pixmap(u"no.such.symbol"_s, Qt::black, 16).isNull());

        for (MeetingPlatform platform : MeetingPlatforms::all()) {
            const QImage icon = PlatformIcon::pixmap(platform, 40).toImage();
            QCOMPARE(icon.pixelColor(0, 0).alpha(), 0);
            QCOMPARE(icon.pixelColor(20, 2).alpha(), 255);
        }
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
