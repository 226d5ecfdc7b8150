#include "app/Application.h"

#include "app/AppDelegate.h"
#include "app/DisplayCheck.h"
#include "app/QuitSignals.h"
#include "app/ShellLog.h"
#include "app/SingleInstance.h"
#include "app/X11Desktop.h"
#include "services/AppId.h"
#include "services/PortNotifier.h"
#include "services/UpdaterController.h"
#include "services/hotkey/HotkeyRegistrar.h"
#include "settings/AppSettings.h"
#include "settings/DefaultsStore.h"

#include <QApplication>
#include <cstdio>

namespace varlo {

int runApplication(int argc, char* argv[])
{
    if (!displayAvailable(DisplayEnvironment::current(), x11DisplayReachable)) {
        std::fputs(noDisplayMessage, stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varlo"));
    QApplication::setDesktopFileName(QString::fromLatin1(appId));
    QApplication::setQuitOnLastWindowClosed(false);

    const QDBusConnection bus = QDBusConnection::sessionBus();
    SingleInstance instance(bus);
    switch (instance.claim()) {
    case SingleInstance::Claim::running: {
        QString error;
        if (SingleInstance::activateRunning(bus, &error))
            return 0;
        std::fprintf(stderr, "varlo: another Varlo is running but did not answer: %s\n", qPrintable(error));
        return 1;
    }
    case SingleInstance::Claim::noBus:
        qCWarning(lcShell, "no session bus: a second Varlo cannot be told apart from this one");
        break;
    case SingleInstance::Claim::first:
        break;
    }

    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, [](int signal) {
        qCInfo(lcShell, "signal %d: quitting", signal);
        QCoreApplication::quit();
    });

    JsonDefaultsStore store(JsonDefaultsStore::standardFilePath());
    {
        AppSettings settings(store);
        UpdaterController updater(store, UpdaterController::buildConfig());
        HotkeyRegistrar hotkeys;
        PortNotifier notifier(bus);
        MessageBoxAlerts alerts;

        AppParts parts;
        parts.settings = &settings;
        parts.services = MonitorServices::system();
        parts.hotkeys = &hotkeys;
        parts.updater = &updater;
        parts.notifier = &notifier;
        parts.alerts = &alerts;
        parts.bus = bus;
        parts.xembedTray = x11::systemTrayOwned;
        AppDelegate delegate(std::move(parts));
        QObject::connect(&delegate, &AppDelegate::quitRequested, &app, &QCoreApplication::quit);
        QObject::connect(&instance, &SingleInstance::activated, &delegate, [&delegate](const QString& token) {
            delegate.useActivationToken(token);
            delegate.togglePopover();
        });
        delegate.launch();
        QApplication::exec();
        // Leaving this scope ends the monitor, whose history finishes its writes.
    }
    store.flush();
    return 0;
}

} // namespace varlo
