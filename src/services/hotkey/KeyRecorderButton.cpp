#include "services/hotkey/KeyRecorderButton.h"

#include "services/hotkey/KeyTranslation.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>

namespace varlo {

namespace {

// The label colour and its secondary and tertiary shades.
constexpr qreal secondaryAlpha = 0.55;
constexpr qreal tertiaryAlpha = 0.3;

} // namespace

KeyRecorderButton::KeyRecorderButton(QWidget* parent) : QPushButton(parent)
{
    // Clicks are handled by hand (a click on a recording button ends it), so
    // only keyboard navigation may focus it on its own.
    setFocusPolicy(Qt::TabFocus);
    setAutoDefault(false);
    updateTitle();
}

QString KeyRecorderButton::recordingTitle()
{
    return QStringLiteral("Type shortcut\u2026");
}

QString KeyRecorderButton::emptyTitle()
{
    return QStringLiteral("Record Shortcut");
}

void KeyRecorderButton::updateTitle()
{
    QColor color = QApplication::palette(this).color(QPalette::ButtonText);
    if (m_recording) {
        setText(recordingTitle());
        color.setAlphaF(secondaryAlpha);
    } else if (!m_combo.isEmpty()) {
        setText(m_combo.displayString());
    } else {
        setText(emptyTitle());
        color.setAlphaF(tertiaryAlpha);
    }
    QPalette shades = palette();
    if (shades.color(QPalette::Active, QPalette::ButtonText) == color &&
        shades.color(QPalette::Inactive, QPalette::ButtonText) == color)
        return;
    shades.setColor(QPalette::Active, QPalette::ButtonText, color);
    shades.setColor(QPalette::Inactive, QPalette::ButtonText, color);
    m_settingPalette = true;
    setPalette(shades);
    m_settingPalette = false;
}

bool KeyRecorderButton::event(QEvent* event)
{
    if (m_recording) {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Keep the window's shortcuts from taking the combo being recorded.
            event->accept();
            return true;
        case QEvent::KeyPress:
            // Before QWidget::event, which would move focus on Tab.
            recordKey(*static_cast<QKeyEvent*>(event));
            event->accept();
            return true;
        default:
            break;
        }
    }
    return QPushButton::event(event);
}

void KeyRecorderButton::recordKey(const QKeyEvent& event)
{
    if (event.key() == Qt::Key_Escape) {
        endRecording();
        return;
    }
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    // Shift alone is not enough; a modifier key pressed on its own is not a key.
    if (!(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return;
    const std::optional<quint32> keyCode = keyCodeForQtKey(event.key(), modifiers);
    if (!keyCode)
        return;
    m_combo =
        KeyCombo{*keyCode, KeyCombo::carbonModifiers(eventFlagsForQtModifiers(modifiers) & ~quint64{0xFFFF})};
    updateTitle();
    const QPointer<KeyRecorderButton> self(this);
    if (const ComboCallback callback = m_onComboChanged)
        callback(m_combo);
    if (self)
        endRecording();
}

void KeyRecorderButton::endRecording()
{
    clearFocus();
    // Without focus to lose (an inactive window) there is no focus-out event.
    if (m_recording) {
        m_recording = false;
        updateTitle();
    }
}

void KeyRecorderButton::startRecording()
{
    if (m_recording)
        return;
    m_recording = true;
    updateTitle();
}

void KeyRecorderButton::focusInEvent(QFocusEvent* event)
{
    QPushButton::focusInEvent(event);
    // A window that becomes active hands focus to its first widget, which may
    // be this one; that is not the user asking to record.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    startRecording();
}

void KeyRecorderButton::focusOutEvent(QFocusEvent* event)
{
    QPushButton::focusOutEvent(event);
    // The button stays its window's focus widget while another window is
    // active or a popup is open; recording goes on when the window returns.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    if (m_recording) {
        m_recording = false;
        updateTitle();
    }
}

void KeyRecorderButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QPushButton::mousePressEvent(event);
        return;
    }
    event->accept();
    if (m_recording)
        endRecording();
    else if (hasFocus())
        startRecording();
    else
        setFocus(Qt::MouseFocusReason);
}

void KeyRecorderButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QPushButton::mouseReleaseEvent(event);
        return;
    }
    // The click never triggers the button's action.
    event->accept();
}

void KeyRecorderButton::hideEvent(QHideEvent* event)
{
    if (m_recording)
        endRecording();
    QPushButton::hideEvent(event);
}

void KeyRecorderButton::changeEvent(QEvent* event)
{
    QPushButton::changeEvent(event);
    if (!m_settingPalette &&
        (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange))
        updateTitle();
}

} // namespace varlo
