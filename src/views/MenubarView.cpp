#include "views/MenubarView.h"

#include "monitor/PortMonitor.h"
#include "settings/AppSettings.h"
#include "views/BrandMark.h"
#include "views/KillAllConfirmation.h"
#include "views/PanelParts.h"
#include "views/PortListView.h"
#include "views/PortRowTexts.h"
#include "views/Style.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace varlo {

using namespace style;

// The capsule that names a connected VPN; a click opens the network settings.
class VpnBadge : public QAbstractButton
{
public:
    explicit VpnBadge(QWidget* parent) : QAbstractButton(parent)
    {
        setObjectName(QStringLiteral("vpnBadge"));
        setFont(systemFont(10, QFont::DemiBold));
        setText(QStringLiteral("VPN"));
        setAccessibleName(QStringLiteral("VPN"));
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return {padX + dot + gap + metrics.horizontalAdvance(text()) + padX, padY + metrics.height() + padY};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box(rect());
        painter.setPen(Qt::NoPen);
        painter.setBrush(Ink::label(Label::Secondary).withOpacity(0.12).resolve(palette()));
        painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
        if (hasFocus()) {
            painter.setPen(QPen(accentColor(palette()), 1));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), box.height() / 2, box.height() / 2);
        }
        const QColor accent = accentColor(palette());
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent);
        painter.drawEllipse(QRectF(padX, (height() - dot) / 2.0, dot, dot));
        painter.setPen(accent);
        painter.drawText(QRect(padX + dot + gap, 0, width(), height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    }

private:
    static constexpr int padX = 7, padY = 3, dot = 6, gap = 4;
};

namespace {

QWidget* centredColumn(QWidget* parent, int spacing, const QMargins& padding)
{
    auto* page = new QWidget(parent);
    auto* column = new QVBoxLayout(page);
    column->setSpacing(spacing);
    column->setContentsMargins(padding);
    page->setMinimumHeight(80 + padding.top() + padding.bottom());
    return page;
}

// Keys of the rows: the group id, made unique when two groups of other
// users' listeners share a port and both read pid 0.
QString uniqueKey(const QString& id, QHash<QString, int>& seen)
{
    const int count = seen[id]++;
    return count == 0 ? id : id + u'#' + QString::number(count);
}

} // namespace

bool MenubarView::ShownMachine::operator==(const ShownMachine& other) const
{
    const auto sameEntry = [](const PortEntry& a, const PortEntry& b) {
        return a.port == b.port && a.pid == b.pid && a.ppid == b.ppid && a.processName == b.processName &&
               a.binaryPath == b.binaryPath && a.workingDirectory == b.workingDirectory && a.proto == b.proto &&
               a.address == b.address && a.devices == b.devices && a.userName == b.userName;
    };
    return std::equal(ports.cbegin(), ports.cend(), other.ports.cbegin(), other.ports.cend(), sameEntry) &&
           tunnels == other.tunnels && containers == other.containers && expandedPID == other.expandedPID &&
           detail == other.detail;
}

MenubarView::MenubarView(PortMonitor& monitor, std::function<void()> openNetworkSettings, QWidget* parent)
    : QWidget(parent), m_monitor(monitor), m_openNetworkSettings(std::move(openNetworkSettings))
{
    setFixedWidth(panelWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader());
    column->addWidget(new Divider(0, this));
    m_placeholder = buildPlaceholder();
    column->addWidget(m_placeholder);
    m_emptyState = buildEmptyState();
    column->addWidget(m_emptyState);
    m_list = new PortListView(this);
    column->addWidget(m_list);
    column->addWidget(new Divider(0, this));
    m_confirmation = new KillAllConfirmation(this);
    m_confirmation->hide();
    column->addWidget(m_confirmation);
    column->addWidget(buildFooter());

    connect(m_list, &PortListView::toggleExpandRequested, this, [this](const PortGroup& group) {
        m_monitor.toggleExpand(group.primary());
    });
    connect(m_list, &PortListView::killRequested, this, [this](const PortGroup& group) { m_monitor.kill(group); });
    connect(m_confirmation, &KillAllConfirmation::cancelled, this, [this] { dismissKillAllConfirmation(); });
    connect(m_confirmation, &KillAllConfirmation::confirmed, this, [this] {
        dismissKillAllConfirmation();
        m_monitor.killAll();
    });

    for (const auto signal : {&PortMonitor::portsChanged, &PortMonitor::tunnelsChanged,
                              &PortMonitor::dockerContainersChanged, &PortMonitor::expandedPIDChanged,
                              &PortMonitor::expandedDetailStateChanged})
        connect(&m_monitor, signal, this, &MenubarView::syncList);
    connect(&m_monitor, &PortMonitor::hasLoadedOnceChanged, this, &MenubarView::syncBody);
    connect(&m_monitor, &PortMonitor::vpnNameChanged, this, &MenubarView::syncHeader);
    connect(&m_monitor.settings(), &AppSettings::monitoredRangeChanged, this, &MenubarView::syncHeader);
    connect(&m_monitor.history(), &PortHistory::byPortChanged, this, &MenubarView::syncHistory);

    syncHeader();
    syncHistory();
    syncList();
}

QWidget* MenubarView::buildHeader()
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(12, 10, 12, 10);
    row->setSpacing(10);
    row->addWidget(new BrandMarkView(28, 6, header));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    titles->addWidget(plainLabel(QStringLiteral("Varlo"), style::font(TextStyle::Headline), Ink(), header));
    m_rangeText = new ElidedLabel(Qt::ElideRight, header);
    m_rangeText->setObjectName(QStringLiteral("rangeText"));
    m_rangeText->setFont(style::font(TextStyle::Caption2));
    setTextInk(m_rangeText, Ink::label(Label::Secondary));
    titles->addWidget(m_rangeText);
    row->addLayout(titles, 1);
    m_vpnBadge = new VpnBadge(header);
    connect(m_vpnBadge, &QAbstractButton::clicked, this, [this] {
        if (m_openNetworkSettings)
            m_openNetworkSettings();
    });
    row->addWidget(m_vpnBadge);
    return header;
}

QWidget* MenubarView::buildPlaceholder()
{
    QWidget* page = centredColumn(this, 8, QMargins(0, 16, 0, 16));
    page->setObjectName(QStringLiteral("scanning"));
    auto* column = static_cast<QVBoxLayout*>(page->layout());
    column->addStretch();
    column->addWidget(new Spinner(symbolSize(style::font(TextStyle::Body)) + 4, page), 0, Qt::AlignHCenter);
    column->addWidget(plainLabel(tr("Scanning ports\u2026"), style::font(TextStyle::Caption), Ink::label(Label::Secondary), page),
                      0, Qt::AlignHCenter);
    column->addStretch();
    return page;
}

QWidget* MenubarView::buildEmptyState()
{
    QWidget* page = centredColumn(this, 6, QMargins(24, 16, 24, 16));
    page->setObjectName(QStringLiteral("empty"));
    auto* column = static_cast<QVBoxLayout*>(page->layout());
    auto* symbol = new QLabel(page);
    const int edge = symbolSize(systemFont(24));
    symbol->setPixmap(symbolIcon(Symbol::CheckmarkCircle, Ink::label(Label::Secondary).withOpacity(0.6))
                          .pixmap(QSize(edge, edge), devicePixelRatioF()));
    column->addStretch();
    column->addWidget(symbol, 0, Qt::AlignHCenter);
    column->addWidget(plainLabel(tr("No active ports"), style::font(TextStyle::Body), Ink::label(Label::Secondary), page), 0,
                      Qt::AlignHCenter);
    QLabel* hint = plainLabel(tr("Nothing listening in the monitored range."), style::font(TextStyle::Caption),
                         Ink::label(Label::Tertiary), page);
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignCenter);
    column->addWidget(hint);
    column->addStretch();
    return page;
}

QToolButton* MenubarView::footerButton(int symbol, const QString& title, const char* name)
{
    auto* button = new QToolButton(this);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setText(title);
    button->setAccessibleName(title);
    button->setToolTip(title);
    button->setFont(systemFont(10));
    const int edge = symbolSize(systemFont(13));
    button->setIconSize(QSize(edge, edge));
    button->setIcon(symbolIcon(static_cast<Symbol>(symbol)));
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

QWidget* MenubarView::buildFooter()
{
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(0, 4, 0, 4);
    row->setSpacing(0);
    QToolButton* refresh = footerButton(int(Symbol::ArrowClockwise), tr("Refresh"), "refreshButton");
    connect(refresh, &QToolButton::clicked, this, [this] { m_monitor.refresh(); });
    m_killAllButton = footerButton(int(Symbol::XmarkOctagon), tr("Kill All"), "killAllButton");
    connect(m_killAllButton, &QToolButton::clicked, this, &MenubarView::askKillAll);
    m_historyButton = footerButton(int(Symbol::Clock), tr("History"), "historyButton");
    connect(m_historyButton, &QToolButton::clicked, this, &MenubarView::toggleHistory);
    QToolButton* settings = footerButton(int(Symbol::Gearshape), tr("Settings"), "settingsButton");
    connect(settings, &QToolButton::clicked, this, &MenubarView::settingsRequested);
    QToolButton* quit = footerButton(int(Symbol::Power), tr("Quit"), "quitButton");
    connect(quit, &QToolButton::clicked, this, &MenubarView::quitRequested);
    for (QToolButton* button : {refresh, m_killAllButton, m_historyButton, settings, quit})
        row->addWidget(button, 1);
    return footer;
}

void MenubarView::syncHeader()
{
    m_rangeText->setText(tr("Ports ") + m_monitor.settings().monitoredRange());
    m_rangeText->setToolTip(plainToolTip(m_rangeText->text()));
    const std::optional<QString> vpn = m_monitor.vpnName();
    m_vpnBadge->setVisible(vpn.has_value());
    if (vpn)
        m_vpnBadge->setToolTip(plainToolTip(*vpn + tr(" \u2014 connected. Click to open Network settings.")));
}

void MenubarView::syncList()
{
    // Every scan publishes fresh entries; only what they say matters here.
    ShownMachine machine{m_monitor.ports(), m_monitor.tunnels(), m_monitor.dockerContainers(),
                         m_monitor.expandedPID(), m_monitor.expandedDetailState()};
    if (m_shown && *m_shown == machine)
        return;
    m_shown = std::move(machine);
    const QList<PortGroup> groups = PortGroup::group(m_shown->ports);
    const TunnelMap& tunnels = m_shown->tunnels;
    const DockerContainers& containers = m_shown->containers;
    const std::optional<qint64> expanded = m_shown->expandedPID;
    const std::optional<DetailState>& detail = m_shown->detail;

    QList<PortListView::Row> rows;
    rows.reserve(groups.size());
    QHash<QString, int> seen;
    qsizetype killable = 0;
    for (const PortGroup& group : groups) {
        const qint64 pid = group.primary().pid;
        const bool isExpanded = expanded && *expanded == pid && !isUnattributed(group);
        const auto tunnel = tunnels.constFind(group.port);
        const auto container = containers.constFind(group.port);
        std::optional<DockerInfo> docker;
        if (container != containers.cend())
            docker = *container;
        if (docker || !isUnattributed(group))
            ++killable;
        rows.append({uniqueKey(group.id(), seen),
                     PortRowState(group, tunnel != tunnels.cend() ? std::optional(*tunnel) : std::nullopt,
                                  std::move(docker), isExpanded, isExpanded ? detail : std::nullopt)});
    }
    m_list->setRows(rows);
    m_killableGroups = killable;
    syncFooter();
    syncBody();
}

void MenubarView::syncHistory()
{
    PortHistory& history = m_monitor.history();
    const QList<PortHistoryEntry> past = HistorySection::pastEntries(history.byPort());
    QList<PortHistoryRowTexts> texts;
    texts.reserve(past.size());
    for (const PortHistoryEntry& entry : past)
        texts.append({entry.port, entry.lastProcessName, tr("Since ") + history.firstSeenAgeText(entry),
                      history.lastSeenText(entry)});
    m_hasPastEntries = !past.isEmpty();
    m_list->setHistory(m_showHistory, texts);
    syncFooter();
}

void MenubarView::syncBody()
{
    const bool loaded = m_monitor.hasLoadedOnce();
    const bool empty = loaded && m_monitor.ports().isEmpty() && !m_showHistory;
    const bool list = loaded && !empty;
    // Hide first, so the panel never wants the height of two bodies at once.
    for (QWidget* page : std::initializer_list<QWidget*>{m_placeholder, m_emptyState, m_list}) {
        const bool shown = (page == m_placeholder && !loaded) || (page == m_emptyState && empty) ||
                           (page == m_list && list);
        if (!shown && !page->isHidden())
            page->hide();
    }
    if (!loaded && m_placeholder->isHidden())
        m_placeholder->show();
    if (empty && m_emptyState->isHidden())
        m_emptyState->show();
    if (list && m_list->isHidden())
        m_list->show();
}

void MenubarView::syncFooter()
{
    const FooterState state{m_killableGroups, m_hasPastEntries, m_showHistory};
    if (state == m_footer)
        return;
    m_footer = state;
    const bool canKill = m_killableGroups > 0;
    m_killAllButton->setEnabled(canKill);
    const Ink killInk = canKill ? Ink::tint(Tint::Red).withOpacity(0.85) : Ink::label(Label::Secondary);
    m_killAllButton->setIcon(symbolIcon(Symbol::XmarkOctagon, killInk));
    setTextInk(m_killAllButton, canKill ? killInk : Ink::label(Label::Secondary).withOpacity(0.4));
    m_confirmation->setCount(m_killableGroups);
    if (!canKill)
        dismissKillAllConfirmation();
    m_historyButton->setVisible(m_hasPastEntries);
    const Ink historyInk = m_showHistory ? Ink::accent() : Ink::label(Label::Secondary);
    m_historyButton->setIcon(symbolIcon(Symbol::Clock, historyInk));
    setTextInk(m_historyButton, historyInk);
}

void MenubarView::toggleHistory()
{
    m_showHistory = !m_showHistory;
    syncHistory();
    syncBody();
}

void MenubarView::askKillAll()
{
    if (m_killableGroups > 0)
        m_confirmation->ask();
}

bool MenubarView::isKillAllConfirmationShown() const
{
    return !m_confirmation->isHidden();
}

bool MenubarView::dismissKillAllConfirmation()
{
    if (m_confirmation->isHidden())
        return false;
    m_confirmation->hide();
    m_killAllButton->setFocus(Qt::OtherFocusReason);
    return true;
}

} // namespace varlo
