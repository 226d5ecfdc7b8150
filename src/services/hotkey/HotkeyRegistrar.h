#pragma once

#include "services/hotkey/HotkeyBackend.h"
#include "settings/KeyCombo.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

namespace varlo {

// Owns the one system-wide shortcut of the application and runs a handler,
// on the main loop, each time it is pressed.
class HotkeyRegistrar : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<void()>;

    // Uses the backend of the running desktop.
    explicit HotkeyRegistrar(QObject* parent = nullptr);
    explicit HotkeyRegistrar(std::unique_ptr<HotkeyBackend> backend, QObject* parent = nullptr);
    ~HotkeyRegistrar() override;

    // Releases the current shortcut and, unless `combo` is empty, takes `combo`
    // for `handler`. True when the shortcut is now active; a refusal is logged
    // and leaves the shortcut silent.
    bool registerHotkey(const KeyCombo& combo, Handler handler);
    // Releases the current shortcut; the handler stays for the next registration.
    void unregister();

    bool isRegistered() const { return m_registered.has_value(); }
    std::optional<KeyCombo> registeredCombo() const { return m_registered; }
    bool isListenerInstalled() const { return m_listenerInstalled; }

private:
    void onPressed();

    std::unique_ptr<HotkeyBackend> m_backend;
    std::optional<KeyCombo> m_registered;
    bool m_listenerInstalled = false;
    Handler m_handler;
};

} // namespace varlo
