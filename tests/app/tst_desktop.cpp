// The real program on a real X desktop: Xvfb, an XEmbed tray (trayer), a private
// session bus with this test's notification server, and xdotool for the user.
#include "FakeNotificationServer.h"
#include "TestSupport.h"
#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <optional>
#include <signal.h>

using namespace std::chrono_literals;
using namespace varlo;

namespace {

const KeyCombo controlOptionP{35, CarbonModifier::Control | CarbonModifier::Option};

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString xdotool(const QStringList& arguments)
{
    return run(QStringLiteral("xdotool"), arguments);
}

std::optional<QRect> windowGeometry(const QString& window)
{
    QHash<QString, int> values;
    for (const QString& line : xdotool({"getwindowgeometry", "--shell", window}).split('\n')) {
        const QStringList pair = line.split('=');
        if (pair.size() == 2)
            values.insert(pair[0], pair[1].toInt());
    }
    if (!values.contains("WIDTH"))
        return std::nullopt;
    return QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]);
}

// Varlo's mapped windows: the tray icon (small) and the panel (360 wide).
QList<QRect> varloWindows(qint64 pid)
{
    QList<QRect> windows;
    const QString found =
        xdotool({"search", "--onlyvisible", "--pid", QString::number(pid), "--name", "^Varlo$"});
    for (const QString& id : found.split('\n', Qt::SkipEmptyParts)) {
        if (const auto geometry = windowGeometry(id))
            windows.append(*geometry);
    }
    return windows;
}

std::optional<QRect> findWindow(qint64 pid, bool panel)
{
    for (const QRect& window : varloWindows(pid)) {
        if ((window.width() >= 300) == panel)
            return window;
    }
    return std::nullopt;
}

void clickAt(const QPoint& point)
{
    // Not --sync: it waits forever when the pointer is already there.
    xdotool({"mousemove", QString::number(point.x()), QString::number(point.y()), "sleep", "0.1", "click", "1"});
}

// A StatusNotifierWatcher with a host, as KDE's panel or GNOME's AppIndicator extension runs.
class FakeWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit FakeWatcher(const QString& name)
        : m_name(name), m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name))
    {
    }
    ~FakeWatcher() override
    {
        m_bus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        m_bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        QDBusConnection::disconnectFromBus(m_name);
    }
    bool start()
    {
        return m_bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
               m_bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }
    QStringList items() const { return m_items; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

    // Where the registered item lives: its bus name and object path.
    QString itemService;
    QString itemPath;

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message)
    {
        itemService = service.startsWith('/') ? message.service() : service;
        itemPath = service.startsWith('/') ? service : QStringLiteral("/StatusNotifierItem");
        m_items.append(itemService + itemPath);
    }
    void RegisterStatusNotifierHost(const QString&) {}

private:
    QString m_name;
    QDBusConnection m_bus;
    QStringList m_items;
};

// The item's tooltip title: ToolTip is (icon name, icons, title, text).
QString itemToolTip(const QString& service, const QString& path)
{
    QDBusMessage get = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Get");
    get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("ToolTip");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QDBusArgument tip =
        qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().value<QDBusArgument>();
    QString iconName, title, text;
    tip.beginStructure();
    tip >> iconName;
    tip.beginArray();
    while (!tip.atEnd()) {
        int width = 0, height = 0;
        QByteArray bytes;
        tip.beginStructure();
        tip >> width >> height >> bytes;
        tip.endStructure();
    }
    tip.endArray();
    tip >> title >> text;
    tip.endStructure();
    return title;
}

} // namespace

class DesktopTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QProcessEnvironment m_env;
    QString m_settingsFile, m_historyFile;
    quint16 m_port = 0;    // listening before Varlo starts
    quint16 m_newPort = 0; // opened while it runs

    std::unique_ptr<QProcess> startVarlo()
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(m_env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(VARLO_PROGRAM), {});
        return process;
    }

    // A fresh home: only our own port is watched, the questions were answered, the shortcut is ⌃⌥P.
    void writeSettings()
    {
        QDir(m_home.path()).removeRecursively();
        QVERIFY(QDir().mkpath(m_home.filePath("config/Varlo")));
        JsonDefaultsStore store(m_settingsFile);
        AppSettings settings(store);
        settings.setMonitoredRange(QStringLiteral("%1,%2").arg(m_port).arg(m_newPort));
        settings.setScanInterval(1);
        settings.setNotifyOnNewPort(true);
        settings.setHotkey(controlOptionP);
        settings.setHasShownLoginPrompt(true);
        settings.setHasShownUpdatePrompt(true);
        store.flush();
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || !QDBusConnection::sessionBus().isConnected())
            QSKIP("needs an X display and a session bus (xvfb-run, dbus-run-session)");
        for (const char* tool : {"trayer", "xdotool"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
        }
        QVERIFY(m_home.isValid());
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("HOME", m_home.path());
        m_env.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        m_env.insert("XDG_DATA_HOME", m_home.filePath("data"));
        m_env.insert("XDG_CACHE_HOME", m_home.filePath("cache"));
        m_env.insert("QT_QPA_PLATFORM", "xcb");
        m_settingsFile = m_home.filePath("config/Varlo/settings.json");
        m_historyFile = m_home.filePath("data/Varlo/port-history.json");
        const QList<quint16> ports = test::freeLoopbackPorts(2);
        m_port = ports[0];
        m_newPort = ports[1];
    }

    void trayPanelShortcutNotificationSecondInstanceQuit_data()
    {
        QTest::addColumn<QString>("edge");
        QTest::newRow("tray at the top") << "top";
        QTest::newRow("tray at the bottom") << "bottom";
    }
    void trayPanelShortcutNotificationSecondInstanceQuit()
    {
        QFETCH(QString, edge);
        writeSettings();
        test::TestListener listener;
        QVERIFY(listener.start({m_port}));

        test::FakeServer notifications(QStringLiteral("desktop-notifications"));
        QVERIFY(notifications.start());

        QProcess trayer;
        trayer.start("trayer", {"--edge", edge, "--align", "right", "--widthtype", "request", "--height", "24",
                                "--SetDockType", "false"});
        QVERIFY(trayer.waitForStarted(5000));
        auto killTrayer = qScopeGuard([&] {
            trayer.terminate();
            trayer.waitForFinished(3000);
        });

        std::unique_ptr<QProcess> varlo = startVarlo();
        QVERIFY(varlo->waitForStarted(5000));
        auto killVarlo = qScopeGuard([&] {
            if (varlo->state() != QProcess::NotRunning) {
                varlo->kill();
                varlo->waitForFinished(3000);
            }
        });
        const qint64 pid = varlo->processId();

        std::optional<QRect> icon;
        QVERIFY(test::waitUntil([&] { return (icon = findWindow(pid, false)).has_value(); }, 10s));
        QVERIFY(!findWindow(pid, true));

        // Once the first scan is in the history, a new listener is announced.
        QVERIFY(test::waitUntil(
            [&] {
                QFile history(m_historyFile);
                return history.open(QIODevice::ReadOnly) && history.readAll().contains(QByteArray::number(m_port));
            },
            15s));
        test::TestListener newListener;
        QVERIFY(newListener.start({m_newPort}));
        QVERIFY(test::waitUntil([&] { return !notifications.calls.isEmpty(); }, 15s));
        QVERIFY(notifications.calls.constFirst().body.endsWith(QStringLiteral(":%1").arg(m_newPort)));

        // A click on the icon: the panel, 360 wide, on screen, next to the icon.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        clickAt(icon->center());
        std::optional<QRect> panel;
        QVERIFY(test::waitUntil([&] { return (panel = findWindow(pid, true)).has_value(); }, 5s));
        QCOMPARE(panel->width(), 360);
        QVERIFY2(screen.contains(*panel), qPrintable(QStringLiteral("%1,%2").arg(panel->x()).arg(panel->y())));
        if (edge == "top")
            QCOMPARE(panel->top(), icon->bottom() + 1 + 6);
        else
            QCOMPARE(panel->bottom() + 1, icon->top() - 6);
        QVERIFY(panel->left() <= icon->center().x() && icon->center().x() <= panel->right());
        const QString shots = QStringLiteral(VARLO_DESKTOP_OUTPUT);
        QDir().mkpath(shots);
        QVERIFY(QGuiApplication::primaryScreen()
                    ->grabWindow(0, panel->x(), panel->y(), panel->width(), panel->height())
                    .save(shots + "/panel-" + edge + ".png"));

        // The shortcut closes it; a click outside closes it.
        xdotool({"key", "--clearmodifiers", "ctrl+alt+p"});
        QVERIFY(test::waitUntil([&] { return !findWindow(pid, true); }, 5s));
        xdotool({"key", "--clearmodifiers", "ctrl+alt+p"});
        QVERIFY(test::waitUntil([&] { return findWindow(pid, true).has_value(); }, 5s));
        clickAt(QPoint(screen.center().x() - 300, screen.center().y()));
        QVERIFY(test::waitUntil([&] { return !findWindow(pid, true); }, 5s));

        // A click on the notification opens it.
        const uint id = notifications.calls.constFirst().returnedId;
        notifications.emitSignal(QStringLiteral("ActionInvoked"), {id, QStringLiteral("default")});
        QVERIFY(test::waitUntil([&] { return findWindow(pid, true).has_value(); }, 5s));
        xdotool({"key", "--clearmodifiers", "ctrl+alt+p"});
        QVERIFY(test::waitUntil([&] { return !findWindow(pid, true); }, 5s));

        // Twenty fast clicks: never two panels, and a state the shortcut can leave.
        xdotool({"mousemove", QString::number(icon->center().x()), QString::number(icon->center().y()), "sleep",
                 "0.1", "click", "--repeat", "20", "--delay", "40", "1"});
        QTest::qWait(700);
        const auto panels = [&] {
            const QList<QRect> windows = varloWindows(pid);
            return std::count_if(windows.begin(), windows.end(), [](const QRect& w) { return w.width() >= 300; });
        };
        QVERIFY(panels() <= 1);
        if (panels() == 1) {
            xdotool({"key", "--clearmodifiers", "ctrl+alt+p"});
            QVERIFY(test::waitUntil([&] { return panels() == 0; }, 5s));
        }

        // The tray crashes and comes back: so does the icon.
        trayer.kill();
        trayer.waitForFinished(3000);
        QVERIFY(test::waitUntil([&] { return !findWindow(pid, false); }, 5s));
        trayer.start();
        QVERIFY(trayer.waitForStarted(5000));
        QVERIFY(test::waitUntil([&] { return (icon = findWindow(pid, false)).has_value(); }, 10s));
        // Embedding moves the icon into the new tray: click it where it settles.
        QTest::qWait(500);
        icon = findWindow(pid, false);
        QVERIFY(icon);
        clickAt(icon->center());
        QVERIFY(test::waitUntil([&] { return findWindow(pid, true).has_value(); }, 5s));
        xdotool({"key", "--clearmodifiers", "ctrl+alt+p"});
        QVERIFY(test::waitUntil([&] { return !findWindow(pid, true); }, 5s));

        // A second launch opens the first one's panel and leaves.
        std::unique_ptr<QProcess> second = startVarlo();
        QVERIFY(second->waitForFinished(15000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(test::waitUntil([&] { return findWindow(pid, true).has_value(); }, 5s));

        // SIGTERM is a normal quit: the history with our port is on disk, the settings intact.
        ::kill(static_cast<pid_t>(pid), SIGTERM);
        QVERIFY(varlo->waitForFinished(10000));
        QCOMPARE(varlo->exitStatus(), QProcess::NormalExit);
        QCOMPARE(varlo->exitCode(), 0);
        QFile history(m_historyFile);
        QVERIFY(history.open(QIODevice::ReadOnly));
        QVERIFY(history.readAll().contains(QByteArray::number(m_newPort)));
        QFile settings(m_settingsFile);
        QVERIFY(settings.open(QIODevice::ReadOnly));
        const QJsonObject stored = QJsonDocument::fromJson(settings.readAll()).object();
        QCOMPARE(stored.value("monitoredRange").toString(), QStringLiteral("%1,%2").arg(m_port).arg(m_newPort));
        QVERIFY(stored.value("hasShownLoginPrompt").toBool());
    }

    // No tray at start: a titled window. A StatusNotifierWatcher that appears later gets the icon,
    // whose tooltip carries the count and whose Activate opens the panel at the pointer.
    void statusNotifierTray()
    {
        writeSettings();
        test::TestListener listener;
        QVERIFY(listener.start({m_port}));

        std::unique_ptr<QProcess> varlo = startVarlo();
        QVERIFY(varlo->waitForStarted(5000));
        auto killVarlo = qScopeGuard([&] {
            if (varlo->state() != QProcess::NotRunning) {
                varlo->kill();
                varlo->waitForFinished(3000);
            }
        });
        const qint64 pid = varlo->processId();
        QVERIFY(test::waitUntil([&] { return findWindow(pid, true).has_value(); }, 10s));

        FakeWatcher watcher(QStringLiteral("desktop-watcher"));
        QVERIFY(watcher.start());
        QVERIFY(test::waitUntil([&] { return !watcher.itemService.isEmpty(); }, 10s));
        QVERIFY(test::waitUntil([&] { return !findWindow(pid, true); }, 5s));
        QVERIFY(test::waitUntil(
            [&] { return itemToolTip(watcher.itemService, watcher.itemPath) == "Varlo: 1 port"; }, 10s));

        const QPoint click(500, 300);
        xdotool({"mousemove", QString::number(click.x()), QString::number(click.y()), "sleep", "0.1"});
        QDBusMessage activate = QDBusMessage::createMethodCall(watcher.itemService, watcher.itemPath,
                                                               "org.kde.StatusNotifierItem", "Activate");
        activate << click.x() << click.y();
        QCOMPARE(QDBusConnection::sessionBus().call(activate, QDBus::Block, 3000).type(),
                 QDBusMessage::ReplyMessage);
        std::optional<QRect> panel;
        QVERIFY(test::waitUntil([&] { return (panel = findWindow(pid, true)).has_value(); }, 5s));
        QCOMPARE(panel->width(), 360);
        QCOMPARE(panel->x(), click.x() - 180);
        QCOMPARE(panel->y(), click.y() + 1 + 6);

        ::kill(static_cast<pid_t>(pid), SIGTERM);
        QVERIFY(varlo->waitForFinished(10000));
        QCOMPARE(varlo->exitCode(), 0);
    }
};

QTEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
