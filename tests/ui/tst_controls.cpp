#include "ui/CapsuleButton.h"
#include "ui/Theme.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>

namespace {
QImage render(QWidget &widget) {
    widget.resize(widget.sizeHint());
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    widget.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

// True when the capsule's top edge is drawn darker than its inside: an outline.
bool hasOutline(CapsuleButton::Style style) {
    CapsuleButton button(QStringLiteral("Snooze"), style);
    const QImage image = render(button);
    const int x = image.width() / 2;
    // Row 3 is inside the capsule, above the title's glyphs.
    return qGray(image.pixel(x, 0)) < qGray(image.pixel(x, 3)) - 8;
}
} // namespace

class TestControls : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void buttonIsACapsuleOfFixedHeight() {
        CapsuleButton plain(QStringLiteral("Dismiss"), CapsuleButton::Style::secondary);
        CapsuleButton withSymbol(QStringLiteral("Dismiss"), CapsuleButton::Style::secondary,
                                 QStringLiteral("xmark"));
        QCOMPARE(plain.sizeHint().height(), 38);
        QCOMPARE(withSymbol.sizeHint().height(), 38);
        // The symbol sits before the title and widens the button by its size and the gap.
        QCOMPARE(withSymbol.sizeHint().width() - plain.sizeHint().width(), 14 + 6);
    }

    void onlyTheSecondaryStyleHasAnOutline() {
        QVERIFY(hasOutline(CapsuleButton::Style::secondary));
        QVERIFY(!hasOutline(CapsuleButton::Style::primary));
        QVERIFY(!hasOutline(CapsuleButton::Style::ghost));
        QVERIFY(!hasOutline(CapsuleButton::Style::destructive));
    }

    void buttonIsNamedAndWorksFromTheKeyboard() {
        CapsuleButton button(QStringLiteral("Join Meeting"), CapsuleButton::Style::primary);
        QSignalSpy runs(&button, &QAbstractButton::clicked);
        QCOMPARE(button.accessibleName(), QStringLiteral("Join Meeting"));
        QCOMPARE(button.focusPolicy(), Qt::StrongFocus);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));

        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(runs.count(), 1);
        QTest::keyClick(&button, Qt::Key_Return);
        QTRY_COMPARE(runs.count(), 2);
        QTest::keyClick(&button, Qt::Key_Space);
        QCOMPARE(runs.count(), 3);

        button.setEnabled(false);
        QTest::mouseClick(&button, Qt::LeftButton);
        QTest::keyClick(&button, Qt::Key_Return);
        QTest::qWait(200);
        QCOMPARE(runs.count(), 3);

        button.setTitle(QStringLiteral("Rejoin"));
        QCOMPARE(button.accessibleName(), QStringLiteral("Rejoin"));
        QCOMPARE(button.text(), QStringLiteral("Rejoin"));
    }

    void badgeReadsItsTextOnAColourTint() {
        Badge badge(QStringLiteral("Ready"), Theme::Colors::green());
        QCOMPARE(badge.text(), QStringLiteral("Ready")); // a label, so screen readers read it
        const QImage image = render(badge);
        // The background is the badge colour at low opacity: tinted, but far from solid.
        const QColor corner = image.pixelColor(image.width() / 2, 1);
        QVERIFY(corner != QColor(Qt::white));
        QVERIFY(corner.green() > Theme::Colors::green().green());
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
