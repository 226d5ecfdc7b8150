#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <optional>

namespace varlo {

// What /proc/<pid>/stat says about a process that matters here.
struct ProcStat
{
    QString name; // the kernel's command name, at most 15 bytes
    qint64 ppid = 0;
    quint64 startTicks = 0; // start time after boot, in clock ticks: tells a reused pid apart
    bool operator==(const ProcStat&) const = default;
};

// One process that holds a socket, identified across pid reuse.
struct SocketOwner
{
    qint64 pid = 0;
    quint64 startTicks = 0;
    bool operator==(const SocketOwner&) const = default;
};

// What a walk of /proc/<pid>/fd found for the sockets asked about.
struct OwnerWalk
{
    QHash<quint64, QList<SocketOwner>> owners; // inode -> every process holding it
    // Some process's descriptors could not be read (another user's, or the
    // walk ran out of time), so a socket missing from `owners` may be theirs.
    bool complete = true;
    // docker-proxy processes by the host port of their command line: their
    // arguments stay readable when their descriptors are not.
    QHash<quint16, SocketOwner> proxies;
};

// Small readers of /proc; every one copes with the process vanishing meanwhile.
namespace procfs {

// Parses the text of /proc/<pid>/stat; the name may hold spaces and parentheses.
std::optional<ProcStat> parseStat(const QByteArray& text);
std::optional<ProcStat> readStat(qint64 pid);
// The target of /proc/<pid>/<link> (exe, cwd), empty when unreadable.
QString readLink(qint64 pid, const char* link);
// The arguments of /proc/<pid>/cmdline, empty when unreadable.
QStringList readArguments(qint64 pid);
// The pids under /proc, in directory order.
QList<qint64> listPIDs();
// Which processes hold the socket inodes in `wanted`, and where the
// docker-proxy processes listen. Stops at `deadlineMs` and reports the walk
// incomplete.
OwnerWalk walkSocketOwners(const QSet<quint64>& wanted, qint64 deadlineMs = 2000);
// Whether any process we can see has the command name `name` (as `pgrep -x` matches).
bool anyProcessNamed(const QString& name);
// The login name of `uid`, or its number when it has none.
QString userName(quint32 uid);
// The host port of a docker-proxy command line ("-host-port 8080").
std::optional<quint16> dockerProxyHostPort(const QStringList& arguments);

} // namespace procfs

} // namespace varlo
