#include "views/PortRowView.h"

#include "views/PanelParts.h"
#include "views/PortDetailView.h"
#include "views/PortRowTexts.h"
#include "views/Style.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <utility>

namespace varlo {

using namespace style;

namespace {

constexpr int hoverFadeMs = 120;

PortGroup withoutIds(PortGroup group)
{
    for (PortEntry& member : group.members)
        member.id = QUuid();
    return group;
}

bool sameGroup(const PortGroup& a, const PortGroup& b)
{
    return a.port == b.port && a.members == b.members && a.primaryPID == b.primaryPID &&
           a.sharesPortWithOthers == b.sharesPortWithOthers;
}

QToolButton* textButton(const QFont& font, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setFont(font);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

void keepSpaceWhenHidden(QWidget* widget)
{
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

Ink tunnelTint(const std::optional<TunnelInfo>& tunnel)
{
    return tunnel && tunnel->provider == TunnelInfo::Provider::cloudflare ? Ink::tint(Tint::Orange) : Ink::accent();
}

} // namespace

PortRowState::PortRowState(PortGroup group, std::optional<TunnelInfo> tunnel, std::optional<DockerInfo> docker,
                           bool isExpanded, std::optional<DetailState> detailState)
    : group(withoutIds(std::move(group))), tunnel(std::move(tunnel)), docker(std::move(docker)),
      isExpanded(isExpanded), detailState(isExpanded ? std::move(detailState) : std::nullopt)
{
}

bool PortRowState::operator==(const PortRowState& other) const
{
    return sameGroup(group, other.group) && tunnel == other.tunnel && docker == other.docker &&
           isExpanded == other.isExpanded && detailState == other.detailState;
}

PortRowView::PortRowView(QWidget* parent)
    : QWidget(parent), m_highlightAnimation(new QVariantAnimation(this)), m_layout(new QVBoxLayout(this))
{
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    m_layout->setContentsMargins(panelSidePadding, 0, panelSidePadding, 0);
    m_layout->setSpacing(0);
    m_layout->addWidget(buildMainLine());

    m_highlightAnimation->setDuration(hoverFadeMs);
    m_highlightAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_highlightAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_highlight = value.toReal();
        update();
    });
    connect(qApp, &QApplication::focusChanged, this, &PortRowView::updateRevealed);
}

QWidget* PortRowView::buildMainLine()
{
    auto* line = new QWidget(this);
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 6, 0, 6);
    row->setSpacing(8);

    QFont portFont = monospaced(style::font(TextStyle::Body));
    portFont.setWeight(QFont::DemiBold);
    m_portButton = textButton(portFont, line);
    m_portButton->setObjectName(QStringLiteral("portButton"));
    connect(m_portButton, &QToolButton::clicked, this, &PortRowView::copyPort);
    auto* portColumn = new QWidget(line);
    portColumn->setFixedWidth(portColumnWidth);
    auto* portBox = new QHBoxLayout(portColumn);
    portBox->setContentsMargins(0, 0, 0, 0);
    portBox->addWidget(m_portButton, 0, Qt::AlignLeft | Qt::AlignVCenter);
    row->addWidget(portColumn);

    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    auto* nameRow = new QHBoxLayout;
    nameRow->setSpacing(6);
    QFont nameFont = style::font(TextStyle::Body);
    nameFont.setWeight(QFont::Medium);
    m_name = elidedLabel(Qt::ElideRight, nameFont, Ink(), line);
    m_name->setObjectName(QStringLiteral("name"));
    nameRow->addWidget(m_name);
    m_memberBadge = new CapsuleLabel(Ink::label(Label::Secondary).withOpacity(0.15), line);
    m_memberBadge->setObjectName(QStringLiteral("memberBadge"));
    m_memberBadge->setFont(systemFont(10, QFont::DemiBold));
    m_memberBadge->setContentsMargins(5, 1, 5, 1);
    setTextInk(m_memberBadge, Ink::label(Label::Secondary));
    nameRow->addWidget(m_memberBadge);

    m_sharedBadge = new QWidget(line);
    m_sharedBadge->setObjectName(QStringLiteral("sharedBadge"));
    auto* shared = new QHBoxLayout(m_sharedBadge);
    shared->setContentsMargins(0, 0, 0, 0);
    shared->setSpacing(3);
    auto* warning = new QLabel(m_sharedBadge);
    const int warningEdge = symbolSize(systemFont(8));
    warning->setPixmap(symbolIcon(Symbol::ExclamationmarkTriangleFill, Ink::tint(Tint::Orange))
                           .pixmap(QSize(warningEdge, warningEdge), devicePixelRatioF()));
    shared->addWidget(warning);
    shared->addWidget(plainLabel(tr("shared"), systemFont(10, QFont::Medium), Ink::tint(Tint::Orange), m_sharedBadge));
    nameRow->addWidget(m_sharedBadge);
    nameRow->addStretch();
    names->addLayout(nameRow);

    m_subtitle = elidedLabel(Qt::ElideMiddle, style::font(TextStyle::Caption), Ink::label(Label::Secondary), line);
    m_subtitle->setObjectName(QStringLiteral("subtitle"));
    names->addWidget(m_subtitle);
    m_tunnelLine = buildTunnelLine();
    names->addWidget(m_tunnelLine);
    m_dockerLine = buildDockerLine();
    names->addWidget(m_dockerLine);
    row->addLayout(names, 1);
    row->addSpacing(4 - row->spacing());

    m_chevron = new ChevronView(line);
    keepSpaceWhenHidden(m_chevron);
    row->addWidget(m_chevron);
    m_openButton = symbolButton(Symbol::ArrowUpRightSquare, QString(), Ink::accent(), line);
    m_openButton->setObjectName(QStringLiteral("openButton"));
    keepSpaceWhenHidden(m_openButton);
    connect(m_openButton, &QToolButton::clicked, this, &PortRowView::openInBrowser);
    row->addWidget(m_openButton);
    m_killButton = symbolButton(Symbol::XmarkCircleFill, QString(), Ink::tint(Tint::Red).withOpacity(0.75), line);
    m_killButton->setObjectName(QStringLiteral("killButton"));
    keepSpaceWhenHidden(m_killButton);
    connect(m_killButton, &QToolButton::clicked, this, &PortRowView::killRequested);
    row->addWidget(m_killButton);
    m_openButton->hide();
    m_killButton->hide();
    return line;
}

QWidget* PortRowView::buildTunnelLine()
{
    auto* line = new QWidget(this);
    line->setObjectName(QStringLiteral("tunnelLine"));
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 1, 0, 0);
    row->setSpacing(4);
    m_tunnelDot = new Dot(5, Ink::accent(), line);
    row->addWidget(m_tunnelDot);
    m_tunnelProvider = plainLabel(QString(), systemFont(10, QFont::Medium), Ink::accent(), line);
    row->addWidget(m_tunnelProvider);
    row->addWidget(plainLabel(QStringLiteral("\u00b7"), style::font(TextStyle::Caption2), Ink::label(Label::Tertiary), line));
    m_tunnelURL = elidedLabel(Qt::ElideMiddle, monospaced(systemFont(10)), Ink::label(Label::Secondary), line);
    m_tunnelURL->setObjectName(QStringLiteral("tunnelURL"));
    row->addWidget(m_tunnelURL, 1);
    row->addSpacing(4 - row->spacing());
    m_copyURLButton = textButton(systemFont(10, QFont::Medium), line);
    m_copyURLButton->setObjectName(QStringLiteral("copyURLButton"));
    m_copyURLButton->setAccessibleName(tr("Copy URL"));
    connect(m_copyURLButton, &QToolButton::clicked, this, &PortRowView::copyTunnel);
    row->addWidget(m_copyURLButton);
    line->hide();
    return line;
}

QWidget* PortRowView::buildDockerLine()
{
    auto* line = new QWidget(this);
    line->setObjectName(QStringLiteral("dockerLine"));
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 1, 0, 0);
    row->setSpacing(4);
    const Ink blue = Ink::tint(Tint::Blue).withOpacity(0.8);
    row->addWidget(new Dot(5, blue, line));
    row->addWidget(plainLabel(QStringLiteral("docker"), systemFont(10, QFont::Medium), blue, line));
    row->addWidget(plainLabel(QStringLiteral("\u00b7"), style::font(TextStyle::Caption2), Ink::label(Label::Tertiary), line));
    m_dockerImage = elidedLabel(Qt::ElideMiddle, monospaced(systemFont(10)), Ink::label(Label::Secondary), line);
    m_dockerImage->setObjectName(QStringLiteral("dockerImage"));
    row->addWidget(m_dockerImage, 1);
    line->hide();
    return line;
}

void PortRowView::setState(const PortRowState& state)
{
    if (m_hasState && state == m_state)
        return;
    const bool detailChanged = !m_hasState || state.isExpanded != m_state.isExpanded ||
                               state.detailState != m_state.detailState || state.docker != m_state.docker ||
                               !sameGroup(state.group, m_state.group);
    const PortRowState before = std::exchange(m_state, state);
    applyTexts(before);
    m_hasState = true;
    if (detailChanged)
        rebuildDetail();
    updateRevealed();
}

void PortRowView::applyTexts(const PortRowState& before)
{
    const PortGroup& group = m_state.group;
    const PortEntry& primary = group.primary();
    if (!m_hasState || group.port != before.group.port) {
        setPortCopied(m_portCopied);
        const QString copy = tr("Copy localhost:%1").arg(group.port);
        m_portButton->setToolTip(plainToolTip(copy));
        m_portButton->setAccessibleName(copy);
        const QString open = tr("Open http://localhost:%1").arg(group.port);
        m_openButton->setToolTip(plainToolTip(open));
        m_openButton->setAccessibleName(open);
    }

    const QString name = m_state.docker ? m_state.docker->containerName : primary.processName;
    if (name != m_name->text() || !m_hasState) {
        m_name->setText(name);
        m_name->setToolTip(plainToolTip(m_name->text()));
    }
    m_memberBadge->setVisible(group.members.size() >= 2);
    m_memberBadge->setText(QStringLiteral("\u00d7%1").arg(group.members.size()));
    m_sharedBadge->setVisible(group.sharesPortWithOthers);
    if (group.sharesPortWithOthers)
        m_sharedBadge->setToolTip(plainToolTip(rowtext::sharedToolTip(group.port)));
    static const QString home = QDir::homePath(); // looked up once, not once per row and scan
    const QString subtitle = rowtext::subtitle(group, home);
    if (subtitle != m_subtitle->text()) {
        m_subtitle->setText(subtitle);
        m_subtitle->setToolTip(plainToolTip(m_subtitle->text()));
    }

    m_tunnelLine->setVisible(m_state.tunnel.has_value());
    if (m_state.tunnel && m_state.tunnel != before.tunnel) {
        const bool cloudflare = m_state.tunnel->provider == TunnelInfo::Provider::cloudflare;
        m_tunnelProvider->setText(cloudflare ? QStringLiteral("CF") : QStringLiteral("ngrok"));
        setTextInk(m_tunnelProvider, tunnelTint(m_state.tunnel));
        static_cast<Dot*>(m_tunnelDot)->setInk(tunnelTint(m_state.tunnel));
        m_tunnelURL->setText(rowtext::tunnelDisplayURL(m_state.tunnel->publicURL));
        m_copyURLButton->setToolTip(plainToolTip(tr("Copy %1").arg(m_state.tunnel->publicURL)));
        m_copyURLButton->setAccessibleName(tr("Copy %1").arg(m_state.tunnel->publicURL));
        setTunnelCopied(m_tunnelCopied);
    }
    m_dockerLine->setVisible(m_state.docker.has_value());
    if (m_state.docker)
        m_dockerImage->setText(m_state.docker->image);

    m_chevron->setExpanded(m_state.isExpanded);
    m_chevron->setVisible(canExpand());
    const QString killTitle = m_state.docker ? tr("Stop container %1").arg(m_state.docker->containerName)
                                             : rowtext::killToolTip(group);
    if (killTitle != m_killButton->accessibleName()) {
        m_killButton->setToolTip(plainToolTip(killTitle));
        m_killButton->setAccessibleName(killTitle);
    }
    setAccessibleName(QStringLiteral("%1 %2").arg(group.port).arg(m_name->text()));
}

void PortRowView::rebuildDetail()
{
    delete m_detail;
    m_detail = nullptr;
    if (m_state.isExpanded) {
        m_detail = new PortDetailView(m_state, this);
        m_layout->addWidget(m_detail);
    }
}

bool PortRowView::canExpand() const
{
    return !isUnattributed(m_state.group);
}

bool PortRowView::canKill() const
{
    return m_state.docker || !isUnattributed(m_state.group);
}

void PortRowView::setDividerVisible(bool visible)
{
    if (visible == m_dividerVisible)
        return;
    m_dividerVisible = visible;
    m_layout->setContentsMargins(panelSidePadding, 0, panelSidePadding, visible ? 1 : 0);
    update();
}

void PortRowView::updateRevealed()
{
    if (!m_hasState)
        return;
    const QWidget* focus = QApplication::focusWidget();
    const bool revealed = m_hovered || (focus && (focus == this || isAncestorOf(focus)));
    m_revealed = revealed;
    const bool openVisible = revealed && m_state.group.primary().isLikelyWebServer();
    if (m_openButton->isVisible() != openVisible)
        m_openButton->setVisible(openVisible);
    const bool killVisible = revealed && canKill();
    if (m_killButton->isVisible() != killVisible)
        m_killButton->setVisible(killVisible);
}

void PortRowView::setPortCopied(bool copied)
{
    m_portCopied = copied;
    m_portButton->setText(copied ? tr("\u2713 copied") : QString::number(m_state.group.port));
    setTextInk(m_portButton, copied ? Ink::accent() : Ink());
}

void PortRowView::setTunnelCopied(bool copied)
{
    m_tunnelCopied = copied;
    m_copyURLButton->setText(copied ? tr("\u2713 copied") : tr("Copy URL"));
    setTextInk(m_copyURLButton, copied ? tunnelTint(m_state.tunnel) : Ink::label(Label::Secondary));
}

void PortRowView::copyPort()
{
    QGuiApplication::clipboard()->setText(QStringLiteral("localhost:%1").arg(m_state.group.port));
    setPortCopied(true);
    // Every copy starts its own reset; the first to run clears the flag.
    QTimer::singleShot(copiedMs, this, [this] { setPortCopied(false); });
}

void PortRowView::copyTunnel()
{
    if (!m_state.tunnel)
        return;
    QGuiApplication::clipboard()->setText(m_state.tunnel->publicURL);
    setTunnelCopied(true);
    QTimer::singleShot(copiedMs, this, [this] { setTunnelCopied(false); });
}

void PortRowView::openInBrowser()
{
    const QUrl url(QStringLiteral("http://localhost:%1").arg(m_state.group.port), QUrl::StrictMode);
    if (url.isValid())
        QDesktopServices::openUrl(url);
}

void PortRowView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body = QRectF(rect()).adjusted(0, 0, 0, m_dividerVisible ? -1 : 0);
    if (m_highlight > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(withOpacity(labelColor(Label::Primary, palette()), 0.06 * m_highlight));
        painter.drawRoundedRect(body, 6, 6);
    }
    if (hasFocus()) {
        painter.setPen(QPen(accentColor(palette()), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(body.adjusted(1, 1, -1, -1), 6, 6);
    }
    if (m_dividerVisible) {
        const int indent = portColumnWidth;
        const QRect line = layoutDirection() == Qt::RightToLeft ? QRect(0, height() - 1, width() - indent, 1)
                                                                : QRect(indent, height() - 1, width() - indent, 1);
        painter.fillRect(line, separatorColor(palette()));
    }
}

void PortRowView::enterEvent(QEnterEvent* event)
{
    m_hovered = true;
    m_highlightAnimation->stop();
    m_highlightAnimation->setStartValue(m_highlight);
    m_highlightAnimation->setEndValue(1.0);
    m_highlightAnimation->start();
    updateRevealed();
    QWidget::enterEvent(event);
}

void PortRowView::leaveEvent(QEvent* event)
{
    m_hovered = false;
    m_highlightAnimation->stop();
    m_highlightAnimation->setStartValue(m_highlight);
    m_highlightAnimation->setEndValue(0.0);
    m_highlightAnimation->start();
    updateRevealed();
    QWidget::leaveEvent(event);
}

void PortRowView::mousePressEvent(QMouseEvent* event)
{
    // Taken, so that the release (the tap) comes back here.
    event->setAccepted(event->button() == Qt::LeftButton);
}

void PortRowView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && canExpand())
        Q_EMIT toggleExpandRequested();
    QWidget::mouseReleaseEvent(event);
}

void PortRowView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (canExpand())
            Q_EMIT toggleExpandRequested();
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace varlo
