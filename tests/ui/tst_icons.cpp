#include "ui/PlatformJoinButton.h"
#include "ui/SymbolIcons.h"

#include <QFile>
#include <QImage>
#include <QSvgRenderer>
#include <QTest>

namespace {
// Pixels that the icon actually covers.
int covered(const QImage &image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y).alpha() > 0;
    return count;
}
} // namespace

class TestIcons : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void symbols_data() {
        QTest::addColumn<QString>("name");
        // Every symbol the windows ask for.
        const QString names = QStringLiteral(
            "arrow.down.circle.fill arrow.right arrow.up.right battery.0 battery.0percent calendar "
            "calendar.badge.checkmark checkmark checkmark.circle.fill chevron.down chevron.right "
            "clock.arrow.circlepath clock.fill deskclock.fill g.circle.fill gear m.circle.fill "
            "mappin mappin.circle.fill number.square.fill person.2 person.crop.circle "
            "person.crop.circle.badge.questionmark plus sparkles square.text.square.fill "
            "text.bubble video.fill xmark");
        for (const QString &name : names.split(u' '))
            QTest::newRow(qPrintable(name)) << name;
    }

    void symbols() {
        QFETCH(QString, name);
        QVERIFY(SymbolIcons::has(name));
        const QImage image = SymbolIcons::pixmap(name, QColor(255, 0, 0), 32).toImage();
        QCOMPARE(image.size(), QSize(32, 32));
        QVERIFY(covered(image) > 20);
        // Tinted: every covered pixel is the requested colour.
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                if (image.pixelColor(x, y).alpha() > 0)
                    QCOMPARE(image.pixelColor(x, y).toRgb().red(), 255);
    }

    void unknownSymbol() {
        QVERIFY(!SymbolIcons::has(QStringLiteral("no.such.symbol")));
        QVERIFY(SymbolIcons::pixmap(QStringLiteral("no.such.symbol"), Qt::black, 16).isNull());
    }

    void platformIcons() {
        for (MeetingPlatform platform : MeetingPlatforms::all()) {
            QVERIFY(QSvgRenderer(PlatformIcon::resourcePath(platform)).isValid());
            const QImage image = PlatformIcon::pixmap(platform, 40).toImage();
            // Rounded off at the corners, filled in the middle.
            QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
            QCOMPARE(image.pixelColor(20, 2).alpha(), 255);
        }
    }

    void appIcon() {
        QVERIFY(QFile::exists(QStringLiteral(":/icons/zelvane.svg")));
        QVERIFY(QSvgRenderer(QStringLiteral(":/icons/zelvane.svg")).isValid());
    }
};

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
