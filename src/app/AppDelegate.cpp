#include "app/AppDelegate.h"

#include "app/Alerts.h"
#include "app/PanelController.h"
#include "app/StatusItem.h"
#include "app/TrayHostWatcher.h"
#include "app/X11Desktop.h"
#include "app/ShellLog.h"
#include "services/PortNotifier.h"
#include "services/UpdaterController.h"
#include "services/hotkey/HotkeyRegistrar.h"
#include "settings/AppSettings.h"
#include "views/MenuBarPanelContent.h"
#include "views/SettingsWindow.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

namespace varlo {

AppDelegate::AppDelegate(AppParts parts, QObject* parent) : QObject(parent), m_parts(std::move(parts)) {}

AppDelegate::~AppDelegate()
{
    // The panel holds the content, which draws from the monitor: both go first.
    m_settingsWindow.reset();
    m_panel.reset();
}

void AppDelegate::launch()
{
    AppSettings& settings = *m_parts.settings;

    // 1. The taskbar policy follows showInDock, switched live.
    connect(&settings, &AppSettings::showInDockChanged, this, [this] {
        if (m_settingsWindow)
            applyDockPolicy(m_settingsWindow->window());
    });

    // 2.–3. Clicks on our notifications open the panel; permission is checked when they are on.
    if (PortNotifier* notifier = m_parts.notifier) {
        connect(notifier, &PortNotifier::notificationActivated, this, [this] {
            useActivationToken(std::exchange(m_notificationToken, QString()));
            openPanel();
        });
        m_parts.bus.connect(QString(), QStringLiteral("/org/freedesktop/Notifications"),
                            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActivationToken"),
                            this, SLOT(onActivationToken(uint, QString)));
        m_parts.services.notifyNewPorts = [notifier = QPointer<PortNotifier>(notifier)](
                                              const QList<PortEntry>& entries) {
            if (notifier)
                notifier->notify(entries);
        };
        if (settings.notifyOnNewPort())
            notifier->logAuthorizationAtStartup();
    }

    // 4. The monitor.
    m_monitor = std::make_unique<PortMonitor>(settings, std::move(m_parts.services));

    // 5.–6. The tray icon (once a tray exists) and the panel.
    m_content = new MenuBarPanelContent(*m_monitor);
    m_panel = std::make_unique<PanelController>(*m_monitor, m_content);
    m_panel->setAnchorSource([this] { return panelAnchor(); });
    connect(m_content, &MenuBarPanelContent::closeRequested, m_panel.get(), &PanelController::hidePanel);
    connect(m_content, &MenuBarPanelContent::settingsRequested, this, &AppDelegate::openSettings);
    connect(m_content, &MenuBarPanelContent::quitRequested, this, &AppDelegate::quitRequested);
    connect(m_panel.get(), &PanelController::windowClosed, this, &AppDelegate::quitRequested);
    setupStatusItem();

    // 7.–8. The count in the icon, and the scan loop.
    QPointer<AppDelegate> self(this);
    m_monitor->setOnPortsChanged([self](qint64 count) {
        if (self && self->m_statusItem)
            self->m_statusItem->updateTitle(count);
    });
    m_monitor->start();

    // 9. The global shortcut, when one is set.
    if (!settings.hotkey().isEmpty()) {
        m_parts.hotkeys->registerHotkey(settings.hotkey(), [self] {
            if (self)
                self->togglePopover();
        });
    }

    // 10. The first-run questions, after launch has returned.
    m_prompts = std::make_unique<FirstRunPrompts>(
        settings, *m_parts.alerts, [this] { return m_parts.loginItem.setEnabled(true); }, m_parts.updater);
    QTimer::singleShot(0, this, &AppDelegate::runPrompts);
}

void AppDelegate::runPrompts()
{
    m_panel->setBlocked(true);
    m_prompts->run();
    m_panel->setBlocked(false);
    Q_EMIT ready();
}

void AppDelegate::setupStatusItem()
{
    m_statusItem = new StatusItem(this);
    connect(m_statusItem, &StatusItem::toggleRequested, m_panel.get(), &PanelController::toggleFromTray);
    connect(m_statusItem, &StatusItem::settingsRequested, this, &AppDelegate::openSettings);
    connect(m_statusItem, &StatusItem::quitRequested, this, &AppDelegate::quitRequested);
    connect(m_panel.get(), &PanelController::openChanged, m_statusItem, &StatusItem::setPanelOpen);

    m_trayHosts = new TrayHostWatcher(m_parts.bus, m_parts.xembedTray, this);
    if (m_trayHosts->hostExists()) {
        m_statusItem->create();
        return;
    }
    qCInfo(lcShell, "no tray host yet: the panel opens as a window until one appears");
    connect(m_trayHosts, &TrayHostWatcher::hostAppeared, this, &AppDelegate::onTrayHostAppeared);
    m_panel->setWindowMode(true);
    m_trayHosts->watch();
}

void AppDelegate::onTrayHostAppeared()
{
    m_statusItem->create();
    m_panel->setWindowMode(false);
}

QRect AppDelegate::panelAnchor() const
{
    // XEmbed hosts report the icon; StatusNotifierItem hosts do not, so the click is the anchor.
    const QRect icon = m_statusItem ? m_statusItem->geometry() : QRect();
    if (icon.isValid())
        return icon;
    return QRect(QCursor::pos(), QSize(1, 1));
}

void AppDelegate::onActivationToken(uint, const QString& token)
{
    m_notificationToken = token;
}

void AppDelegate::useActivationToken(const QString& token)
{
    // Qt's Wayland backend reads this variable when it next activates a window.
    if (!token.isEmpty() && QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
}

void AppDelegate::togglePopover()
{
    m_panel->toggle();
}

void AppDelegate::openPanel()
{
    m_panel->showPanel();
}

void AppDelegate::openSettings()
{
    m_panel->makeWayForDialog();
    if (!m_settingsWindow) {
        SettingsContext context;
        context.settings = m_parts.settings;
        context.monitor = m_monitor.get();
        context.hotkeyRegistrar = m_parts.hotkeys;
        QPointer<AppDelegate> self(this);
        context.hotkeyHandler = [self] {
            if (self)
                self->togglePopover();
        };
        context.updater = m_parts.updater && m_parts.updater->isAvailable() ? m_parts.updater : nullptr;
        context.loginItem = &m_parts.loginItem;
        context.notifier = m_parts.notifier;
        m_settingsWindow = std::make_unique<SettingsWindow>(context);
        connect(m_settingsWindow.get(), &SettingsWindow::windowCreated, this, &AppDelegate::applyDockPolicy);
    }
    m_settingsWindow->show();
}

void AppDelegate::applyDockPolicy(QWidget* window)
{
    if (window)
        x11::setSkipTaskbar(window, !m_parts.settings->showInDock());
}

} // namespace varlo
