#include "views/PortsSettingsView.h"

#include "monitor/PortFilter.h"
#include "settings/AppSettings.h"
#include "views/SettingsForm.h"
#include "views/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyledItemDelegate>
#include <algorithm>

namespace varlo {

using namespace style;

namespace {

constexpr int numberWidth = 64;

QRect removeRectIn(const QRect& row)
{
    const int edge = symbolSize(style::font(TextStyle::Body));
    return QRect(row.left() + numberWidth, row.center().y() - edge / 2, edge, edge);
}

// Paints the number and the remove button after it; a release on the button asks for the removal.
class ExcludedPortDelegate : public QStyledItemDelegate
{
public:
    explicit ExcludedPortDelegate(ExcludedPortList* list)
        : QStyledItemDelegate(list), m_list(list), m_remove(symbolIcon(Symbol::MinusCircleFill, Ink::tint(Tint::Red)))
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        m_remove.paint(painter, removeRectIn(option.rect));
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max(size.height(), symbolSize(style::font(TextStyle::Body)) + 6));
        return size;
    }

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override
    {
        if (event->type() == QEvent::MouseButtonRelease
            && removeRectIn(option.rect).contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
            Q_EMIT m_list->removeRequested(index.data(Qt::UserRole).toLongLong());
            return true;
        }
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    }

private:
    ExcludedPortList* m_list;
    QIcon m_remove;
};

} // namespace

ExcludedPortList::ExcludedPortList(QWidget* parent) : QListWidget(parent)
{
    setItemDelegate(new ExcludedPortDelegate(this));
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    setUniformItemSizes(true);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(false);
    setFont(monospacedDigits(style::font(TextStyle::Body)));
    setToolTip(tr("Click the minus button to remove a port"));
}

void ExcludedPortList::setPorts(const QList<qint64>& ports)
{
    clear();
    for (const qint64 port : ports) {
        auto* item = new QListWidgetItem(QString::number(port), this);
        item->setData(Qt::UserRole, port);
    }
    updateGeometry();
}

QRect ExcludedPortList::removeButtonRect(int row) const
{
    return removeRectIn(visualItemRect(item(row)));
}

QSize ExcludedPortList::sizeHint() const
{
    const int rows = std::min(count(), maxVisibleRows);
    const int rowHeight = count() > 0 ? sizeHintForRow(0) : 0;
    return QSize(QListWidget::sizeHint().width(), rows * rowHeight); // frameless
}

PortsSettingsView::PortsSettingsView(AppSettings& settings, QWidget* parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_rangeField(new QLineEdit)
    , m_invalidRange(new SymbolLabel(Symbol::ExclamationmarkTriangleFill, Ink::tint(Tint::Red),
                                     tr("Invalid \u2014 use commas and dashes: 3000-9999, 8080"), Ink::tint(Tint::Red)))
    , m_noExclusions(inkedLabel(tr("No exclusions"), TextStyle::Caption, Ink::label(Label::Secondary)))
    , m_excluded(new ExcludedPortList)
    , m_newPortField(new QLineEdit)
    , m_addButton(new QPushButton(tr("Add")))
    , m_addPortError(inkedLabel(QString(), TextStyle::Caption, Ink::tint(Tint::Red)))
{
    auto* form = new SettingsForm;
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(form);

    QVBoxLayout* range = form->addSection(tr("Monitored Range"),
                                          tr("Only ports in this range are shown in the menu bar popover."));
    m_rangeField->setObjectName(QStringLiteral("monitoredRange"));
    m_rangeField->setPlaceholderText(tr("e.g. 3000-9999, 8080, 22"));
    range->addWidget(m_rangeField);
    range->addWidget(m_invalidRange);

    QVBoxLayout* excluded = form->addSection(tr("Excluded Ports"));
    excluded->addWidget(m_noExclusions);
    excluded->addWidget(m_excluded);
    auto* addRow = new QHBoxLayout;
    m_newPortField->setObjectName(QStringLiteral("newPort"));
    m_newPortField->setPlaceholderText(tr("Port number"));
    addRow->addWidget(m_newPortField, 1);
    m_addButton->setObjectName(QStringLiteral("addPort"));
    m_addButton->setAutoDefault(false);
    addRow->addWidget(m_addButton);
    excluded->addLayout(addRow);
    excluded->addWidget(m_addPortError);
    m_addPortError->hide();

    QVBoxLayout* reset = form->addSection(QString());
    auto* resetButton = new QPushButton(tr("Reset to Defaults"));
    resetButton->setObjectName(QStringLiteral("resetToDefaults"));
    resetButton->setAutoDefault(false);
    reset->addWidget(resetButton, 0, Qt::AlignLeft);
    form->finish();

    // Only the user's typing writes; a redraw from the store never writes back.
    connect(m_rangeField, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_settings.setMonitoredRange(text);
        updateRangeValidity();
    });
    connect(&m_settings, &AppSettings::monitoredRangeChanged, this, &PortsSettingsView::showRange);
    connect(&m_settings, &AppSettings::excludedPortsChanged, this, &PortsSettingsView::showExcludedPorts);
    connect(m_excluded, &ExcludedPortList::removeRequested, this, [this](qint64 port) {
        QList<qint64> ports = m_settings.excludedPorts();
        ports.removeAll(port);
        m_settings.setExcludedPorts(ports);
    });
    connect(m_newPortField, &QLineEdit::textChanged, this, &PortsSettingsView::updateAddButton);
    connect(m_newPortField, &QLineEdit::returnPressed, this, &PortsSettingsView::add);
    connect(m_addButton, &QPushButton::clicked, this, &PortsSettingsView::add);
    connect(resetButton, &QPushButton::clicked, &m_settings, &AppSettings::resetToDefaults);

    showRange();
    showExcludedPorts();
    updateAddButton();
}

std::optional<qint64> PortsSettingsView::parsePort(const QString& text)
{
    static const QRegularExpression decimal(QStringLiteral("\\A[+-]?[0-9]+\\z"));
    if (!decimal.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 1 || value > 65535)
        return std::nullopt;
    return value;
}

QString PortsSettingsView::addPortErrorText()
{
    return tr("Enter a number between 1 and 65535.");
}

void PortsSettingsView::add()
{
    const std::optional<qint64> port = parsePort(m_newPortField->text());
    if (!port) {
        setAddPortError(addPortErrorText());
        return;
    }
    setAddPortError(QString());
    QList<qint64> ports = m_settings.excludedPorts();
    if (!ports.contains(*port)) {
        ports.append(*port);
        m_settings.setExcludedPorts(ports);
        std::sort(ports.begin(), ports.end());
        m_settings.setExcludedPorts(ports);
    }
    m_newPortField->clear();
}

void PortsSettingsView::showRange()
{
    // Never rewrite what the user is typing: only a different stored text replaces it.
    if (m_rangeField->text() != m_settings.monitoredRange())
        m_rangeField->setText(m_settings.monitoredRange());
    updateRangeValidity();
}

void PortsSettingsView::showExcludedPorts()
{
    const QList<qint64> ports = m_settings.excludedPorts();
    m_excluded->setPorts(ports);
    m_noExclusions->setVisible(ports.isEmpty());
    m_excluded->setVisible(!ports.isEmpty());
}

void PortsSettingsView::updateRangeValidity()
{
    m_invalidRange->setVisible(!PortFilter::isValidExpression(m_rangeField->text()));
}

void PortsSettingsView::updateAddButton()
{
    m_addButton->setEnabled(parsePort(m_newPortField->text()).has_value());
}

void PortsSettingsView::setAddPortError(const QString& text)
{
    m_addPortError->setText(text);
    m_addPortError->setVisible(!text.isEmpty());
}

} // namespace varlo
