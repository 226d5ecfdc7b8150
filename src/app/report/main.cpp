// varlo-report: one full scan with the user's settings, printed as JSON, for
// bug reports and scripts.
#include "DiagnosticReport.h"
#include "monitor/PortMonitor.h"
#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <cstdio>

using namespace varlo;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varlo-report"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARLO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs one full Varlo scan (process details, Docker, tunnels, VPN) with your settings\n"
                       "and prints what it found as JSON. Attach the output to a bug report."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    JsonDefaultsStore store(JsonDefaultsStore::standardFilePath());
    AppSettings settings(store);

    // A report must not touch the user's port history.
    QTemporaryDir scratch;
    MonitorServices services = MonitorServices::system();
    services.historyFile = scratch.filePath(QStringLiteral("port-history.json"));
    PortMonitor monitor(settings, std::move(services));

    QObject::connect(&monitor, &PortMonitor::isScanningChanged, &app, [&] {
        if (monitor.isScanning() || !monitor.hasLoadedOnce())
            return;
        const QByteArray json =
            QJsonDocument(diagnosticReport(monitor, settings)).toJson(QJsonDocument::Indented);
        std::fwrite(json.constData(), 1, static_cast<size_t>(json.size()), stdout);
        std::fflush(stdout);
        QCoreApplication::exit(monitor.lastScanFailed() ? 1 : 0);
    });
    monitor.setPanelOpen(true); // a full cycle: details and context included
    return QCoreApplication::exec();
}
