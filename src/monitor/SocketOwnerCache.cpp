#include "monitor/SocketOwnerCache.h"

namespace varlo {

namespace {

bool stillAlive(const SocketOwner& owner, const std::optional<ProcStat>& stat)
{
    return stat && stat->startTicks == owner.startTicks;
}

} // namespace

SocketOwnerCache::Probe SocketOwnerCache::Probe::system()
{
    return {[](const QSet<quint64>& inodes) { return procfs::walkSocketOwners(inodes); }, &procfs::readStat};
}

SocketOwnerCache::SocketOwnerCache(Probe probe) : m_probe(std::move(probe)) {}

bool SocketOwnerCache::holdersAlive(const QSet<quint64>& inodes, QHash<qint64, ProcStat>& stats) const
{
    const auto check = [&](const SocketOwner& owner) {
        if (stats.contains(owner.pid))
            return true;
        const std::optional<ProcStat> stat = m_probe.stat(owner.pid);
        if (!stillAlive(owner, stat))
            return false;
        stats.insert(owner.pid, *stat);
        return true;
    };
    for (const quint64 inode : inodes) {
        for (const SocketOwner& owner : m_last.owners.value(inode)) {
            if (!check(owner))
                return false;
        }
    }
    for (const SocketOwner& proxy : m_last.proxies) {
        if (!check(proxy))
            return false;
    }
    return true;
}

void SocketOwnerCache::walk(const QSet<quint64>& inodes)
{
    m_last = m_probe.walk(inodes);
    m_known = inodes;
    ++m_walks;
}

SocketOwnerCache::Owners SocketOwnerCache::resolve(const QList<ListeningSocket>& sockets)
{
    QSet<quint64> inodes;
    inodes.reserve(sockets.size());
    for (const ListeningSocket& socket : sockets)
        inodes.insert(socket.inode);

    Owners owners;
    const bool unknown = std::any_of(inodes.cbegin(), inodes.cend(),
                                     [this](quint64 inode) { return !m_known.contains(inode); });
    if (unknown || !holdersAlive(inodes, owners.stats)) {
        walk(inodes);
        owners.stats.clear();
    }

    // A holder that died since the walk is left out, never guessed at.
    const auto alive = [&](const SocketOwner& owner) {
        if (const auto known = owners.stats.constFind(owner.pid); known != owners.stats.cend())
            return known->startTicks == owner.startTicks;
        const std::optional<ProcStat> stat = m_probe.stat(owner.pid);
        if (!stillAlive(owner, stat))
            return false;
        owners.stats.insert(owner.pid, *stat);
        return true;
    };
    for (const quint64 inode : std::as_const(inodes)) {
        QList<SocketOwner> living;
        for (const SocketOwner& owner : m_last.owners.value(inode)) {
            if (alive(owner))
                living.append(owner);
        }
        if (!living.isEmpty())
            owners.byInode.insert(inode, living);
    }
    for (auto proxy = m_last.proxies.cbegin(); proxy != m_last.proxies.cend(); ++proxy) {
        if (alive(proxy.value()))
            owners.proxies.insert(proxy.key(), proxy.value());
    }
    owners.complete = m_last.complete;
    return owners;
}

} // namespace varlo
