#include "process/SignalSender.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace varlo {

namespace {

// Sends nothing: for pids that must never be signalled.
class RefusedTarget : public SignalTarget
{
public:
    int send(int) override { return EPERM; }
    bool hasExited() override { return true; }
};

// The process was gone before it could be pinned.
class GoneTarget : public SignalTarget
{
public:
    int send(int) override { return ESRCH; }
    bool hasExited() override { return true; }
};

class KillTarget : public SignalTarget
{
public:
    explicit KillTarget(pid_t pid) : m_pid(pid) {}

    int send(int signal) override { return ::kill(m_pid, signal) == 0 ? 0 : errno; }
    // A zombie still answers here; only a pidfd can tell it apart.
    bool hasExited() override { return ::kill(m_pid, 0) != 0; }

private:
    pid_t m_pid;
};

#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
class PidfdTarget : public SignalTarget
{
public:
    explicit PidfdTarget(int fd) : m_fd(fd) {}
    PidfdTarget(const PidfdTarget&) = delete;
    PidfdTarget& operator=(const PidfdTarget&) = delete;
    ~PidfdTarget() override { ::close(m_fd); }

    int send(int signal) override
    {
        return ::syscall(SYS_pidfd_send_signal, m_fd, signal, nullptr, 0U) == 0 ? 0 : errno;
    }

    // A pidfd turns readable once the process has exited, reaped or not.
    bool hasExited() override
    {
        pollfd entry{m_fd, POLLIN, 0};
        for (int attempt = 0; attempt < 3; ++attempt) {
            const int ready = ::poll(&entry, 1, 0);
            if (ready == 0)
                return false;
            if (ready > 0 || errno != EINTR)
                return true;
        }
        return true;
    }

private:
    int m_fd;
};
#endif

} // namespace

std::unique_ptr<SignalTarget> SystemSignalSender::open(qint32 pid)
{
    if (pid <= 1 || pid == ::getpid())
        return std::make_unique<RefusedTarget>();
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    if (m_mode == Mode::PreferPidfd) {
        const long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0U);
        if (fd >= 0)
            return std::make_unique<PidfdTarget>(static_cast<int>(fd));
        if (errno == ESRCH)
            return std::make_unique<GoneTarget>();
        // ENOSYS on older kernels, EPERM under some seccomp filters: kill() still works.
    }
#endif
    return std::make_unique<KillTarget>(static_cast<pid_t>(pid));
}

bool SystemSignalSender::hasPidfd()
{
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    const long fd = ::syscall(SYS_pidfd_open, ::getpid(), 0U);
    if (fd < 0)
        return false;
    ::close(static_cast<int>(fd));
    return true;
#else
    return false;
#endif
}

} // namespace varlo
