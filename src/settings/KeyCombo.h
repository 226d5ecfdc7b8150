#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace varlo {

// The global shortcut as stored: a macOS virtual key code and a Carbon
// modifier mask. All zero means no shortcut.
struct KeyCombo
{
    quint32 keyCode = 0;
    quint32 modifiers = 0;

    bool isEmpty() const { return keyCode == 0 && modifiers == 0; }

    // JSON object {"keyCode": n, "modifiers": n}.
    QByteArray toJson() const;
    // Absent unless `json` is an object with both members as non-negative integers.
    static std::optional<KeyCombo> fromJson(const QByteArray& json);

    bool operator==(const KeyCombo&) const = default;
};

} // namespace varlo
