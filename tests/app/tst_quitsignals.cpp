#include "app/QuitSignals.h"

#include <QSignalSpy>
#include <QTest>
#include <csignal>

using namespace varlo;

class QuitSignalsTest : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_GUILESS_MAIN(QuitSignalsTest)
#include "tst_quitsignals.moc"
