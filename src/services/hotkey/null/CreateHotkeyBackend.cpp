#include "services/hotkey/NullHotkeyBackend.h"

namespace varlo {

std::unique_ptr<HotkeyBackend> createHotkeyBackend()
{
    return std::make_unique<NullHotkeyBackend>(
        QStringLiteral("global shortcuts are not supported on this platform"));
}

} // namespace varlo
