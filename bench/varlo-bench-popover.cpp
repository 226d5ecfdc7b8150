// The panel's figures, one line each ("name: value unit"): main-thread time of
// updating the panel from one scan's result, and resident memory with 200 groups.
// Each figure runs in a fresh process; pass name fragments to run only some.
#include "FigureRunner.h"

#include "ScriptedMachine.h"
#include "views/MenubarView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace varlo;

namespace {

constexpr int runs = 40;

void report(const QString& name, double value, const char* unit)
{
    std::printf("%s: %.3f %s\n", qPrintable(name), value, unit);
    std::fflush(stdout);
}

// Every generation names every process anew, at a new width, so each row is laid out again.
QList<PortEntry> ports(int groups, int generation)
{
    const QString name = generation % 2 ? QStringLiteral("python3") : QStringLiteral("node");
    QList<PortEntry> entries;
    for (int i = 0; i < groups; ++i)
        entries.append(test::listener(3000 + i, 1000 + i, name, QStringLiteral("/srv/app%1").arg(i)));
    return entries;
}

// Times what the panel does for each monitor signal: a stopwatch starts in a
// slot connected before the panel's and stops in one connected after them.
class PanelStopwatch
{
public:
    explicit PanelStopwatch(PortMonitor& monitor) : m_monitor(monitor) { hook(true); }
    void finish() { hook(false); }
    double takeMs()
    {
        const double ms = double(m_nanoseconds) / 1e6;
        m_nanoseconds = 0;
        return ms;
    }
    QElapsedTimer& clock() { return m_clock; }
    void add(qint64 nanoseconds) { m_nanoseconds += nanoseconds; }

private:
    void hook(bool start)
    {
        for (const auto signal : {&PortMonitor::portsChanged, &PortMonitor::tunnelsChanged,
                                  &PortMonitor::dockerContainersChanged, &PortMonitor::expandedPIDChanged,
                                  &PortMonitor::expandedDetailStateChanged, &PortMonitor::hasLoadedOnceChanged,
                                  &PortMonitor::vpnNameChanged}) {
            if (start)
                QObject::connect(&m_monitor, signal, [this] { m_clock.start(); });
            else
                QObject::connect(&m_monitor, signal, [this] { add(m_clock.nsecsElapsed()); });
        }
        if (start)
            QObject::connect(&m_monitor.history(), &PortHistory::byPortChanged, [this] { m_clock.start(); });
        else
            QObject::connect(&m_monitor.history(), &PortHistory::byPortChanged, [this] { add(m_clock.nsecsElapsed()); });
    }

    PortMonitor& m_monitor;
    QElapsedTimer m_clock;
    qint64 m_nanoseconds = 0;
};

enum class Change
{
    none,
    onePort, // one port goes and another comes
    everyRow, // every process renamed: the worst case
};

// Average main-thread ms per scan: the panel's handlers, then the layout passes they asked for.
void updateFigure(int groups, Change change)
{
    test::ScriptedMachine machine;
    machine.ports = ports(groups, 0);
    PanelStopwatch stopwatch(machine.monitor());
    MenubarView view(machine.monitor(), [] {});
    stopwatch.finish();
    view.show();
    machine.scan();
    QCoreApplication::processEvents();
    stopwatch.takeMs();

    double handlers = 0;
    double layouts = 0;
    for (int i = 1; i <= runs; ++i) {
        if (change == Change::everyRow)
            machine.ports = ports(groups, i);
        if (change == Change::onePort)
            machine.ports.last().port = 3000 + groups + i % 2;
        machine.scan();
        QElapsedTimer layout;
        layout.start();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        layouts += double(layout.nsecsElapsed()) / 1e6;
        handlers += stopwatch.takeMs();
    }
    const char* kind = change == Change::none ? "unchanged" : change == Change::onePort ? "one_port_changed" : "every_row_changed";
    const QString name = QStringLiteral("popover_update_%1_%2").arg(groups).arg(QLatin1String(kind));
    report(name, (handlers + layouts) / runs, "ms");
    report(name + QStringLiteral("_of_which_layout"), layouts / runs, "ms");
}

void memoryFigure()
{
    test::ScriptedMachine machine;
    machine.ports = ports(200, 0);
    MenubarView view(machine.monitor(), [] {});
    view.show();
    machine.scan();
    QCoreApplication::processEvents();
    report(QStringLiteral("popover_200_resident"), bench::residentMiB(), "MiB");
}

const std::vector<bench::Figure> figures{
    {"popover_update_20_unchanged", [] { updateFigure(20, Change::none); }},
    {"popover_update_20_one_port_changed", [] { updateFigure(20, Change::onePort); }},
    {"popover_update_20_every_row_changed", [] { updateFigure(20, Change::everyRow); }},
    {"popover_update_200_unchanged", [] { updateFigure(200, Change::none); }},
    {"popover_update_200_one_port_changed", [] { updateFigure(200, Change::onePort); }},
    {"popover_update_200_every_row_changed", [] { updateFigure(200, Change::everyRow); }},
    {"popover_200_resident", memoryFigure},
};

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return bench::runFigures(figures);
}
