#include "app/DisplayCheck.h"

#ifdef VARLO_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace varlo {

DisplayEnvironment DisplayEnvironment::current()
{
    return {qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY")};
}

bool displayAvailable(const DisplayEnvironment& env, const std::function<bool(const QByteArray&)>& x11Reachable)
{
    const bool wantsX11 = env.platform.startsWith("xcb");
    const bool wantsWayland = env.platform.startsWith("wayland");
    // Any other platform (offscreen, a VNC server) needs neither variable.
    if (!env.platform.isEmpty() && !wantsX11 && !wantsWayland)
        return true;
    if (!wantsX11 && !env.waylandDisplay.isEmpty())
        return true;
    return !wantsWayland && !env.display.isEmpty() && x11Reachable(env.display);
}

bool x11DisplayReachable(const QByteArray& display)
{
#ifdef VARLO_HAVE_XCB
    xcb_connection_t* connection = xcb_connect(display.constData(), nullptr);
    const bool reachable = connection && xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
#else
    return !display.isEmpty();
#endif
}

} // namespace varlo
