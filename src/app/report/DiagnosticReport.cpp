#include "DiagnosticReport.h"

#include "monitor/PortMonitor.h"
#include "settings/AppSettings.h"

#include <QJsonArray>

namespace varlo {

namespace {

QJsonObject memberJson(const PortEntry& entry)
{
    QStringList devices(entry.devices.cbegin(), entry.devices.cend());
    devices.sort();
    return {
        {QStringLiteral("port"), entry.port},
        {QStringLiteral("pid"), entry.pid},
        {QStringLiteral("ppid"), entry.ppid},
        {QStringLiteral("userName"), entry.userName},
        {QStringLiteral("processName"), entry.processName},
        {QStringLiteral("binaryPath"), entry.binaryPath},
        {QStringLiteral("workingDirectory"), entry.workingDirectory},
        {QStringLiteral("address"),
         entry.address == Address::localhost ? QStringLiteral("localhost") : QStringLiteral("allInterfaces")},
        {QStringLiteral("devices"), QJsonArray::fromStringList(devices)},
    };
}

QJsonObject groupJson(const PortGroup& group)
{
    QJsonArray members;
    for (const PortEntry& member : group.members)
        members.append(memberJson(member));
    return {
        {QStringLiteral("id"), group.id()},
        {QStringLiteral("port"), group.port},
        {QStringLiteral("primaryPID"), group.primaryPID ? QJsonValue(*group.primaryPID) : QJsonValue()},
        {QStringLiteral("sharesPortWithOthers"), group.sharesPortWithOthers},
        {QStringLiteral("members"), members},
    };
}

QJsonObject settingsJson(const AppSettings& settings)
{
    QJsonArray excluded;
    for (qint64 port : settings.excludedPorts())
        excluded.append(port);
    return {
        {QStringLiteral("monitoredRange"), settings.monitoredRange()},
        {QStringLiteral("excludedPorts"), excluded},
        {QStringLiteral("scanInterval"), settings.scanInterval()},
        {QStringLiteral("launchAtLogin"), settings.launchAtLogin()},
        {QStringLiteral("showInDock"), settings.showInDock()},
        {QStringLiteral("notifyOnNewPort"), settings.notifyOnNewPort()},
        {QStringLiteral("hotkey"),
         QJsonObject{{QStringLiteral("keyCode"), qint64(settings.hotkey().keyCode)},
                     {QStringLiteral("modifiers"), qint64(settings.hotkey().modifiers)}}},
        {QStringLiteral("historyRetentionDays"), settings.historyRetentionDays()},
        {QStringLiteral("tunnelDetectionEnabled"), settings.tunnelDetectionEnabled()},
        {QStringLiteral("dockerDetectionEnabled"), settings.dockerDetectionEnabled()},
        {QStringLiteral("ngrokAPIPort"), settings.ngrokAPIPort()},
    };
}

} // namespace

QJsonObject diagnosticReport(const PortMonitor& monitor, const AppSettings& settings)
{
    QJsonArray groups;
    for (const PortGroup& group : PortGroup::group(monitor.ports()))
        groups.append(groupJson(group));

    QJsonObject docker;
    const DockerContainers containers = monitor.dockerContainers();
    for (auto it = containers.cbegin(); it != containers.cend(); ++it) {
        docker.insert(QString::number(it.key()),
                      QJsonObject{{QStringLiteral("containerName"), it->containerName},
                                  {QStringLiteral("image"), it->image},
                                  {QStringLiteral("status"), it->status},
                                  {QStringLiteral("composeProject"),
                                   it->composeProject ? QJsonValue(*it->composeProject) : QJsonValue()}});
    }

    QJsonObject tunnels;
    const TunnelMap tunnelMap = monitor.tunnels();
    for (auto it = tunnelMap.cbegin(); it != tunnelMap.cend(); ++it) {
        tunnels.insert(QString::number(it.key()),
                       QJsonObject{{QStringLiteral("provider"), TunnelInfo::providerName(it->provider)},
                                   {QStringLiteral("publicURL"), it->publicURL}});
    }

    const std::optional<QString> vpn = monitor.vpnName();
    return {
        {QStringLiteral("portSource"), monitor.scannerName()},
        {QStringLiteral("scanFailed"), monitor.lastScanFailed()},
        {QStringLiteral("groups"), groups},
        {QStringLiteral("docker"), docker},
        {QStringLiteral("tunnels"), tunnels},
        {QStringLiteral("vpn"), vpn ? QJsonValue(*vpn) : QJsonValue()},
        {QStringLiteral("settings"), settingsJson(settings)},
    };
}

} // namespace varlo
