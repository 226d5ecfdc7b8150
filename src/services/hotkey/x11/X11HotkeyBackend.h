#pragma once

#include "services/hotkey/HotkeyBackend.h"

#include <QAbstractNativeEventFilter>
#include <QList>
#include <xcb/xcb.h>

namespace varlo {

// Takes the shortcut with passive key grabs on the root windows, one for each
// combination of NumLock and CapsLock so that neither lock silences it, and
// sees the presses through a native event filter on Qt's own connection.
class X11HotkeyBackend final : public HotkeyBackend, private QAbstractNativeEventFilter
{
public:
    // Null unless the application runs on an X server (not offscreen, not Wayland).
    static std::unique_ptr<X11HotkeyBackend> create();

    explicit X11HotkeyBackend(xcb_connection_t* connection);
    ~X11HotkeyBackend() override;

    void installListener(std::function<void()> onPressed) override;
    void removeListener() override;
    GrabResult grab(const KeyCombo& combo, QString* detail) override;
    void release() override;

    // How often the event filter went into the event dispatcher.
    int filterInstallCount() const { return m_filterInstalls; }

private:
    struct Grab
    {
        xcb_window_t root;
        xcb_keycode_t keycode;
        quint16 modifiers;
    };

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    bool connectionUsable() const;

    xcb_connection_t* m_connection;
    std::function<void()> m_onPressed;
    bool m_filterInstalled = false;
    int m_filterInstalls = 0;

    QList<Grab> m_grabs;
    QList<xcb_keycode_t> m_keycodes;
    quint16 m_modifiers = 0;
    quint16 m_lockModifiers = 0; // NumLock and CapsLock, ignored when matching
};

} // namespace varlo
