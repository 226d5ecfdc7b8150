#pragma once

#include "services/hotkey/HotkeyBackend.h"

namespace varlo {

// Stands in where no global shortcut can be taken: every grab is Unavailable.
class NullHotkeyBackend final : public HotkeyBackend
{
public:
    explicit NullHotkeyBackend(QString reason) : m_reason(std::move(reason)) {}

    void installListener(std::function<void()>) override {}
    void removeListener() override {}
    GrabResult grab(const KeyCombo&, QString* detail) override
    {
        if (detail)
            *detail = m_reason;
        return GrabResult::Unavailable;
    }
    void release() override {}

private:
    QString m_reason;
};

} // namespace varlo
