#include "FakeNotificationServer.h"
#include "TestSupport.h"
#include "monitor/PortEntry.h"
#include "services/PortNotifier.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace std::chrono_literals;
using varlo::PortEntry;
using varlo::PortNotifier;
using varlo::test::FakeServer;

// Lines of the notify category, each led by its kind: D(ebug), W(arning), I(nfo).
static QStringList g_log;
static QtMessageHandler g_previousHandler = nullptr;

static void captureLog(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (context.category && QByteArray(context.category) == "app.varlo.Varlo.notify")
        g_log << QLatin1Char("DWCFI"[type]) + text;
    g_previousHandler(type, context, text);
}

static int logged(const QString& start)
{
    return int(g_log.filter(start).size()); // the kind letter anchors it at the start
}

static bool waitLogged(const QString& start, int count = 1)
{
    return varlo::test::waitUntil([&] { return logged(start) >= count; }, 5s);
}

static PortEntry entry(qint64 port, qint64 pid, const QString& name = QStringLiteral("node"))
{
    PortEntry e;
    e.processName = name;
    e.port = port;
    e.pid = pid;
    return e;
}

using Answers = std::shared_ptr<QList<bool>>;
static PortNotifier::Completion into(const Answers& answers)
{
    return [answers](bool answer) { answers->append(answer); };
}

class TestPortNotifier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("app.varlo.Varlo.notify.debug=true"));
        g_previousHandler = qInstallMessageHandler(captureLog);
    }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void init() { g_log.clear(); }

    void postsAndReplacesNotifications()
    {
        FakeServer server("server");
        QVERIFY(server.start());
        PortNotifier notifier;
        notifier.notify({entry(3000, 4242), entry(3001, 4243, QStringLiteral("ruby"))});
        QVERIFY(waitLogged("Dnotification scheduled for :3001 pid=4243"));
        QCOMPARE(server.calls.size(), 2);
        const FakeServer::Call first = server.calls[0];
        QCOMPARE((QVariantList{first.appName, first.replacesId, first.appIcon, first.summary, first.body,
                               first.actions.size(), first.actions.value(0), first.hints, first.timeout}),
                 (QVariantList{"Varlo", 0u, "", "Port opened", "node started on :3000", 2, "default",
                               QVariantMap{{"desktop-entry", "app.varlo.Varlo"}}, -1}));
        QCOMPARE(server.calls[1].body, QStringLiteral("ruby started on :3001"));

        // The same identifier replaces, also when asked again while the first call is in flight.
        notifier.notify({entry(3000, 4242)});
        notifier.notify({entry(3000, 4242)});
        QVERIFY(waitLogged("Dnotification scheduled for :3000 pid=4242", 3));
        notifier.notify({entry(3000, 4243)});
        QVERIFY(waitLogged("Dnotification scheduled for :3000 pid=4243"));
        QCOMPARE(server.calls.size(), 5);
        QCOMPARE(server.calls[2].replacesId, first.returnedId);
        QCOMPARE(server.calls[3].replacesId, first.returnedId);
        QCOMPARE(server.calls[4].replacesId, 0u);

        // Only a default click from the server, on one of ours still open, is reported.
        QSignalSpy clicked(&notifier, &PortNotifier::notificationActivated);
        const uint closed = server.calls[4].returnedId;
        FakeServer stranger("stranger");
        stranger.emitSignal("ActionInvoked", {first.returnedId, "default"});
        server.emitSignal("ActionInvoked", {first.returnedId + 100, "default"});
        server.emitSignal("ActionInvoked", {first.returnedId, "reply"});
        server.emitSignal("NotificationClosed", {closed, 2u});
        server.emitSignal("ActionInvoked", {closed, "default"});
        server.emitSignal("ActionInvoked", {first.returnedId, "default"});
        QVERIFY(clicked.wait(5000));
        QTest::qWait(300);
        QCOMPARE(clicked.size(), 1);
        QCOMPARE(clicked[0][0].toString(), QStringLiteral("port-3000-4242"));

        // A notifier gone before the answer still completes, with false.
        const Answers gone = std::make_shared<QList<bool>>();
        std::make_unique<PortNotifier>()->ensureAuthorization(into(gone));
        QTRY_COMPARE_WITH_TIMEOUT(*gone, QList<bool>{false}, 5000);
    }

    void withAndWithoutService_data()
    {
        QTest::addColumn<int>("mode"); // of the server; -1 for none
        QTest::newRow("answering server") << int(FakeServer::Mode::answer);
        QTest::newRow("refusing server") << int(FakeServer::Mode::fail);
        QTest::newRow("silent server") << int(FakeServer::Mode::silent);
        QTest::newRow("no server") << -1;
    }
    void withAndWithoutService()
    {
        QFETCH(int, mode);
        FakeServer server("server");
        server.mode = FakeServer::Mode(qMax(mode, 0));
        if (mode >= 0)
            QVERIFY(server.start());
        PortNotifier notifier;
        notifier.setCallTimeout(300ms);
        const Answers denied = std::make_shared<QList<bool>>(), allowed = std::make_shared<QList<bool>>();
        notifier.checkDenied(into(denied));
        notifier.ensureAuthorization(into(allowed));
        notifier.logAuthorizationAtStartup();
        QVERIFY(denied->isEmpty() && allowed->isEmpty()); // never inside the call
        notifier.notify({entry(3000, 4242), entry(3001, 4242)});
        const QString outcome = mode == int(FakeServer::Mode::answer)
                                    ? QStringLiteral("Dnotification scheduled for :%1")
                                    : QStringLiteral("Cfailed to schedule notification for :%1: ");
        QVERIFY(waitLogged(outcome.arg(3001)));
        QCOMPARE(logged(outcome.arg(3000)), 1);
        QCOMPARE(logged("Cfailed to schedule notification for :3001: server refused"),
                 mode == int(FakeServer::Mode::fail) ? 1 : 0);
        QVERIFY(varlo::test::waitUntil([&] { return !denied->isEmpty() && !allowed->isEmpty(); }, 5s));
        QCOMPARE(*denied, QList<bool>{mode < 0});
        QCOMPARE(*allowed, QList<bool>{mode >= 0});
        QCOMPARE(logged(QStringLiteral("Dauth status on startup: %1").arg(mode < 0 ? 1 : 2)), 1);
        QCOMPARE(logged("Iauthorization previously denied"), mode < 0 ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestPortNotifier)
#include "tst_portnotifier.moc"
