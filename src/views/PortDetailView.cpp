#include "views/PortDetailView.h"

#include "detectors/SSHForward.h"
#include "monitor/CompactDuration.h"
#include "views/PanelParts.h"
#include "views/PortRowTexts.h"
#include "views/PortRowView.h"
#include "views/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace varlo {

using namespace style;

namespace {

constexpr int detailIndent = 76;
constexpr int roleBoxWidth = 46;

ElidedLabel* lineLabel(const QString& text, const QFont& font, QWidget* parent)
{
    ElidedLabel* line = elidedLabel(Qt::ElideRight, font, Ink::label(Label::Secondary), parent);
    line->setText(text);
    return line;
}

QWidget* symbolView(Symbol symbol, QWidget* parent)
{
    auto* view = new QLabel(parent);
    const int edge = symbolSize(style::font(TextStyle::Caption2));
    view->setPixmap(symbolIcon(symbol, Ink::label(Label::Secondary)).pixmap(QSize(edge, edge),
                                                                            view->devicePixelRatioF()));
    view->setFixedSize(edge, edge);
    return view;
}

// (symbol, text): the symbol in caption 2, the text in caption, both secondary.
QWidget* detailItem(Symbol symbol, const QString& text, QWidget* parent)
{
    auto* item = new QWidget(parent);
    auto* row = new QHBoxLayout(item);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(3);
    row->addWidget(symbolView(symbol, item));
    row->addWidget(lineLabel(text, style::font(TextStyle::Caption), item), 1);
    return item;
}

QWidget* itemRow(const QList<std::pair<Symbol, QString>>& items, QWidget* parent)
{
    auto* line = new QWidget(parent);
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    for (const auto& [symbol, text] : items)
        row->addWidget(detailItem(symbol, text, line));
    row->addStretch();
    return line;
}

} // namespace

PortDetailView::PortDetailView(const PortRowState& state, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (state.group.members.size() >= 2)
        layout->addWidget(memberList(state));
    layout->addWidget(detailBlock(state));
}

QWidget* PortDetailView::memberList(const PortRowState& state)
{
    auto* list = new QWidget(this);
    list->setObjectName(QStringLiteral("members"));
    auto* column = new QVBoxLayout(list);
    column->setContentsMargins(detailIndent, 0, 0, 6);
    column->setSpacing(2);
    const QFont roleFont = systemFont(10, QFont::Medium);
    const QFont pidFont = monospaced(style::font(TextStyle::Caption2));
    for (const PortEntry& member : state.group.members) {
        auto* row = new QHBoxLayout;
        row->setSpacing(6);
        const bool primary = state.group.primaryPID && member.pid == *state.group.primaryPID;
        QLabel* role = plainLabel(primary ? tr("primary") : tr("worker"), roleFont, Ink::label(Label::Secondary), list);
        role->setFixedWidth(roleBoxWidth);
        row->addWidget(role);
        row->addWidget(plainLabel(QStringLiteral("PID %1").arg(member.pid), pidFont, Ink::label(Label::Secondary), list));
        row->addStretch();
        column->addLayout(row);
    }
    return list;
}

QWidget* PortDetailView::detailBlock(const PortRowState& state)
{
    auto* block = new QWidget(this);
    auto* column = new QVBoxLayout(block);
    const ProcessDetail* detail = state.detailState ? state.detailState->detail() : nullptr;
    if (state.detailState && state.detailState->isUnavailable()) {
        block->setObjectName(QStringLiteral("unavailable"));
        column->setContentsMargins(0, 0, 0, 6);
        QLabel* text = plainLabel(tr("Info unavailable"), style::font(TextStyle::Caption), Ink::label(Label::Secondary), block);
        text->setAlignment(Qt::AlignCenter);
        text->setMinimumHeight(28);
        column->addWidget(text);
        return block;
    }
    if (!detail) {
        block->setObjectName(QStringLiteral("loading"));
        column->setContentsMargins(0, 0, 0, 6);
        auto* spinner = new Spinner(qRound(symbolSize(style::font(TextStyle::Body)) * 0.7), block);
        spinner->setMinimumHeight(0);
        auto* box = new QWidget(block);
        box->setMinimumHeight(32);
        auto* centre = new QHBoxLayout(box);
        centre->setContentsMargins(0, 0, 0, 0);
        centre->addWidget(spinner, 0, Qt::AlignCenter);
        column->addWidget(box);
        return block;
    }
    block->setObjectName(QStringLiteral("loaded"));
    column->setContentsMargins(detailIndent, 0, 4, 8);
    column->setSpacing(5);
    if (state.docker) {
        QList<std::pair<Symbol, QString>> items{{Symbol::Shippingbox, state.docker->status}};
        if (state.docker->composeProject)
            items.append({Symbol::SquareStack, *state.docker->composeProject});
        column->addWidget(itemRow(items, block));
    }
    column->addWidget(itemRow({{Symbol::Cpu, rowtext::cpuText(detail->cpuPercent)},
                               {Symbol::Memorychip, rowtext::memoryText(detail->memoryBytes)},
                               {Symbol::Clock, compactDuration(detail->uptimeSeconds)}},
                              block));
    const QList<SSHForward> forwards = sshForwards(*detail);
    const QFont mono = monospaced(style::font(TextStyle::Caption2));
    if (!forwards.isEmpty()) {
        auto* list = new QVBoxLayout;
        list->setSpacing(2);
        for (const SSHForward& forward : forwards) {
            auto* row = new QHBoxLayout;
            row->setSpacing(4);
            row->addWidget(symbolView(Symbol::ArrowTriangleBranch, block));
            row->addWidget(lineLabel(forward.localPort + QStringLiteral(" \u2192 ") + forward.remoteHost +
                                         QLatin1Char(':') + forward.remotePort,
                                     mono, block),
                           1);
            list->addLayout(row);
        }
        column->addLayout(list);
    }
    if (const QString arguments = detail->argumentsSummary(); !arguments.isEmpty()) {
        QLabel* text = plainLabel(arguments, mono, Ink::label(Label::Secondary), block);
        text->setObjectName(QStringLiteral("arguments"));
        text->setWordWrap(true);
        text->setAlignment(Qt::AlignLeading | Qt::AlignTop);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        // Any width will do (long arguments wrap anywhere); the height follows it.
        QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        text->setSizePolicy(policy);
        text->setMaximumHeight(QFontMetrics(mono).lineSpacing() * 3);
        column->addWidget(text);
    }
    return block;
}

} // namespace varlo
