#include "app/DisplayCheck.h"
#include "app/QuitSignals.h"

#include <QSignalSpy>
#include <QTest>
#include <csignal>

using namespace varlo;

// What the process meets before any window: the display it needs and the signals that end it.
class StartupTest : public QObject
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
        QTest::newRow("X display that does not answer")
            << QByteArray() << QByteArray(":9") << QByteArray() << false << false;
        QTest::newRow("Wayland") << QByteArray() << QByteArray() << QByteArray("wayland-0") << false << true;
        QTest::newRow("xcb asked, only Wayland")
            << QByteArray("xcb") << QByteArray() << QByteArray("wayland-0") << true << false;
        QTest::newRow("wayland asked, only X")
            << QByteArray("wayland") << QByteArray(":0") << QByteArray() << true << false;
        QTest::newRow("offscreen needs neither")
            << QByteArray("offscreen") << QByteArray() << QByteArray() << false << true;
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
        QVERIFY(!x11DisplayReachable(":4711"));
    }

    // Logout, `systemctl --user stop` and Ctrl-C end the event loop instead of the process.
    void signalsReachTheEventLoop_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void signalsReachTheEventLoop()
    {
        QFETCH(int, signal);
        QuitSignals handler;
        QVERIFY(handler.isInstalled());
        QSignalSpy quit(&handler, &QuitSignals::quitRequested);
        QCOMPARE(::raise(signal), 0);
        QVERIFY(quit.wait(2000));
        QCOMPARE(quit.constFirst().constFirst().toInt(), signal);
    }

    void onlyOneAtATime()
    {
        QuitSignals first;
        QuitSignals second;
        QVERIFY(first.isInstalled());
        QVERIFY(!second.isInstalled());
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
