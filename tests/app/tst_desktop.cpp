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
#include <optional>
#include <signal.h>

using namespace std::chrono_literals;
using namespace varlo;

namespace {

QString xdotool(const QStringList& arguments)
{
    QProcess process; // killed by its destructor if it hangs
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(5000) ? QString::fromUtf8(process.readAllStandardOutput()).trimmed()
                                         : QString();
}

// Varlo's mapped windows: the tray icon (small) or the panel (360 wide).
QList<QRect> varloWindows(qint64 pid, bool panel)
{
    QList<QRect> windows;
    const QString found =
        xdotool({"search", "--onlyvisible", "--pid", QString::number(pid), "--name", "^Varlo$"});
    for (const QString& id : found.split('\n', Qt::SkipEmptyParts)) {
        QHash<QString, int> values;
        for (const QString& line : xdotool({"getwindowgeometry", "--shell", id}).split('\n'))
            values.insert(line.section('=', 0, 0), line.section('=', 1).toInt());
        const QRect window(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]);
        if (values.contains("WIDTH") && (window.width() >= 300) == panel)
            windows.append(window);
    }
    return windows;
}

std::optional<QRect> findWindow(qint64 pid, bool panel)
{
    const QList<QRect> windows = varloWindows(pid, panel);
    return windows.isEmpty() ? std::nullopt : std::optional(windows.constFirst());
}

void moveTo(const QPoint& point, const QStringList& then = {})
{
    // Not --sync: it waits forever when the pointer is already there.
    xdotool(QStringList{"mousemove", QString::number(point.x()), QString::number(point.y()), "sleep", "0.1"} +
            then);
}

void clickAt(const QPoint& point)
{
    moveTo(point, {"click", "1"});
}

// A StatusNotifierWatcher with a host, as KDE's panel or GNOME's AppIndicator extension runs.
class FakeWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems MEMBER m_items CONSTANT)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered MEMBER m_host CONSTANT)
    Q_PROPERTY(int ProtocolVersion MEMBER m_version CONSTANT)

public:
    explicit FakeWatcher(const QString& name)
        : m_name(name), m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name))
    {
    }
    ~FakeWatcher() override { QDBusConnection::disconnectFromBus(m_name); }
    bool start()
    {
        return m_bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
               m_bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }

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
    bool m_host = true;
    int m_version = 0;
};

// The item's tooltip title: ToolTip is (icon name, icons, title, text).
QString itemToolTip(const QString& service, const QString& path)
{
    QDBusMessage get =
        QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Get");
    get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("ToolTip");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QDBusArgument tip =
        qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().value<QDBusArgument>();
    QString iconName, title, text;
    tip.beginStructure();
    tip >> iconName;
    tip.beginArray(); // the icons, skipped
    tip.endArray();
    tip >> title >> text;
    tip.endStructure();
    return title;
}

bool fileContains(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.readAll().contains(text);
}

// One run of the real program, killed at the end of the test if still running.
struct Varlo
{
    QProcess process;
    qint64 pid = 0;

    explicit Varlo(const QProcessEnvironment& env)
    {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(VARLO_PROGRAM), {});
        if (process.waitForStarted(5000))
            pid = process.processId();
    }
    ~Varlo()
    {
        process.kill();
        process.waitForFinished(3000);
    }
    bool waitPanel(bool open) const
    {
        return test::waitUntil([&] { return findWindow(pid, true).has_value() == open; }, 5s);
    }
    // ⌃⌥P, the recorded shortcut, toggles the panel.
    bool shortcut(bool opens) const
    {
        xdotool({"key", "--clearmodifiers", "ctrl+alt+p"});
        return waitPanel(opens);
    }
    bool quit()
    {
        ::kill(static_cast<pid_t>(pid), SIGTERM);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
};

} // namespace

class DesktopTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QProcessEnvironment m_env;
    QString m_settingsFile, m_historyFile;
    quint16 m_port = 0;    // listening before Varlo starts
    quint16 m_newPort = 0; // opened while it runs

    // A fresh home: only our own ports are watched, the questions were answered, the shortcut is ⌃⌥P.
    void writeSettings()
    {
        QDir(m_home.path()).removeRecursively();
        QVERIFY(QDir().mkpath(m_home.filePath("config/Varlo")));
        JsonDefaultsStore store(m_settingsFile);
        AppSettings settings(store);
        settings.setMonitoredRange(QStringLiteral("%1,%2").arg(m_port).arg(m_newPort));
        settings.setScanInterval(1);
        settings.setNotifyOnNewPort(true);
        settings.setHotkey(KeyCombo{35, CarbonModifier::Control | CarbonModifier::Option});
        settings.setHasShownLoginPrompt(true);
        settings.setHasShownUpdatePrompt(true);
        store.flush();
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || !QDBusConnection::sessionBus().isConnected())
            QSKIP("needs an X display and a session bus (xvfb-run, dbus-run-session)");
        for (const QString tool : {"trayer", "xdotool"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(tool + " is not installed"));
        }
        QVERIFY(m_home.isValid());
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("HOME", m_home.path());
        for (const QString folder : {"config", "data", "cache"})
            m_env.insert("XDG_" + folder.toUpper() + "_HOME", m_home.filePath(folder));
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
        trayer.start("trayer", {"--edge", edge, "--align", "right", "--widthtype", "request", "--height",
                                "24", "--SetDockType", "false"});
        QVERIFY(trayer.waitForStarted(5000));
        auto killTrayer = qScopeGuard([&] {
            trayer.terminate();
            trayer.waitForFinished(3000);
        });

        Varlo varlo(m_env);
        QVERIFY(varlo.pid > 0);
        std::optional<QRect> icon;
        QVERIFY(test::waitUntil([&] { return (icon = findWindow(varlo.pid, false)).has_value(); }, 10s));
        QVERIFY(!findWindow(varlo.pid, true));

        // Once the first scan is in the history, a new listener is announced.
        QVERIFY(
            test::waitUntil([&] { return fileContains(m_historyFile, QByteArray::number(m_port)); }, 15s));
        test::TestListener newListener;
        QVERIFY(newListener.start({m_newPort}));
        QVERIFY(test::waitUntil([&] { return !notifications.calls.isEmpty(); }, 15s));
        QVERIFY(notifications.calls.constFirst().body.endsWith(QStringLiteral(":%1").arg(m_newPort)));

        // A click on the icon: the panel, 360 wide, on screen, next to the icon.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        clickAt(icon->center());
        QVERIFY(varlo.waitPanel(true));
        const QRect panel = *findWindow(varlo.pid, true);
        QCOMPARE(panel.width(), 360);
        QVERIFY2(screen.contains(panel), qPrintable(QStringLiteral("%1,%2").arg(panel.x()).arg(panel.y())));
        if (edge == "top")
            QCOMPARE(panel.top(), icon->bottom() + 1 + 6);
        else
            QCOMPARE(panel.bottom() + 1, icon->top() - 6);
        QVERIFY(panel.left() <= icon->center().x() && icon->center().x() <= panel.right());
        const QString shots = QStringLiteral(VARLO_DESKTOP_OUTPUT);
        QDir().mkpath(shots);
        QVERIFY(QGuiApplication::primaryScreen()
                    ->grabWindow(0, panel.x(), panel.y(), panel.width(), panel.height())
                    .save(shots + "/panel-" + edge + ".png"));

        // The shortcut closes it; a click outside closes it; a click on the notification opens it.
        QVERIFY(varlo.shortcut(false));
        QVERIFY(varlo.shortcut(true));
        clickAt(QPoint(screen.center().x() - 300, screen.center().y()));
        QVERIFY(varlo.waitPanel(false));
        const uint id = notifications.calls.constFirst().returnedId;
        notifications.emitSignal(QStringLiteral("ActionInvoked"), {id, QStringLiteral("default")});
        QVERIFY(varlo.waitPanel(true));
        QVERIFY(varlo.shortcut(false));

        // Twenty fast clicks: never two panels, and a state the shortcut can leave.
        moveTo(icon->center(), {"click", "--repeat", "20", "--delay", "40", "1"});
        QTest::qWait(700);
        const qsizetype panels = varloWindows(varlo.pid, true).size();
        QVERIFY(panels <= 1);
        if (panels == 1)
            QVERIFY(varlo.shortcut(false));

        // The tray crashes and comes back: so does the icon.
        trayer.kill();
        trayer.waitForFinished(3000);
        QVERIFY(test::waitUntil([&] { return !findWindow(varlo.pid, false); }, 5s));
        trayer.start();
        QVERIFY(trayer.waitForStarted(5000));
        QVERIFY(test::waitUntil([&] { return findWindow(varlo.pid, false).has_value(); }, 10s));
        QTest::qWait(500); // embedding moves the icon into the new tray: click it where it settles
        icon = findWindow(varlo.pid, false);
        QVERIFY(icon);
        clickAt(icon->center());
        QVERIFY(varlo.waitPanel(true));
        QVERIFY(varlo.shortcut(false));

        // A second launch opens the first one's panel and leaves.
        Varlo second(m_env);
        QVERIFY(second.process.waitForFinished(15000));
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 0);
        QVERIFY(varlo.waitPanel(true));

        // SIGTERM is a normal quit: the history with our port is on disk, the settings intact.
        QVERIFY(varlo.quit());
        QVERIFY(fileContains(m_historyFile, QByteArray::number(m_newPort)));
        QFile settings(m_settingsFile);
        QVERIFY(settings.open(QIODevice::ReadOnly));
        const QJsonObject stored = QJsonDocument::fromJson(settings.readAll()).object();
        QCOMPARE(stored.value("monitoredRange").toString(),
                 QStringLiteral("%1,%2").arg(m_port).arg(m_newPort));
        QVERIFY(stored.value("hasShownLoginPrompt").toBool());
    }

    // No tray at start: a titled window. A StatusNotifierWatcher that appears later gets the icon,
    // whose tooltip carries the count and whose Activate opens the panel at the pointer.
    void statusNotifierTray()
    {
        writeSettings();
        test::TestListener listener;
        QVERIFY(listener.start({m_port}));
        Varlo varlo(m_env);
        QVERIFY(varlo.pid > 0);
        QVERIFY(test::waitUntil([&] { return findWindow(varlo.pid, true).has_value(); }, 10s));

        FakeWatcher watcher(QStringLiteral("desktop-watcher"));
        QVERIFY(watcher.start());
        QVERIFY(test::waitUntil([&] { return !watcher.itemService.isEmpty(); }, 10s));
        QVERIFY(varlo.waitPanel(false));
        QVERIFY(test::waitUntil(
            [&] { return itemToolTip(watcher.itemService, watcher.itemPath) == "Varlo: 1 port"; }, 10s));

        const QPoint click(500, 300);
        moveTo(click);
        QDBusMessage activate = QDBusMessage::createMethodCall(watcher.itemService, watcher.itemPath,
                                                               "org.kde.StatusNotifierItem", "Activate");
        activate << click.x() << click.y();
        QCOMPARE(QDBusConnection::sessionBus().call(activate, QDBus::Block, 3000).type(),
                 QDBusMessage::ReplyMessage);
        QVERIFY(varlo.waitPanel(true));
        const QRect panel = *findWindow(varlo.pid, true);
        QCOMPARE(panel.topLeft(), QPoint(click.x() - 180, click.y() + 1 + 6));
        QCOMPARE(panel.width(), 360);
        QVERIFY(varlo.quit());
    }
};

QTEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
