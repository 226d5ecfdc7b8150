#pragma once

#include "settings/KeyCombo.h"

#include <QPointer>
#include <QWidget>

namespace varlo {

class KeyRecorderButton;

// Holds one KeyRecorderButton bound to a combo: setCombo() brings in the
// bound value, comboRecorded() hands back what the user recorded.
class KeyRecorderView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(varlo::KeyCombo combo READ combo WRITE setCombo NOTIFY comboChanged)

public:
    explicit KeyRecorderView(QWidget* parent = nullptr);

    KeyCombo combo() const { return m_combo; }
    // A new bound value, or a redraw with the same one. Leaves the button
    // alone while it records, so a redraw cannot overwrite the capture.
    void setCombo(const KeyCombo& combo);

    KeyRecorderButton* button() const { return m_button; }

signals:
    void comboChanged(const varlo::KeyCombo& combo);
    // The user recorded `combo`; comboChanged precedes it when the value differs.
    void comboRecorded(const varlo::KeyCombo& combo);

private:
    void refreshButton();
    void writeRecorded(const KeyCombo& combo);

    KeyCombo m_combo;
    QPointer<KeyRecorderButton> m_button;
};

} // namespace varlo
