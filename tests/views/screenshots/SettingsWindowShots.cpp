// The settings window on each of its tabs, over a history with live and past ports.

#include "ScreenshotRegistry.h"
#include "monitor/PortMonitor.h"
#include "services/LoginItem.h"
#include "settings/AppSettings.h"
#include "views/SettingsView.h"

#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

using namespace varlo;
using namespace Qt::StringLiterals;

namespace {

// Owns what the window works on, and the window.
class SettingsShot : public QWidget
{
public:
    explicit SettingsShot(int tab)
        : m_loginItem(m_dir.filePath(u"config"_s), QCoreApplication::applicationFilePath())
    {
        m_settings.setHotkey(KeyCombo{40, CarbonModifier::Control | CarbonModifier::Option});
        m_settings.setExcludedPorts({5000, 7000, 8443});
        writeHistory();
        MonitorServices services = MonitorServices::system();
        services.historyFile = m_dir.filePath(u"port-history.json"_s);
        m_monitor = std::make_unique<PortMonitor>(m_settings, std::move(services));
        m_monitor->history().waitForLoad();
        SettingsContext context{&m_settings, m_monitor.get(), nullptr, {}, nullptr, &m_loginItem, nullptr};
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        m_view = new SettingsView(context);
        layout->addWidget(m_view);
        m_view->setCurrentIndex(tab);
    }
    ~SettingsShot() override { delete m_view; }

    SettingsView* view() const { return m_view; }

private:
    void writeHistory()
    {
        const ReferenceTime now = currentReferenceTime();
        const QList<PortHistoryEntry> entries{
            {3000, u"node"_s, now - 2 * 86400, now, true},
            {5173, u"vite"_s, now - 3600, now, true},
            {8080, u"java"_s, now - 7200, now - 300, false},
            {4000, u"ruby"_s, now - 90000, now - 7200, false},
        };
        QFile file(m_dir.filePath(u"port-history.json"_s));
        if (file.open(QIODevice::WriteOnly))
            file.write(PortHistory::encode(entries));
    }

    QTemporaryDir m_dir;
    MemoryDefaultsStore m_store;
    AppSettings m_settings{m_store};
    LoginItem m_loginItem;
    std::unique_ptr<PortMonitor> m_monitor;
    SettingsView* m_view = nullptr;
};

const screenshots::Registration ports(u"settings-ports"_s, [] { return std::make_unique<SettingsShot>(0); });
const screenshots::Registration general(u"settings-general"_s, [] { return std::make_unique<SettingsShot>(1); });
const screenshots::Registration history(u"settings-history"_s, [] { return std::make_unique<SettingsShot>(2); });
const screenshots::Registration about(u"settings-about"_s, [] { return std::make_unique<SettingsShot>(3); });

// The Ports tab's two error texts.
const screenshots::Registration portErrors(u"settings-ports-errors"_s, [] {
    auto shot = std::make_unique<SettingsShot>(0);
    auto* range = shot->view()->findChild<QLineEdit*>(u"monitoredRange"_s);
    range->selectAll();
    QTest::keyClicks(range, u"9999-3000"_s);
    auto* port = shot->view()->findChild<QLineEdit*>(u"newPort"_s);
    QTest::keyClicks(port, u"70000"_s);
    QTest::keyClick(port, Qt::Key_Return);
    return shot;
});

} // namespace
