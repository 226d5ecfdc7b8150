#pragma once

class QWidget;

namespace varlo::x11 {

// False without an X11 connection (Wayland, offscreen).
bool available();
// Whether an XEmbed tray (the _NET_SYSTEM_TRAY selection's owner) runs.
bool systemTrayOwned();
// Whether a compositing manager runs, so translucent windows show as such.
bool compositorRunning();
// Keeps `window` out of (or puts it back into) the taskbar; works before and after mapping.
void setSkipTaskbar(QWidget* window, bool skip);

} // namespace varlo::x11
