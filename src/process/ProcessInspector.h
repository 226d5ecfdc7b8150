#pragma once

#include "monitor/CommandRunner.h"
#include "monitor/ToolPaths.h"
#include "process/ProcessDetail.h"

#include <QString>
#include <QtGlobal>
#include <optional>
#include <qcoro/qcorotask.h>

namespace varlo {

// Reads CPU, memory, uptime and command line of one process with a single `ps` run.
class ProcessInspector
{
public:
    explicit ProcessInspector(ToolPaths tools = ToolPaths::system(),
                              CommandRunner runner = systemCommandRunner());

    // Absent when the process is gone, `ps` failed or its line does not parse.
    // Call on the main thread; `ps` runs on the thread pool.
    QCoro::Task<std::optional<ProcessDetail>> detail(qint64 pid) const;

    // Parses the single line printed by `ps -o %cpu=,rss=,etime=,command=`.
    static std::optional<ProcessDetail> parseDetail(const QString& output);

    // `ps` etime ("[[dd-]hh:]mm:ss") in seconds; unreadable parts count as 0.
    static qint64 elapsedSeconds(const QString& etime);

    // Compact uptime: "42s", "5m 3s", "3h 12m", "2d 4h".
    static QString uptimeText(qint64 seconds);

    static constexpr double timeoutSeconds = 8.0;

private:
    ToolPaths m_tools;
    CommandRunner m_runner;
};

} // namespace varlo
