#include "services/hotkey/portal/PortalHotkeyBackend.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace varlo;
using Grab = HotkeyBackend::GrabResult;

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const KeyCombo controlOptionK{40, CarbonModifier::Control | CarbonModifier::Option};

// The desktop portal on its own connection to the private bus, in its own thread
// so that it answers the backend's blocking probe. It answers the way
// xdg-desktop-portal does and records what it was asked.
class FakePortal final : public QDBusVirtualObject
{
public:
    struct Record
    {
        QStringList sessions, closed;
        QStringList boundSessions;
        QList<QList<PortalShortcut>> bindings;
    };

    FakePortal() : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal")))
    {
        m_thread.start();
        moveToThread(&m_thread);
    }
    ~FakePortal() override
    {
        m_bus.unregisterObject(portalPath, QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
        m_thread.quit();
        m_thread.wait();
    }
    bool start()
    {
        bool started = false;
        QMetaObject::invokeMethod(
            this,
            [this, &started] {
                started = m_bus.registerVirtualObject(portalPath, this, QDBusConnection::SubPath) &&
                          m_bus.registerService(portalService);
            },
            Qt::BlockingQueuedConnection);
        return started;
    }
    void activate(const QString& session, const QString& id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(portalPath, shortcutsInterface, QStringLiteral("Activated"));
        signal.setArguments({QVariant::fromValue(QDBusObjectPath(session)), id, qulonglong{1}, QVariantMap()});
        m_bus.send(signal);
    }
    Record record() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_record;
    }

    // Set before start().
    bool offersShortcuts = true; // GNOME 43's portal has none
    bool failCalls = false;
    uint sessionResponse = 0, bindResponse = 0;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QVariantList args = message.arguments();
        const QMutexLocker lock(&m_mutex);
        if (message.member() == QLatin1String("Get") && offersShortcuts && args.value(0) == shortcutsInterface)
            return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(2u))));
        if (message.member() == QLatin1String("Close")) {
            m_record.closed << message.path();
            return connection.send(message.createReply());
        }
        if (message.interface() != shortcutsInterface || !offersShortcuts)
            return false;
        if (failCalls)
            return connection.send(message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("not allowed")));

        const QString sender = message.service().mid(1).replace(u'.', u'_');
        const QVariantMap options = qdbus_cast<QVariantMap>(args.last());
        const QString request = portalPath + "/request/" + sender + '/' + options.value("handle_token").toString();
        uint response = bindResponse;
        QVariantMap results;
        if (message.member() == QLatin1String("CreateSession")) {
            m_record.sessions << portalPath + "/session/" + sender + '/' +
                                     options.value("session_handle_token").toString();
            response = sessionResponse;
            results.insert(QStringLiteral("session_handle"), m_record.sessions.last());
        } else {
            m_record.boundSessions << args.value(0).value<QDBusObjectPath>().path();
            m_record.bindings << qdbus_cast<QList<PortalShortcut>>(args.value(1));
        }
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QTimer::singleShot(0, this, [this, request, response, results] {
            QDBusMessage signal = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
                                                             QStringLiteral("Response"));
            signal.setArguments({response, results});
            m_bus.send(signal);
        });
        return true;
    }

private:
    QDBusConnection m_bus;
    QThread m_thread;
    mutable QMutex m_mutex;
    Record m_record;
};

QStringList g_warnings;
void collectWarnings(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtWarningMsg)
        g_warnings << text;
}

} // namespace

class PortalHotkeyBackendTest : public QObject
{
    Q_OBJECT

    int m_presses = 0;

    std::unique_ptr<PortalHotkeyBackend> startBackend()
    {
        m_presses = 0;
        auto backend = PortalHotkeyBackend::create(QDBusConnection::sessionBus());
        if (backend)
            backend->installListener([this] { ++m_presses; });
        return backend;
    }

private slots:
    void bindsTheComboAndDeliversActivations_data()
    {
        QTest::addColumn<quint32>("keyCode");
        QTest::addColumn<quint32>("modifiers");
        QTest::addColumn<QString>("trigger"); // empty: the key has no name

        using namespace CarbonModifier;
        QTest::newRow("⌃⌥K") << 40u << (Control | Option) << "CTRL+ALT+k";
        QTest::newRow("⇧⌘F1") << 122u << (Shift | Command) << "SHIFT+LOGO+F1";
        QTest::newRow("⌃]") << 30u << Control << "CTRL+bracketright";
        QTest::newRow("⌥space") << 49u << Option << "ALT+space";
        QTest::newRow("all four, digit") << 23u << (Control | Option | Shift | Command) << "CTRL+ALT+SHIFT+LOGO+5";
        QTest::newRow("⌘ backspace") << 51u << Command << "LOGO+BackSpace";
        QTest::newRow("unnamed key") << 10u << Control << "";
    }
    void bindsTheComboAndDeliversActivations()
    {
        QFETCH(quint32, keyCode);
        QFETCH(quint32, modifiers);
        QFETCH(QString, trigger);
        FakePortal portal;
        QVERIFY(portal.start());
        const auto backend = startBackend();
        QVERIFY(backend);

        QString detail;
        const Grab result = backend->grab(KeyCombo{keyCode, modifiers}, &detail);
        if (trigger.isEmpty()) {
            QCOMPARE(result, Grab::Untranslatable);
            QVERIFY(detail.contains(QString::number(keyCode)));
            QTest::qWait(50);
            QVERIFY(portal.record().sessions.isEmpty());
            return;
        }
        QCOMPARE(result, Grab::Grabbed);
        QTRY_COMPARE_WITH_TIMEOUT(portal.record().bindings.size(), 1, 5000);
        const FakePortal::Record record = portal.record();
        const QString session = record.sessions.first();
        QVERIFY2(!session.endsWith('/'), qPrintable(session)); // a session token was sent
        QCOMPARE(record.boundSessions, QStringList{session});
        QCOMPARE(record.bindings.first().size(), 1);
        const PortalShortcut shortcut = record.bindings.first().first();
        QCOMPARE(shortcut.id, "toggle-panel");
        QCOMPARE(shortcut.properties.value("description").toString(), "Open or close Varlo");
        QCOMPARE(shortcut.properties.value("preferred_trigger").toString(), trigger);

        // Another session's or another shortcut's activation is not ours; signals arrive in order.
        portal.activate(session, "toggle-panel");
        portal.activate(portalPath + "/session/other/varlo1", "toggle-panel");
        portal.activate(session, "something-else");
        portal.activate(session, "toggle-panel");
        QTRY_COMPARE_WITH_TIMEOUT(m_presses, 2, 5000);

        backend->release();
        QTRY_COMPARE_WITH_TIMEOUT(portal.record().closed, QStringList{session}, 5000);
        portal.activate(session, "toggle-panel");
        QTest::qWait(100);
        QCOMPARE(m_presses, 2);
    }

    void refusalsAreLoggedAndCloseTheSession_data()
    {
        QTest::addColumn<uint>("sessionResponse");
        QTest::addColumn<uint>("bindResponse");
        QTest::addColumn<bool>("failCalls");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("closedSessions");

        QTest::newRow("session cancelled") << 1u << 0u << false << "cancelled" << 0;
        QTest::newRow("binding failed") << 0u << 2u << false << "the request failed" << 1;
        QTest::newRow("binding cancelled in the dialog") << 0u << 1u << false << "cancelled" << 1;
        QTest::newRow("call refused") << 0u << 0u << true << "not allowed" << 0;
    }
    void refusalsAreLoggedAndCloseTheSession()
    {
        QFETCH(uint, sessionResponse);
        QFETCH(uint, bindResponse);
        QFETCH(bool, failCalls);
        QFETCH(QString, reason);
        QFETCH(int, closedSessions);
        FakePortal portal;
        portal.sessionResponse = sessionResponse;
        portal.bindResponse = bindResponse;
        portal.failCalls = failCalls;
        QVERIFY(portal.start());
        const auto backend = startBackend();
        QVERIFY(backend);

        g_warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        QCOMPARE(backend->grab(controlOptionK, nullptr), Grab::Grabbed);
        QTRY_COMPARE_WITH_TIMEOUT(g_warnings.size(), 1, 5000);
        qInstallMessageHandler(previous);
        QCOMPARE(g_warnings.first(), "Global shortcut CTRL+ALT+k refused by the desktop: " + reason);
        QTRY_COMPARE_WITH_TIMEOUT(portal.record().closed.size(), closedSessions, 5000);
        for (const QString& session : portal.record().sessions)
            portal.activate(session, "toggle-panel");
        backend->release(); // nothing left to close
        QTest::qWait(100);
        QCOMPARE(portal.record().closed.size(), closedSessions);
        QCOMPARE(m_presses, 0);
    }

    void rebindingLeavesNoSessionBehind()
    {
        FakePortal portal;
        QVERIFY(portal.start());
        auto backend = startBackend();
        QVERIFY(backend);

        // Released before the portal answered: the session it creates anyway is closed.
        QCOMPARE(backend->grab(controlOptionK, nullptr), Grab::Grabbed);
        backend->release();
        QCOMPARE(backend->grab(KeyCombo{1, CarbonModifier::Command}, nullptr), Grab::Grabbed);
        QTRY_COMPARE_WITH_TIMEOUT(portal.record().bindings.size(), 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(portal.record().closed.size(), 1, 5000);
        const FakePortal::Record record = portal.record();
        QCOMPARE(record.sessions.size(), 2);
        QCOMPARE(record.closed, QStringList{record.sessions.first()});
        QCOMPARE(record.boundSessions, QStringList{record.sessions.last()});
        QCOMPARE(record.bindings.first().first().properties.value("preferred_trigger"), "LOGO+s");

        portal.activate(record.sessions.first(), "toggle-panel");
        portal.activate(record.sessions.last(), "toggle-panel");
        QTRY_COMPARE_WITH_TIMEOUT(m_presses, 1, 5000);

        backend.reset(); // going away closes the live session
        QTRY_COMPARE_WITH_TIMEOUT(portal.record().closed.size(), 2, 5000);
        QCOMPARE(portal.record().closed.last(), record.sessions.last());
    }

    void choosesThePortalOnlyOnWaylandWhereOffered_data()
    {
        QTest::addColumn<bool>("wayland");
        QTest::addColumn<bool>("portalRuns");
        QTest::addColumn<bool>("offersShortcuts");

        QTest::newRow("Wayland with the portal") << true << true << true;
        QTest::newRow("Wayland, portal without GlobalShortcuts") << true << true << false;
        QTest::newRow("Wayland, no portal") << true << false << false;
        QTest::newRow("not Wayland") << false << true << true;
    }
    void choosesThePortalOnlyOnWaylandWhereOffered()
    {
        QFETCH(bool, wayland);
        QFETCH(bool, portalRuns);
        QFETCH(bool, offersShortcuts);
        FakePortal portal;
        portal.offersShortcuts = offersShortcuts;
        QVERIFY(!portalRuns || portal.start());

        const std::unique_ptr<HotkeyBackend> backend = createHotkeyBackend(wayland);
        QString detail;
        const Grab result = backend->grab(controlOptionK, &detail);
        if (wayland && offersShortcuts) {
            QCOMPARE(result, Grab::Grabbed);
            QTRY_COMPARE_WITH_TIMEOUT(portal.record().bindings.size(), 1, 5000);
            return;
        }
        // Offscreen there is no X display to fall back to either.
        QCOMPARE(result, Grab::Unavailable);
        QVERIFY2(detail.contains(wayland ? "no GlobalShortcuts portal" : "no X11 display"), qPrintable(detail));
        QTest::qWait(50);
        QVERIFY(portal.record().sessions.isEmpty());
    }
};

QTEST_MAIN(PortalHotkeyBackendTest)
#include "tst_portalhotkeybackend.moc"
