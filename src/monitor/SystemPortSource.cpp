#include "monitor/SystemPortSource.h"

#include "monitor/PortScanner.h"

#ifdef Q_OS_LINUX
#include "monitor/ProcNetSource.h"
#endif

namespace varlo {

ChosenPortSource choosePortSource(const std::function<bool()>& netlinkWorks)
{
#ifdef Q_OS_LINUX
    const bool usable = netlinkWorks ? netlinkWorks() : dumpListeningSockets().has_value();
    if (usable)
        return {std::make_unique<ProcNetSource>(), QStringLiteral("netlink")};
#else
    Q_UNUSED(netlinkWorks);
#endif
    return {std::make_unique<PortScanner>(), QStringLiteral("lsof")};
}

} // namespace varlo
