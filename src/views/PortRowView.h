#pragma once

#include "detectors/DockerDetector.h"
#include "detectors/TunnelDetector.h"
#include "monitor/PortEntry.h"
#include "process/ProcessDetail.h"

#include <QWidget>
#include <optional>

class QLabel;
class QToolButton;
class QVBoxLayout;
class QVariantAnimation;

namespace varlo {

class ElidedLabel;
class ChevronView;

// Everything a port row shows. Entry ids are cleared, so two scans of an
// unchanged machine give equal states.
struct PortRowState
{
    PortGroup group;
    std::optional<TunnelInfo> tunnel;
    std::optional<DockerInfo> docker;
    bool isExpanded = false;
    std::optional<DetailState> detailState; // only while expanded

    PortRowState() = default;
    PortRowState(PortGroup group, std::optional<TunnelInfo> tunnel, std::optional<DockerInfo> docker,
                 bool isExpanded, std::optional<DetailState> detailState);

    bool operator==(const PortRowState& other) const;
};

// One port group in the panel's list: port (a copy button), name, badges,
// where it runs, its tunnel and container, and hover-revealed open and kill
// buttons. A click on the row asks to expand it; the detail arrives through
// setState. Kept across scans, so hover, "✓ copied" and focus survive.
class PortRowView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int copiedMs = 1200;

    explicit PortRowView(QWidget* parent = nullptr);

    // Does nothing when `state` shows what is shown already.
    void setState(const PortRowState& state);
    const PortRowState& state() const { return m_state; }
    // The indented separator under the row.
    void setDividerVisible(bool visible);

    bool isHovered() const { return m_hovered; }
    bool isPortCopied() const { return m_portCopied; }
    bool isTunnelCopied() const { return m_tunnelCopied; }

Q_SIGNALS:
    void toggleExpandRequested();
    void killRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* buildMainLine();
    QWidget* buildTunnelLine();
    QWidget* buildDockerLine();
    void applyTexts(const PortRowState& before);
    void rebuildDetail();
    void updateRevealed();
    void setPortCopied(bool copied);
    void setTunnelCopied(bool copied);
    void copyPort();
    void copyTunnel();
    void openInBrowser();
    bool canExpand() const;
    bool canKill() const;

    PortRowState m_state;
    bool m_hasState = false;
    bool m_hovered = false;
    bool m_revealed = false;
    bool m_portCopied = false;
    bool m_tunnelCopied = false;
    bool m_dividerVisible = false;
    qreal m_highlight = 0; // hover highlight opacity, animated
    QVariantAnimation* m_highlightAnimation;

    QVBoxLayout* m_layout;
    QToolButton* m_portButton;
    ElidedLabel* m_name;
    QLabel* m_memberBadge;
    QWidget* m_sharedBadge;
    ElidedLabel* m_subtitle;
    QWidget* m_tunnelLine;
    QLabel* m_tunnelProvider;
    ElidedLabel* m_tunnelURL;
    QToolButton* m_copyURLButton;
    QWidget* m_tunnelDot;
    QWidget* m_dockerLine;
    ElidedLabel* m_dockerImage;
    ChevronView* m_chevron;
    QToolButton* m_openButton;
    QToolButton* m_killButton;
    QWidget* m_detail = nullptr;
};

} // namespace varlo
