#pragma once

#include "settings/KeyCombo.h"

#include <QPushButton>
#include <functional>

namespace varlo {

// A push button that records a global shortcut: a click (or keyboard focus)
// starts recording, the next key press with control, option or command
// becomes the combo, Escape or a second click cancels.
class KeyRecorderButton : public QPushButton
{
    Q_OBJECT

public:
    using ComboCallback = std::function<void(const KeyCombo&)>;

    explicit KeyRecorderButton(QWidget* parent = nullptr);

    KeyCombo combo() const { return m_combo; }
    // Does not redraw; call updateTitle().
    void setCombo(const KeyCombo& combo) { m_combo = combo; }
    // Called after the user recorded a new combo.
    void setOnComboChanged(ComboCallback callback) { m_onComboChanged = std::move(callback); }
    bool isRecording() const { return m_recording; }

    // Title and text colour for the current state.
    void updateTitle();

    static QString recordingTitle();
    static QString emptyTitle();

protected:
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void recordKey(const QKeyEvent& event);
    void startRecording();
    void endRecording();

    KeyCombo m_combo;
    ComboCallback m_onComboChanged;
    bool m_recording = false;
    bool m_settingPalette = false;
};

} // namespace varlo
