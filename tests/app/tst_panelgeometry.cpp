#include "app/PanelGeometry.h"

#include <QTest>

using namespace varlo;

namespace {
// A 1920×1080 screen whose top 30 pixels are a panel; a second one to its right.
const ScreenArea mainScreen{QRect(0, 0, 1920, 1080), QRect(0, 30, 1920, 1050)};
const ScreenArea rightScreen{QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1000)};
const ScreenArea narrowScreen{QRect(0, 0, 300, 800), QRect(0, 0, 300, 800)};
const QList<ScreenArea> twoScreens{mainScreen, rightScreen};
} // namespace

class PanelGeometryTest : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_GUILESS_MAIN(PanelGeometryTest)
#include "tst_panelgeometry.moc"
