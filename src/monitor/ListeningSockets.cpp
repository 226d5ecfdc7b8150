#include "monitor/ListeningSockets.h"

#include <QElapsedTimer>
#include <array>
#include <cerrno>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace varlo {

namespace {

constexpr int tcpListenState = 10; // TCP_LISTEN in the kernel's numbering
constexpr qint64 dumpDeadlineMs = 3000;

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

bool isLoopback(const inet_diag_msg& message)
{
    const auto* words = message.id.idiag_src;
    if (message.idiag_family == AF_INET)
        return words[0] == htonl(INADDR_LOOPBACK);
    return words[0] == 0 && words[1] == 0 && words[2] == 0 && words[3] == htonl(1);
}

bool request(int fd, unsigned char family)
{
    struct
    {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.header.nlmsg_seq = family;
    message.body.sdiag_family = family;
    message.body.sdiag_protocol = IPPROTO_TCP;
    message.body.idiag_states = 1U << tcpListenState;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return ::sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
           static_cast<ssize_t>(sizeof message);
}

// Reads one family's dump to its end; false on any error.
bool readDump(int fd, QList<ListeningSocket>& sockets, const QElapsedTimer& clock)
{
    alignas(nlmsghdr) std::array<char, 32768> buffer;
    while (clock.elapsed() < dumpDeadlineMs) {
        const ssize_t received = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            return false;
        // The netlink macros cast in C style; the same walk, spelt out.
        size_t offset = 0;
        const auto size = static_cast<size_t>(received);
        while (offset + sizeof(nlmsghdr) <= size) {
            nlmsghdr header;
            std::memcpy(&header, buffer.data() + offset, sizeof header);
            if (header.nlmsg_len < sizeof(nlmsghdr) || offset + header.nlmsg_len > size)
                return false;
            if (header.nlmsg_type == NLMSG_DONE)
                return true;
            if (header.nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                header.nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                return false; // NLMSG_ERROR included
            inet_diag_msg message;
            std::memcpy(&message, buffer.data() + offset + NLMSG_HDRLEN, sizeof message);
            offset += NLMSG_ALIGN(header.nlmsg_len);
            if (message.idiag_state != tcpListenState)
                continue;
            if (sockets.size() >= maxListeningSockets)
                return false;
            sockets.append(
                ListeningSocket{ntohs(message.id.idiag_sport), isLoopback(message), message.idiag_uid, message.idiag_inode});
        }
    }
    return false;
}

} // namespace

std::optional<QList<ListeningSocket>> dumpListeningSockets()
{
    const FileDescriptor fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (fd.get() < 0)
        return std::nullopt;
    // A kernel that never answers must not hold the scan.
    const timeval timeout{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    QElapsedTimer clock;
    clock.start();
    QList<ListeningSocket> sockets;
    for (const unsigned char family : {AF_INET, AF_INET6}) {
        if (!request(fd.get(), family) || !readDump(fd.get(), sockets, clock))
            return std::nullopt;
    }
    return sockets;
}

} // namespace varlo
