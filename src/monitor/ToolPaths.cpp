#include "monitor/ToolPaths.h"

#include <QFileInfo>

namespace varlo {

const QStringList ToolPaths::lsofCandidates{"/usr/sbin/lsof", "/usr/bin/lsof", "/bin/lsof", "/sbin/lsof"};
const QStringList ToolPaths::psCandidates{"/bin/ps", "/usr/bin/ps"};
const QStringList ToolPaths::pgrepCandidates{"/usr/bin/pgrep", "/bin/pgrep"};
const QStringList ToolPaths::scutilCandidates{"/usr/sbin/scutil"};
const QStringList ToolPaths::nmcliCandidates{"/usr/bin/nmcli", "/bin/nmcli"};
const QStringList ToolPaths::ipCandidates{"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"};

QString ToolPaths::firstExecutable(const QStringList& candidates)
{
    for (const QString& candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return candidate;
    }
    return {};
}

const ToolPaths& ToolPaths::system()
{
    static const ToolPaths paths{
        firstExecutable(lsofCandidates),   firstExecutable(psCandidates),    firstExecutable(pgrepCandidates),
        firstExecutable(scutilCandidates), firstExecutable(nmcliCandidates), firstExecutable(ipCandidates),
    };
    return paths;
}

} // namespace varlo
