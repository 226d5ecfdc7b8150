#pragma once

#include <QJsonObject>

namespace varlo {

class AppSettings;
class PortMonitor;

// What one open-panel cycle found, and the settings it ran with, as JSON.
QJsonObject diagnosticReport(const PortMonitor& monitor, const AppSettings& settings);

} // namespace varlo
