#include "monitor/PortEntry.h"

#include "monitor/HomeFolder.h"

#include <QHash>
#include <algorithm>
#include <array>
#include <numeric>

namespace varlo {

std::optional<Proto> protoFromRawValue(const QString& raw)
{
    if (raw == u"TCP")
        return Proto::tcp;
    if (raw == u"UDP")
        return Proto::udp;
    return std::nullopt;
}

QString rawValue(Proto proto)
{
    return proto == Proto::tcp ? QStringLiteral("TCP") : QStringLiteral("UDP");
}

QString PortEntry::displayPath(const QString& homePath) const
{
    if (workingDirectory.isEmpty())
        return binaryPath;
    return abbreviateHomeFolder(workingDirectory, homePath, true);
}

bool PortEntry::isLikelyWebServer() const
{
    const bool webPort = (port >= 3000 && port <= 3009) || port == 4000 || port == 4200 || port == 5000 ||
                         port == 5173 || (port >= 8000 && port <= 8009) || (port >= 8080 && port <= 8090) ||
                         port == 8443 || port == 9000;
    if (webPort)
        return true;
    static const std::array<QLatin1StringView, 14> words{
        QLatin1StringView("node"),  QLatin1StringView("python"), QLatin1StringView("ruby"),
        QLatin1StringView("rails"), QLatin1StringView("puma"),   QLatin1StringView("vite"),
        QLatin1StringView("next"),  QLatin1StringView("php"),    QLatin1StringView("java"),
        QLatin1StringView("http"),  QLatin1StringView("nginx"),  QLatin1StringView("caddy"),
        QLatin1StringView("deno"),  QLatin1StringView("bun")};
    const QString name = processName.toLower();
    return std::any_of(words.cbegin(), words.cend(),
                       [&](QLatin1StringView word) { return name.contains(word); });
}

size_t qHash(const PortEntry& entry, size_t seed)
{
    // QSet's own qHash is order-independent, as the set comparison needs.
    return qHashMulti(seed, entry.id, entry.port, entry.pid, entry.processName, entry.binaryPath,
                      entry.workingDirectory, rawValue(entry.proto), static_cast<int>(entry.address),
                      qHashRangeCommutative(entry.devices.cbegin(), entry.devices.cend()), entry.ppid,
                      entry.userName);
}

const PortEntry& PortGroup::primary() const
{
    Q_ASSERT(!members.isEmpty());
    if (primaryPID) {
        for (const PortEntry& member : members) {
            if (member.pid == *primaryPID)
                return member;
        }
    }
    return members.constFirst();
}

QString PortGroup::id() const
{
    return QString::number(port) + u'-' + QString::number(primary().pid);
}

namespace {

class UnionFind
{
public:
    explicit UnionFind(qsizetype size) : m_parent(size) { std::iota(m_parent.begin(), m_parent.end(), 0); }

    qsizetype find(qsizetype position)
    {
        qsizetype root = position;
        while (m_parent[root] != root)
            root = m_parent[root];
        while (m_parent[position] != root) {
            const qsizetype next = m_parent[position];
            m_parent[position] = root;
            position = next;
        }
        return root;
    }

    void unite(qsizetype a, qsizetype b)
    {
        const qsizetype rootA = find(a);
        const qsizetype rootB = find(b);
        m_parent[rootA] = rootB;
    }

private:
    QList<qsizetype> m_parent;
};

// Joins every two entries that share a socket, are parent and child, or are
// siblings, through maps keyed by device and parent pid: linear in the
// bucket, where comparing every pair was quadratic. Works on positions in
// `entries`, so nothing is copied until the groups are built.
QList<QList<qsizetype>> clusters(const QList<PortEntry>& entries, const QList<qsizetype>& bucket)
{
    if (bucket.size() == 1)
        return {bucket};
    UnionFind sets(bucket.size());
    QHash<QString, qsizetype> firstWithDevice;
    QHash<qint64, qsizetype> firstChildOf;
    for (qsizetype i = 0; i < bucket.size(); ++i) {
        const PortEntry& entry = entries[bucket[i]];
        for (const QString& device : entry.devices) {
            const auto found = firstWithDevice.constFind(device);
            if (found == firstWithDevice.cend())
                firstWithDevice.insert(device, i);
            else
                sets.unite(i, *found);
        }
        if (entry.ppid != 0) {
            const auto sibling = firstChildOf.constFind(entry.ppid);
            if (sibling == firstChildOf.cend())
                firstChildOf.insert(entry.ppid, i);
            else
                sets.unite(i, *sibling);
        }
    }
    // Every entry of a parent pid joins that parent's children.
    for (qsizetype i = 0; i < bucket.size(); ++i) {
        const auto child = firstChildOf.constFind(entries[bucket[i]].pid);
        if (child != firstChildOf.cend())
            sets.unite(i, *child);
    }
    QList<qsizetype> clusterOfRoot(bucket.size(), -1);
    QList<QList<qsizetype>> result;
    for (qsizetype i = 0; i < bucket.size(); ++i) {
        qsizetype& cluster = clusterOfRoot[sets.find(i)];
        if (cluster < 0) {
            cluster = result.size();
            result.append(QList<qsizetype>{});
        }
        result[cluster].append(bucket[i]);
    }
    return result;
}

// The member whose parent lies outside the cluster, smallest pid first.
qint64 rootPID(const QList<PortEntry>& entries, const QList<qsizetype>& cluster)
{
    QSet<qint64> pids;
    pids.reserve(cluster.size());
    for (const qsizetype member : cluster)
        pids.insert(entries[member].pid);
    std::optional<qint64> smallestRoot;
    qint64 smallest = entries[cluster.constFirst()].pid;
    for (const qsizetype member : cluster) {
        const PortEntry& entry = entries[member];
        smallest = std::min(smallest, entry.pid);
        const bool isRoot = entry.ppid == 0 || !pids.contains(entry.ppid);
        if (isRoot && (!smallestRoot || entry.pid < *smallestRoot))
            smallestRoot = entry.pid;
    }
    return smallestRoot.value_or(smallest);
}

} // namespace

QList<PortGroup> PortGroup::group(const QList<PortEntry>& entries)
{
    QList<qint64> portOrder;
    QHash<qint64, QList<qsizetype>> buckets;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        auto bucket = buckets.find(entries[i].port);
        if (bucket == buckets.end()) {
            portOrder.append(entries[i].port);
            bucket = buckets.insert(entries[i].port, {});
        }
        bucket->append(i);
    }

    QList<PortGroup> groups;
    for (qint64 port : std::as_const(portOrder)) {
        const QList<QList<qsizetype>> portClusters = clusters(entries, buckets.value(port));
        for (QList<qsizetype> cluster : portClusters) {
            std::optional<qint64> primaryPID;
            if (cluster.size() >= 2)
                primaryPID = rootPID(entries, cluster);
            std::stable_sort(cluster.begin(), cluster.end(), [&](qsizetype a, qsizetype b) {
                const bool aPrimary = primaryPID && entries[a].pid == *primaryPID;
                const bool bPrimary = primaryPID && entries[b].pid == *primaryPID;
                if (aPrimary != bPrimary)
                    return aPrimary;
                return entries[a].pid < entries[b].pid;
            });
            QList<PortEntry> members;
            members.reserve(cluster.size());
            for (const qsizetype member : std::as_const(cluster))
                members.append(entries[member]);
            groups.append(PortGroup{port, std::move(members), primaryPID, portClusters.size() != 1});
        }
    }

    std::stable_sort(groups.begin(), groups.end(), [](const PortGroup& a, const PortGroup& b) {
        if (a.port != b.port)
            return a.port < b.port;
        return a.primary().pid < b.primary().pid;
    });
    return groups;
}

} // namespace varlo
