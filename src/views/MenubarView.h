#pragma once

#include "detectors/DockerDetector.h"
#include "detectors/TunnelDetector.h"
#include "monitor/PortEntry.h"
#include "process/ProcessDetail.h"

#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QToolButton;

namespace varlo {

class ElidedLabel;
class KillAllConfirmation;
class PortListView;
class PortMonitor;
class VpnBadge;

// The panel's working surface, 360 wide: a header with the range and the VPN
// badge, then the scanning placeholder, the empty state or the port list
// (with the history under it), then the footer buttons. Everything shown is
// read from the monitor; the only state of its own is whether the history
// and the Kill All question are shown.
class MenubarView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 360;

    // `openNetworkSettings` runs when the VPN badge is clicked.
    MenubarView(PortMonitor& monitor, std::function<void()> openNetworkSettings, QWidget* parent = nullptr);

    bool isHistoryShown() const { return m_showHistory; }
    bool isKillAllConfirmationShown() const;
    // Closes the Kill All question; false when it was not shown.
    bool dismissKillAllConfirmation();
    PortListView* list() const { return m_list; }

Q_SIGNALS:
    void settingsRequested();
    void quitRequested();

private:
    QWidget* buildHeader();
    QWidget* buildPlaceholder();
    QWidget* buildEmptyState();
    QWidget* buildFooter();
    QToolButton* footerButton(int symbol, const QString& title, const char* name);

    void syncHeader();
    void syncList();
    void syncHistory();
    void syncBody();
    void syncFooter();
    void toggleHistory();
    void askKillAll();

    // What the footer shows; it is touched only when this changes.
    struct FooterState
    {
        qsizetype killableGroups = -1;
        bool hasPastEntries = false;
        bool showHistory = false;
        bool operator==(const FooterState&) const = default;
    };

    // The monitor state the list was last built from, entry ids aside.
    struct ShownMachine
    {
        QList<PortEntry> ports;
        TunnelMap tunnels;
        DockerContainers containers;
        std::optional<qint64> expandedPID;
        std::optional<DetailState> detail;
        bool operator==(const ShownMachine& other) const;
    };

    PortMonitor& m_monitor;
    FooterState m_footer;
    std::optional<ShownMachine> m_shown;
    std::function<void()> m_openNetworkSettings;
    bool m_showHistory = false;
    qsizetype m_killableGroups = 0;
    bool m_hasPastEntries = false;

    ElidedLabel* m_rangeText;
    VpnBadge* m_vpnBadge;
    QWidget* m_placeholder;
    QWidget* m_emptyState;
    PortListView* m_list;
    KillAllConfirmation* m_confirmation;
    QToolButton* m_killAllButton;
    QToolButton* m_historyButton;
};

} // namespace varlo
