#include "views/HistorySettingsView.h"

#include "settings/AppSettings.h"
#include "views/SettingsForm.h"
#include "views/Style.h"

#include <QComboBox>
#include <QDateTime>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <algorithm>
#include <cmath>

namespace varlo {

using namespace style;

namespace {

QWidget* emptyState()
{
    auto* state = new QWidget;
    auto* column = new QVBoxLayout(state);
    column->addStretch();
    auto* icon = new QLabel;
    icon->setPixmap(symbolIcon(Symbol::Clock, Ink::label(Label::Secondary)).pixmap(QSize(40, 40)));
    column->addWidget(icon, 0, Qt::AlignHCenter);
    QFont titleFont = style::font(TextStyle::Title);
    titleFont.setBold(true);
    QLabel* title = inkedLabel(QObject::tr("No History Yet"), TextStyle::Title, Ink::label(Label::Primary));
    title->setFont(titleFont);
    column->addWidget(title, 0, Qt::AlignHCenter);
    column->addWidget(inkedLabel(QObject::tr("Ports seen this session will appear here."), TextStyle::Body,
                                 Ink::label(Label::Secondary)),
                      0, Qt::AlignHCenter);
    column->addStretch();
    return state;
}

QTableWidgetItem* cell(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled);
    return item;
}

} // namespace

HistorySettingsView::HistorySettingsView(PortHistory* history, AppSettings& settings, QList<int> retentionOptions,
                                         QWidget* parent)
    : QWidget(parent)
    , m_history(history)
    , m_settings(settings)
    , m_retentionOptions(std::move(retentionOptions))
    , m_retention(new QComboBox)
    , m_clear(new QPushButton(tr("Clear History")))
    , m_content(new QStackedWidget)
    , m_empty(emptyState())
    , m_table(new QTableWidget(0, 5))
{
    setMinimumSize(480, 360);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(16, 10, 16, 10);
    auto* picker = new QWidget;
    picker->setFixedWidth(260);
    auto* pickerRow = new QHBoxLayout(picker);
    pickerRow->setContentsMargins(0, 0, 0, 0);
    pickerRow->addWidget(inkedLabel(tr("Keep history for"), TextStyle::Body, Ink::label(Label::Primary)));
    m_retention->setObjectName(QStringLiteral("historyRetentionDays"));
    for (const int days : m_retentionOptions)
        m_retention->addItem(tr("%1 days").arg(days), days);
    pickerRow->addWidget(m_retention, 1);
    bar->addWidget(picker);
    bar->addStretch();
    m_clear->setObjectName(QStringLiteral("clearHistory"));
    m_clear->setAutoDefault(false);
    setTextInk(m_clear, Ink::tint(Tint::Red)); // destructive
    bar->addWidget(m_clear);
    column->addLayout(bar);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    setTextInk(divider, Ink::label(Label::Tertiary));
    column->addWidget(divider);

    m_table->setObjectName(QStringLiteral("historyTable"));
    m_table->setHorizontalHeaderLabels({tr("Port"), tr("Process"), tr("First Seen"), tr("Last Seen"), tr("Status")});
    m_table->verticalHeader()->hide();
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->setWordWrap(false);
    m_table->setAlternatingRowColors(true);
    const int dot = symbolSize(style::font(TextStyle::Caption2)) * 2 / 3;
    m_table->setIconSize(QSize(dot, dot));
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Stretch);
    header->setSectionResizeMode(PortColumn, QHeaderView::Fixed);
    header->resizeSection(PortColumn, 60);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_content->addWidget(m_empty);
    m_content->addWidget(m_table);
    column->addWidget(m_content, 1);

    connect(m_retention, &QComboBox::activated, this,
            [this](int index) { m_settings.setHistoryRetentionDays(m_retentionOptions.at(index)); });
    connect(&m_settings, &AppSettings::historyRetentionDaysChanged, this, &HistorySettingsView::showRetention);
    connect(m_clear, &QPushButton::clicked, this, [this] {
        if (m_history)
            m_history->clear();
    });
    if (m_history) {
        connect(m_history, &PortHistory::byPortChanged, this, &HistorySettingsView::showHistory);
        connect(m_history, &QObject::destroyed, this, &HistorySettingsView::showHistory, Qt::QueuedConnection);
    }
    showRetention();
    showHistory();
}

QList<PortHistoryEntry> HistorySettingsView::historyOrder(const PortHistoryMap& byPort)
{
    QList<PortHistoryEntry> entries = byPort.values();
    std::sort(entries.begin(), entries.end(), [](const PortHistoryEntry& a, const PortHistoryEntry& b) {
        if (a.isActive != b.isActive)
            return a.isActive;
        if (a.lastSeen != b.lastSeen)
            return a.lastSeen > b.lastSeen;
        return a.port < b.port;
    });
    return entries;
}

QString HistorySettingsView::timeOfDay(ReferenceTime time)
{
    // Within about ±3,000 years the milliseconds fit and QDateTime can tell the time.
    const double unixSeconds = time + referenceEpochUnixOffset;
    if (!std::isfinite(unixSeconds) || std::fabs(unixSeconds) > 1e11)
        return QStringLiteral("\u2014");
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(std::llround(unixSeconds * 1000.0)).toLocalTime();
    return QLocale().toString(when.time(), QLocale::ShortFormat);
}

void HistorySettingsView::showHistory()
{
    const QList<PortHistoryEntry> entries =
        m_history ? historyOrder(m_history->byPort()) : QList<PortHistoryEntry>();
    m_clear->setEnabled(!entries.isEmpty());
    m_content->setCurrentWidget(entries.isEmpty() ? m_empty : m_table);
    m_table->setRowCount(static_cast<int>(entries.size()));
    const QFont portFont = monospaced(style::font(TextStyle::Body));
    const QColor green = tintColor(Tint::Green, palette());
    const QColor secondary = labelColor(Label::Secondary, palette());
    const QIcon active = symbolIcon(Symbol::CircleFill, Ink::tint(Tint::Green));
    for (int row = 0; row < entries.size(); ++row) {
        const PortHistoryEntry& entry = entries.at(row);
        QTableWidgetItem* port = cell(QString::number(entry.port));
        port->setFont(portFont);
        m_table->setItem(row, PortColumn, port);
        m_table->setItem(row, ProcessColumn, cell(entry.lastProcessName));
        m_table->setItem(row, FirstSeenColumn, cell(timeOfDay(entry.firstSeen)));
        m_table->setItem(row, LastSeenColumn, cell(timeOfDay(entry.lastSeen)));
        QTableWidgetItem* status = cell(entry.isActive ? tr("Active") : m_history->lastSeenText(entry));
        status->setForeground(entry.isActive ? green : secondary);
        if (entry.isActive)
            status->setIcon(active);
        m_table->setItem(row, StatusColumn, status);
    }
}

void HistorySettingsView::showRetention()
{
    m_retention->setCurrentIndex(static_cast<int>(m_retentionOptions.indexOf(m_settings.historyRetentionDays())));
}

} // namespace varlo
