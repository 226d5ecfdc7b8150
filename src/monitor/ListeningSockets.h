#pragma once

#include <QList>
#include <functional>
#include <optional>

namespace varlo {

// One listening TCP socket as the kernel reports it.
struct ListeningSocket
{
    quint16 port = 0;
    bool loopback = false; // bound to 127.0.0.1 or ::1 exactly
    quint32 uid = 0;
    quint64 inode = 0;
    bool operator==(const ListeningSocket&) const = default;
};

// The kernel's listening sockets, or nothing when it would not say.
using SocketLister = std::function<std::optional<QList<ListeningSocket>>()>;

// One NETLINK_SOCK_DIAG dump of the TCP sockets in LISTEN state, IPv4 and
// IPv6. Nothing when netlink is refused (no kernel support, a seccomp
// filter), fails mid-dump, or would exceed `maxSockets`. Blocks briefly.
std::optional<QList<ListeningSocket>> dumpListeningSockets();

constexpr qsizetype maxListeningSockets = 1 << 18;

} // namespace varlo
