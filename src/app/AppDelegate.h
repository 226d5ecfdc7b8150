#pragma once

#include "app/FirstRunPrompts.h"
#include "monitor/PortMonitor.h"
#include "services/LoginItem.h"

#include <QDBusConnection>
#include <QObject>
#include <memory>

namespace varlo {

class Alerts;
class AppSettings;
class HotkeyRegistrar;
class MenuBarPanelContent;
class PanelController;
class PortNotifier;
class SettingsWindow;
class StatusItem;
class TrayHostWatcher;
class UpdaterController;

// What the application is made of. The pointers must outlive the delegate;
// `updater` and `notifier` may be null.
struct AppParts
{
    AppSettings* settings = nullptr;
    MonitorServices services;
    HotkeyRegistrar* hotkeys = nullptr;
    UpdaterController* updater = nullptr;
    PortNotifier* notifier = nullptr;
    Alerts* alerts = nullptr;
    LoginItem loginItem;
    QDBusConnection bus = QDBusConnection(QString()); // where tray hosts register
    std::function<bool()> xembedTray;                 // whether an XEmbed tray runs
};

// Starts Varlo and ties its parts together: the monitor, the tray icon, the
// panel, the shortcut, notifications, the settings window and the first-run questions.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    explicit AppDelegate(AppParts parts, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The launch sequence; the first-run questions follow from the event loop.
    void launch();

    // Opens the panel, or closes the open one.
    void togglePopover();
    // Opens the panel; an open one stays open.
    void openPanel();
    // Lets the next window activation use a launcher's or notification server's
    // token, without which a Wayland compositor may refuse Varlo the focus.
    void useActivationToken(const QString& token);
    void openSettings();

    PortMonitor* monitor() const { return m_monitor.get(); }
    PanelController* panel() const { return m_panel.get(); }

Q_SIGNALS:
    // Launch has finished and the first-run questions are answered.
    void ready();
    void quitRequested();

private Q_SLOTS:
    void onActivationToken(uint id, const QString& token);

private:
    void setupStatusItem();
    void onTrayHostAppeared();
    void applyDockPolicy(QWidget* window);
    void runPrompts();
    QRect panelAnchor() const;

    AppParts m_parts;
    std::unique_ptr<PortMonitor> m_monitor;
    StatusItem* m_statusItem = nullptr;
    TrayHostWatcher* m_trayHosts = nullptr;
    MenuBarPanelContent* m_content = nullptr;
    std::unique_ptr<PanelController> m_panel;
    std::unique_ptr<SettingsWindow> m_settingsWindow;
    std::unique_ptr<FirstRunPrompts> m_prompts;
    QString m_notificationToken; // sent by the server just before the click it belongs to
};

} // namespace varlo
