#pragma once

#include <QByteArray>
#include <functional>

namespace varlo {

struct DisplayEnvironment
{
    QByteArray platform; // QT_QPA_PLATFORM
    QByteArray display;  // DISPLAY
    QByteArray waylandDisplay;

    static DisplayEnvironment current();
};

// Whether Qt will find a display to start on. Qt aborts when it finds none;
// we would rather say so in one line.
bool displayAvailable(const DisplayEnvironment& env, const std::function<bool(const QByteArray&)>& x11Reachable);
// Connects to the X server named by `display` and hangs up again.
bool x11DisplayReachable(const QByteArray& display);

inline constexpr char noDisplayMessage[] =
    "varlo: no display to show the tray icon on: neither DISPLAY nor WAYLAND_DISPLAY names a running "
    "display server\n";

} // namespace varlo
