// Test helper: one closed-panel scan of the kernel's listening ports, run as
// whichever user the test chose. Prints "port pid name user" per entry on the
// given ports.
#include "monitor/ProcNetSource.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    QList<qint64> ports;
    for (int i = 1; i < argc; ++i)
        ports.append(std::atoll(argv[i]));
    varlo::ProcNetSource source;
    const auto entries = source.scanBlocking(false);
    if (!entries)
        return 1;
    for (const varlo::PortEntry& entry : *entries) {
        if (ports.contains(entry.port))
            std::printf("%lld %lld %s %s\n", entry.port, entry.pid, qPrintable(entry.processName),
                        qPrintable(entry.userName));
    }
    return 0;
}
