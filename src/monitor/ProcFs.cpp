#include "monitor/ProcFs.h"

#include "monitor/TextParsing.h"

#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <string_view>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace varlo::procfs {

namespace {

// Plain ASCII digits in /proc's own numbers; nothing on anything else or overflow.
std::optional<quint64> parseNumber(std::string_view text)
{
    if (text.empty() || text.size() > 19)
        return std::nullopt;
    quint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<quint64>(c - '0');
    }
    return value;
}

std::string_view view(const QByteArray& bytes)
{
    return {bytes.constData(), static_cast<size_t>(bytes.size())};
}

// Reads a small /proc file in one go; nothing when it is gone or unreadable.
std::optional<QByteArray> readSmallFile(const QByteArray& path, qsizetype limit = 65536)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray text;
    std::array<char, 4096> buffer;
    while (text.size() < limit) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ::close(fd);
            return got == 0 ? std::optional(text) : std::nullopt;
        }
        text.append(buffer.data(), got);
    }
    ::close(fd);
    return text;
}

QByteArray procPath(qint64 pid, const char* leaf)
{
    return "/proc/" + QByteArray::number(pid) + '/' + leaf;
}

std::optional<qint64> pidOf(const char* name)
{
    const std::optional<quint64> pid = parseNumber(name);
    if (!pid || *pid == 0 || *pid > quint64(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return qint64(*pid);
}

// The inode of a "socket:[123]" link target.
std::optional<quint64> socketInode(const char* target, ssize_t length)
{
    constexpr std::string_view prefix = "socket:[";
    const std::string_view text(target, static_cast<size_t>(length));
    if (!text.starts_with(prefix) || !text.ends_with(']'))
        return std::nullopt;
    return parseNumber(text.substr(prefix.size(), text.size() - prefix.size() - 1));
}

} // namespace

std::optional<ProcStat> parseStat(const QByteArray& text)
{
    // "pid (name) state ppid ...": the name ends at the last ")".
    const qsizetype open = text.indexOf('(');
    const qsizetype close = text.lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    const QList<QByteArray> fields = text.mid(close + 2).trimmed().split(' ');
    // After the name: state is field 0, ppid 1, starttime 19.
    if (fields.size() < 20)
        return std::nullopt;
    const std::optional<quint64> ppid = parseNumber(view(fields[1]));
    const std::optional<quint64> start = parseNumber(view(fields[19]));
    if (!ppid || !start || *ppid > quint64(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return ProcStat{QString::fromUtf8(text.mid(open + 1, close - open - 1)), qint64(*ppid), *start};
}

std::optional<ProcStat> readStat(qint64 pid)
{
    const std::optional<QByteArray> text = readSmallFile(procPath(pid, "stat"));
    return text ? parseStat(*text) : std::nullopt;
}

QString readLink(qint64 pid, const char* link)
{
    std::array<char, 4096> target;
    const ssize_t length = ::readlink(procPath(pid, link).constData(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size())
        return {};
    return QString::fromUtf8(target.data(), length);
}

QStringList readArguments(qint64 pid)
{
    const std::optional<QByteArray> text = readSmallFile(procPath(pid, "cmdline"));
    QStringList arguments;
    if (!text)
        return arguments;
    for (const QByteArray& argument : text->split('\0'))
        arguments.append(QString::fromUtf8(argument));
    if (!arguments.isEmpty() && arguments.constLast().isEmpty())
        arguments.removeLast();
    return arguments;
}

QList<qint64> listPIDs()
{
    QList<qint64> pids;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return pids;
    while (const dirent* entry = ::readdir(proc)) {
        if (const std::optional<qint64> pid = pidOf(entry->d_name))
            pids.append(*pid);
    }
    ::closedir(proc);
    return pids;
}

OwnerWalk walkSocketOwners(const QSet<quint64>& wanted, qint64 deadlineMs)
{
    OwnerWalk walk;
    QElapsedTimer clock;
    clock.start();
    std::array<char, 64> target;
    for (const qint64 pid : listPIDs()) {
        if (clock.elapsed() > deadlineMs) {
            walk.complete = false;
            break;
        }
        // The start time first: a pid reused after the walk must not inherit these sockets.
        const std::optional<ProcStat> stat = readStat(pid);
        if (stat && stat->name == u"docker-proxy") {
            if (const std::optional<quint16> port = dockerProxyHostPort(readArguments(pid)))
                walk.proxies.insert(*port, SocketOwner{pid, stat->startTicks});
        }
        const int fdDirectory = ::open(procPath(pid, "fd").constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdDirectory < 0) {
            if (errno == EACCES || errno == EPERM)
                walk.complete = false;
            continue; // gone meanwhile, or a kernel thread
        }
        DIR* fds = ::fdopendir(fdDirectory);
        if (!fds) {
            ::close(fdDirectory);
            continue;
        }
        QList<quint64> held;
        while (const dirent* entry = ::readdir(fds)) {
            if (entry->d_name[0] == '.')
                continue;
            const ssize_t length = ::readlinkat(fdDirectory, entry->d_name, target.data(), target.size());
            if (length <= 0)
                continue;
            const std::optional<quint64> inode = socketInode(target.data(), length);
            if (inode && wanted.contains(*inode))
                held.append(*inode);
        }
        ::closedir(fds);
        // Still the same process after the walk? A pid that died or was reused meanwhile proves nothing.
        if (held.isEmpty() || !stat || readStat(pid) != stat)
            continue;
        for (const quint64 inode : std::as_const(held)) {
            QList<SocketOwner>& owners = walk.owners[inode];
            if (!owners.contains(SocketOwner{pid, stat->startTicks}))
                owners.append(SocketOwner{pid, stat->startTicks});
        }
    }
    return walk;
}

bool anyProcessNamed(const QString& name)
{
    const QList<qint64> pids = listPIDs();
    return std::any_of(pids.cbegin(), pids.cend(), [&](qint64 pid) {
        const std::optional<ProcStat> stat = readStat(pid);
        return stat && stat->name == name;
    });
}

QString userName(quint32 uid)
{
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<size_t>(size > 0 ? size : 16384));
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_name)
        return QString::fromLocal8Bit(result->pw_name);
    return QString::number(uid);
}

std::optional<quint16> dockerProxyHostPort(const QStringList& arguments)
{
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] != u"-host-port" && arguments[i] != u"--host-port")
            continue;
        const std::optional<qint64> port = parseDecimalInteger<qint64>(arguments[i + 1]);
        if (port && *port > 0 && *port <= 65535)
            return static_cast<quint16>(*port);
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace varlo::procfs
