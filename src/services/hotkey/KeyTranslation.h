#pragma once

#include <Qt>
#include <optional>

namespace varlo {

// Between the stored key codes and Qt's key events. The stored codes name
// keys by their US-layout label, so a Qt key maps to the code of the key that
// carries that label.

// The virtual key code for a key event's key, also for the shifted symbols of
// the US layout (Ctrl+Shift+1 arrives as Key_Exclam). Absent for keys outside
// the named-key table, including keypad keys and modifier keys on their own.
std::optional<quint32> keyCodeForQtKey(int qtKey, Qt::KeyboardModifiers modifiers);
// The Qt key of a named virtual key code; absent for any other code.
std::optional<Qt::Key> qtKeyForKeyCode(quint32 keyCode);

// Keyboard-event modifier flags (EventModifierFlag) for Qt's modifiers:
// Meta (the Super key) is command, Alt is option.
quint64 eventFlagsForQtModifiers(Qt::KeyboardModifiers modifiers);

} // namespace varlo
