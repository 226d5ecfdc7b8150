#pragma once

#include "process/ProcessDetail.h"

#include <QByteArray>
#include <optional>
#include <qcoro/qcorotask.h>

namespace varlo {

// The figures `ps -o %cpu=,rss=,etime=,command=` prints, read straight from
// /proc on Linux: no tool run per expanded row.
class ProcDetail
{
public:
    // What the kernel's clock and memory units are.
    struct Units
    {
        double uptimeSeconds = 0; // first figure of /proc/uptime
        long ticksPerSecond = 100;
        long pageSize = 4096;
    };

    // Absent when the process is gone or not ours to read, or pid is not positive.
    static QCoro::Task<std::optional<ProcessDetail>> read(qint64 pid);
    static std::optional<ProcessDetail> readBlocking(qint64 pid);

    // From the texts of /proc/<pid>/stat and /proc/<pid>/cmdline, as ps
    // computes them: CPU is the lifetime share in tenths of a percent, cut
    // down; a process without a command line shows its name in brackets.
    static std::optional<ProcessDetail> parse(const QByteArray& stat, const QByteArray& cmdline, const Units& units);
};

} // namespace varlo
