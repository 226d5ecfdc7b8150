#include "views/HistorySection.h"

#include "views/PanelParts.h"
#include "views/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

namespace varlo {

using namespace style;

namespace {

constexpr int pillMinimumWidth = 52;

// The header strip: secondary colour at 6 % across the full width.
class HistoryHeader : public QWidget
{
public:
    explicit HistoryHeader(QWidget* parent) : QWidget(parent)
    {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(panelSidePadding, 8, panelSidePadding, 4);
        QFont caption = style::font(TextStyle::Caption);
        caption.setWeight(QFont::Medium);
        QLabel* title = plainLabel(QString(), caption, Ink::label(Label::Secondary), this);
        title->setText(HistorySection::tr("History"));
        row->addWidget(title);
        row->addStretch();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Ink::label(Label::Secondary).withOpacity(0.06).resolve(palette()));
    }
};

} // namespace

PortHistoryRowView::PortHistoryRowView(QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(panelSidePadding, 7, panelSidePadding, 7);
    row->setSpacing(8);
    QFont pillFont = monospaced(style::font(TextStyle::Body));
    pillFont.setBold(true);
    m_port = new CapsuleLabel(Ink::label(Label::Secondary).withOpacity(0.12), this);
    m_port->setObjectName(QStringLiteral("port"));
    m_port->setFont(pillFont);
    m_port->setContentsMargins(6, 2, 6, 2);
    setTextInk(m_port, Ink());
    auto* pillBox = new QWidget(this);
    pillBox->setMinimumWidth(pillMinimumWidth);
    auto* pillRow = new QHBoxLayout(pillBox);
    pillRow->setContentsMargins(0, 0, 0, 0);
    pillRow->addWidget(m_port, 0, Qt::AlignCenter);
    row->addWidget(pillBox);

    auto* column = new QVBoxLayout;
    column->setSpacing(1);
    m_name = new ElidedLabel(Qt::ElideRight, this);
    m_name->setObjectName(QStringLiteral("name"));
    setTextInk(m_name, Ink());
    column->addWidget(m_name);
    auto* seen = new QHBoxLayout;
    seen->setSpacing(4);
    m_since = plainLabel(QString(), style::font(TextStyle::Caption), Ink::label(Label::Secondary), this);
    m_since->setObjectName(QStringLiteral("since"));
    seen->addWidget(m_since);
    QLabel* dot = plainLabel(QString(), style::font(TextStyle::Caption), Ink::label(Label::Secondary), this);
    dot->setText(QStringLiteral("\u00b7"));
    seen->addWidget(dot);
    m_lastSeen = plainLabel(QString(), style::font(TextStyle::Caption), Ink::label(Label::Secondary), this);
    m_lastSeen->setObjectName(QStringLiteral("lastSeen"));
    seen->addWidget(m_lastSeen);
    seen->addStretch();
    column->addLayout(seen);
    row->addLayout(column, 1);
}

void PortHistoryRowView::setTexts(const PortHistoryRowTexts& texts)
{
    if (texts == m_texts)
        return;
    m_texts = texts;
    m_port->setText(QString::number(texts.port));
    m_name->setText(texts.processName);
    m_name->setToolTip(plainToolTip(texts.processName));
    m_since->setText(texts.since);
    m_lastSeen->setText(texts.lastSeen);
}

void PortHistoryRowView::setDividerVisible(bool visible)
{
    if (visible == m_dividerVisible)
        return;
    m_dividerVisible = visible;
    layout()->setContentsMargins(panelSidePadding, 7, panelSidePadding, visible ? 8 : 7);
    update();
}

void PortHistoryRowView::paintEvent(QPaintEvent*)
{
    if (!m_dividerVisible)
        return;
    QPainter painter(this);
    const QRect line = layoutDirection() == Qt::RightToLeft ? QRect(0, height() - 1, width() - portColumnWidth, 1)
                                                            : QRect(portColumnWidth, height() - 1, width() - portColumnWidth, 1);
    painter.fillRect(line, separatorColor(palette()));
}

HistorySection::HistorySection(QWidget* parent) : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new HistoryHeader(this));
    m_emptyText = plainLabel(QString(), style::font(TextStyle::Caption), Ink::label(Label::Tertiary), this);
    m_emptyText->setObjectName(QStringLiteral("emptyHistory"));
    m_emptyText->setText(tr("No past ports this session."));
    m_emptyText->setContentsMargins(panelSidePadding, 10, panelSidePadding, 10);
    column->addWidget(m_emptyText);
    m_rowsLayout = new QVBoxLayout;
    m_rowsLayout->setSpacing(0);
    column->addLayout(m_rowsLayout);
}

QList<PortHistoryEntry> HistorySection::pastEntries(const PortHistoryMap& history)
{
    QList<PortHistoryEntry> entries;
    for (const PortHistoryEntry& entry : history) {
        if (!entry.isActive)
            entries.append(entry);
    }
    std::sort(entries.begin(), entries.end(), [](const PortHistoryEntry& a, const PortHistoryEntry& b) {
        if (a.lastSeen != b.lastSeen)
            return a.lastSeen > b.lastSeen;
        return a.port < b.port; // a stable order for equal times
    });
    return entries;
}

void HistorySection::setEntries(const QList<PortHistoryRowTexts>& entries)
{
    if (entries == m_entries)
        return;
    m_entries = entries;
    m_emptyText->setVisible(entries.isEmpty());

    QHash<qint64, PortHistoryRowView*> kept;
    for (const PortHistoryRowTexts& texts : entries) {
        PortHistoryRowView* row = m_rows.take(texts.port);
        if (!row)
            row = new PortHistoryRowView(this);
        row->setTexts(texts);
        kept.insert(texts.port, row);
    }
    qDeleteAll(m_rows);
    m_rows = kept;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        PortHistoryRowView* row = m_rows.value(entries.at(i).port);
        if (m_rowsLayout->indexOf(row) != i) {
            m_rowsLayout->removeWidget(row);
            m_rowsLayout->insertWidget(int(i), row);
        }
        row->setDividerVisible(i + 1 < entries.size());
    }
}

QList<PortHistoryRowView*> HistorySection::rows() const
{
    QList<PortHistoryRowView*> rows;
    for (int i = 0; i < m_rowsLayout->count(); ++i)
        rows.append(static_cast<PortHistoryRowView*>(m_rowsLayout->itemAt(i)->widget()));
    return rows;
}

} // namespace varlo
