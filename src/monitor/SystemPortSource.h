#pragma once

#include "monitor/PortSource.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace varlo {

struct ChosenPortSource
{
    std::unique_ptr<PortSource> source;
    QString name; // for diagnostics: "netlink" or "lsof"
};

// On Linux the kernel's socket dump when a trial dump works, else the lsof
// scanner; lsof elsewhere. `netlinkWorks` stands in for the trial in tests.
ChosenPortSource choosePortSource(const std::function<bool()>& netlinkWorks = {});

} // namespace varlo
