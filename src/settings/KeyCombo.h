#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace varlo {

// Modifier bits of the stored mask (the Carbon hot-key values, kept so that
// stored shortcuts stay portable).
namespace CarbonModifier {
inline constexpr quint32 Command = 0x100;
inline constexpr quint32 Shift = 0x200;
inline constexpr quint32 Option = 0x800;
inline constexpr quint32 Control = 0x1000;
} // namespace CarbonModifier

// Modifier flags of a keyboard event, the input of KeyCombo::carbonModifiers.
namespace EventModifierFlag {
inline constexpr quint64 Shift = 0x20000;
inline constexpr quint64 Control = 0x40000;
inline constexpr quint64 Option = 0x80000;
inline constexpr quint64 Command = 0x100000;
} // namespace EventModifierFlag

// The global shortcut as stored: a macOS virtual key code and a Carbon
// modifier mask. All zero means no shortcut.
struct KeyCombo
{
    quint32 keyCode = 0;
    quint32 modifiers = 0;

    bool isEmpty() const { return keyCode == 0 && modifiers == 0; }

    // Modifier symbols in the order ⌃⌥⇧⌘, then the key's name; empty for the empty combo.
    QString displayString() const;

    // The stored modifier mask for keyboard-event flags; flags other than the four modifiers are ignored.
    static quint32 carbonModifiers(quint64 eventFlags);
    // Label of a virtual key code, "?" for a code without one.
    static QString keyName(quint32 keyCode);
    // Every key code that has a label, ascending.
    static QList<quint32> namedKeyCodes();

    // JSON object {"keyCode": n, "modifiers": n}.
    QByteArray toJson() const;
    // Absent unless `json` is an object with both members as non-negative integers.
    static std::optional<KeyCombo> fromJson(const QByteArray& json);

    bool operator==(const KeyCombo&) const = default;
};

} // namespace varlo
