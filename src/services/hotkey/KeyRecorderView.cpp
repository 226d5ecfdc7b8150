#include "services/hotkey/KeyRecorderView.h"

#include "services/hotkey/KeyRecorderButton.h"

#include <QHBoxLayout>

namespace varlo {

KeyRecorderView::KeyRecorderView(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_button = new KeyRecorderButton(this);
    layout->addWidget(m_button);
    refreshButton();
}

void KeyRecorderView::setCombo(const KeyCombo& combo)
{
    if (combo != m_combo) {
        m_combo = combo;
        emit comboChanged(m_combo);
    }
    refreshButton();
}

void KeyRecorderView::refreshButton()
{
    if (!m_button || m_button->isRecording())
        return;
    m_button->setCombo(m_combo);
    m_button->updateTitle();
    const QPointer<KeyRecorderView> self(this);
    m_button->setOnComboChanged([self](const KeyCombo& recorded) {
        if (self)
            self->writeRecorded(recorded);
    });
}

void KeyRecorderView::writeRecorded(const KeyCombo& combo)
{
    if (combo != m_combo) {
        m_combo = combo;
        emit comboChanged(m_combo);
    }
    if (m_button) {
        m_button->setCombo(combo);
        m_button->updateTitle();
    }
    emit comboRecorded(combo);
}

} // namespace varlo
