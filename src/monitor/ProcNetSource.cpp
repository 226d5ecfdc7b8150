#include "monitor/ProcNetSource.h"

#include "monitor/BlockingPool.h"

#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <qcoro/qcorofuture.h>
#include <unistd.h>

namespace varlo {

namespace {

// The sockets of one holder, or of one unseen user, on one port.
struct Key
{
    qint64 pid = 0;
    quint16 port = 0;
    quint32 uid = 0; // only for unattributed sockets
    bool operator==(const Key&) const = default;
};

size_t qHash(const Key& key, size_t seed = 0)
{
    return qHashMulti(seed, key.pid, key.port, key.uid);
}

struct Sockets
{
    bool loopbackOnly = true;
    QSet<QString> devices;
};

// The executable and working directory of each pid, read once per scan
// however many ports it holds.
struct Paths
{
    QString executable;
    QString workingDirectory;
};

PortEntry entryFor(const Key& key, const Sockets& sockets, const SocketOwnerCache::Owners& owners,
                   bool includeDetails, const std::function<QString(qint64, const char*)>& readLink,
                   QHash<qint64, Paths>& paths)
{
    PortEntry entry;
    entry.port = key.port;
    entry.pid = key.pid;
    entry.proto = Proto::tcp;
    entry.address = sockets.loopbackOnly ? Address::localhost : Address::allInterfaces;
    entry.devices = sockets.devices;
    if (key.pid == 0) {
        entry.userName = procfs::userName(key.uid);
        return entry;
    }
    const ProcStat stat = owners.stats.value(key.pid);
    entry.processName = stat.name;
    entry.binaryPath = entry.processName;
    if (includeDetails) {
        auto known = paths.find(key.pid);
        if (known == paths.end())
            known = paths.insert(key.pid, Paths{readLink(key.pid, "exe"), readLink(key.pid, "cwd")});
        if (!known->executable.isEmpty())
            entry.binaryPath = known->executable;
        entry.workingDirectory = known->workingDirectory;
        entry.ppid = stat.ppid;
    }
    return entry;
}

} // namespace

ProcNetSource::ProcNetSource(SocketLister lister, SocketOwnerCache::Probe probe,
                             std::function<QString(qint64, const char*)> readLink)
    : m_state(std::make_shared<State>())
{
    m_state->lister = std::move(lister);
    m_state->cache = SocketOwnerCache(std::move(probe));
    m_state->readLink = std::move(readLink);
}

QCoro::Task<std::optional<QList<PortEntry>>> ProcNetSource::scan(bool includeDetails)
{
    // The worker shares the state, so it stays valid if this source goes first.
    QFuture<std::optional<QList<PortEntry>>> future =
        QtConcurrent::run(&blockingPool(), [state = m_state, includeDetails] {
            return scanState(*state, includeDetails);
        });
    co_return co_await future;
}

int ProcNetSource::walkCount() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->cache.walkCount();
}

bool ProcNetSource::holderMayBeHidden(const ListeningSocket& socket, bool walkComplete, quint32 ourUid)
{
    return !walkComplete || (ourUid != 0 && socket.uid != ourUid);
}

std::optional<QList<PortEntry>> ProcNetSource::scanBlocking(bool includeDetails)
{
    return scanState(*m_state, includeDetails);
}

std::optional<QList<PortEntry>> ProcNetSource::scanState(State& state, bool includeDetails)
{
    const std::lock_guard lock(state.mutex);
    const std::optional<QList<ListeningSocket>> sockets = state.lister();
    if (!sockets)
        return std::nullopt;
    const SocketOwnerCache::Owners owners = state.cache.resolve(*sockets);
    const quint32 ourUid = ::geteuid();

    QList<Key> order;
    QHash<Key, Sockets> byKey;
    const auto add = [&](const Key& key, const ListeningSocket& socket) {
        auto found = byKey.find(key);
        if (found == byKey.end()) {
            order.append(key);
            found = byKey.insert(key, Sockets{});
        }
        found->loopbackOnly = found->loopbackOnly && socket.loopback;
        found->devices.insert(QString::number(socket.inode));
    };
    for (const ListeningSocket& socket : *sockets) {
        const auto holders = owners.byInode.constFind(socket.inode);
        if (holders != owners.byInode.cend()) {
            for (const SocketOwner& owner : *holders)
                add(Key{owner.pid, socket.port, 0}, socket);
        } else if (const auto proxy = owners.proxies.constFind(socket.port); proxy != owners.proxies.cend()) {
            add(Key{proxy->pid, socket.port, 0}, socket);
        } else if (holderMayBeHidden(socket, owners.complete, ourUid)) {
            add(Key{0, socket.port, socket.uid}, socket);
        }
    }

    QList<PortEntry> entries;
    entries.reserve(order.size());
    QHash<qint64, Paths> paths;
    for (const Key& key : std::as_const(order))
        entries.append(entryFor(key, byKey.value(key), owners, includeDetails, state.readLink, paths));
    std::stable_sort(entries.begin(), entries.end(),
                     [](const PortEntry& a, const PortEntry& b) { return a.port < b.port; });
    return entries;
}

} // namespace varlo
