#pragma once

#include "settings/KeyCombo.h"

#include <QLoggingCategory>
#include <QString>
#include <functional>
#include <memory>

namespace varlo {

Q_DECLARE_LOGGING_CATEGORY(lcHotkey)

// The desktop's way of delivering one system-wide shortcut to this process.
class HotkeyBackend
{
public:
    enum class GrabResult
    {
        Grabbed,
        Refused,        // the display server said no, usually because another program holds the combo
        Untranslatable, // the key has no counterpart on this desktop
        Unavailable,    // no display server that supports global shortcuts
    };

    virtual ~HotkeyBackend() = default;

    // Starts delivering presses of the grabbed combo to `onPressed`, which the
    // backend calls from its event dispatch on the main thread.
    virtual void installListener(std::function<void()> onPressed) = 0;
    virtual void removeListener() = 0;

    // Takes `combo` system-wide; the caller releases any earlier grab first. `detail`
    // receives a reason when the result is not Grabbed.
    virtual GrabResult grab(const KeyCombo& combo, QString* detail) = 0;
    virtual void release() = 0;
};

// The backend for the desktop this process runs on; a null one where there is none.
std::unique_ptr<HotkeyBackend> createHotkeyBackend();
// The same for a session that is (`wayland`) or is not on Wayland, which prefers
// the desktop portal to an X11 grab that fires only while an X11 window has focus.
std::unique_ptr<HotkeyBackend> createHotkeyBackend(bool wayland);

} // namespace varlo
