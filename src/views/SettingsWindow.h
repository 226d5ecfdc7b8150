#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

class QWidget;

namespace varlo {

class AppSettings;
class HotkeyRegistrar;
class LoginItem;
class PortMonitor;
class PortNotifier;
class UpdaterController;

// What the settings window works on. The first two are required; the rest may be null
// (tests, builds without an updater), and the window leaves out what they drive.
struct SettingsContext
{
    AppSettings* settings = nullptr;
    PortMonitor* monitor = nullptr;
    HotkeyRegistrar* hotkeyRegistrar = nullptr;
    std::function<void()> hotkeyHandler; // what the shortcut does (toggle the panel)
    UpdaterController* updater = nullptr; // null or unavailable: no Updates section
    const LoginItem* loginItem = nullptr;
    PortNotifier* notifier = nullptr;
};

// One settings window at a time: show() opens it on the first tab, or raises and
// activates the open one. Closing destroys it.
class SettingsWindow : public QObject
{
    Q_OBJECT

public:
    explicit SettingsWindow(SettingsContext context, QObject* parent = nullptr);
    ~SettingsWindow() override;

    void show();
    QWidget* window() const; // the open window, or nullptr

Q_SIGNALS:
    // Before the new window is first shown, so the shell can set its taskbar hint.
    void windowCreated(QWidget* window);

private:
};

} // namespace varlo
