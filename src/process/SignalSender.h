#pragma once

#include <QtGlobal>
#include <memory>

namespace varlo {

// One process pinned for signalling. Where the platform allows it the process
// is held by a handle rather than by its number, so a later signal cannot hit
// an unrelated process that was given the same pid in the meantime.
class SignalTarget
{
public:
    virtual ~SignalTarget() = default;

    // 0 when the signal was sent, otherwise the errno value (ESRCH: already gone).
    virtual int send(int signal) = 0;
    // True once the process has exited, or when that cannot be checked.
    virtual bool hasExited() = 0;
};

// Seam between the process manager and the kernel, so tests can watch what
// would be signalled.
class SignalSender
{
public:
    virtual ~SignalSender() = default;

    // Pins `pid` before anything is sent to it. Never null.
    virtual std::unique_ptr<SignalTarget> open(qint32 pid) = 0;
};

// Uses pidfds (pidfd_open, pidfd_send_signal, poll for exit) and falls back to
// kill() where the kernel has none. Refuses pid 0, 1, negative pids and our
// own pid outright.
class SystemSignalSender : public SignalSender
{
public:
    enum class Mode
    {
        PreferPidfd,
        KillOnly,
    };

    explicit SystemSignalSender(Mode mode = Mode::PreferPidfd) : m_mode(mode) {}

    std::unique_ptr<SignalTarget> open(qint32 pid) override;

    // True when this system can pin processes by pidfd.
    static bool hasPidfd();

private:
    Mode m_mode;
};

} // namespace varlo
