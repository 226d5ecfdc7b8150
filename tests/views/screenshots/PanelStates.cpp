// The tray panel in its scripted states: scanning, empty, a full list with
// every kind of row, and the list with the history shown.

#include "ScreenshotRegistry.h"
#include "PanelTestSupport.h"
#include "views/MenuBarPanelContent.h"
#include "views/MenubarView.h"
#include "views/PortListView.h"

#include <QToolButton>
#include <QVBoxLayout>

using namespace varlo;
using namespace varlo::test;

namespace {

// Keeps the scripted machine alive as long as the panel showing it.
class PanelHost : public QWidget
{
public:
    explicit PanelHost(std::unique_ptr<test::ScriptedMachine> machine, QWidget* parent = nullptr)
        : QWidget(parent), m_machine(std::move(machine)), m_content(new MenuBarPanelContent(m_machine->monitor(), this))
    {
        setAttribute(Qt::WA_TranslucentBackground);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        layout->addWidget(m_content);
    }
    ~PanelHost() override { delete m_content; }

    // Shown at its size, with every layout pass the show started done.
    void settle()
    {
        adjustSize();
        show();
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    MenubarView* view() const { return m_content->findChild<MenubarView*>(); }

private:
    std::unique_ptr<test::ScriptedMachine> m_machine;
    MenuBarPanelContent* m_content;
};

QList<PortHistoryEntry> pastPorts()
{
    return {{4321, QStringLiteral("webpack"), minutesAgo(3 * 24 * 60), minutesAgo(5), false},
            {5173, QStringLiteral("vite"), minutesAgo(26 * 60), minutesAgo(2 * 60), false},
            {9229, QStringLiteral("node --inspect"), minutesAgo(50), minutesAgo(40), false}};
}

// Every kind of row: a plain process with an ngrok tunnel, a Cloudflare tunnel,
// a group of three, a port shared by unrelated processes, a container, and an
// SSH client with forwards, expanded.
std::unique_ptr<PanelHost> populatedPanel(bool showHistory)
{
    auto machine = std::make_unique<test::ScriptedMachine>(pastPorts());
    const PortEntry ssh = listener(6006, 7310, QStringLiteral("ssh"), home(QStringLiteral("/ml")));
    machine->ports = {
        listener(3000, 4121, QStringLiteral("node"), home(QStringLiteral("/src/storefront"))),
        listener(4000, 4377, QStringLiteral("hugo"), home(QStringLiteral("/src/blog"))),
        ssh,
        listener(8000, 5120, QStringLiteral("gunicorn"), home(QStringLiteral("/src/api"))),
        listener(8000, 5121, QStringLiteral("gunicorn"), home(QStringLiteral("/src/api")), 5120),
        listener(8000, 5122, QStringLiteral("gunicorn"), home(QStringLiteral("/src/api")), 5120),
        listener(8080, 6001, QStringLiteral("java"), home(QStringLiteral("/src/search"))),
        listener(8080, 6044, QStringLiteral("envoy"), QStringLiteral("/opt/envoy")),
        listener(8443, 0, QString()),
    };
    machine->ports.last().userName = QStringLiteral("root");
    machine->tunnels = {{3000, TunnelInfo{TunnelInfo::Provider::ngrok, QStringLiteral("https://storefront-7f3a.ngrok.app")}},
                        {4000, TunnelInfo{TunnelInfo::Provider::cloudflare,
                                          QStringLiteral("https://blog-preview.trycloudflare.com")}}};
    machine->containers = {{8443, DockerInfo{QStringLiteral("shop-proxy"), QStringLiteral("caddy:2.8-alpine"),
                                             QStringLiteral("Up 3 hours"), QStringLiteral("shop")}}};
    machine->vpn = QStringLiteral("Office WireGuard");
    machine->detail = ProcessDetail{0.4, 7 * 1024 * 1024, 3 * 3600 + 12 * 60,
                                    QStringLiteral("ssh -N -L 6006:localhost:6006 -L 8888:db.internal:5432 gpu-box")};
    if (!machine->scan() || !machine->expand(ssh))
        return nullptr;
    auto host = std::make_unique<PanelHost>(std::move(machine));
    host->view()->list()->setScreenHeight(1200); // a laptop screen, so the list shows whole
    if (showHistory) {
        if (auto* button = host->view()->findChild<QToolButton*>(QStringLiteral("historyButton")))
            button->click();
    }
    host->settle();
    return host;
}

const screenshots::Registration scanning(QStringLiteral("panel-scanning"), [] {
    auto host = std::make_unique<PanelHost>(std::make_unique<test::ScriptedMachine>());
    host->settle();
    return host;
});

const screenshots::Registration empty(QStringLiteral("panel-empty"), []() -> std::unique_ptr<QWidget> {
    auto machine = std::make_unique<test::ScriptedMachine>();
    if (!machine->scan())
        return nullptr;
    auto host = std::make_unique<PanelHost>(std::move(machine));
    host->settle();
    return host;
});

const screenshots::Registration list(QStringLiteral("panel-list"), [] { return populatedPanel(false); });

const screenshots::Registration history(QStringLiteral("panel-history"), [] { return populatedPanel(true); });

} // namespace
