#include "app/DisplayCheck.h"

#include <QTest>

using namespace varlo;

class DisplayCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void availability_data()
    {
        QTest::addColumn<QByteArray>("platform");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<bool>("xReachable");
        QTest::addColumn<bool>("available");

        QTest::newRow("nothing at all") << QByteArray() << QByteArray() << QByteArray() << true << false;
        QTest::newRow("X display") << QByteArray() << QByteArray(":0") << QByteArray() << true << true;
        QTest::newRow("X display that does not answer") << QByteArray() << QByteArray(":9") << QByteArray()
                                                        << false << false;
        QTest::newRow("Wayland") << QByteArray() << QByteArray() << QByteArray("wayland-0") << false << true;
        QTest::newRow("xcb asked, only Wayland") << QByteArray("xcb") << QByteArray() << QByteArray("wayland-0")
                                                 << true << false;
        QTest::newRow("wayland asked, only X") << QByteArray("wayland") << QByteArray(":0") << QByteArray()
                                               << true << false;
        QTest::newRow("offscreen needs neither") << QByteArray("offscreen") << QByteArray() << QByteArray()
                                                 << false << true;
    }
    void availability()
    {
        QFETCH(QByteArray, platform);
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, wayland);
        QFETCH(bool, xReachable);
        QFETCH(bool, available);
        QByteArray asked;
        const bool found = displayAvailable({platform, display, wayland}, [&](const QByteArray& name) {
            asked = name;
            return xReachable;
        });
        QCOMPARE(found, available);
        QVERIFY(asked.isEmpty() || asked == display);
    }

    void messageNamesBothVariables()
    {
        const QByteArray message(noDisplayMessage);
        QVERIFY(message.contains("DISPLAY") && message.contains("WAYLAND_DISPLAY"));
        QCOMPARE(message.count('\n'), 1);
        QVERIFY(!x11DisplayReachable(":4711"));
    }
};

QTEST_GUILESS_MAIN(DisplayCheckTest)
#include "tst_displaycheck.moc"
