#include "app/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace varlo;

// Runs on a private bus (dbus-run-session), never the user's.
class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("needs a session bus");
    }

    void claims()
    {
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QString::fromLatin1(SingleInstance::serviceName)));
        // Nobody owns the name: activating fails and says why.
        QString error;
        QVERIFY(!SingleInstance::activateRunning(QDBusConnection::sessionBus(), &error) && !error.isEmpty());
        SingleInstance first(QDBusConnection::sessionBus());
        QCOMPARE(first.claim(), SingleInstance::Claim::first);

        const QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "other");
        {
            SingleInstance second(other);
            QCOMPARE(second.claim(), SingleInstance::Claim::running);
        }
        QDBusConnection::disconnectFromBus("other");

        SingleInstance nowhere{QDBusConnection(QString())};
        QCOMPARE(nowhere.claim(), SingleInstance::Claim::noBus);
    }

    // The real program, started a second time: it hands its activation token on and exits 0.
    void secondProcessActivatesTheFirst_data()
    {
        QTest::addColumn<QString>("token");
        QTest::newRow("with a token") << "launcher-token-1";
        QTest::newRow("without") << "";
    }
    void secondProcessActivatesTheFirst()
    {
        QFETCH(QString, token);
        SingleInstance first(QDBusConnection::sessionBus());
        QCOMPARE(first.claim(), SingleInstance::Claim::first);
        QSignalSpy activated(&first, &SingleInstance::activated);

        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
        if (!token.isEmpty())
            env.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), token);
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(VARLO_PROGRAM), {});
        QVERIFY(second.waitForStarted(5000));
        // The call is answered from this event loop, so wait here and not in waitForFinished.
        QTRY_COMPARE_WITH_TIMEOUT(activated.size(), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(activated.constFirst().constFirst().toString(), token);
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
