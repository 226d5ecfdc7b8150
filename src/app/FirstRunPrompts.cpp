#include "app/FirstRunPrompts.h"

#include "services/UpdaterController.h"
#include "settings/AppSettings.h"

#include <QCoreApplication>

namespace varlo {

namespace {
QString tr(const char* text)
{
    return QCoreApplication::translate("FirstRunPrompts", text);
}
} // namespace

FirstRunPrompts::FirstRunPrompts(AppSettings& settings, Alerts& alerts, EnableLogin enableLogin,
                                 UpdaterController* updater)
    : m_settings(settings), m_alerts(alerts), m_enableLogin(std::move(enableLogin)), m_updater(updater)
{
}

AlertText FirstRunPrompts::loginQuestion()
{
    return {tr("Launch Varlo at login?"),
            tr("Varlo can start automatically when you log in so it's always watching your ports. "
               "You can change this anytime in Settings → General.")};
}

AlertText FirstRunPrompts::loginFailure(const QString& error)
{
    return {tr("Couldn't enable Launch at Login"), error};
}

AlertText FirstRunPrompts::updatesQuestion()
{
    return {tr("Check for updates automatically?"),
            tr("Varlo can check its update server for new versions and let you install them with one click. "
               "You can change this anytime in Settings → Updates.")};
}

void FirstRunPrompts::run()
{
    if (!m_settings.hasShownLoginPrompt()) {
        promptLaunchAtLogin();
        promptAutomaticUpdates();
    } else if (!m_settings.hasShownUpdatePrompt()) {
        promptAutomaticUpdates();
    }
}

void FirstRunPrompts::promptLaunchAtLogin()
{
    // Recorded before asking, so a quit during the question does not ask again.
    m_settings.setHasShownLoginPrompt(true);
    if (m_alerts.ask(loginQuestion(), {tr("Launch at Login"), tr("Not Now")}) != 0)
        return;
    const LoginItem::Result result = m_enableLogin();
    if (result.ok)
        m_settings.setLaunchAtLogin(true);
    else
        m_alerts.inform(loginFailure(result.error));
}

void FirstRunPrompts::promptAutomaticUpdates()
{
    if (m_settings.hasShownUpdatePrompt() || !m_updater || !m_updater->isAvailable())
        return;
    m_settings.setHasShownUpdatePrompt(true);
    const bool automatic = m_alerts.ask(updatesQuestion(), {tr("Check Automatically"), tr("Not Now")}) == 0;
    m_updater->setAutomaticallyChecksForUpdates(automatic);
}

} // namespace varlo
