// The settings window on each of its tabs, over a history with live and past ports.

#include "ScreenshotRegistry.h"
#include "ScriptedMachine.h"
#include "monitor/PortMonitor.h"
#include "services/LoginItem.h"
#include "services/PortNotifier.h"
#include "settings/AppSettings.h"
#include "views/SettingsView.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

using namespace varlo;
using namespace Qt::StringLiterals;

namespace {

// A desktop that refuses notifications.
class RefusingNotifier : public PortNotifier
{
public:
    RefusingNotifier() : PortNotifier(QDBusConnection(QString())) {}

protected:
    QCoro::Task<AuthorizationStatus> authorizationStatus() override { co_return AuthorizationStatus::denied; }
};

// What the window works on: settings, a monitor whose history has live and past ports.
class Backdrop : public QObject
{
public:
    Backdrop() : m_loginItem(m_dir.filePath(u"config"_s), QCoreApplication::applicationFilePath())
    {
        m_settings.setHotkey(KeyCombo{40, CarbonModifier::Control | CarbonModifier::Option});
        m_settings.setExcludedPorts({5000, 7000, 8443});
        const ReferenceTime now = currentReferenceTime();
        // Loading marks every entry past; the scan below brings two back.
        const QList<PortHistoryEntry> earlier{
            {3000, u"node"_s, now - 2 * 86400, now - 60, false},
            {5173, u"vite"_s, now - 3600, now - 60, false},
            {8080, u"java"_s, now - 7200, now - 300, false},
            {4000, u"ruby"_s, now - 90000, now - 7200, false},
        };
        QFile file(m_dir.filePath(u"port-history.json"_s));
        if (file.open(QIODevice::WriteOnly))
            file.write(PortHistory::encode(earlier));
        file.close();
        MonitorServices services = MonitorServices::system();
        services.historyFile = file.fileName();
        m_monitor = std::make_unique<PortMonitor>(m_settings, std::move(services));
        m_monitor->history().waitForLoad();
        m_monitor->history().record({test::listener(3000, 3000, u"node"_s), test::listener(5173, 5173, u"vite"_s)});
    }

    SettingsContext context()
    {
        return SettingsContext{&m_settings, m_monitor.get(), nullptr, {}, nullptr, &m_loginItem, &m_notifier};
    }

    // Notifications on but refused, and a login item that cannot be written.
    void refuse()
    {
        m_settings.setNotifyOnNewPort(true);
        QFile blocker(m_dir.filePath(u"config"_s));
        blocker.open(QIODevice::WriteOnly);
    }

private:
    QTemporaryDir m_dir;
    MemoryDefaultsStore m_store;
    AppSettings m_settings{m_store};
    LoginItem m_loginItem;
    RefusingNotifier m_notifier;
    std::unique_ptr<PortMonitor> m_monitor;
};

std::unique_ptr<SettingsView> settingsOn(int tab, bool refusing = false)
{
    auto* backdrop = new Backdrop;
    if (refusing)
        backdrop->refuse();
    auto view = std::make_unique<SettingsView>(backdrop->context());
    // Its last child, so it goes after the tabs that use it.
    backdrop->setParent(view.get());
    view->setCurrentIndex(tab);
    return view;
}

// Shown and given time to settle: a wrapped text takes a second layout pass to reach its height.
std::unique_ptr<QWidget> settled(std::unique_ptr<SettingsView> view)
{
    view->show();
    QTest::qWait(50);
    return view;
}

const screenshots::Registration ports(u"settings-ports"_s, [] { return settled(settingsOn(0)); });
const screenshots::Registration general(u"settings-general"_s, [] { return settled(settingsOn(1)); });
const screenshots::Registration history(u"settings-history"_s, [] { return settled(settingsOn(2)); });
const screenshots::Registration about(u"settings-about"_s, [] { return settled(settingsOn(3)); });

// The General tab's two warnings.
const screenshots::Registration generalWarnings(u"settings-general-warnings"_s, [] {
    auto view = settingsOn(1, true);
    view->findChild<QCheckBox*>(u"launchAtLogin"_s)->click();
    return settled(std::move(view));
});

// The Ports tab's two error texts.
const screenshots::Registration portErrors(u"settings-ports-errors"_s, [] {
    auto view = settingsOn(0);
    auto* range = view->findChild<QLineEdit*>(u"monitoredRange"_s);
    range->selectAll();
    QTest::keyClicks(range, u"9999-3000"_s);
    auto* port = view->findChild<QLineEdit*>(u"newPort"_s);
    QTest::keyClicks(port, u"70000"_s);
    QTest::keyClick(port, Qt::Key_Return);
    return settled(std::move(view));
});

} // namespace
