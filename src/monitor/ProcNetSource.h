#pragma once

#include "monitor/ListeningSockets.h"
#include "monitor/PortSource.h"
#include "monitor/SocketOwnerCache.h"

#include <QString>
#include <memory>
#include <mutex>

namespace varlo {

// The Linux kernel's own view of the listening ports: a netlink dump each
// scan, holders from /proc. Gives the rows the lsof scanner gives for the same
// sockets, plus the sockets whose holder it may not see (another user's),
// as entries with the owner's user name and pid 0.
class ProcNetSource : public PortSource
{
public:
    explicit ProcNetSource(SocketLister lister = &dumpListeningSockets,
                           SocketOwnerCache::Probe probe = SocketOwnerCache::Probe::system(),
                           std::function<QString(qint64 pid, const char* link)> readLink = &procfs::readLink);

    QCoro::Task<std::optional<QList<PortEntry>>> scan(bool includeDetails) override;
    // Never call it on the main thread.
    std::optional<QList<PortEntry>> scanBlocking(bool includeDetails);
    // How often /proc's descriptors were walked so far.
    int walkCount() const;

    // A socket without a visible holder is shown when the holder may be
    // hidden from us: the walk could not read everything, or it belongs to
    // another user and we are not root. Otherwise its holder died meanwhile.
    static bool holderMayBeHidden(const ListeningSocket& socket, bool walkComplete, quint32 ourUid);

private:
    struct State
    {
        std::mutex mutex;
        SocketLister lister;
        SocketOwnerCache cache;
        std::function<QString(qint64, const char*)> readLink;
    };
    static std::optional<QList<PortEntry>> scanState(State& state, bool includeDetails);

    std::shared_ptr<State> m_state;
};

} // namespace varlo
