#pragma once

#include "monitor/PortMonitor.h"
#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <memory>

namespace varlo::test {

// A listening entry as a detailed scan reports it.
PortEntry listener(qint64 port, qint64 pid, const QString& name, const QString& workingDirectory = {},
                   qint64 ppid = 0);

// A port monitor over a scripted machine: the scanner, detectors, inspector
// and process manager answer from the fields below, and every kill is logged
// instead of sent.
class ScriptedMachine
{
public:
    // `history` is written to the history file before the monitor loads it.
    explicit ScriptedMachine(const QList<PortHistoryEntry>& history = {});
    ~ScriptedMachine();

    QList<PortEntry> ports;
    TunnelMap tunnels;
    DockerContainers containers;
    std::optional<QString> vpn;
    std::optional<ProcessDetail> detail = ProcessDetail{2.5, 50 * 1024 * 1024, 3725, QStringLiteral("node server.js")};
    std::chrono::milliseconds detailDelay{0};
    QStringList kills; // "terminate 10", "group 20,21", "stop web"

    AppSettings& settings() { return m_settings; }
    PortMonitor& monitor() { return *m_monitor; }

    // One cycle with the panel open (details and context), finished.
    bool scan();
    // Expands the row of `pid` and waits for its detail.
    bool expand(const PortEntry& entry);

private:
    QTemporaryDir m_dir;
    MemoryDefaultsStore m_store;
    AppSettings m_settings{m_store};
    std::unique_ptr<PortMonitor> m_monitor;
};

} // namespace varlo::test
