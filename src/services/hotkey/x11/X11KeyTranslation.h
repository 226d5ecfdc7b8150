#pragma once

#include <QtGlobal>
#include <optional>

namespace varlo::x11 {

// Between the stored key codes and X keysyms (letters as their lower-case keysym).
std::optional<quint32> keysymForKeyCode(quint32 keyCode);
// Upper-case letter keysyms name the same key as their lower-case ones.
std::optional<quint32> keyCodeForKeysym(quint32 keysym);

// Which X modifier bits Alt and Super sit on; these are the usual ones and are
// looked up from the server's modifier map when grabbing.
struct ModifierMasks
{
    quint16 alt = 0x08;   // Mod1
    quint16 super = 0x40; // Mod4
};

inline constexpr quint16 shiftMask = 0x01;
inline constexpr quint16 lockMask = 0x02;
inline constexpr quint16 controlMask = 0x04;

// The X modifier mask for a stored one: command is Super, option is Alt;
// bits outside the four modifiers are dropped.
quint16 xModifiersForCarbon(quint32 carbonModifiers, const ModifierMasks& masks);

} // namespace varlo::x11
