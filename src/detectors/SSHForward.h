#pragma once

#include "process/ProcessDetail.h"

#include <QList>
#include <QString>
#include <optional>

namespace varlo {

// One `ssh -L` forward, each field exactly as written on the command line.
struct SSHForward
{
    QString localPort;
    QString remoteHost;
    QString remotePort;

    bool operator==(const SSHForward&) const = default;
};

// "port:host:hostport" or "bind:port:host:hostport"; any other shape gives nothing.
std::optional<SSHForward> parseForwardSpec(const QString& spec);

// The local forwards of an `ssh` client's command line, in order; empty for
// any other command.
QList<SSHForward> sshForwards(const ProcessDetail& detail);

} // namespace varlo
