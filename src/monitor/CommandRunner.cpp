#include "monitor/CommandRunner.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringDecoder>
#include <algorithm>
#include <limits>

namespace varlo {

namespace {

// Output beyond this is not a listing we can use; treat the run as failed.
constexpr qsizetype maxOutputBytes = 64 * 1024 * 1024;
// How long a tool gets to honour SIGTERM before it is killed outright.
constexpr int terminationGraceMs = 500;

void stopAndReap(QProcess& process)
{
    process.terminate();
    if (!process.waitForFinished(terminationGraceMs)) {
        process.kill();
        process.waitForFinished(terminationGraceMs);
    }
}

CommandResult failed(CommandResult::Outcome outcome)
{
    return CommandResult{outcome, -1, {}};
}

// A run that ended by itself: what it printed, and how it ended.
CommandResult finished(const QProcess& process, const QByteArray& output)
{
    if (output.size() > maxOutputBytes)
        return failed(CommandResult::Outcome::unreadable);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(output);
    if (decoder.hasError())
        return failed(CommandResult::Outcome::unreadable);
    if (process.exitStatus() != QProcess::NormalExit)
        return CommandResult{CommandResult::Outcome::crashed, -1, text.trimmed()};
    return CommandResult{CommandResult::Outcome::exited, process.exitCode(), text.trimmed()};
}

} // namespace

CommandResult runCommandWithOutcome(const QString& executable, const QStringList& arguments, double timeout)
{
    // A limit that is not a positive number leaves the tool no time at all. (A negative one
    // would make QDeadlineTimer wait forever, and NaN cannot be converted.) Huge limits are capped
    // so that the millisecond waits below fit an int.
    if (executable.isEmpty() || !(timeout > 0))
        return failed(CommandResult::Outcome::notStarted);
    const double limitMs = std::min(timeout * 1000.0, static_cast<double>(std::numeric_limits<int>::max()));
    const QDeadlineTimer deadline(static_cast<qint64>(limitMs));

    QProcess process;
    process.setProgram(executable);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(static_cast<int>(deadline.remainingTime()))) {
        // It may have started just after the wait gave up.
        if (process.state() != QProcess::NotRunning)
            stopAndReap(process);
        return failed(CommandResult::Outcome::notStarted);
    }

    QByteArray output;
    while (process.state() != QProcess::NotRunning) {
        if (deadline.hasExpired()) {
            stopAndReap(process);
            return failed(CommandResult::Outcome::timedOut);
        }
        process.waitForReadyRead(static_cast<int>(qMin<qint64>(deadline.remainingTime(), 100)));
        output += process.readAllStandardOutput();
        if (output.size() > maxOutputBytes) {
            stopAndReap(process);
            return failed(CommandResult::Outcome::unreadable);
        }
    }
    output += process.readAllStandardOutput();
    return finished(process, output);
}

QString runCommand(const QString& executable, const QStringList& arguments, double timeout)
{
    return runCommandWithOutcome(executable, arguments, timeout).output;
}

} // namespace varlo
