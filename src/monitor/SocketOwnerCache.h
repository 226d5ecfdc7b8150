#pragma once

#include "monitor/ListeningSockets.h"
#include "monitor/ProcFs.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <functional>

namespace varlo {

// Remembers which processes hold which listening sockets, so that /proc is
// walked only when an unknown socket appears or a known holder is gone.
class SocketOwnerCache
{
public:
    // How the cache reads /proc; tests stand in for it.
    struct Probe
    {
        std::function<OwnerWalk(const QSet<quint64>& inodes)> walk;
        std::function<std::optional<ProcStat>(qint64 pid)> stat;

        static Probe system();
    };

    // The holders of the sockets of one dump, each still alive.
    struct Owners
    {
        QHash<quint64, QList<SocketOwner>> byInode;
        QHash<quint16, SocketOwner> proxies; // docker-proxy by host port
        QHash<qint64, ProcStat> stats;       // of every pid above
        bool complete = true;                // see OwnerWalk
    };

    explicit SocketOwnerCache(Probe probe = Probe::system());

    Owners resolve(const QList<ListeningSocket>& sockets);
    // How often /proc was walked so far.
    int walkCount() const { return m_walks; }

private:
    // The stat of each remembered holder; false when one has died or its pid was reused.
    bool holdersAlive(const QSet<quint64>& inodes, QHash<qint64, ProcStat>& stats) const;
    void walk(const QSet<quint64>& inodes);

    Probe m_probe;
    QSet<quint64> m_known;
    OwnerWalk m_last;
    int m_walks = 0;
};

} // namespace varlo
