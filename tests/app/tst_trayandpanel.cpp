#include "app/PanelGeometry.h"
#include "app/TrayIconArt.h"

#include <QTest>

using namespace varlo;

namespace {

// A 1920×1080 screen whose top 30 pixels are a panel; a second one to its right.
const ScreenArea mainScreen{QRect(0, 0, 1920, 1080), QRect(0, 30, 1920, 1050)};
const ScreenArea rightScreen{QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1000)};
const ScreenArea narrowScreen{QRect(0, 0, 300, 800), QRect(0, 0, 300, 800)};
const QList<ScreenArea> twoScreens{mainScreen, rightScreen};

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

// The tray icon's art and texts, and where the panel opens under it.
class TrayAndPanelTest : public QObject
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

    void placement_data()
    {
        QTest::addColumn<QList<ScreenArea>>("screens");
        QTest::addColumn<int>("primary");
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<int>("fitting");
        QTest::addColumn<QRect>("expected");
        QTest::addColumn<bool>("upwards");

        const auto row = [](const char* name, const QRect& anchor, int fitting, const QRect& expected,
                            bool upwards = false, const QList<ScreenArea>& screens = twoScreens,
                            int primary = 0) {
            QTest::newRow(name) << screens << primary << anchor << fitting << expected << upwards;
        };
        // Icon at x 1000..1024, y 3..27: centred below it, 6 px gap.
        const QRect icon(1000, 3, 24, 24);
        row("centred", icon, 300, QRect(832, 33, 360, 300));
        row("right edge", QRect(1890, 3, 24, 24), 300, QRect(1920 - 360 - 8, 33, 360, 300));
        row("left edge", QRect(4, 3, 24, 24), 300, QRect(8, 33, 360, 300));
        row("second screen's edge", QRect(3180, 3, 20, 20), 300, QRect(3200 - 368, 29, 360, 300));
        // The left margin wins when the screen is narrower than the panel.
        row("narrow screen", QRect(140, 0, 20, 20), 300, QRect(8, 26, 360, 300), false, {narrowScreen});
        row("no screen holds the anchor: primary", QRect(-500, -500, 20, 20), 300,
            QRect(1928, -474, 360, 300), false, twoScreens, 1);
        row("no screen holds the anchor, no primary: first", QRect(-500, -500, 20, 20), 300,
            QRect(8, -474, 360, 300), false, twoScreens, -1);
        row("taller than half the free height", icon, 2000, QRect(832, 33, 360, 525));
        row("unmeasured content: 200", icon, 9, QRect(832, 33, 360, 200));
        row("just measured", icon, 10, QRect(832, 33, 360, 10));
        // A bottom panel: the icon at y 1050..1074, so the panel's bottom is at 1044.
        row("bottom panel opens upwards", QRect(1000, 1050, 24, 24), 300, QRect(832, 1044 - 300, 360, 300),
            true);
        row("lower half opens upwards, capped", QRect(1000, 600, 24, 24), 900,
            QRect(832, 594 - 525, 360, 525), true);
        row("just above the middle opens downwards", QRect(1000, 500, 24, 38), 100,
            QRect(832, 544, 360, 100));
    }
    void placement()
    {
        QFETCH(QList<ScreenArea>, screens);
        QFETCH(int, primary);
        QFETCH(QRect, anchor);
        QFETCH(int, fitting);
        QFETCH(QRect, expected);
        QFETCH(bool, upwards);

        const std::optional<PanelPlacement> placement = placePanel(anchor, screens, primary, fitting);
        QVERIFY(placement);
        QCOMPARE(placement->geometry, expected);
        QCOMPARE(placement->upwards, upwards);
        QCOMPARE(placement->fixedEdge, upwards ? expected.y() + expected.height() : expected.y());
    }

    void noScreenAtAll()
    {
        QVERIFY(!placePanel(QRect(0, 0, 10, 10), {}, 0, 300));
        QVERIFY(!followContent({QRect(0, 0, 360, 200), 0, false}, QRect(0, 0, 360, 200), {}, 0, 300));
    }

    void following_data()
    {
        QTest::addColumn<bool>("upwards");
        QTest::addColumn<int>("fitting");
        QTest::addColumn<std::optional<QRect>>("expected");

        // Open downwards from y 33 (or upwards from 1044), 300 tall now.
        QTest::newRow("grows downwards") << false << 400 << std::optional(QRect(832, 33, 360, 400));
        QTest::newRow("shrinks upwards") << false << 120 << std::optional(QRect(832, 33, 360, 120));
        QTest::newRow("bottom panel grows upwards")
            << true << 400 << std::optional(QRect(832, 644, 360, 400));
        QTest::newRow("bottom panel shrinks downwards")
            << true << 120 << std::optional(QRect(832, 924, 360, 120));
        QTest::newRow("capped at half") << false << 5000 << std::optional(QRect(832, 33, 360, 525));
        QTest::newRow("same height: nothing") << false << 300 << std::optional<QRect>();
        QTest::newRow("unmeasured: nothing") << false << 10 << std::optional<QRect>();
    }
    void following()
    {
        QFETCH(bool, upwards);
        QFETCH(int, fitting);
        QFETCH(std::optional<QRect>, expected);

        const QRect current(832, upwards ? 1044 - 300 : 33, 360, 300);
        const PanelPlacement placement{current, upwards ? 1044 : 33, upwards};
        QCOMPARE(followContent(placement, current, twoScreens, 0, fitting), expected);
    }
};

QTEST_MAIN(TrayAndPanelTest)
#include "tst_trayandpanel.moc"
