#pragma once

#include "app/Alerts.h"
#include "services/LoginItem.h"

#include <functional>

namespace varlo {

class AppSettings;
class UpdaterController;

// The questions of the first launches: start at login, then check for updates.
class FirstRunPrompts
{
public:
    using EnableLogin = std::function<LoginItem::Result()>;

    // `updater` may be null; without a working one there is no updates question.
    FirstRunPrompts(AppSettings& settings, Alerts& alerts, EnableLogin enableLogin, UpdaterController* updater);

    // The questions still due, in order.
    void run();
    void promptLaunchAtLogin();
    void promptAutomaticUpdates();

    static AlertText loginQuestion();
    static AlertText loginFailure(const QString& error);
    static AlertText updatesQuestion();

private:
    AppSettings& m_settings;
    Alerts& m_alerts;
    EnableLogin m_enableLogin;
    UpdaterController* m_updater;
};

} // namespace varlo
