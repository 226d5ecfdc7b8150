#include "services/hotkey/portal/PortalHotkeyBackend.h"

#include <QDBusConnection>
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

// The desktop portal on its own connection to the test's private bus and in its
// own thread, so it answers while the backend blocks on its probe: answers
// CreateSession and BindShortcuts the way xdg-desktop-portal does and records them.
class FakePortal final : public QDBusVirtualObject
{
public:
    struct Binding
    {
        QString session;
        QList<PortalShortcut> shortcuts;
        QString parentWindow;
        QVariantMap options;
    };
    struct Record
    {
        QList<QVariantMap> sessionOptions;
        QStringList sessions;
        QList<Binding> bindings;
        QStringList closed;
    };

    explicit FakePortal(const QString& name)
        : m_name(name), m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name))
    {
        m_thread.start();
        moveToThread(&m_thread);
    }
    ~FakePortal() override
    {
        m_bus.unregisterObject(portalPath, QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(m_name);
        m_thread.quit();
        m_thread.wait();
    }
    // The settings below are read by the portal's thread only after this.
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

    bool offersShortcuts = true; // GNOME 43's portal has no GlobalShortcuts
    bool failCalls = false;
    uint sessionResponse = 0, bindResponse = 0;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString member = message.member();
        const QVariantList args = message.arguments();
        const QMutexLocker lock(&m_mutex);
        if (member == QLatin1String("Get") && offersShortcuts && args.value(0) == shortcutsInterface)
            return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(2u))));
        if (member == QLatin1String("Close")) {
            m_record.closed << message.path();
            return connection.send(message.createReply());
        }
        if (message.interface() != shortcutsInterface || !offersShortcuts)
            return false;
        if (failCalls)
            return connection.send(message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("not allowed")));

        QString sender = message.service().mid(1);
        sender.replace(u'.', u'_');
        const QVariantMap options = qdbus_cast<QVariantMap>(args.last());
        const QString request = portalPath + "/request/" + sender + '/' + options.value("handle_token").toString();
        uint response = 0;
        QVariantMap results;
        if (member == QLatin1String("CreateSession")) {
            m_record.sessionOptions << options;
            m_record.sessions << portalPath + "/session/" + sender + '/' +
                                     options.value("session_handle_token").toString();
            response = sessionResponse;
            results.insert(QStringLiteral("session_handle"), m_record.sessions.last());
        } else if (member == QLatin1String("BindShortcuts")) {
            m_record.bindings.append({args.value(0).value<QDBusObjectPath>().path(),
                                      qdbus_cast<QList<PortalShortcut>>(args.value(1)), args.value(2).toString(),
                                      options});
            response = bindResponse;
        } else {
            return false;
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
    QString m_name;
    QDBusConnection m_bus;
    QThread m_thread;
    mutable QMutex m_mutex;
    Record m_record;
};

// Warnings of the hotkey category, kept out of the test's output.
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
        QTest::newRow("⌃F12") << 111u << Control << "CTRL+F12";
        QTest::newRow("unnamed key") << 10u << Control << "";
    }
    void bindsTheComboAndDeliversActivations()
    {
        QFETCH(quint32, keyCode);
        QFETCH(quint32, modifiers);
        QFETCH(QString, trigger);
        FakePortal portal(QStringLiteral("portal"));
        QVERIFY(portal.start());
        auto backend = PortalHotkeyBackend::create(QDBusConnection::sessionBus());
        QVERIFY(backend);
        int presses = 0;
        backend->installListener([&presses] { ++presses; });

        QString detail;
        const Grab result = backend->grab(KeyCombo{keyCode, modifiers}, &detail);
        if (trigger.isEmpty()) {
            QCOMPARE(result, Grab::Untranslatable);
            QVERIFY(detail.contains(QString::number(keyCode)));
            QTest::qWait(50);
            QVERIFY(portal.record().sessionOptions.isEmpty());
            return;
        }
        QCOMPARE(result, Grab::Grabbed);
        QTRY_COMPARE_WITH_TIMEOUT(portal.record().bindings.size(), 1, 5000);
        QVERIFY(!portal.record().sessionOptions.first().value("handle_token").toString().isEmpty());
        const FakePortal::Binding binding = portal.record().bindings.first();
        QCOMPARE(binding.session, portal.record().sessions.first());
        QCOMPARE(binding.shortcuts.size(), 1);
        QCOMPARE(binding.shortcuts.first().id, "toggle-panel");
        QCOMPARE(binding.shortcuts.first().properties.value("description").toString(), "Open or close Varlo");
        QCOMPARE(binding.shortcuts.first().properties.value("preferred_trigger").toString(), trigger);
        QVERIFY(!binding.options.value("handle_token").toString().isEmpty());

        // Another session's or another shortcut's activation is not ours; signals arrive in order.
        portal.activate(portalPath + "/session/other/varlo1", "toggle-panel");
        portal.activate(binding.session, "something-else");
        portal.activate(binding.session, "toggle-panel");
        QTRY_COMPARE_WITH_TIMEOUT(presses, 1, 5000);

        backend->release();
        QTRY_COMPARE_WITH_TIMEOUT(portal.record().closed, QStringList{binding.session}, 5000);
        portal.activate(binding.session, "toggle-panel");
        QTest::qWait(100);
        QCOMPARE(presses, 1);
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
        FakePortal portal(QStringLiteral("portal"));
        portal.sessionResponse = sessionResponse;
        portal.bindResponse = bindResponse;
        portal.failCalls = failCalls;
        QVERIFY(portal.start());
        auto backend = PortalHotkeyBackend::create(QDBusConnection::sessionBus());
        QVERIFY(backend);
        int presses = 0;
        backend->installListener([&presses] { ++presses; });

        g_warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        QCOMPARE(backend->grab(controlOptionK, nullptr), Grab::Grabbed);
        QTRY_COMPARE_WITH_TIMEOUT(g_warnings.size(), 1, 5000);
        qInstallMessageHandler(previous);
        QCOMPARE(g_warnings.first(), "Global shortcut CTRL+ALT+k refused by the desktop: " + reason);
        QTRY_COMPARE_WITH_TIMEOUT(portal.record().closed.size(), closedSessions, 5000);
        if (!portal.record().sessions.isEmpty())
            portal.activate(portal.record().sessions.first(), "toggle-panel");
        QTest::qWait(100);
        QCOMPARE(presses, 0);
        backend->release(); // nothing left to close
        QTest::qWait(50);
        QCOMPARE(portal.record().closed.size(), closedSessions);
    }

    void rebindingLeavesNoSessionBehind()
    {
        FakePortal portal(QStringLiteral("portal"));
        QVERIFY(portal.start());
        auto backend = PortalHotkeyBackend::create(QDBusConnection::sessionBus());
        QVERIFY(backend);
        int presses = 0;
        backend->installListener([&presses] { ++presses; });

        // Released before the portal answered: the session it creates anyway is closed.
        QCOMPARE(backend->grab(controlOptionK, nullptr), Grab::Grabbed);
        backend->release();
        QCOMPARE(backend->grab(KeyCombo{1, CarbonModifier::Command}, nullptr), Grab::Grabbed);
        QTRY_COMPARE_WITH_TIMEOUT(portal.record().bindings.size(), 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(portal.record().closed, QStringList{portal.record().sessions.first()}, 5000);
        QCOMPARE(portal.record().sessions.size(), 2);
        QCOMPARE(portal.record().bindings.first().session, portal.record().sessions.last());
        QCOMPARE(portal.record().bindings.first().shortcuts.first().properties.value("preferred_trigger"), "LOGO+s");

        portal.activate(portal.record().sessions.first(), "toggle-panel");
        portal.activate(portal.record().sessions.last(), "toggle-panel");
        QTRY_COMPARE_WITH_TIMEOUT(presses, 1, 5000);
        QTest::qWait(50);
        QCOMPARE(presses, 1);

        backend.reset(); // going away closes the live session
        QTRY_COMPARE_WITH_TIMEOUT(portal.record().closed.size(), 2, 5000);
        QCOMPARE(portal.record().closed.last(), portal.record().sessions.last());
    }

    void choosesThePortalOnlyOnWaylandWhereOffered_data()
    {
        QTest::addColumn<bool>("wayland");
        QTest::addColumn<bool>("portalRuns");
        QTest::addColumn<bool>("offersShortcuts");
        QTest::addColumn<bool>("chosen");

        QTest::newRow("Wayland with the portal") << true << true << true << true;
        QTest::newRow("Wayland, portal without GlobalShortcuts") << true << true << false << false;
        QTest::newRow("Wayland, no portal") << true << false << false << false;
        QTest::newRow("not Wayland") << false << true << true << false;
    }
    void choosesThePortalOnlyOnWaylandWhereOffered()
    {
        QFETCH(bool, wayland);
        QFETCH(bool, portalRuns);
        QFETCH(bool, offersShortcuts);
        QFETCH(bool, chosen);
        FakePortal portal(QStringLiteral("portal"));
        portal.offersShortcuts = offersShortcuts;
        if (portalRuns)
            QVERIFY(portal.start());

        const std::unique_ptr<HotkeyBackend> backend = createHotkeyBackend(wayland);
        QVERIFY(backend);
        QString detail;
        const Grab result = backend->grab(controlOptionK, &detail);
        if (chosen) {
            QCOMPARE(result, Grab::Grabbed);
            QTRY_COMPARE_WITH_TIMEOUT(portal.record().bindings.size(), 1, 5000);
            return;
        }
        // The test runs offscreen, so there is no X display to fall back to either.
        QCOMPARE(result, Grab::Unavailable);
        QVERIFY2(detail.contains(wayland ? "no GlobalShortcuts portal" : "no X11 display"), qPrintable(detail));
        QTest::qWait(50);
        QVERIFY(portal.record().sessionOptions.isEmpty());
    }
};

QTEST_MAIN(PortalHotkeyBackendTest)
#include "tst_portalhotkeybackend.moc"
