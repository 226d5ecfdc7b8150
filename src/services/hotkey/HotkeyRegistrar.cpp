#include "services/hotkey/HotkeyRegistrar.h"

#include "services/hotkey/NullHotkeyBackend.h"

#include <QMetaObject>

namespace varlo {

// Under the application id, like the other diagnostics.
Q_LOGGING_CATEGORY(lcHotkey, "app.varlo.Varlo.hotkey", QtInfoMsg)

HotkeyRegistrar::HotkeyRegistrar(QObject* parent) : HotkeyRegistrar(createHotkeyBackend(), parent) {}

HotkeyRegistrar::HotkeyRegistrar(std::unique_ptr<HotkeyBackend> backend, QObject* parent)
    : QObject(parent), m_backend(std::move(backend))
{
    if (!m_backend)
        m_backend = std::make_unique<NullHotkeyBackend>(QStringLiteral("no backend"));
}

HotkeyRegistrar::~HotkeyRegistrar()
{
    unregister();
    if (m_listenerInstalled)
        m_backend->removeListener();
    m_handler = nullptr;
}

bool HotkeyRegistrar::registerHotkey(const KeyCombo& combo, Handler handler)
{
    unregister();
    if (combo.isEmpty())
        return false;
    m_handler = std::move(handler);

    const QString shown = combo.displayString();
    // A combo without control, option or command would take an ordinary key
    // away from every program; the recorder never produces one, so only a
    // damaged setting can.
    if (!(combo.modifiers & (CarbonModifier::Control | CarbonModifier::Option | CarbonModifier::Command))) {
        qCWarning(lcHotkey).noquote()
            << "Global shortcut" << shown << "not registered: it needs control, option or command";
        return false;
    }

    if (!m_listenerInstalled) {
        m_backend->installListener([this] { onPressed(); });
        m_listenerInstalled = true;
    }

    QString detail;
    switch (m_backend->grab(combo, &detail)) {
    case HotkeyBackend::GrabResult::Grabbed:
        m_registered = combo;
        qCDebug(lcHotkey).noquote() << "Global shortcut" << shown << "registered";
        return true;
    case HotkeyBackend::GrabResult::Refused:
        qCWarning(lcHotkey).noquote()
            << "Global shortcut" << shown << "refused by the display server:" << detail;
        break;
    case HotkeyBackend::GrabResult::Untranslatable:
        qCWarning(lcHotkey).noquote()
            << "Global shortcut" << shown << "cannot be typed on this desktop:" << detail;
        break;
    case HotkeyBackend::GrabResult::Unavailable:
        qCInfo(lcHotkey).noquote() << "Global shortcut" << shown << "not registered:" << detail;
        break;
    }
    return false;
}

void HotkeyRegistrar::unregister()
{
    if (!m_registered)
        return;
    m_backend->release();
    m_registered.reset();
}

void HotkeyRegistrar::onPressed()
{
    // The backend calls this from inside its event dispatch; the handler may
    // open windows or re-register, so it runs later on the main loop. A
    // registrar destroyed in between takes the pending call with it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            const Handler handler = m_handler; // the handler may replace itself
            if (handler)
                handler();
        },
        Qt::QueuedConnection);
}

} // namespace varlo
