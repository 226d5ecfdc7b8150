#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace varlo {

// Runs `executable` (an absolute path) with `arguments`, no shell involved, and
// returns its standard output decoded as strict UTF-8 and trimmed. Any failure
// (launch error, time-out, invalid UTF-8, output over the cap) gives empty text;
// the exit status is not examined and standard error is discarded.
// Blocks the calling thread for at most about `timeout` seconds plus a short
// kill grace; a limit that is not a positive number gives empty text at once.
// Safe to call from several threads at once. Never call it on the main thread.
QString runCommand(const QString& executable, const QStringList& arguments, double timeout);

// Seam for the services that run tools, so tests can script tool output.
using CommandRunner = std::function<QString(const QString&, const QStringList&, double)>;

inline CommandRunner systemCommandRunner()
{
    return &runCommand;
}

} // namespace varlo
