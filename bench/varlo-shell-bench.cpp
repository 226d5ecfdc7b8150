// Figures for the running application, "name: value unit" per line: its resident
// memory idle and with the panel open, and the time from a tray click to the panel
// on screen. Run it under a display (make bench uses xvfb-run and trayer when found).
#include "FigureRunner.h"
#include "TestSupport.h"
#include "app/PanelController.h"
#include "monitor/PortMonitor.h"
#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"
#include "views/MenuBarPanelContent.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <cstdio>
#include <signal.h>

using namespace varlo;
using namespace std::chrono_literals;

namespace {

void report(const char* name, double value, const char* unit)
{
    std::printf("%s: %.2f %s\n", name, value, unit);
    std::fflush(stdout);
}

QString rangeOf(const QList<quint16>& ports)
{
    QStringList parts;
    for (const quint16 port : ports)
        parts.append(QString::number(port));
    return parts.join(',');
}

// The real program with a scratch home that watches only `ports`.
struct RunningVarlo
{
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QProcess process;

    explicit RunningVarlo(const QList<quint16>& ports)
    {
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        {
            JsonDefaultsStore store(home.filePath("config/Varlo/settings.json"));
            AppSettings settings(store);
            settings.setMonitoredRange(rangeOf(ports));
            settings.setHasShownLoginPrompt(true);
            settings.setHasShownUpdatePrompt(true);
            store.flush();
        }
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(VARLO_PROGRAM), {});
        process.waitForStarted(5000);
    }
    ~RunningVarlo()
    {
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        if (!process.waitForFinished(5000))
            process.kill();
    }
    // A second start toggles the panel of this one.
    void togglePanel()
    {
        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(VARLO_PROGRAM), {});
        second.waitForFinished(10000);
    }
};

void memory()
{
    std::unique_ptr<QProcess> tray;
    if (!QStandardPaths::findExecutable("trayer").isEmpty()) {
        tray = std::make_unique<QProcess>();
        tray->start("trayer", {"--edge", "top", "--widthtype", "request", "--SetDockType", "false"});
    }
    {
        const QList<quint16> ports = test::freeLoopbackPorts(10);
        test::TestListener listener;
        listener.start(ports);
        RunningVarlo varlo(ports);
        QTest::qWait(8000);
        if (tray) // without a tray the panel is a window, open from the start
            report("app idle resident memory (10 listeners, panel closed)", bench::residentMiB(QString::number(varlo.process.processId())),
                   "MiB");
    }
    {
        const QList<quint16> ports = test::freeLoopbackPorts(100);
        test::TestListener listener;
        listener.start(ports);
        RunningVarlo varlo(ports);
        QTest::qWait(3000);
        if (tray)
            varlo.togglePanel();
        QTest::qWait(5000);
        report("app resident memory (100 groups, panel open)", bench::residentMiB(QString::number(varlo.process.processId())), "MiB");
    }
    if (tray) {
        tray->terminate();
        tray->waitForFinished(3000);
    }
}

struct NoScan : PortSource
{
    QCoro::Task<std::optional<QList<PortEntry>>> scan(bool) override { co_return QList<PortEntry>{}; }
};

// The panel's part of a click: place, show, and wait until the window is on screen.
void clickToShown()
{
    QTemporaryDir dir;
    MemoryDefaultsStore store;
    AppSettings settings(store);
    MonitorServices services;
    services.scanner = std::make_unique<NoScan>();
    services.historyFile = dir.filePath("port-history.json");
    PortMonitor monitor(settings, std::move(services));
    auto* content = new MenuBarPanelContent(monitor);
    PanelController panel(monitor, content);
    panel.setAnchorSource([] { return QRect(600, 0, 24, 24); });

    constexpr int runs = 20;
    double total = 0;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        panel.toggleFromTray();
        test::waitUntil([&] { return panel.panel()->windowHandle() && panel.panel()->windowHandle()->isExposed(); },
                        2s);
        total += double(timer.nsecsElapsed()) / 1e6;
        panel.hidePanel();
        QTest::qWait(350); // past the reopen guard
    }
    report("tray click to panel shown", total / runs, "ms");
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    clickToShown();
    memory();
    return 0;
}
