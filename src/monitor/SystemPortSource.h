#pragma once

#include "monitor/PortSource.h"

#include <QString>
#include <memory>

#ifdef Q_OS_LINUX
#include "monitor/ListeningSockets.h"
#endif

namespace varlo {

struct ChosenPortSource
{
    std::unique_ptr<PortSource> source;
    QString name; // for diagnostics: "netlink" or "lsof"
};

#ifdef Q_OS_LINUX
// The kernel's socket dump when a trial dump works, else the lsof scanner. A
// dump that fails later (a filter installed meanwhile, a kernel refusing)
// falls back to lsof for that scan. `lister` stands in for netlink in tests.
ChosenPortSource choosePortSource(SocketLister lister = &dumpListeningSockets);
#else
ChosenPortSource choosePortSource();
#endif

} // namespace varlo
