#pragma once

#include "monitor/CommandRunner.h"
#include "monitor/ToolPaths.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <qcoro/qcorotask.h>

namespace varlo {

// Names the first connected VPN. Where `scutil` exists its service list is the
// only source; elsewhere NetworkManager's active VPN and WireGuard connections
// are asked first, then the up WireGuard and tun interfaces. Keeps no state.
class VPNDetector
{
public:
    // The system's tools, the real command runner and /sys/class/net.
    VPNDetector();
    VPNDetector(ToolPaths tools, CommandRunner runner, QString netClassRoot);

    // The connection's name, "VPN" when its entry carries no readable name, or
    // nothing when no VPN is connected or every source failed.
    QCoro::Task<std::optional<QString>> detect() const;

    // The text between the first pair of double quotes; nothing when missing or empty.
    static std::optional<QString> quotedName(const QString& line);
    // The first "(Connected)" service of `scutil --nc list` output.
    static std::optional<QString> connectedService(const QString& scutilOutput);
    // The first activated vpn or wireguard connection of
    // `nmcli -t -f NAME,TYPE,STATE connection show --active` output.
    static std::optional<QString> activeNetworkManagerVpn(const QString& nmcliOutput);
    // Splits one line of nmcli's terse output at unescaped colons, undoing the
    // "\:" and "\\" escapes.
    static QStringList terseFields(const QString& line);
    // The first up WireGuard or tun interface under a /sys/class/net-shaped
    // folder, by interface index.
    static std::optional<QString> upTunnelInterface(const QString& netClassRoot);

    static const QStringList scutilArguments;
    static const QStringList nmcliArguments;
    static constexpr double toolTimeout = 8.0;

private:
    ToolPaths m_tools;
    CommandRunner m_runner;
    QString m_netClassRoot;
};

} // namespace varlo
