#pragma once

#include "monitor/PortEntry.h"

#include <QList>
#include <optional>
#include <qcoro/qcorotask.h>

namespace varlo {

// Where the port monitor gets its listening ports from; tests script it.
class PortSource
{
public:
    virtual ~PortSource();
    // The listening TCP ports right now, sorted by port. `includeDetails` adds
    // the parent pid, command path and working directory of each process.
    // Nothing when the scan failed; an empty list when nothing listens.
    virtual QCoro::Task<std::optional<QList<PortEntry>>> scan(bool includeDetails) = 0;
};

} // namespace varlo
