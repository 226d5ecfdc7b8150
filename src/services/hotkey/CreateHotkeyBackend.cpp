#include "services/hotkey/NullHotkeyBackend.h"
#include "services/hotkey/portal/PortalHotkeyBackend.h"

#include <QGuiApplication>

#if VARLO_X11_HOTKEY
#include "services/hotkey/x11/X11HotkeyBackend.h"
#endif

namespace varlo {

std::unique_ptr<HotkeyBackend> createHotkeyBackend()
{
    return createHotkeyBackend(QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
}

std::unique_ptr<HotkeyBackend> createHotkeyBackend(bool wayland)
{
    if (wayland) {
        if (auto portal = PortalHotkeyBackend::create(QDBusConnection::sessionBus()))
            return portal;
    }
#if VARLO_X11_HOTKEY
    if (auto x11 = X11HotkeyBackend::create())
        return x11;
#endif
    return std::make_unique<NullHotkeyBackend>(
        wayland ? QStringLiteral("this Wayland desktop offers no GlobalShortcuts portal; a desktop shortcut "
                                 "running varlo toggles the panel instead")
                : QStringLiteral("no X11 display (an offscreen platform has no global key grabs)"));
}

} // namespace varlo
