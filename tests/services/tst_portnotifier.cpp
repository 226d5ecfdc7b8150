#include "FakeNotificationServer.h"
#include "TestSupport.h"
#include "monitor/PortEntry.h"
#include "services/PortNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace std::chrono_literals;
using varlo::PortEntry;
using varlo::PortNotifier;
using Status = PortNotifier::AuthorizationStatus;

using varlo::test::FakeServer;

namespace {


QList<std::pair<QtMsgType, QString>> g_log; // lines of the notify category
QtMessageHandler g_previousHandler = nullptr;

void captureLog(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (context.category && QByteArray(context.category) == "app.varlo.Varlo.notify")
        g_log.append({type, text});
    g_previousHandler(type, context, text);
}

int loggedCount(QtMsgType type, const QString& prefix)
{
    return int(std::count_if(g_log.cbegin(), g_log.cend(), [&](const auto& line) {
        return line.first == type && line.second.startsWith(prefix);
    }));
}

bool waitLogged(QtMsgType type, const QString& prefix, int count = 1)
{
    return varlo::test::waitUntil([&] { return loggedCount(type, prefix) >= count; }, 5s);
}

PortEntry entry(const QString& name, qint64 port, qint64 pid)
{
    PortEntry e;
    e.processName = name;
    e.port = port;
    e.pid = pid;
    return e;
}

// Records the answer of a completion, which must come later, once.
struct Answer
{
    std::shared_ptr<QList<bool>> values = std::make_shared<QList<bool>>();
    PortNotifier::Completion completion() const
    {
        return [values = values](bool value) { values->append(value); };
    }
    bool wait() const
    {
        return varlo::test::waitUntil([&] { return !values->isEmpty(); }, 5s);
    }
};

// Answers the status from the test, for the request paths the bus never reaches.
class SeamNotifier : public PortNotifier
{
public:
    using PortNotifier::PortNotifier;
    Status status = Status::notDetermined;
    AuthorizationAnswer answer;
    int requests = 0;

protected:
    QCoro::Task<Status> authorizationStatus() override { co_return status; }
    QCoro::Task<AuthorizationAnswer> requestAuthorization() override
    {
        ++requests;
        co_return AuthorizationAnswer(answer); // QCoro 0.8 moves from a named lvalue
    }
};

} // namespace

class TestPortNotifier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
        QLoggingCategory::setFilterRules(QStringLiteral("app.varlo.Varlo.notify.debug=true"));
        g_previousHandler = qInstallMessageHandler(captureLog);
    }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void init() { g_log.clear(); }

    void postsOneNotificationPerEntryInOrder()
    {
        FakeServer server(QStringLiteral("server"));
        QVERIFY(server.start());
        PortNotifier notifier;
        notifier.notify(
            {entry(QStringLiteral("node"), 3000, 4242), entry(QStringLiteral("ruby"), 3001, 4243)});
        QVERIFY(waitLogged(QtDebugMsg, QStringLiteral("notification scheduled for :3001 pid=4243")));
        QVERIFY(loggedCount(QtDebugMsg, QStringLiteral("notification scheduled for :3000 pid=4242")) == 1);

        QCOMPARE(server.calls.size(), 2);
        const FakeServer::Call& first = server.calls[0];
        QCOMPARE(first.appName, QStringLiteral("Varlo"));
        QCOMPARE(first.replacesId, 0u);
        QCOMPARE(first.appIcon, QString());
        QCOMPARE(first.summary, QStringLiteral("Port opened"));
        QCOMPARE(first.body, QStringLiteral("node started on :3000"));
        QCOMPARE(first.actions.size(), 2);
        QCOMPARE(first.actions[0], QStringLiteral("default"));
        QCOMPARE(first.hints,
                 (QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("app.varlo.Varlo")}}));
        QCOMPARE(first.timeout, -1);
        QCOMPARE(server.calls[1].body, QStringLiteral("ruby started on :3001"));
        QCOMPARE(server.calls[1].replacesId, 0u);
    }

    void repeatedIdentifierReplacesEarlierNotification()
    {
        FakeServer server(QStringLiteral("server"));
        QVERIFY(server.start());
        PortNotifier notifier;
        QSignalSpy clicks(&notifier, &PortNotifier::notificationActivated);
        const PortEntry node = entry(QStringLiteral("node"), 3000, 4242);
        const QString scheduled = QStringLiteral("notification scheduled for :3000 pid=4242");

        // The second request is made before the first id is known.
        notifier.notify({node});
        notifier.notify({node});
        QVERIFY(waitLogged(QtDebugMsg, scheduled, 2));
        notifier.notify({node});
        QVERIFY(waitLogged(QtDebugMsg, scheduled, 3));
        notifier.notify({entry(QStringLiteral("node"), 3000, 4243)});
        QVERIFY(waitLogged(QtDebugMsg, QStringLiteral("notification scheduled for :3000 pid=4243")));
        QCOMPARE(server.calls.size(), 4);
        const uint firstId = server.calls[0].returnedId;
        QCOMPARE(server.calls[1].replacesId, firstId);
        QCOMPARE(server.calls[2].replacesId, firstId);
        QCOMPARE(server.calls[3].replacesId, 0u);

        // Once the server has closed it, the identifier starts afresh. The click on
        // the other notification, sent after the close, marks that it was handled.
        server.emitSignal(QStringLiteral("NotificationClosed"), {QVariant::fromValue(firstId), QVariant(2u)});
        server.emitSignal(QStringLiteral("ActionInvoked"),
                          {QVariant::fromValue(server.calls[3].returnedId), QStringLiteral("default")});
        QVERIFY(clicks.wait(5000));
        notifier.notify({node});
        QVERIFY(waitLogged(QtDebugMsg, scheduled, 4));
        QCOMPARE(server.calls.size(), 5);
        QCOMPARE(server.calls[4].replacesId, 0u);
    }

    void clicks_data()
    {
        QTest::addColumn<bool>("fromServer");
        QTest::addColumn<bool>("ourId");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("closedFirst");
        QTest::addColumn<bool>("reported");
        QTest::newRow("default on ours") << true << true << "default" << false << true;
        QTest::newRow("someone else's id") << true << false << "default" << false << false;
        QTest::newRow("other action key") << true << true << "reply" << false << false;
        QTest::newRow("other sender, our id") << false << true << "default" << false << false;
        QTest::newRow("after close") << true << true << "default" << true << false;
    }
    void clicks()
    {
        QFETCH(bool, fromServer);
        QFETCH(bool, ourId);
        QFETCH(QString, action);
        QFETCH(bool, closedFirst);
        QFETCH(bool, reported);
        FakeServer server(QStringLiteral("server"));
        FakeServer stranger(QStringLiteral("stranger"));
        QVERIFY(server.start());
        PortNotifier notifier;
        QSignalSpy clicked(&notifier, &PortNotifier::notificationActivated);
        notifier.notify({entry(QStringLiteral("node"), 3000, 4242)});
        QVERIFY(waitLogged(QtDebugMsg, QStringLiteral("notification scheduled for :3000")));
        const uint ours = server.calls[0].returnedId;

        if (closedFirst)
            server.emitSignal(QStringLiteral("NotificationClosed"),
                              {QVariant::fromValue(ours), QVariant(2u)});
        (fromServer ? server : stranger)
            .emitSignal(QStringLiteral("ActionInvoked"),
                        {QVariant::fromValue(ourId ? ours : ours + 7), action});
        if (reported) {
            QVERIFY(clicked.wait(5000));
            QCOMPARE(clicked.constFirst().constFirst().toString(), QStringLiteral("port-3000-4242"));
        } else {
            QTest::qWait(300);
            QCOMPARE(clicked.size(), 0);
        }
    }

    void authorization_data()
    {
        QTest::addColumn<bool>("withServer");
        QTest::newRow("server on the bus") << true;
        QTest::newRow("no server") << false;
    }
    void authorization()
    {
        QFETCH(bool, withServer);
        FakeServer server(QStringLiteral("server"));
        if (withServer)
            QVERIFY(server.start());
        PortNotifier notifier;
        Answer denied, allowed;
        notifier.checkDenied(denied.completion());
        notifier.ensureAuthorization(allowed.completion());
        notifier.logAuthorizationAtStartup();
        QVERIFY(denied.values->isEmpty() && allowed.values->isEmpty()); // never inside the call
        QVERIFY(denied.wait() && allowed.wait());
        QCOMPARE(*denied.values, QList<bool>{!withServer});
        QCOMPARE(*allowed.values, QList<bool>{withServer});
        QVERIFY(waitLogged(QtDebugMsg, QStringLiteral("auth status on startup: %1").arg(withServer ? 2 : 1)));
        QCOMPARE(loggedCount(QtInfoMsg, QStringLiteral("authorization previously denied — skipping request")),
                 withServer ? 0 : 1);
    }

    void failedDelivery_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("error");
        QTest::newRow("server refuses") << "fail"
                                        << "server refused";
        QTest::newRow("server never answers") << "silent"
                                              << "";
        QTest::newRow("no server") << "none"
                                   << "";
        QTest::newRow("no bus at all") << "nobus"
                                       << "";
    }
    void failedDelivery()
    {
        QFETCH(QString, setup);
        QFETCH(QString, error);
        FakeServer server(QStringLiteral("server"));
        server.mode = setup == QLatin1String("fail") ? FakeServer::Mode::fail : FakeServer::Mode::silent;
        if (setup == QLatin1String("fail") || setup == QLatin1String("silent"))
            QVERIFY(server.start());
        const QDBusConnection bus =
            setup == QLatin1String("nobus")
                ? QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/varlo-bus"),
                                                QStringLiteral("nowhere"))
                : QDBusConnection::sessionBus();
        {
            PortNotifier notifier(bus);
            notifier.setCallTimeout(300ms);
            notifier.notify(
                {entry(QStringLiteral("node"), 3000, 4242), entry(QStringLiteral("node"), 3001, 4242)});
            const QString failed = QStringLiteral("failed to schedule notification for :3001: ");
            QVERIFY(waitLogged(QtWarningMsg, failed));
            QCOMPARE(loggedCount(QtWarningMsg, QStringLiteral("failed to schedule notification for :3000: ")),
                     1);
            QCOMPARE(loggedCount(QtWarningMsg, failed + error), 1);
            QCOMPARE(loggedCount(QtDebugMsg, QStringLiteral("notification scheduled")), 0);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
    }

    void serviceDisappearsAndReturns()
    {
        auto server = std::make_unique<FakeServer>(QStringLiteral("server"));
        QVERIFY(server->start());
        PortNotifier notifier;
        const PortEntry node = entry(QStringLiteral("node"), 3000, 4242);
        notifier.notify({node});
        QVERIFY(waitLogged(QtDebugMsg, QStringLiteral("notification scheduled for :3000")));

        server.reset();
        Answer denied;
        notifier.checkDenied(denied.completion());
        QVERIFY(denied.wait());
        QCOMPARE(*denied.values, QList<bool>{true});
        notifier.notify({node});
        QVERIFY(waitLogged(QtWarningMsg, QStringLiteral("failed to schedule notification for :3000: ")));

        // A new server must not be handed the old server's id.
        FakeServer successor(QStringLiteral("successor"));
        QVERIFY(successor.start());
        notifier.notify({node});
        QVERIFY(waitLogged(QtDebugMsg, QStringLiteral("notification scheduled for :3000"), 2));
        QCOMPARE(successor.calls.size(), 1);
        QCOMPARE(successor.calls[0].replacesId, 0u);
    }

    void requestPaths_data()
    {
        QTest::addColumn<Status>("status");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<QString>("logged");
        QTest::newRow("undetermined, granted")
            << Status::notDetermined << true << "" << true << "authorization granted=true";
        QTest::newRow("undetermined, refused")
            << Status::notDetermined << false << "" << false << "authorization granted=false";
        QTest::newRow("request fails")
            << Status::notDetermined << true << "boom" << false << "authorization request failed: boom";
        QTest::newRow("provisional") << Status::provisional << false << "" << true << "";
        QTest::newRow("ephemeral") << Status::ephemeral << true << "" << false << "";
    }
    void requestPaths()
    {
        QFETCH(Status, status);
        QFETCH(bool, granted);
        QFETCH(QString, error);
        QFETCH(bool, allowed);
        QFETCH(QString, logged);
        SeamNotifier notifier;
        notifier.status = status;
        notifier.answer = {granted, error.isEmpty() ? std::nullopt : std::optional<QString>(error)};
        Answer answer;
        notifier.ensureAuthorization(answer.completion());
        notifier.logAuthorizationAtStartup();
        QVERIFY(answer.wait());
        QCOMPARE(*answer.values, QList<bool>{allowed});
        QCOMPARE(loggedCount(QtDebugMsg, QStringLiteral("auth status on startup: %1").arg(qint64(status))),
                 1);
        const bool asks = status == Status::notDetermined;
        QCOMPARE(notifier.requests, asks ? 2 : 0);
        QCOMPARE(g_log.size(), asks ? 3 : 1);
        if (asks)
            QCOMPARE(loggedCount(error.isEmpty() ? QtInfoMsg : QtWarningMsg, logged), 2);
    }

    void completesFalseWhenNotifierIsGone()
    {
        FakeServer server(QStringLiteral("server"));
        QVERIFY(server.start());
        Answer answer;
        {
            PortNotifier notifier;
            notifier.ensureAuthorization(answer.completion());
            notifier.logAuthorizationAtStartup();
        }
        QVERIFY(answer.wait());
        QCOMPARE(*answer.values, QList<bool>{false});
        QTest::qWait(100);
        QCOMPARE(loggedCount(QtDebugMsg, QStringLiteral("auth status on startup")), 0);
    }
};

Q_DECLARE_METATYPE(Status)

QTEST_GUILESS_MAIN(TestPortNotifier)
#include "tst_portnotifier.moc"
