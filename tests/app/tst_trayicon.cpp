#include "app/TrayIconArt.h"

#include <QTest>

using namespace varlo;

namespace {

struct Census
{
    int dark = 0;  // the glyph
    int light = 0; // its halo
    int red = 0;   // the badge
};

Census census(const QImage& image, const QRect& region)
{
    Census c;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            const QColor color = image.pixelColor(x, y);
            if (color.alpha() < 200)
                continue;
            if (color.red() > 180 && color.green() < 120)
                ++c.red;
            else if (color.lightness() < 60)
                ++c.dark;
            else if (color.lightness() > 200)
                ++c.light;
        }
    }
    return c;
}

} // namespace

class TrayIconTest : public QObject
{
    Q_OBJECT

private slots:
    void texts_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("badge");
        QTest::addColumn<QString>("toolTip");

        QTest::newRow("negative") << qint64(-3) << "" << "" << "Varlo";
        QTest::newRow("zero") << qint64(0) << "" << "" << "Varlo";
        QTest::newRow("one") << qint64(1) << " 1" << "1" << "Varlo: 1 port";
        QTest::newRow("twelve") << qint64(12) << " 12" << "12" << "Varlo: 12 ports";
        QTest::newRow("99 fits") << qint64(99) << " 99" << "99" << "Varlo: 99 ports";
        QTest::newRow("more than fits") << qint64(1234) << " 1234" << "99+" << "Varlo: 1234 ports";
    }
    void texts()
    {
        QFETCH(qint64, count);
        QFETCH(QString, title);
        QCOMPARE(TrayTitle::title(count), title);
        QFETCH(QString, badge);
        QCOMPARE(badgeText(count), badge);
        QFETCH(QString, toolTip);
        QCOMPARE(TrayTitle::toolTip(count), toolTip);
    }

    void redrawOnlyOnChange()
    {
        TrayTitle title;
        QList<bool> redrawn;
        for (const qint64 count : {0, 0, 12, 12, 3, -1, -1})
            redrawn.append(title.update(count));
        QCOMPARE(redrawn, (QList<bool>{true, false, true, false, true, true, false}));
        QCOMPARE(title.lastCount(), std::optional<qint64>(-1));
    }

    void rendering_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<qreal>("ratio");
        for (const int size : trayIconSizes) {
            for (const qreal ratio : {1.0, 2.0})
                QTest::addRow("%d@%gx", size, ratio) << size << ratio;
        }
    }
    void rendering()
    {
        QFETCH(int, size);
        QFETCH(qreal, ratio);
        const int pixels = qRound(size * ratio);

        const QImage plain = renderTrayIcon(size, ratio, 0);
        QCOMPARE(plain.size(), QSize(pixels, pixels));
        QCOMPARE(plain.devicePixelRatio(), ratio);
        const Census whole = census(plain, plain.rect());
        // Dark glyph and light halo both show, so the icon reads on any panel.
        QVERIFY2(whole.dark > pixels * pixels / 20, qPrintable(QString::number(whole.dark)));
        QVERIFY2(whole.light > pixels * pixels / 20, qPrintable(QString::number(whole.light)));
        QCOMPARE(whole.red, 0);
        // The wheel is centred: its corners stay clear.
        QCOMPARE(plain.pixelColor(0, 0).alpha(), 0);
        QCOMPARE(plain.pixelColor(pixels - 1, 0).alpha(), 0);

        const QImage badged = renderTrayIcon(size, ratio, 7);
        const QRect lowerRight(pixels / 2, pixels / 2, pixels - pixels / 2, pixels - pixels / 2);
        const QRect upperLeft(0, 0, pixels * 2 / 5, pixels * 2 / 5);
        QVERIFY(census(badged, lowerRight).red > pixels * pixels / 40);
        QCOMPARE(census(badged, upperLeft).red, 0);
        QCOMPARE(badged.copy(upperLeft), plain.copy(upperLeft));
        // The icon handed to the tray carries this size too.
        QVERIFY(trayIcon(7).availableSizes().contains(QSize(size, size)));
    }
};

QTEST_MAIN(TrayIconTest)
#include "tst_trayicon.moc"
