#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace varlo {

// How one tool run ended, for callers that must tell a failed run from one
// that found nothing.
struct CommandResult
{
    enum class Outcome
    {
        exited,     // ended by itself; `exitCode` is set
        notStarted, // missing, not executable, or no time allowed
        timedOut,   // ended by us after the limit
        crashed,    // ended by a signal from elsewhere
        unreadable, // output over the cap or not valid UTF-8
    };

    Outcome outcome = Outcome::notStarted;
    int exitCode = -1;
    QString output; // trimmed standard output of a run that ended by itself, else empty

    bool exited() const { return outcome == Outcome::exited; }
};

// Runs `executable` (an absolute path) with `arguments`, no shell involved.
// Standard output is decoded as strict UTF-8 and trimmed; standard error is
// discarded. Blocks the calling thread for at most about `timeout` seconds plus
// a short kill grace; a limit that is not a positive number runs nothing.
// Safe to call from several threads at once. Never call it on the main thread.
CommandResult runCommandWithOutcome(const QString& executable, const QStringList& arguments, double timeout);

// The output of a run that ended by itself, whatever its status; empty text on
// any other failure. For callers to whom a failure and an empty answer are alike.
QString runCommand(const QString& executable, const QStringList& arguments, double timeout);

// Seams for the services that run tools, so tests can script tool output.
using CommandRunner = std::function<QString(const QString&, const QStringList&, double)>;
using OutcomeRunner = std::function<CommandResult(const QString&, const QStringList&, double)>;

inline CommandRunner systemCommandRunner()
{
    return &runCommand;
}

inline OutcomeRunner systemOutcomeRunner()
{
    return &runCommandWithOutcome;
}

} // namespace varlo
